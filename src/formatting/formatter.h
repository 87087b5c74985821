// Dictation text from the recogniser's words: numbers, money, dates and
// times, names, "I" and spoken punctuation, by the language's tables.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formatting/name_list.h"
#include "formatting/spelled_phrases.h"

namespace scrivia::formatting {

struct LanguageRules;

enum class TextKind { partial, final };

struct FormatterConfig {
    // true: spoken marks become marks, a capital starts each sentence and a
    // final gets its closing mark. false: none of these; numbers, money,
    // names and "I" are written all the same.
    bool punctuation = true;
    // A person's own words and names, each written as spelled wherever the
    // words of its spelling are heard ("GitHub" for "github"): no number,
    // mark or name rule touches them. Read only while the formatter is made.
    std::span<const std::string> ownWords = {};

    // What is wrong with these values, naming the field; none when they are usable.
    std::optional<std::string> invalid() const;
};

// Immutable once made: `format` may be called from any thread.
class Formatter {
  public:
    // Rules for the `language` code ("en": any English takes the English
    // tables); none for a language without tables. `names` may be null: names
    // then stay as heard.
    Formatter(std::string_view language, std::shared_ptr<const NameList> names,
              FormatterConfig config = {});
    // A language's tables given directly; `rules` outlives the formatter.
    // Both throw std::invalid_argument for a config that is `invalid()`.
    Formatter(const LanguageRules& rules, std::shared_ptr<const NameList> names,
              FormatterConfig config = {});

    // `words`: lower-case words one space apart. `continuesSentence`: the
    // previous final of the run left its sentence open, so the text starts in
    // lower case. A final may start or end with a line feed; the caller trims.
    std::string format(std::string_view words, TextKind kind, bool continuesSentence = false) const;

    // Whether a final this formatter wrote ends mid-sentence, with a mark
    // that closes a final but not a sentence ("Dear Anna,"): the next final
    // goes on in lower case.
    bool leavesSentenceOpen(std::string_view final) const;

    // The word list this language's rules use ("/usr/share/dict/american-english"
    // for English); empty when it has none. Lets the caller load it once.
    static std::string nameListPath(std::string_view language);

  private:
    const LanguageRules& rules_;
    std::shared_ptr<const NameList> names_;
    SpelledPhrases ownWords_;
    bool punctuation_;
};

}  // namespace scrivia::formatting
