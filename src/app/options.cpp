#include <locale.h>

#include <cstdlib>

#include "app/settings.h"

namespace scrivia::app {
namespace {

// Whether `text` is a valid "--pause" value; the number goes to `value`.
bool parsePauseValue(const std::string& text, double& value) {
    if (text.empty()) return false;
    switch (text.front()) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return false;
        default:
            break;
    }
    // The "C" locale whatever the process's own: a decimal comma is no number.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* end = nullptr;
    double number = strtod_l(text.c_str(), &end, cLocale);
    if (end != text.c_str() + text.size()) return false;
    value = number;
    return true;
}

}  // namespace

void parseOptions(Settings& settings) {
    auto& args = settings.args;
    while (!args.empty()) {
        std::string argument = std::move(args.front());
        args.pop_front();
        if (argument == "--locale") {
            if (!args.empty()) {
                settings.localeId = std::move(args.front());
                args.pop_front();
            }
        } else if (argument == "--pause") {
            if (!args.empty()) {
                double number;
                if (parsePauseValue(args.front(), number))
                    settings.pauseSeconds = session::clampedPause(number);
                args.pop_front();
            }
        } else if (argument == "--words") {
            // Not checked here: a file that cannot be used only gives no words.
            if (!args.empty()) {
                settings.wordsPath = std::move(args.front());
                args.pop_front();
            }
        } else if (argument == "--no-punctuation") {
            settings.punctuation = false;
        } else if (argument == "--list") {
            settings.listOnly = true;
        }
    }
}

}  // namespace scrivia::app
