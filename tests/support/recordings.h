// Debian's recordings of human speech (pocketsphinx-testdata), what
// PocketSphinx itself makes of them, and how close a text comes to that.
#pragma once

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace scrivia::testing {

using Samples = std::vector<std::int16_t>;

inline std::string recordingPath(const std::string& id) {
    return "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-" + id +
           ".wav";
}

// The samples of a WAV file of 16-bit mono PCM at 16 kHz with a plain
// 44-byte header, as Debian's recordings are.
inline Samples readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 44 || bytes.compare(36, 4, "data") != 0)
        throw std::runtime_error(path + ": not a plain WAV file");
    Samples samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

// `said` read by flite's `voice` ("slt", "awb", "kal16"), or nothing when flite cannot.
inline Samples spokenBy(const std::string& voice, const std::string& said) {
    const std::string wav = "/tmp/scrivia-said-" + std::to_string(getpid()) + ".wav";
    const bool made =
        std::system(("flite -voice " + voice + " -t '" + said + "' -o " + wav).c_str()) == 0;
    Samples samples = made ? readWav(wav) : Samples{};
    std::remove(wav.c_str());
    return samples;
}

// PocketSphinx's own reading of each recording, decoded as a live decoder
// hears it (no whole-utterance passes), one after another on one decoder: it adapts to the voice as
// it goes, so the reference for a second recording must have heard the first.
inline std::vector<std::string> referenceTexts(const std::vector<Samples>& recordings) {
    err_set_logfp(nullptr);
    const std::string model = "/usr/share/pocketsphinx/model/en-us";
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (model + "/en-us").c_str(),
                                   "-lm", (model + "/en-us.lm.bin").c_str(), "-dict",
                                   (model + "/cmudict-en-us.dict").c_str(), nullptr);
    ps_decoder_t* decoder = ps_init(config);
    if (decoder == nullptr) throw std::runtime_error("PocketSphinx cannot load its English model");
    std::vector<std::string> texts;
    for (const Samples& audio : recordings) {
        ps_start_utt(decoder);
        ps_process_raw(decoder, audio.data(), audio.size(), FALSE, FALSE);
        ps_end_utt(decoder);
        const char* hypothesis = ps_get_hyp(decoder, nullptr);
        texts.emplace_back(hypothesis ? hypothesis : "");
    }
    ps_free(decoder);
    cmd_ln_free_r(config);
    return texts;
}

// Lower-case words; punctuation and capitals are the program's to choose.
inline std::vector<std::string> words(std::string_view text) {
    std::string plain;
    for (unsigned char c : text)
        plain += std::isalnum(c) || c == '\'' ? char(std::tolower(c)) : ' ';
    std::istringstream in(plain);
    return {std::istream_iterator<std::string>(in), {}};
}

// The share of `reference`'s words that `heard` has in the same order
// (their longest common subsequence over the reference's length).
inline double sharedInOrder(std::string_view reference, std::string_view heard) {
    const auto want = words(reference), have = words(heard);
    std::vector<std::size_t> row(have.size() + 1, 0), previous(have.size() + 1, 0);
    for (const auto& w : want) {
        for (std::size_t j = 1; j <= have.size(); ++j)
            row[j] = w == have[j - 1] ? previous[j - 1] + 1 : std::max(row[j - 1], previous[j]);
        std::swap(row, previous);
    }
    return want.empty() ? 0 : double(previous[have.size()]) / double(want.size());
}

}  // namespace scrivia::testing
