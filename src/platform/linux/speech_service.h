// The Linux speech service: PocketSphinx models installed on this machine.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/model_files.h"
#include "platform/linux/sphinx_recognizer.h"
#include "platform/platform.h"

namespace scrivia::platform::linux_ {

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
