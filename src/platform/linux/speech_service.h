// The Linux speech service: PocketSphinx models installed on this machine.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/sphinx_recognizer.h"
#include "platform/platform.h"

namespace scrivia::platform::linux_ {

// Where models are looked for.
struct ModelDirectories {
    // PocketSphinx's own folder: en-us/ there holds Debian's English model.
    std::string systemModels;
    // scrivia's folder: one sub-folder per locale (fr_FR/), each holding
    // acoustic-model/, language-model.lm.bin (or .lm) and dictionary.dict.
    std::string models;
};

struct InstalledModel {
    std::string localeIdentifier;  // underscore form: en_US
    ModelFiles files;
};

// "en-US" and "en_US" both become "en_US".
std::string normalizeLocaleIdentifier(std::string_view identifier);

// The complete models in `directories`, one per locale; a folder that lacks
// any of the three parts is left out. scrivia's folder wins over the system's.
std::vector<InstalledModel> findModels(const ModelDirectories& directories);

class SpeechService final : public platform::SpeechService {
  public:
    // Models from the folders the program was built with.
    explicit SpeechService(platform::RunLoop& mainLoop);
    SpeechService(platform::RunLoop& mainLoop, ModelDirectories directories);
    ~SpeechService() override;
    SpeechService(const SpeechService&) = delete;
    SpeechService& operator=(const SpeechService&) = delete;

    std::vector<std::string> supportedLocales() override;
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string& identifier) override;
    void requestAuthorization(std::function<void(AuthorizationStatus)> handler) override;
    std::shared_ptr<RecognitionRequest> makeRequest() override;
    bool canSetPunctuation() override;

  private:
    struct Entry {
        InstalledModel model;
        std::shared_ptr<SphinxRecognizer> recognizer;  // made on first use, then kept
    };

    platform::RunLoop& mainLoop_;
    std::mutex mutex_;
    std::vector<Entry> catalogue_;
    std::vector<std::thread> authorizations_;
};

}  // namespace scrivia::platform::linux_
