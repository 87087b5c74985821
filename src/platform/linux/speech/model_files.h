// The models installed on this machine: where their three parts are, whether
// PocketSphinx can be trusted with them, and the catalogue of locales.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace scrivia::platform::linux_ {

// The three parts of a PocketSphinx model.
struct ModelFiles {
    std::string acousticModel;  // folder holding mdef, means, variances...
    std::string languageModel;  // n-gram model, binary (.lm.bin) or ARPA (.lm)
    std::string dictionary;     // pronunciation dictionary
};

// Why the model in `files` cannot be loaded, or nothing when it looks usable.
// Looks only at presence, permissions and file headers: PocketSphinx ends the
// whole process on some malformed acoustic models, so those are turned away
// before it sees them.
std::optional<std::string> problemWithModel(const ModelFiles& files);

// Where models are looked for.
struct ModelDirectories {
    // scrivia's folders, in search order: one sub-folder per locale (fr_FR/),
    // each holding acoustic-model/, language-model.lm.bin (or .lm) and
    // dictionary.dict.
    std::vector<std::string> models;
    // PocketSphinx's own folder: en-us/ there holds Debian's English model.
    std::string systemModels;
};

struct InstalledModel {
    std::string localeIdentifier;  // underscore form: en_US
    ModelFiles files;
};

// The complete models in `directories`, one per locale, sorted by locale; a
// folder that lacks any of the three parts is left out, and so is a folder
// that cannot be read. The first folder that holds a locale wins; the
// system's English model comes last.
std::vector<InstalledModel> findModels(const ModelDirectories& directories);

}  // namespace scrivia::platform::linux_
