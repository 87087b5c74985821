#include "platform/linux/speech/command_phrases.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
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
    const std::string arpa = commandPhrasesArpa(phrases, group.atStart, group.sharedAmong);
    const bool written = write(fd, arpa.data(), arpa.size()) == ssize_t(arpa.size());
    close(fd);
    ngram_model_t* model = written ? ngram_model_read(ps_get_config(decoder), path.c_str(),
                                                      NGRAM_ARPA, ps_get_logmath(decoder))
                                   : nullptr;
    unlink(path.c_str());
    return {model, model ? count : 0};
}

// A model of the set and its share of the probability.
struct Part {
    ngram_model_t* model;
    const char* name;
    double share;
};

// Names in the sets withCommandPhrases() makes beside the groups'.
constexpr const char* kOthersName = "others";
constexpr const char* kExtrasName = "extras";

// The group's phrases' model with its share, or none.
std::optional<Part> phrasesPart(ps_decoder_t* decoder, const PhraseGroup& group) {
    const auto [model, count] = phrasesModel(decoder, group);
    if (model == nullptr) return std::nullopt;
    return Part{model, group.name, std::min(group.mostShare, group.weight * double(count))};
}

// One model of `parts`, weighted by their shares as parts of their sum.
// Takes the caller's references and gives one to what it returns: the first
// part's model alone when there is only one or PocketSphinx refuses.
ngram_model_t* interpolated(ps_decoder_t* decoder, std::span<const Part> parts) {
    if (parts.size() == 1) return parts[0].model;
    std::vector<ngram_model_t*> models;
    std::vector<std::string> names;
    std::vector<float32> weights;
    double sum = 0;
    for (const Part& part : parts) sum += part.share;
    for (const Part& part : parts) {
        models.push_back(part.model), names.emplace_back(part.name);
        weights.push_back(float32(part.share / sum));
    }
    std::vector<char*> namePointers;
    for (std::string& name : names) namePointers.push_back(name.data());
    ngram_model_t* set =
        ngram_model_set_init(ps_get_config(decoder), models.data(), namePointers.data(),
                             weights.data(), std::int32_t(models.size()));
    if (set == nullptr) {
        for (std::size_t i = 1; i < models.size(); ++i) ngram_model_free(models[i]);
        return models[0];
    }
    // Whether the set holds references of its own or takes the caller's
    // differs between releases; give ours back only when it took its own.
    for (ngram_model_t* model : models) {
        if (otherReferences(model) > 0) ngram_model_free(model);
    }
    return set;
}

}  // namespace

bool dictionaryKnows(ps_decoder_t* decoder, const std::string& word) {
    char* phones = ps_lookup_word(decoder, word.c_str());
    ckd_free(phones);
    return phones != nullptr;
}

std::string commandPhrasesArpa(std::string_view phrases, double atStart, std::size_t sharedAmong) {
    const auto lines = split(phrases, '\n');
    std::map<std::string, double> unigrams{{"<s>", -99}, {"</s>", -1}};
    std::map<std::string, double> bigrams;  // "first second": log10 probability
    const double each = std::log10(1.0 / double(std::max(lines.size(), sharedAmong)));
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

PhrasedModel withCommandPhrases(ps_decoder_t* decoder, ngram_model_t* own,
                                std::span<const PhraseGroup> groups, const PhraseGroup& aside) {
    std::vector<Part> parts;
    for (const PhraseGroup& group : groups) {
        if (auto part = phrasesPart(decoder, group)) parts.push_back(*part);
    }
    const std::optional<Part> asidePart = phrasesPart(decoder, aside);
    const auto shareOf = [](std::span<const Part> some) {
        double share = 0;
        for (const Part& part : some) share += part.share;
        return share;
    };
    if (!asidePart) {
        parts.insert(parts.begin(), {own, kOwnModelName, 1 - shareOf(parts)});
        return {interpolated(decoder, parts), nullptr, nullptr};
    }
    // The aside model is nested with the other phrases', never with the
    // large model: a set's tables grow with its vocabulary.
    Part others{nullptr, kOthersName, shareOf(parts)};
    if (parts.size() == 1) others = {parts[0].model, parts[0].name, parts[0].share};
    if (parts.size() > 1) others.model = interpolated(decoder, parts);
    if (others.model == nullptr) {
        Part pair[] = {{own, kOwnModelName, 1 - asidePart->share}, *asidePart};
        ngram_model_t* model = interpolated(decoder, pair);
        return {model, model == own ? nullptr : model, kOwnModelName};
    }
    Part extrasParts[] = {others, *asidePart};
    Part whole[] = {
        {own, kOwnModelName, 1 - others.share - asidePart->share},
        {interpolated(decoder, extrasParts), kExtrasName, others.share + asidePart->share}};
    ngram_model_t* extras = whole[1].model;
    ngram_model_t* model = interpolated(decoder, whole);
    const bool nested = model != own && extras != others.model;
    return {model, nested ? extras : nullptr, nested ? others.name : nullptr};
}

}  // namespace scrivia::platform::linux_
