// Microphone audio made into what the decoder hears: 16-bit samples at the
// model's rate.
#pragma once

#include <soxr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace scrivia::platform::linux_ {

// Mono samples of one appended buffer, at the rate they were captured: a copy,
// since the audio thread's buffer is lent only for the call.
struct AudioChunk {
    std::vector<float> samples;
    double sampleRate = 0;
};

// Turns mono float chunks at any rate into 16-bit samples at the decoder's
// rate, resampling with soxr when the rates differ. Keeps the resampler's
// state between chunks of one utterance. Recognition worker only.
class SampleConverter {
  public:
    explicit SampleConverter(double outputRate) : outputRate_(outputRate) {}
    ~SampleConverter() { closeResampler(); }
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    // Appends `chunk` to `out`; false (and an explanation) when it cannot.
    bool convert(const AudioChunk& chunk, std::vector<std::int16_t>& out, std::string& problem);
    // Appends what the resampler still holds, and starts afresh.
    void finish(std::vector<std::int16_t>& out);

  private:
    void closeResampler();

    const double outputRate_;
    double inputRate_ = 0;
    soxr_t resampler_ = nullptr;
};

}  // namespace scrivia::platform::linux_
