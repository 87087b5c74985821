// The Linux speech service: PocketSphinx models installed on this machine.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/speech/model_files.h"
#include "platform/linux/speech/sphinx_recognizer.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace scrivia::platform::linux_ {

class SpeechService final : public platform::SpeechService {
  public:
    // Models from the folders the environment names, each probed before use.
    explicit SpeechService(platform::RunLoop& mainLoop);
    // Models from `directories`, probed before use only with a `probe`;
    // heard marks checked as `check` says.
    SpeechService(platform::RunLoop& mainLoop, ModelDirectories directories,
                  std::optional<ModelProbe> probe = std::nullopt, MarkCheckConfig check = {});
    ~SpeechService() override;
    SpeechService(const SpeechService&) = delete;
    SpeechService& operator=(const SpeechService&) = delete;

    std::vector<std::string> supportedLocales() override;
    // The recogniser of the model for `identifier`; else of a model of the same
    // language, one of the same region first; else null.
    std::shared_ptr<SpeechRecognizer> recognizer(const std::string& identifier) override;
    void requestAuthorization(std::function<void(AuthorizationStatus)> handler) override;
    std::shared_ptr<RecognitionRequest> makeRequest() override;
    bool canSetPunctuation() override;
    void useOwnWords(std::vector<WordEntry> words) override;

  private:
    struct Entry {
        InstalledModel model;
        std::shared_ptr<SphinxRecognizer> recognizer;  // made on first use, then kept
    };

    // The entry serving `identifier`, or null.
    Entry* modelFor(const std::string& identifier);

    platform::RunLoop& mainLoop_;
    Mutex mutex_;
    const std::optional<ModelProbe> probe_;
    const MarkCheckConfig check_;
    // Sorted by locale; the models are fixed when made, each `recognizer` is
    // made under mutex_.
    std::vector<Entry> catalogue_;
    // Given to each recogniser made.
    std::vector<WordEntry> ownWords_ SCRIVIA_GUARDED_BY(mutex_);
    std::vector<std::thread> authorizations_ SCRIVIA_GUARDED_BY(mutex_);
};

}  // namespace scrivia::platform::linux_
