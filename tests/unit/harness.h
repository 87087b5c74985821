// Starts scrivia on the simulated platform and reads back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/startup.h"
#include "sim/sim_platform.h"

namespace scrivia::testing {

using nlohmann::json;

inline json event(const std::string& type) {
    return json{{"type", type}};
}
inline json final(const std::string& text) {
    return json{{"type", "final"}, {"text", text}};
}
inline json partial(const std::string& text) {
    return json{{"type", "partial"}, {"text", text}};
}
inline json error(const std::string& code, const std::string& message) {
    return json{{"type", "error"}, {"code", code}, {"message", message}};
}

// Start-up with both permissions granted, keeping the run's state in `app`;
// the exit status if the run ended on the way.
inline std::optional<int> startGranted(sim::SimPlatform& sim, std::shared_ptr<app::App>& app,
                                       std::vector<std::string> args = {}) {
    try {
        app = app::start(std::move(args), sim.platform);
    } catch (const sim::ExitCalled& exit) {
        return exit.status;
    }
    sim.speech.answerAuthorization(3);
    if (auto status = sim.runDue()) return status;
    sim.audio.answerMicrophone(true);
    return sim.runDue();
}

class Harness : public ::testing::Test {
  protected:
    sim::SimPlatform sim;
    std::shared_ptr<app::App> app;  // what the process holds while it runs

    // Runs start-up; the exit status if it ended there.
    std::optional<int> launch(std::vector<std::string> args = {}) {
        try {
            app = app::start(std::move(args), sim.platform);
        } catch (const sim::ExitCalled& exit) {
            return exit.status;
        }
        return std::nullopt;
    }

    // Start-up, both permissions granted, the session running.
    void launchSession(std::vector<std::string> args = {}) {
        ASSERT_EQ(startGranted(sim, app, std::move(args)), std::nullopt);
    }

    // Events written so far, without "level" lines unless asked for.
    std::vector<json> events(bool withLevels = false) {
        std::vector<json> kept;
        for (auto& e : sim.events())
            if (withLevels || e["type"] != "level") kept.push_back(e);
        return kept;
    }
    std::vector<json> eventsOfType(const std::string& type) {
        std::vector<json> kept;
        for (auto& e : sim.events())
            if (e["type"] == type) kept.push_back(e);
        return kept;
    }
};

// A session running on a recogniser for fr-FR.
class SessionHarness : public Harness {
  protected:
    std::shared_ptr<sim::SimRecognizer> recognizer;

    void SetUp() override {
        recognizer = sim.speech.serve("fr-FR");
        launchSession(args());
    }
    virtual std::vector<std::string> args() { return {}; }

    sim::SimTask& task(std::size_t i) { return *recognizer->tasks.at(i); }
    sim::SimTask& current() { return *recognizer->tasks.back(); }
    std::size_t taskCount() { return recognizer->tasks.size(); }

    // Runs `work`; the exit status if the program exited in it.
    static std::optional<int> exitOf(const std::function<void()>& work) {
        try {
            work();
        } catch (const sim::ExitCalled& exit) {
            return exit.status;
        }
        return std::nullopt;
    }
};

}  // namespace scrivia::testing
