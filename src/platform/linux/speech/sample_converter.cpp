#include "platform/linux/speech/sample_converter.h"

#include <algorithm>
#include <cmath>

namespace scrivia::platform::linux_ {

namespace {

void appendSamples(const float* samples, std::size_t count, std::vector<std::int16_t>& out) {
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        float scaled = std::clamp(samples[i] * 32768.0f, -32768.0f, 32767.0f);
        out.push_back(static_cast<std::int16_t>(std::lrint(scaled)));
    }
}

}  // namespace

bool SampleConverter::convert(const AudioChunk& chunk, std::vector<std::int16_t>& out,
                              std::string& problem) {
    if (chunk.sampleRate != inputRate_) {
        finish(out);
        inputRate_ = chunk.sampleRate;
        if (inputRate_ != outputRate_) {
            soxr_error_t error = nullptr;
            // 16-bit out, straight into the caller's samples; undithered, so the
            // same audio always makes the same samples.
            soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
            io.flags |= SOXR_NO_DITHER;
            soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            resampler_ = soxr_create(inputRate_, outputRate_, 1, &error, &io, &quality, &runtime);
            if (error != nullptr || resampler_ == nullptr) {
                problem = "Audio at " + std::to_string(static_cast<long>(inputRate_)) +
                          " Hz cannot be converted for recognition: " + soxr_strerror(error) + ".";
                closeResampler();
                inputRate_ = 0;
                return false;
            }
        }
    }
    if (resampler_ == nullptr) {
        appendSamples(chunk.samples.data(), chunk.samples.size(), out);
        return true;
    }
    const float* input = chunk.samples.data();
    std::size_t remaining = chunk.samples.size();
    while (remaining > 0) {
        const std::size_t at = out.size(),
                          room = std::size_t(double(remaining) * outputRate_ / inputRate_) + 64;
        out.resize(at + room);
        std::size_t used = 0;
        std::size_t produced = 0;
        soxr_error_t error =
            soxr_process(resampler_, input, remaining, &used, out.data() + at, room, &produced);
        out.resize(at + produced);
        if (error != nullptr) {
            problem = std::string("Audio could not be resampled: ") + error + ".";
            return false;
        }
        if (used == 0 && produced == 0) break;
        input += used;
        remaining -= used;
    }
    return true;
}

void SampleConverter::finish(std::vector<std::int16_t>& out) {
    constexpr std::size_t room = 4096;
    while (resampler_ != nullptr) {
        const std::size_t at = out.size();
        out.resize(at + room);
        std::size_t produced = 0;
        const bool failed = soxr_process(resampler_, nullptr, 0, nullptr, out.data() + at, room,
                                         &produced) != nullptr;
        out.resize(at + produced);
        if (failed || produced < room) break;
    }
    closeResampler();
    inputRate_ = 0;
}

void SampleConverter::closeResampler() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
    resampler_ = nullptr;
}

}  // namespace scrivia::platform::linux_
