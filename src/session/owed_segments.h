// Closed segments whose final text has not arrived yet, in the order they
// were spoken. Each is keyed by the identity of its request, which the entry
// keeps alive so that the identity stays unique. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scrivia::session {

class OwedSegments {
  public:
    using Key = std::shared_ptr<const void>;

    // Owes `text` for `key`: a new segment at the end, or new text for one
    // already owed, which keeps its place.
    void owe(const Key& key, std::string text);
    // New text for `key` if it is owed; whether it is.
    bool update(const void* key, std::string text);
    bool contains(const void* key) const;
    // The text owed for `key`, which is then settled; nothing if not owed.
    std::optional<std::string> settle(const void* key);
    // Every text still owed, in spoken order; nothing is owed afterwards.
    std::vector<std::string> settleAll();
    bool empty() const { return entries_.empty(); }

  private:
    struct Entry {
        Key key;
        std::string text;
    };
    std::vector<Entry>::iterator find(const void* key);

    std::vector<Entry> entries_;
};

}  // namespace scrivia::session
