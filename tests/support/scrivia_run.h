// One run of build/scrivia as a host runs it, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "support/private_pulse.h"

namespace scrivia::testing {

using json = nlohmann::json;

inline constexpr auto kBound = 60s;  // every wait: a hang fails the test instead of blocking CI
// PULSE_SERVER names a socket that does not exist, so no real server is reached either.
inline const std::vector<std::string> kNoServer = {"PATH=/usr/bin:/bin", "HOME=/nonexistent",
                                                   "LANG=en_US.UTF-8",
                                                   "PULSE_SERVER=unix:/nonexistent/scrivia/native"};

inline std::string field(const json& event, const char* key) {
    auto value = event.find(key);
    return value != event.end() && value->is_string() ? value->get<std::string>() : "";
}
inline auto is(std::string type) {
    return [type](const json& e) { return field(e, "type") == type; };
}

// One run of build/scrivia; every event it prints is kept, with when it was read.
struct Scrivia {
    Scrivia(std::vector<std::string> args, std::vector<std::string> environment)
        : child((args.insert(args.begin(), SCRIVIA_BINARY), args), std::move(environment)) {}

    // Reads events until one satisfies `wanted` (with none given, until the
    // deadline or the end of output).
    std::optional<json> until(const std::function<bool(const json&)>& wanted,
                              SteadyClock::time_point deadline = SteadyClock::now() + kBound) {
        while (auto line = child.readLine(deadline)) {
            events.push_back(json::parse(*line, nullptr, false));
            times.push_back(SteadyClock::now());
            EXPECT_TRUE(events.back().is_object()) << "not an event line: " << *line;
            if (wanted && wanted(events.back())) return events.back();
        }
        return std::nullopt;
    }
    // Reads to the end; the exit status. Nothing reaches stderr.
    std::optional<int> finish() {
        until(nullptr);
        auto status = child.wait(SteadyClock::now() + kBound);
        EXPECT_EQ(child.errors(), "") << "scrivia wrote to stderr";
        return status;
    }
    std::vector<std::string> texts(const std::string& type) const {
        std::vector<std::string> found;
        for (const json& e : events)
            if (is(type)(e)) found.push_back(field(e, "text"));
        return found;
    }
    // The kinds of event in order, an error as its code, with levels,
    // partials and repeats left out: "ready final no-mic end".
    std::string summary() const {
        std::string text, last;
        for (const json& e : events) {
            const std::string kind = is("error")(e) ? field(e, "code") : field(e, "type");
            if (kind == "level" || kind == "partial" || kind == last) continue;
            text += (text.empty() ? "" : " ") + (last = kind);
        }
        return text;
    }
    std::string dump() const {
        std::string text;
        for (const auto& e : events) text += e.dump() + "\n";
        return text;
    }

    ChildProcess child;
    std::vector<json> events;
    std::vector<SteadyClock::time_point> times;
};

}  // namespace scrivia::testing
