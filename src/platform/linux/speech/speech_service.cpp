#include "platform/linux/speech/speech_service.h"

#include "platform/linux/speech/model_search.h"
#include "platform/linux/system/named_thread.h"
#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {

SpeechService::SpeechService(platform::RunLoop& mainLoop)
    : SpeechService(mainLoop, modelDirectories(processEnvironment()),
                    ModelProbe{.cacheFolder = cacheFolder(processEnvironment())}) {}

SpeechService::SpeechService(platform::RunLoop& mainLoop, ModelDirectories directories,
                             std::optional<ModelProbe> probe, MarkCheckConfig check)
    : mainLoop_(mainLoop), probe_(std::move(probe)), check_(check) {
    for (InstalledModel& model : findModels(directories)) {
        catalogue_.push_back(Entry{std::move(model), nullptr});
    }
}

SpeechService::~SpeechService() {
    std::vector<std::thread> authorizations;
    {
        MutexLock lock(mutex_);
        authorizations.swap(authorizations_);
    }
    for (std::thread& thread : authorizations) thread.join();
}

SpeechService::Entry* SpeechService::modelFor(const std::string& identifier) {
    const auto match = bestMatch(identifier, supportedLocales());
    return match ? &catalogue_[*match] : nullptr;
}

std::vector<std::string> SpeechService::supportedLocales() {
    std::vector<std::string> locales;
    for (const Entry& entry : catalogue_) locales.push_back(entry.model.localeIdentifier);
    return locales;
}

std::shared_ptr<SpeechRecognizer> SpeechService::recognizer(const std::string& identifier) {
    MutexLock lock(mutex_);
    Entry* entry = modelFor(identifier);
    if (!entry) return nullptr;
    // One recogniser per model, so the model is loaded once.
    if (!entry->recognizer) {
        entry->recognizer =
            std::make_shared<SphinxRecognizer>(mainLoop_, entry->model.localeIdentifier,
                                               entry->model.files, probe_, check_, ownWords_);
    }
    return entry->recognizer;
}

void SpeechService::requestAuthorization(std::function<void(AuthorizationStatus)> handler) {
    // Linux asks no permission for on-device recognition; the answer still
    // comes from another thread, as callers expect of such services.
    MutexLock lock(mutex_);
    authorizations_.push_back(
        startNamedThread("speech-auth", [handler = std::move(handler)] { handler(3); }));
}

std::shared_ptr<RecognitionRequest> SpeechService::makeRequest() {
    return std::make_shared<SphinxRequest>();
}

bool SpeechService::canSetPunctuation() {
    return true;
}

void SpeechService::useOwnWords(std::vector<WordEntry> words) {
    MutexLock lock(mutex_);
    ownWords_ = std::move(words);
}

}  // namespace scrivia::platform::linux_
