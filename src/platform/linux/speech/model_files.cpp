#include "platform/linux/speech/model_files.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

#include "platform/locale_identifier.h"

namespace scrivia::platform::linux_ {

namespace {

namespace fs = std::filesystem;

bool isDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool isReadableFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) > 0 && !error &&
           ::access(path.c_str(), R_OK) == 0;
}

std::string firstBytes(const std::string& path, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

// A model definition is binary (magic "BMDF", either byte order) or text
// starting with its format version after any comment lines.
bool looksLikeModelDefinition(const std::string& path) {
    std::string head = firstBytes(path, 4096);
    if (head.starts_with("BMDF") || head.starts_with("FDMB")) return true;
    std::size_t i = 0;
    while (i < head.size()) {
        if (head[i] == '#') {
            std::size_t end = head.find('\n', i);
            if (end == std::string::npos) return false;
            i = end + 1;
        } else if (std::isspace(static_cast<unsigned char>(head[i]))) {
            ++i;
        } else {
            return head.compare(i, 3, "0.3") == 0;
        }
    }
    return false;
}

// Gaussian parameters and transition matrices are "s3" binary files.
bool looksLikeParameterFile(const std::string& path) {
    return firstBytes(path, 3) == "s3\n";
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
    std::error_code error;
    // Stepped by hand: the range-for's increment throws when reading fails.
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (looksLikeLocale(name) && isDirectory(it->path().string())) names.push_back(name);
    }
    // fr_FR and fr-FR in one folder: the same one wins every time.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::optional<std::string> problemWithModel(const ModelFiles& files) {
    const std::string& am = files.acousticModel;
    if (!isDirectory(am)) return "The acoustic model folder " + am + " is missing.";
    if (!isReadableFile(am + "/mdef") || !looksLikeModelDefinition(am + "/mdef")) {
        return "The acoustic model in " + am + " has no readable model definition (mdef).";
    }
    for (const char* name : {"means", "variances", "transition_matrices"}) {
        std::string path = am + "/" + name;
        if (!isReadableFile(path) || !looksLikeParameterFile(path)) {
            return "The acoustic model in " + am + " has no readable " + name + " file.";
        }
    }
    if (!isReadableFile(am + "/sendump") && !isReadableFile(am + "/mixture_weights")) {
        return "The acoustic model in " + am + " has no readable mixture weights.";
    }
    if (!isReadableFile(files.languageModel)) {
        return "The language model " + files.languageModel + " is missing or unreadable.";
    }
    if (!isReadableFile(files.dictionary)) {
        return "The dictionary " + files.dictionary + " is missing or unreadable.";
    }
    return std::nullopt;
}

std::vector<InstalledModel> findModels(const ModelDirectories& directories) {
    std::map<std::string, ModelFiles> found;
    for (const std::string& directory : directories.models) {
        for (const std::string& name : subfolders(directory)) {
            const std::string folder = directory + "/" + name;
            ModelFiles files{folder + "/acoustic-model", folder + "/language-model.lm.bin",
                             folder + "/dictionary.dict"};
            // ARPA text models are accepted too, binary ones load faster.
            if (!exists(files.languageModel)) files.languageModel = folder + "/language-model.lm";
            if (isComplete(files)) found.try_emplace(underscoredIdentifier(name), files);
        }
    }
    if (!directories.systemModels.empty()) {
        const std::string english = directories.systemModels + "/en-us";
        ModelFiles files{english + "/en-us", english + "/en-us.lm.bin",
                         english + "/cmudict-en-us.dict"};
        if (isComplete(files)) found.try_emplace("en_US", files);
    }
    std::vector<InstalledModel> models;
    for (auto& [locale, files] : found) models.push_back({locale, std::move(files)});
    return models;
}

}  // namespace scrivia::platform::linux_
