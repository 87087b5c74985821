// Pure sound code on plain values: no server, no thread, no clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/frame_assembler.h"

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

}  // namespace
}  // namespace scrivia::audio
