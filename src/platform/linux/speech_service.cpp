#include "platform/linux/speech_service.h"

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {

namespace {

bool sameLocale(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

SpeechService::SpeechService(platform::RunLoop& mainLoop)
    : SpeechService(mainLoop, ModelDirectories{SCRIVIA_SYSTEM_MODEL_DIR, SCRIVIA_MODEL_DIR}) {}

SpeechService::SpeechService(platform::RunLoop& mainLoop, ModelDirectories directories)
    : mainLoop_(mainLoop) {
    for (InstalledModel& model : findModels(directories)) {
        catalogue_.push_back(Entry{std::move(model), nullptr});
    }
}

SpeechService::~SpeechService() {
    std::vector<std::thread> authorizations;
    {
        std::lock_guard lock(mutex_);
        authorizations.swap(authorizations_);
    }
    for (std::thread& thread : authorizations) thread.join();
}

std::vector<std::string> SpeechService::supportedLocales() {
    std::vector<std::string> locales;
    for (const Entry& entry : catalogue_) locales.push_back(entry.model.localeIdentifier);
    return locales;
}

std::shared_ptr<SpeechRecognizer> SpeechService::recognizer(const std::string& identifier) {
    const std::string wanted = underscoredIdentifier(identifier);
    std::lock_guard lock(mutex_);
    for (Entry& entry : catalogue_) {
        if (!sameLocale(entry.model.localeIdentifier, wanted)) continue;
        // One recogniser per model, so the model is loaded once.
        if (!entry.recognizer) {
            entry.recognizer = std::make_shared<SphinxRecognizer>(
                mainLoop_, entry.model.localeIdentifier, entry.model.files);
        }
        return entry.recognizer;
    }
    return nullptr;
}

void SpeechService::requestAuthorization(std::function<void(AuthorizationStatus)> handler) {
    // Linux asks no permission for on-device recognition; the answer still
    // comes from another thread, as callers expect of such services.
    std::lock_guard lock(mutex_);
    authorizations_.emplace_back([handler = std::move(handler)] {
        pthread_setname_np(pthread_self(), "speech-auth");
        handler(3);
    });
}

std::shared_ptr<RecognitionRequest> SpeechService::makeRequest() {
    return std::make_shared<SphinxRequest>();
}

bool SpeechService::canSetPunctuation() {
    return true;
}

}  // namespace scrivia::platform::linux_
