#include "session/owed_segments.h"

#include <algorithm>

namespace scrivia::session {

std::vector<OwedSegments::Entry>::iterator OwedSegments::find(const void* key) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [key](const Entry& entry) { return entry.key.get() == key; });
}

void OwedSegments::owe(const Key& key, std::string text) {
    if (!update(key.get(), text)) entries_.push_back({key, std::move(text)});
}

bool OwedSegments::update(const void* key, std::string text) {
    auto it = find(key);
    if (it == entries_.end()) return false;
    it->text = std::move(text);
    return true;
}

bool OwedSegments::contains(const void* key) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [key](const Entry& entry) { return entry.key.get() == key; });
}

std::optional<std::string> OwedSegments::settle(const void* key) {
    auto it = find(key);
    if (it == entries_.end()) return std::nullopt;
    std::string text = std::move(it->text);
    entries_.erase(it);
    return text;
}

std::vector<std::string> OwedSegments::settleAll() {
    std::vector<std::string> texts;
    for (auto& entry : entries_) texts.push_back(std::move(entry.text));
    entries_.clear();
    return texts;
}

}  // namespace scrivia::session
