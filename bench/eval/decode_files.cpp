// Decodes WAV files through scrivia's own speech service, one request per
// file, and says what each cost. The evaluation script (run.py) scores what
// it heard and sets it beside PocketSphinx's own tool.
//
//   scrivia_decode_files [--paced] [--check ATTEMPT] [--words FILE] LIST HYPOTHESES
//   scrivia_decode_files --marks | --format
//
// LIST has one "id path" line per file (16-bit PCM WAV, any rate, mono).
// HYPOTHESES receives "words (id)" lines, the recogniser's raw lower-case
// words. Standard output gets one line per file:
//   id audio_seconds cpu_seconds finalisation_seconds first_partial_seconds
// and last "load_cpu_seconds X" and "peak_rss_mib X".
//
// Without --paced the audio is appended as fast as it can be, the decoder is
// left to catch up, and only then is the audio ended, so the finalisation time
// is the work left after the last sample, not a backlog. With --paced it is
// appended at the pace a microphone gives it, which the time to the first
// partial needs; the first partial is timed from the first loud 10 ms.
// --words gives the recogniser a person's own words, as scrivia's --words does.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "app/word_list.h"
#include "formatting/formatter.h"
#include "formatting/language_rules.h"
#include "platform/linux/speech/speech_service.h"
#include "pumped_run_loop.h"

namespace {

using namespace scrivia::platform;
using scrivia::bench::PumpedRunLoop;
using Clock = PumpedRunLoop::Clock;

struct Wav {
    std::vector<float> samples;
    double rate = 0;
};

// A WAV file's first channel of 16-bit PCM, whatever chunks precede its data.
Wav readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0) {
        throw std::runtime_error(path + ": not a WAV file");
    }
    Wav wav;
    std::uint16_t channels = 1;
    for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        const std::size_t size = std::min<std::size_t>(u32(at + 4), bytes.size() - at - 8);
        if (bytes.compare(at, 4, "fmt ") == 0 && size >= 16) {
            std::memcpy(&channels, bytes.data() + at + 10, 2);
            wav.rate = u32(at + 12);
        } else if (bytes.compare(at, 4, "data") == 0) {
            for (std::size_t i = 0; i + 2 * channels <= size; i += 2 * channels) {
                std::int16_t s = 0;
                std::memcpy(&s, bytes.data() + at + 8 + i, 2);
                wav.samples.push_back(s / 32768.0f);
            }
        }
    }
    if (wav.rate <= 0) throw std::runtime_error(path + ": no format chunk");
    return wav;
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds into `wav` of the first 10 ms whose level is within 20 dB of the
// loudest 10 ms: where speech starts.
double speechOnset(const Wav& wav) {
    const auto window = std::size_t(wav.rate / 100);
    std::vector<double> levels;
    for (std::size_t at = 0; at + window <= wav.samples.size(); at += window) {
        double sum = 0;
        for (std::size_t i = at; i < at + window; ++i) sum += wav.samples[i] * wav.samples[i];
        levels.push_back(std::sqrt(sum / double(window)));
    }
    double loudest = 0;
    for (double level : levels) loudest = std::max(loudest, level);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] >= loudest / 10) return double(i) / 100;
    }
    return 0;
}

// The process's peak resident memory. Not getrusage's: Linux carries that
// over from the process that started this one, here a Python script.
double peakResidentMib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024;
    }
    return 0;
}

struct Figures {
    std::string words;
    double cpu = 0, finalisation = 0, firstPartial = -1;
};

// Waits until the recognition worker has decoded everything it was given:
// the process uses next to no CPU while the main thread pumps.
void waitUntilIdle(PumpedRunLoop& loop) {
    for (;;) {
        const double before = cpuSeconds();
        loop.runUntil(Clock::now() + std::chrono::milliseconds(30));
        if (cpuSeconds() - before < 0.002) return;
    }
}

// The ways of checking a heard mark tried, by name; the shipped one is the
// default config.
const std::map<std::string, linux_::MarkCheckConfig> attempts{
    {"shipped", {}},
    {"none", {.surePosterior = 0}},
    {"drop-0.5", {.surePosterior = 0.5, .lookAgain = false}},
    {"drop-0.9", {.surePosterior = 0.9, .lookAgain = false}},
    {"again", {.surePosterior = 1.1, .lookAgain = true}},
    {"again-0.9", {.surePosterior = 0.9, .lookAgain = true}},
};

