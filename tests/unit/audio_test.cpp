// Pure sound code on plain values: no server, no thread, no clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/frame_assembler.h"
#include "audio/silence_gate.h"

namespace scrivia::audio {
namespace {

// The server hands over fragments cut anywhere, even inside a frame, and
// holes; each buffer must hold the right sample of each channel, at its time.
TEST(FrameAssembler, FragmentsAndHolesBecomeWholeBuffersInPlace) {
    struct Fragment {
        std::size_t bytes;
        bool hole;
    };
    struct Row {
        std::uint32_t channels, frames;
        std::vector<Fragment> fragments;
        std::string want;  // the buffers' samples, planar; "|" ends a buffer
    };
    // Frame i of channel c holds 10 * i + c; a hole's frames are silence.
    for (const Row& r : std::initializer_list<Row>{
             {2, 2, {{32, false}}, "0 10 1 11|20 30 21 31|"},
             {2, 2, {{5, false}, {7, false}, {13, false}, {7, false}}, "0 10 1 11|20 30 21 31|"},
             {2, 2, {{8, false}, {8, true}, {16, false}}, "0 0 1 0|20 30 21 31|"},
             {2, 2, {{4, false}, {8, true}, {20, false}}, "0 0 0 11|20 30 21 31|"},  // a cut hole
             {1, 3, {{12, false}, {4, false}, {4, false}}, "0 10 20|"},  // the rest waits
             {0, 2, {{16, false}}, ""},
         }) {
        std::vector<std::uint8_t> stream;
        for (std::uint32_t i = 0; stream.size() < 64; ++i)
            for (std::uint32_t c = 0; c < std::max(r.channels, 1u); ++c) {
                const float sample = float(10 * i + c);
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(&sample);
                stream.insert(stream.end(), bytes, bytes + sizeof sample);
            }
        FrameAssembler assembler(r.frames, r.channels, 16000);
        std::string got;
        std::size_t at = 0;
        for (const Fragment& fragment : r.fragments) {
            assembler.consume(
                fragment.hole ? nullptr : stream.data() + at, fragment.bytes,
                [&](const AudioBuffer& buffer) {
                    for (std::uint32_t c = 0; c < buffer.channelCount; ++c)
                        for (std::uint32_t i = 0; i < buffer.frameLength; ++i)
                            got.append(got.empty() || got.back() == '|' ? "" : " ")
                                .append(std::to_string(int(buffer.floatChannelData[c][i])));
                    got += '|';
                });
            at += fragment.bytes;
        }
        EXPECT_EQ(got, r.want) << r.channels << " channels, " << r.fragments.size() << " fragments";
    }
}

// Quiet frames, loud frames, quiet frames: the gate passes the loud ones, the
// latest quiet ones before them (pre-roll) and the first quiet ones after
// (hangover), and nothing else.
TEST(SilenceGate, PassesSpeechWithItsPreRollAndHangover) {
    struct Row {
        std::size_t before, loud, after, preRoll, hangover;
    };
    for (const Row& r : std::initializer_list<Row>{
             {100, 5, 100, 30, 50},  // 0.3 s before, 0.5 s after
             {10, 5, 20, 10, 20},    // as much as there is
             {0, 3, 0, 0, 0},
             {200, 0, 0, 0, 0},  // silence is never passed
         }) {
        std::vector<std::int16_t> in;
        std::size_t frame = 0;
        // Quiet frames differ (-57 dBFS and below), so the test sees which passed.
        auto add = [&](std::size_t count, bool loud) {
            for (std::size_t end = frame + count; frame < end; ++frame)
                in.insert(in.end(), 160, std::int16_t(loud ? 8000 : 1 + frame % 45));
        };
        add(r.before, false), add(r.loud, true), add(r.after, false);
        SilenceGate gate(16000);
        std::vector<std::int16_t> passed;
        for (std::size_t at = 0; at < in.size(); at += 700)  // buffers that split frames
            gate.admit(std::span(in).subspan(at, std::min<std::size_t>(700, in.size() - at)),
                       passed);
        const auto first = in.begin() + std::ptrdiff_t(160 * (r.before - r.preRoll));
        EXPECT_EQ(passed,
                  std::vector<std::int16_t>(
                      first, first + std::ptrdiff_t(160 * (r.preRoll + r.loud + r.hangover))))
            << r.before << " " << r.loud << " " << r.after;
        EXPECT_EQ(gate.closed(), r.loud == 0 || r.after > r.hangover) << r.after;
    }
    // A noisy room (-41 dBFS) stays noisy from one utterance to the next: once
    // the floor has climbed to it, the next utterance passes none of it either.
    SilenceGate gate(16000);
    std::vector<std::int16_t> fan(16000 * 20), passed;
    for (std::size_t i = 0; i < fan.size(); ++i) fan[i] = std::int16_t(i % 2 ? 300 : -300);
    gate.admit(fan, passed);
    gate.reset();
    passed.clear();
    gate.admit(std::span(fan).first(16000 * 5), passed);
    EXPECT_EQ(passed.size(), 0u);
}

}  // namespace
}  // namespace scrivia::audio
