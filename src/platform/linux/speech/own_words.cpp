#include "platform/linux/speech/own_words.h"

#include <pocketsphinx.h>

#include <algorithm>

#include "formatting/spelled_phrases.h"
#include "platform/linux/speech/command_phrases.h"

namespace scrivia::platform::linux_ {
namespace {

std::vector<std::string> heardWords(std::string_view text) {
    std::vector<std::string> words;
    for (std::string_view word : formatting::wordsOf(text))
        words.push_back(formatting::folded(word));
    return words;
}

std::string joined(std::span<const std::string> parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : " ") + part;
    return text;
}

// `spoken` (each word's phones) shared out over `count` words in order; empty
// when there are fewer phones than words.
std::vector<std::string> sharedOut(const std::vector<std::string>& spoken, std::size_t count) {
    std::vector<std::string> parts = spoken;
    if (parts.size() < count) {
        parts.clear();
        for (const std::string& phones : spoken)
            for (std::string_view phone : formatting::wordsOf(phones)) parts.emplace_back(phone);
        if (parts.size() < count) return {};
    }
    std::vector<std::string> shares;
    const std::size_t n = parts.size();
    for (std::size_t i = 0; i < count; ++i)
        shares.push_back(
            joined(std::span(parts).subspan(i * n / count, (i + 1) * n / count - i * n / count)));
    return shares;
}

// The phones of each of the spoken form's words; empty when one has none.
std::vector<std::string> spokenPhones(const std::string& spoken, const PhonesOf& dictionary,
                                      const PhonesOf& letterToSound) {
    std::vector<std::string> phones;
    for (const std::string& word : heardWords(spoken)) {
        std::string said = dictionary(word);
        if (said.empty()) said = letterToSound(word);
        if (said.empty()) return {};
        phones.push_back(std::move(said));
    }
    return phones;
}

}  // namespace

OwnWordsPlan planOwnWords(std::span<const WordEntry> entries, const PhonesOf& dictionary,
                          const PhonesOf& letterToSound) {
    OwnWordsPlan plan;
    for (const WordEntry& entry : entries) {
        const std::vector<std::string> words = heardWords(entry.written);
        if (words.empty()) continue;
        plan.phrases.push_back(joined(words));
        const auto shares = sharedOut(spokenPhones(entry.spoken, dictionary, letterToSound),
                                      entry.spoken.empty() ? 0 : words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i < shares.size()) {
                plan.taught.push_back({words[i], shares[i], true});
            } else if (dictionary(words[i]).empty()) {
                std::string phones = letterToSound(words[i]);
                if (!phones.empty()) plan.taught.push_back({words[i], std::move(phones), false});
            }
        }
    }
    return plan;
}

bool holdsAPhrase(std::string_view words, std::span<const std::string> phrases) {
    const auto spaced = [](std::string_view text) {
        std::string padded(1, ' ');
        return padded.append(text).append(1, ' ');
    };
    const std::string within = spaced(words);
    return std::any_of(phrases.begin(), phrases.end(), [&](const std::string& phrase) {
        return within.find(spaced(phrase)) != within.npos;
    });
}

void teachOwnWords(ps_decoder_s* decoder, std::span<const TaughtWord> taught) {
    for (const TaughtWord& t : taught) {
        std::string name = t.word;
        for (int n = 2; t.alternate && dictionaryKnows(decoder, name); ++n)
            name = t.word + "(" + std::to_string(n) + ")";
        if (!dictionaryKnows(decoder, name))
            ps_add_word(decoder, name.c_str(), t.phones.c_str(), FALSE);
    }
}

}  // namespace scrivia::platform::linux_
