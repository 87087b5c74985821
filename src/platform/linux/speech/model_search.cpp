#include "platform/linux/speech/model_search.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace scrivia::platform::linux_ {

namespace {

// The XDG base directory rules ignore relative paths, and so do we.
bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// `list`'s colon-separated entries, each followed by `suffix`; empty entries
// (and relative ones, when `absoluteOnly`) are skipped.
void appendEach(std::vector<std::string>& folders, std::string_view list, std::string_view suffix,
                bool absoluteOnly) {
    while (!list.empty()) {
        const std::size_t colon = std::min(list.find(':'), list.size());
        const std::string entry(list.substr(0, colon));
        list.remove_prefix(std::min(colon + 1, list.size()));
        if (entry.empty() || (absoluteOnly && entry.front() != '/')) continue;
        folders.push_back(entry + std::string(suffix));
    }
}

// $VARIABLE if it is an absolute path, else $HOME/`fallback`; empty without either.
std::string userFolder(const char* variable, const char* home, const char* fallback) {
    if (isAbsolute(variable)) return variable;
    if (isAbsolute(home)) return std::string(home) + fallback;
    return {};
}

}  // namespace

ModelDirectories modelDirectories(const SearchEnvironment& environment) {
    ModelDirectories directories;
    auto& folders = directories.models;
    if (environment.modelPath) appendEach(folders, environment.modelPath, "", false);
    const std::string dataHome =
        userFolder(environment.dataHome, environment.home, "/.local/share");
    if (!dataHome.empty()) folders.push_back(dataHome + "/scrivia/models");
    const bool dataDirsSet = environment.dataDirs != nullptr && environment.dataDirs[0] != '\0';
    appendEach(folders, dataDirsSet ? environment.dataDirs : "/usr/local/share:/usr/share",
               "/scrivia/models", true);
    const std::string& builtIn = environment.builtInModels;
    if (!builtIn.empty() && std::find(folders.begin(), folders.end(), builtIn) == folders.end()) {
        folders.push_back(builtIn);
    }
    directories.systemModels = environment.systemModels;
    return directories;
}

std::string cacheFolder(const SearchEnvironment& environment) {
    const std::string cache = userFolder(environment.cacheHome, environment.home, "/.cache");
    return cache.empty() ? cache : cache + "/scrivia";
}

SearchEnvironment processEnvironment() {
    return SearchEnvironment{std::getenv("SCRIVIA_MODEL_PATH"),
                             std::getenv("XDG_DATA_HOME"),
                             std::getenv("XDG_DATA_DIRS"),
                             std::getenv("XDG_CACHE_HOME"),
                             std::getenv("HOME"),
                             SCRIVIA_MODEL_DIR,
                             SCRIVIA_SYSTEM_MODEL_DIR};
}

}  // namespace scrivia::platform::linux_
