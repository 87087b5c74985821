#include "platform/linux/speech/command_phrases.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

namespace scrivia::platform::linux_ {
namespace {

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in{std::string(text)};
    for (std::string part; std::getline(in, part, separator);) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

// The references `model` has beyond the one this asks for and gives back.
int otherReferences(ngram_model_t* model) {
    ngram_model_retain(model);
    return ngram_model_free(model) - 1;
}

// A model of the phrases of `heard` whose words the dictionary knows, with
// how many there are; null when none is or PocketSphinx refuses.
std::pair<ngram_model_t*, std::size_t> phrasesModel(ps_decoder_t* decoder,
                                                    const PhraseGroup& group) {
    std::string phrases;
    std::size_t count = 0;
    for (std::string_view phrase : group.phrases) {
        bool known = true;
        for (const std::string& word : split(phrase, ' '))
            known = known && dictionaryKnows(decoder, word);
        if (known) phrases += std::string(phrase) + "\n", ++count;
    }
    if (phrases.empty()) return {nullptr, 0};

    // PocketSphinx reads models only from files.
    std::string path = (std::filesystem::temp_directory_path() / "scrivia-phrases-XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd < 0) return {nullptr, 0};
    const std::string arpa = commandPhrasesArpa(phrases, group.atStart);
    const bool written = write(fd, arpa.data(), arpa.size()) == ssize_t(arpa.size());
    close(fd);
    ngram_model_t* model = written ? ngram_model_read(ps_get_config(decoder), path.c_str(),
                                                      NGRAM_ARPA, ps_get_logmath(decoder))
                                   : nullptr;
    unlink(path.c_str());
    return {model, model ? count : 0};
}

}  // namespace

bool dictionaryKnows(ps_decoder_t* decoder, const std::string& word) {
    char* phones = ps_lookup_word(decoder, word.c_str());
    ckd_free(phones);
    return phones != nullptr;
}

std::string commandPhrasesArpa(std::string_view phrases, double atStart) {
    const auto lines = split(phrases, '\n');
    std::map<std::string, double> unigrams{{"<s>", -99}, {"</s>", -1}};
    std::map<std::string, double> bigrams;  // "first second": log10 probability
    const double each = std::log10(1.0 / double(lines.size()));
    for (const std::string& line : lines) {
        const auto words = split(line, ' ');
        unigrams[words[0]] = each;
        if (atStart != 1 && words.size() == 1)
            bigrams["<s> " + words[0]] = each + std::log10(atStart);
        for (std::size_t i = 1; i < words.size(); ++i) {
            unigrams.emplace(words[i], -6);              // heard only after the word before it
            bigrams[words[i - 1] + " " + words[i]] = 0;  // certain
        }
    }
    std::ostringstream arpa;
    arpa << "\\data\\\nngram 1=" << unigrams.size() << "\nngram 2=" << bigrams.size()
         << "\n\n\\1-grams:\n";
    for (const auto& [word, probability] : unigrams) arpa << probability << " " << word << " 0\n";
    arpa << "\n\\2-grams:\n";
    for (const auto& [pair, probability] : bigrams) arpa << probability << " " << pair << "\n";
    arpa << "\n\\end\\\n";
    return arpa.str();
}

void teachPronunciations(ps_decoder_t* decoder,
                         std::span<const formatting::Pronunciation> pronunciations) {
    for (const formatting::Pronunciation& taught : pronunciations) {
        const std::string word(taught.word);
        if (!dictionaryKnows(decoder, word))
            ps_add_word(decoder, word.c_str(), std::string(taught.phones).c_str(), FALSE);
    }
}

ngram_model_t* withCommandPhrases(ps_decoder_t* decoder, ngram_model_t* own,
                                  std::span<const PhraseGroup> groups) {
    std::vector<ngram_model_t*> models{own};
    std::vector<std::string> names{kOwnModelName};
    std::vector<float32> weights{1};
    for (const PhraseGroup& group : groups) {
        const auto [model, count] = phrasesModel(decoder, group);
        if (model == nullptr) continue;
        const double share = std::min(group.mostShare, group.weight * double(count));
        models.push_back(model), names.emplace_back(group.name);
        weights.push_back(float32(share)), weights[0] -= float32(share);
    }
    if (models.size() == 1) return own;

    std::vector<char*> namePointers;
    for (std::string& name : names) namePointers.push_back(name.data());
    ngram_model_t* set =
        ngram_model_set_init(ps_get_config(decoder), models.data(), namePointers.data(),
                             weights.data(), std::int32_t(models.size()));
    if (set == nullptr) {
        for (std::size_t i = 1; i < models.size(); ++i) ngram_model_free(models[i]);
        return own;
    }
    // Whether the set holds references of its own or takes the caller's
    // differs between releases; give ours back only when it took its own.
    for (ngram_model_t* model : models) {
        if (otherReferences(model) > 0) ngram_model_free(model);
    }
    return set;
}

}  // namespace scrivia::platform::linux_
