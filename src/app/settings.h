// Process-wide settings read from the command line.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/segment_rules.h"

namespace scrivia::app {

struct Settings {
    std::string localeId;  // the recogniser's locale, as given
    double pauseSeconds = session::SegmentRulesConfig{}.pauseSeconds;  // in [0.4, 5.0]
    bool punctuation = true;                      // asked of each recognition request
    bool listOnly = false;                        // print the catalogue and exit
    std::string wordsPath = {};                   // the person's words file; empty: none
    std::vector<platform::WordEntry> words = {};  // read from it at start-up, before the recogniser
    std::deque<std::string> args;                 // arguments not yet parsed
};

// Consumes `settings.args`, setting what the options say. Unknown arguments
// and invalid values are ignored.
void parseOptions(Settings& settings);

}  // namespace scrivia::app
