// The words of a PocketSphinx hypothesis, made into the text scrivia reports.
#pragma once

#include <string>
#include <string_view>

namespace scrivia::platform::linux_ {

// The spoken words of `hypothesis`, separated by single spaces, without
// fillers and without alternate-pronunciation markers (`read(2)` → `read`).
std::string cleanHypothesis(std::string_view hypothesis);

}  // namespace scrivia::platform::linux_
