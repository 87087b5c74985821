#include "platform/linux/speech_service.h"

#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/linux/model_search.h"
#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {

namespace {

bool sameLocale(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The language and region subtags of an underscored identifier (zh_Hant_TW:
// zh and TW); a region is two letters or three digits.
std::pair<std::string_view, std::string_view> languageAndRegion(std::string_view identifier) {
    const std::string_view language = identifier.substr(0, identifier.find('_'));
    std::string_view rest = identifier.substr(language.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view subtag = rest.substr(0, rest.find('_'));
        rest.remove_prefix(subtag.size());
        auto all = [&](int (*is)(int)) {
            return std::all_of(subtag.begin(), subtag.end(),
                               [is](char c) { return is(static_cast<unsigned char>(c)) != 0; });
        };
        if ((subtag.size() == 2 && all(std::isalpha)) || (subtag.size() == 3 && all(std::isdigit)))
            return {language, subtag};
    }
    return {language, {}};
}

}  // namespace

SpeechService::SpeechService(platform::RunLoop& mainLoop)
    : SpeechService(mainLoop, modelDirectories(processEnvironment()),
                    ModelProbe{.cacheFolder = cacheFolder(processEnvironment())}) {}

SpeechService::SpeechService(platform::RunLoop& mainLoop, ModelDirectories directories,
                             std::optional<ModelProbe> probe)
    : mainLoop_(mainLoop), probe_(std::move(probe)) {
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

SpeechService::Entry* SpeechService::modelFor(const std::string& identifier) {
    const std::string wanted = underscoredIdentifier(identifier);
    const auto [language, region] = languageAndRegion(wanted);
    Entry* sameLanguage = nullptr;
    Entry* sameRegion = nullptr;
    // The catalogue is sorted, so the first of a kind is the lowest in code point order.
    for (Entry& entry : catalogue_) {
        const std::string& locale = entry.model.localeIdentifier;
        if (sameLocale(locale, wanted)) return &entry;
        const auto [otherLanguage, otherRegion] = languageAndRegion(locale);
        if (!sameLocale(otherLanguage, language)) continue;
        if (!sameLanguage) sameLanguage = &entry;
        if (!sameRegion && !region.empty() && sameLocale(otherRegion, region)) sameRegion = &entry;
    }
    return sameRegion ? sameRegion : sameLanguage;
}

std::vector<std::string> SpeechService::supportedLocales() {
    std::vector<std::string> locales;
    for (const Entry& entry : catalogue_) locales.push_back(entry.model.localeIdentifier);
    return locales;
}

std::shared_ptr<SpeechRecognizer> SpeechService::recognizer(const std::string& identifier) {
    std::lock_guard lock(mutex_);
    Entry* entry = modelFor(identifier);
    if (!entry) return nullptr;
    // One recogniser per model, so the model is loaded once.
    if (!entry->recognizer) {
        entry->recognizer = std::make_shared<SphinxRecognizer>(
            mainLoop_, entry->model.localeIdentifier, entry->model.files, probe_);
    }
    return entry->recognizer;
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
