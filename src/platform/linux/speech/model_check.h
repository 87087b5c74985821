// Whether PocketSphinx can be trusted with a model. Some damage (an acoustic
// model cut short) makes PocketSphinx crash or end the whole process, so a
// model is first loaded in a short-lived process of its own, and the verdict
// is kept until the model's files change.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/speech/model_files.h"

namespace scrivia::platform::linux_ {

struct ModelProbe {
    // Runs runModelProbe() first thing (scrivia itself: /proc/self/exe).
    std::string program = "/proc/self/exe";
    // Where verdicts are kept; empty: nowhere, each run probes again.
    std::string cacheFolder;
    double timeoutSeconds = 30;  // a probe still loading then counts as a failure
};

// Whether a probe process loaded `files` and decoded with them, from the
// cached verdict when the files are unchanged. Blocks while a probe runs.
bool modelLoads(const ModelFiles& files, const ModelProbe& probe);

// The probe process's work, when this process was started as one: the
// status to exit with (0 when the model loaded and decoded). Otherwise nothing.
std::optional<int> runModelProbe(int argc, char** argv);

}  // namespace scrivia::platform::linux_
