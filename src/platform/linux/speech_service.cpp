#include "platform/linux/speech_service.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace scrivia::platform::linux_ {

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Folder names that can be locale identifiers: letters, digits, '_' and '-'.
bool looksLikeLocale(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name.front()))) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

bool isComplete(const ModelFiles& files) {
    return isDirectory(files.acousticModel) && exists(files.acousticModel + "/mdef") &&
           exists(files.languageModel) && exists(files.dictionary);
}

std::vector<std::string> subfolders(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) return names;
    while (const dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (looksLikeLocale(name) && isDirectory(path + "/" + name)) names.push_back(name);
    }
    ::closedir(directory);
    return names;
}

bool sameLocale(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string normalizeLocaleIdentifier(std::string_view identifier) {
    std::string normalized(identifier);
    std::replace(normalized.begin(), normalized.end(), '-', '_');
    return normalized;
}

std::vector<InstalledModel> findModels(const ModelDirectories& directories) {
    std::map<std::string, ModelFiles> found;
    if (!directories.systemModels.empty()) {
        const std::string english = directories.systemModels + "/en-us";
        ModelFiles files{english + "/en-us", english + "/en-us.lm.bin",
                         english + "/cmudict-en-us.dict"};
        if (isComplete(files)) found["en_US"] = files;
    }
    if (!directories.models.empty()) {
        for (const std::string& name : subfolders(directories.models)) {
            const std::string folder = directories.models + "/" + name;
            ModelFiles files{folder + "/acoustic-model", folder + "/language-model.lm.bin",
                             folder + "/dictionary.dict"};
            // ARPA text models are accepted too, binary ones load faster.
            if (!exists(files.languageModel)) files.languageModel = folder + "/language-model.lm";
            if (isComplete(files)) found[normalizeLocaleIdentifier(name)] = files;
        }
    }
    std::vector<InstalledModel> models;
    for (auto& [locale, files] : found) models.push_back({locale, std::move(files)});
    return models;
}

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
    const std::string wanted = normalizeLocaleIdentifier(identifier);
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
