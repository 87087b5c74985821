// Where models and model verdicts are looked for, from the user's environment.
// Pure: the caller reads the variables and passes their values.
#pragma once

#include <string>

#include "platform/linux/speech/model_files.h"

namespace scrivia::platform::linux_ {

// Values of the variables that place scrivia's folders; null when unset.
struct SearchEnvironment {
    const char* modelPath = nullptr;  // SCRIVIA_MODEL_PATH: folders, colon-separated
    const char* dataHome = nullptr;   // XDG_DATA_HOME
    const char* dataDirs = nullptr;   // XDG_DATA_DIRS
    const char* cacheHome = nullptr;  // XDG_CACHE_HOME
    const char* home = nullptr;       // HOME
    std::string builtInModels = {};   // scrivia's own folder, set at build time
    std::string systemModels = {};    // PocketSphinx's folder, set at build time
};

// The model folders in search order: SCRIVIA_MODEL_PATH's, the user's data
// folder's, each data folder's, then the built-in one (once).
ModelDirectories modelDirectories(const SearchEnvironment& environment);

// The folder of scrivia's model verdicts; empty when there is no home to put it in.
std::string cacheFolder(const SearchEnvironment& environment);

// The values of this process's environment, with the build-time folders.
SearchEnvironment processEnvironment();

}  // namespace scrivia::platform::linux_