Figures decode(SpeechService& service, SpeechRecognizer& recognizer, PumpedRunLoop& loop,
               const Wav& wav, bool paced) {
    auto request = service.makeRequest();
    request->settings.shouldReportPartialResults = true;
    request->settings.addsPunctuation = false;
    Figures figures;
    bool done = false;
    Clock::time_point start, ended;
    auto task = recognizer.recognitionTask(request, [&](auto result, auto error) {
        if (error) {
            std::cerr << "error: " << error->description << "\n";
            done = true;
        } else if (result && result->isFinal) {
            figures.words = result->text;
            figures.finalisation = since(ended);
            done = true;
        } else if (result && figures.firstPartial < 0 && !result->text.empty()) {
            figures.firstPartial = since(start);
        }
    });
    // 50 ms buffers, as a microphone delivers them.
    const auto frames = std::size_t(wav.rate / 20);
    const double cpuBefore = cpuSeconds();
    start = Clock::now();
    for (std::size_t at = 0; at < wav.samples.size(); at += frames) {
        const float* channel = wav.samples.data() + at;
        const auto count = std::uint32_t(std::min(frames, wav.samples.size() - at));
        if (paced) {
            const double due = double(at + count) / wav.rate;
            loop.runUntil(start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(due)));
        }
        request->append(AudioBuffer{&channel, count, 1, wav.rate});
    }
    if (!paced) waitUntilIdle(loop);
    ended = Clock::now();
    request->endAudio();
    if (!loop.runUntil([&] { return done; })) std::cerr << "error: no final result\n";
    figures.cpu = cpuSeconds() - cpuBefore;
    if (figures.firstPartial >= 0) figures.firstPartial -= speechOnset(wav);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--format") == 0) {
        // Each line of words as scrivia writes it with punctuation off, so
        // that references and the tool's words are scored like scrivia's text.
        using namespace scrivia::formatting;
        const Formatter plain("en", loadNameList(Formatter::nameListPath("en")),
                              FormatterConfig{.punctuation = false});
        for (std::string line; std::getline(std::cin, line);)
            std::cout << plain.format(line, TextKind::final) << "\n";
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--marks") == 0) {
        using namespace scrivia::formatting;
        const auto marks = englishRules().marks;
        for (const SpokenMark& mark : marks) {
            const auto first = std::find_if(marks.begin(), marks.end(), [&](const SpokenMark& m) {
                return m.mark == mark.mark && m.attach == mark.attach;
            });
            std::cout << mark.words << "\t" << first->words << "\t" << int(mark.boosted) << "\n";
        }
        return 0;
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool paced = !args.empty() && args[0] == "--paced";
    if (paced) args.erase(args.begin());
    linux_::MarkCheckConfig check;
    if (args.size() > 1 && args[0] == "--check") {
        if (!attempts.contains(args[1])) {
            std::cerr << "error: no attempt " << args[1] << "\n";
            return 2;
        }
        check = attempts.at(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    std::vector<WordEntry> words;
    if (args.size() > 1 && args[0] == "--words") {
        std::ifstream file(args[1]);
        words = scrivia::app::parseWordList(std::string(std::istreambuf_iterator<char>(file), {}));
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::cerr << "usage: scrivia_decode_files [--paced] [--check ATTEMPT] [--words FILE] LIST "
                     "HYPOTHESES | --marks | --format\n";
        return 2;
    }
    std::ifstream list(args[0]);
    std::ofstream hypotheses(args[1]);
    PumpedRunLoop loop;
    linux_::SpeechService service(
        loop, linux_::ModelDirectories{{}, "/usr/share/pocketsphinx/model"}, std::nullopt, check);
    service.useOwnWords(std::move(words));
    auto recognizer = std::dynamic_pointer_cast<linux_::SphinxRecognizer>(service.recognizer("en"));
    const double loadBefore = cpuSeconds();
    if (!recognizer || !recognizer->waitUntilLoaded()) {
        std::cerr << "error: the English model did not load\n";
        return 1;
    }
    const double loadCpu = cpuSeconds() - loadBefore;
    std::cout.setf(std::ios::fixed);
    std::cout.precision(4);
    std::string id, path;
    while (list >> id >> path) {
        const Wav wav = readWav(path);
        const Figures f = decode(service, *recognizer, loop, wav, paced);
        hypotheses << f.words << " (" << id << ")" << std::endl;
        std::cout << id << " " << double(wav.samples.size()) / wav.rate << " " << f.cpu << " "
                  << f.finalisation << " " << f.firstPartial << "\n";
    }
    std::cout << "load_cpu_seconds " << loadCpu << "\npeak_rss_mib " << peakResidentMib() << "\n";
    return 0;
}
