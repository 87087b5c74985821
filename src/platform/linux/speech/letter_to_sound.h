// Pronunciations for words a dictionary lacks ("Kubernetes", "Siobhan"), from
// flite's English lexicon and, for words it lacks too, flite's letter-to-sound
// rules, in the phones of an English acoustic model.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/speech/model_phones.h"

namespace scrivia::platform::linux_ {

// Any thread (it is made and used on the recognition worker). flite's lexicon
// is process-wide state: the first LetterToSound sets it up, once
// (std::call_once), and lookups from every instance take turns under one lock.
// flite is never given anything that makes it write to stderr or end the process.
class LetterToSound {
  public:
    // Pronunciations use only `phones`, as modelPhones() reads them.
    explicit LetterToSound(PhoneSet phones);

    // How each of `words` (as written, space separated) is said, one
    // pronunciation per word: "K AH B ER N IY T S". A word is looked up with
    // its capitals and accents folded. Digits are said as a number, a run of
    // more than two digit by digit ("x11": "x eleven"); letters without a
    // vowel that the lexicon lacks are spelled ("js": "j s"); a hyphen joins
    // parts. A word with any other symbol ("c++", "node.js") or a letter
    // beyond a-z is refused, with an empty pronunciation: what it is called
    // is for a spoken form to say.
    std::vector<std::string> phonesFor(std::string_view words) const;

  private:
    std::string phonesOfWord(std::string_view word) const;

    const PhoneSet phones_;
};

}  // namespace scrivia::platform::linux_
