#include "platform/linux/speech/letter_to_sound.h"

#include <cctype>
#include <csetjmp>
#include <span>
#include <sstream>
#include <utility>

#include "formatting/language_rules.h"
#include "formatting/place_names.h"
#include "platform/thread_safety.h"

extern "C" {
#include <flite/cst_lexicon.h>
#include <flite/cst_val.h>

// flite's English lexicon, with its letter-to-sound rules; Debian's
// flite1-dev ships the library without a header for it.
cst_lexicon* cmu_lex_init(void);
}

namespace scrivia::platform::linux_ {
namespace {

// flite's phones that the model calls otherwise. Every other phone is the
// model's own in lower case with a stress digit, and is dropped when the
// model lacks it (a pause, "pau", is no sound of a word).
constexpr std::pair<std::string_view, std::string_view> kRenamedPhones[] = {
    {"ax", "AH"},  // the model has no reduced vowel of its own
};

// flite's lexicon is global state of the library: one lookup at a time.
Mutex lexiconLock;
const cst_lexicon* lexicon SCRIVIA_GUARDED_BY(lexiconLock) = nullptr;

// Made once, by the first to ask.
const cst_lexicon* englishLexicon() SCRIVIA_REQUIRES(lexiconLock) {
    if (lexicon == nullptr) lexicon = cmu_lex_init();
    return lexicon;
}

// flite reports a fault by ending the process unless a jump back is set. The
// jump skips only flite's frames: nothing here needs destroying.
cst_val* guardedLookup(const char* word) SCRIVIA_REQUIRES(lexiconLock) {
    std::jmp_buf back;
    cst_errjmp = &back;
    if (setjmp(back) != 0) {
        cst_errjmp = nullptr;
        return nullptr;
    }
    cst_val* phones = lex_lookup(lexicon, word, nullptr, nullptr);
    cst_errjmp = nullptr;
    return phones;
}

std::string_view numberWord(std::span<const formatting::NumberWord> table, unsigned value) {
    for (const auto& row : table)
        if (row.value == value) return row.word;
    return {};
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || c == '\'' || c == '-';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The model's name for flite's `phone`: "ax0" is "AH", "er1" is "ER".
std::string modelName(std::string phone) {
    while (!phone.empty() && isDigit(phone.back())) phone.pop_back();
    for (auto [flite, model] : kRenamedPhones)
        if (phone == flite) return std::string(model);
    for (char& c : phone) c = char(std::toupper(static_cast<unsigned char>(c)));
    return phone;
}

// A number below a hundred in words: "eleven", "forty two".
std::string numberWords(unsigned n) {
    const auto& rules = formatting::englishRules();
    if (n < 10) return std::string(numberWord(rules.units, n));
    if (n < 20) return std::string(numberWord(rules.teens, n));
    std::string words(numberWord(rules.tens, n / 10 * 10));
    if (n % 10 != 0) words.append(" ").append(numberWord(rules.units, n % 10));
    return words;
}

// The words flite is asked for, in order: runs of letters as they stand,
// runs of digits as number words. Nothing when `word` holds anything else.
std::vector<std::string> lexiconWords(std::string_view word) {
    const std::string text = formatting::folded(word);
    std::vector<std::string> parts;
    for (std::size_t at = 0, end = 0; at < text.size(); at = end) {
        end = at + 1;
        const bool letters = isLetter(text[at]);
        if (!letters && !isDigit(text[at])) return {};
        while (end < text.size() && (letters ? isLetter(text[end]) : isDigit(text[end]))) ++end;
        const std::string_view run = std::string_view(text).substr(at, end - at);
        if (letters) {
            // "wi-fi" and "o'brien" go whole to flite; "-" alone ("19-20") is no word.
            if (run.find_first_not_of("-'") != std::string_view::npos) parts.emplace_back(run);
        } else if (run.size() <= 2 && (run.size() == 1 || run[0] != '0')) {
            std::istringstream words(numberWords(unsigned(std::stoi(std::string(run)))));
            for (std::string w; words >> w;) parts.push_back(w);
        } else {
            for (char digit : run) parts.push_back(numberWords(unsigned(digit - '0')));
        }
    }
    return parts;
}

// Letters without a vowel that the lexicon lacks are said letter by letter
// ("js", "sql"); words such as "hmm" and "nth" are in it.
bool spelled(const std::string& letters) SCRIVIA_REQUIRES(lexiconLock) {
    return letters.find_first_of("aeiouy") == std::string::npos &&
           !in_lex(lexicon, letters.c_str(), nullptr, nullptr);
}

}  // namespace

LetterToSound::LetterToSound(PhoneSet phones) : phones_(std::move(phones)) {
    MutexLock hold(lexiconLock);
    englishLexicon();
}

std::vector<std::string> LetterToSound::phonesFor(std::string_view words) const {
    std::vector<std::string> result;
    std::istringstream in{std::string(words)};
    for (std::string word; in >> word;) result.push_back(phonesOfWord(word));
    return result;
}

std::string LetterToSound::phonesOfWord(std::string_view word) const {
    std::vector<std::string> asked;
    MutexLock hold(lexiconLock);
    if (lexicon == nullptr) return {};
    for (const std::string& part : lexiconWords(word)) {
        if (!spelled(part)) {
            asked.push_back(part);
        } else {
            for (char letter : part)
                if (letter != '\'' && letter != '-') asked.emplace_back(1, letter);
        }
    }
    std::string result;
    for (const std::string& lexiconWord : asked) {
        cst_val* list = guardedLookup(lexiconWord.c_str());
        bool said = false;
        for (const cst_val* v = list; v != nullptr; v = val_cdr(v)) {
            // lex_lookup gives letter-to-sound's compounds ("t-s") as their phones.
            const std::string name = modelName(val_string(val_car(v)));
            if (!phones_.contains(name)) continue;
            result.append(result.empty() ? "" : " ").append(name);
            said = true;
        }
        delete_val(list);
        if (!said) return {};  // half a word is no pronunciation of it
    }
    return result;
}

}  // namespace scrivia::platform::linux_
