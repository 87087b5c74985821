// The phones an acoustic model can say, read from its model definition, so
// that a pronunciation from elsewhere is checked against the model it is for.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace scrivia::platform::linux_ {

using PhoneSet = std::set<std::string, std::less<>>;

// The base phones of the acoustic model in `folder` (its mdef, binary or
// text), without the silence and noise phones no word is made of; empty when
// the file is missing or not a model definition.
PhoneSet modelPhones(const std::string& folder);

}  // namespace scrivia::platform::linux_
