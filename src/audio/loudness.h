// How loud a frame of samples is: the one way the meter and the silence gate
// measure it. Each keeps its own precision, so their figures stay as they are.
#pragma once

#include <span>

namespace scrivia::audio {

// The mean of the squared samples, summed in `Sum` (float for the meter's
// single-precision figures, double for the gate's); 0 for no samples.
template <typename Sum, typename Sample>
Sum meanSquare(std::span<const Sample> samples) {
    Sum sum = 0;
    for (Sample s : samples) sum += Sum(s) * Sum(s);
    return samples.empty() ? Sum(0) : sum / static_cast<Sum>(samples.size());
}

}  // namespace scrivia::audio
