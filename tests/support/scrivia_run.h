// One run of build/scrivia as a host runs it, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "support/private_pulse.h"

namespace scrivia::testing {

using json = nlohmann::json;

inline constexpr auto kBound = 60s;  // every wait: a hang fails the test instead of blocking CI
inline auto is(std::string type) {
    return [type](const json& e) { return e.value("type", "") == type; };
}

// One run of build/scrivia; every event it prints is kept.
struct Scrivia {
    Scrivia(std::vector<std::string> args, std::vector<std::string> environment)
        : child((args.insert(args.begin(), SCRIVIA_BINARY), args), std::move(environment)) {}

    // Reads events until one satisfies `wanted` (with none given, until the
    // deadline or the end of output).
    std::optional<json> until(const std::function<bool(const json&)>& wanted,
                              SteadyClock::time_point deadline = SteadyClock::now() + kBound) {
        while (auto line = child.readLine(deadline)) {
            output += *line + "\n";
            events.push_back(json::parse(*line, nullptr, false));
            if (!events.back().is_object()) events.back() = {{"type", "not JSON: " + *line}};
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
    // The kinds of event in order, "ready" with its locale, an error as its
    // code, with levels, partials and finals after the first of a row left
    // out (how the decoder splits a sentence is its own): "ready en-US final
    // no-mic end".
    std::string summary() const {
        std::string text, last;
        for (const json& e : events) {
            std::string kind = e.value(is("error")(e) ? "code" : "type", "");
            if (is("ready")(e)) kind += " " + e.value("locale", "");
            if (kind == "level" || kind == "partial" || (kind == "final" && kind == last)) continue;
            text += (text.empty() ? "" : " ") + (last = kind);
        }
        return text;
    }

    ChildProcess child;
    std::vector<json> events;
    std::string output;  // as read, for messages
};

// Every test of a suite runs against one private server, started once.
class LiveDictation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { pulse_ = std::make_unique<PrivatePulse>(); }
    static void TearDownTestSuite() { pulse_.reset(); }

    static Scrivia start(std::vector<std::string> args = {},
                         std::vector<std::string> env = {"LANG=en_US.UTF-8"}) {
        const auto client = pulse_->clientEnvironment();
        env.insert(env.end(), client.begin(), client.end());
        return Scrivia(std::move(args), std::move(env));
    }
    // Waits for "ready" (levels may come first, no text can) and for the
    // program to record from the microphone.
    static void expectListening(Scrivia& run) {
        auto ready = run.until([](const json& e) { return !is("level")(e); });
        ASSERT_TRUE(ready) << "no event but levels before the bound";
        EXPECT_EQ(*ready, json::parse(R"({"type":"ready","locale":"en-US","onDevice":true})"));
        ASSERT_TRUE(pulse_->recording());
    }

    static inline std::unique_ptr<PrivatePulse> pulse_;
    std::unique_ptr<ChildProcess> feeder;
};

}  // namespace scrivia::testing
