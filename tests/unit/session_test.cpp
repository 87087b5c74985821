// The dictation session on the simulated platform: segments, results, errors
// and the watchdog, all timed in virtual seconds.
#include <cmath>

#include "harness.h"

namespace scrivia::testing {
namespace {

class Session : public SessionHarness {
  protected:
    std::vector<json> textEvents() {
        std::vector<json> kept;
        for (auto& e : events())
            if (e["type"] == "partial" || e["type"] == "final") kept.push_back(e);
        return kept;
    }
};

TEST_F(Session, RequestsAskForPartialDictationOnDeviceWithPunctuation) {
    const auto& settings = task(0).settingsAtOpen;
    EXPECT_TRUE(settings.shouldReportPartialResults);
    EXPECT_EQ(settings.taskHint, platform::TaskHint::dictation);
    EXPECT_EQ(settings.requiresOnDeviceRecognition, true);
    EXPECT_EQ(settings.addsPunctuation, true);
    EXPECT_EQ(sim.audio.tapBufferSize, 2048u);
    EXPECT_EQ(sim.audio.log,
              (std::vector<std::string>{"inputFormat", "installTap", "prepare", "start"}));
}

TEST_F(Session, AnUtteranceBecomesPartialsThenAFinalAfterThePause) {
    task(0).partial("bonjour");
    sim.advance(0.5);
    task(0).partial("bonjour tout le monde ");
    sim.advance(1.0);
    EXPECT_EQ(taskCount(), 1u) << "1.0 s of silence is not yet a pause";
    sim.advance(0.4);
    ASSERT_EQ(taskCount(), 2u) << "1.2 s of silence closes the segment";
    EXPECT_TRUE(task(0).request->audioEnded());
    EXPECT_FALSE(task(0).cancelled());

    // The next segment listens at once; the closed one hears nothing more.
    sim.audio.push({std::vector<float>(2048, 0.0f)});
    EXPECT_EQ(task(1).request->appendedBuffers(), 1u);
    EXPECT_EQ(task(0).request->appendedAfterEnd(), 0u);

    task(0).partial(
        "bonjour tout le monde !");  // late text of the closed request: stored, not shown
    task(0).final("  Bonjour tout le monde !\n");
    task(1).partial("encore");
    EXPECT_EQ(textEvents(),
              (std::vector<json>{partial("bonjour"), partial("bonjour tout le monde "),
                                 final("Bonjour tout le monde !"), partial("encore")}));
    EXPECT_EQ(taskCount(), 2u) << "a closed request's final opens nothing";
}

TEST_F(Session, UnchangedTextKeepsThePauseClockRunning) {
    task(0).partial("caf\u00e9");
    sim.advance(0.8);
    task(0).partial("cafe\u0301");  // the same text, decomposed
    task(0).partial("caf\u00e9");
    sim.advance(0.6);
    EXPECT_EQ(taskCount(), 2u) << "the pause counts from the first delivery";
    EXPECT_EQ(eventsOfType("partial").size(), 1u);
}

TEST_F(Session, EmptyPartials) {
    task(0).partial("");
    EXPECT_TRUE(eventsOfType("partial").empty()) << "nothing changed";
    task(0).partial("mot");
    task(0).partial("");
    EXPECT_EQ(eventsOfType("partial").back(), partial(""));
    sim.advance(10);
    EXPECT_EQ(taskCount(), 1u) << "no text, no pause rule";
}

TEST_F(Session, FirstPartialOfANewRequestIsShownEvenIfItRepeatsTheLastText) {
    task(0).partial("oui");
    task(0).final("Oui.");
    ASSERT_EQ(taskCount(), 2u) << "a final of the current request opens the next";
    task(1).partial("oui");
    EXPECT_EQ(textEvents(), (std::vector<json>{partial("oui"), final("Oui."), partial("oui")}));
}

TEST_F(Session, BlankFinalsAreNeverWritten) {
    task(0).final(" \t\n");
    task(1).final("");
    EXPECT_TRUE(eventsOfType("final").empty());
    EXPECT_EQ(taskCount(), 3u);
}

class ShortPause : public Session {
    std::vector<std::string> args() override { return {"--pause", "0.5"}; }
};

TEST_F(ShortPause, PauseOptionSetsTheSilenceThatClosesASegment) {
    task(0).partial("vite");
    sim.advance(0.4);
    EXPECT_EQ(taskCount(), 1u);
    sim.advance(0.2);
    EXPECT_EQ(taskCount(), 2u);
}

TEST_F(Session, ASegmentThatNeverPausesIsCutAfter45Seconds) {
    for (int second = 0; second < 44; ++second) {
        task(0).partial("mot " + std::to_string(second));
        sim.advance(1.0);
    }
    task(0).partial("fin");
    sim.advance(0.9);  // 44.9 s old
    EXPECT_EQ(taskCount(), 1u);
    sim.advance(0.3);
    ASSERT_EQ(taskCount(), 2u);
    EXPECT_TRUE(task(0).request->audioEnded());
    task(0).error("interrompu");  // the closed segment settles from its stored text
    EXPECT_EQ(eventsOfType("final"), std::vector<json>{final("fin")});
}

TEST_F(Session, ASilentRequestIsRenewedQuietlyEvery45Seconds) {
    sim.advance(44.9);
    EXPECT_EQ(taskCount(), 1u);
    sim.advance(0.4);
    ASSERT_EQ(taskCount(), 2u);
    EXPECT_TRUE(task(0).cancelled());
    EXPECT_FALSE(task(0).request->audioEnded());
    // Whatever the abandoned request still says is dropped, errors included.
    task(0).partial("fantôme");
    task(0).final("Fantôme.");
    for (int i = 0; i < 6; ++i) task(0).error("annulé");
    EXPECT_EQ(events(), std::vector<json>{events().front()}) << "only \"ready\"";
    sim.advance(44.6);
    EXPECT_EQ(taskCount(), 2u) << "the renewal restarted the segment's age";
    sim.advance(0.6);
    EXPECT_EQ(taskCount(), 3u);
}

TEST_F(Session, PauseRuleWinsOverAgeRule) {
    sim.advance(44.0);
    task(0).partial("tard");
    sim.advance(1.4);
    ASSERT_EQ(taskCount(), 2u);
    EXPECT_TRUE(task(0).request->audioEnded());
    EXPECT_FALSE(task(0).cancelled());
    sim.advance(0.4);
    EXPECT_EQ(taskCount(), 2u) << "closed once";
}

TEST_F(Session, ErrorsOfTheCurrentRequestAreAbsorbedUpToFourInSixSeconds) {
    // Errors at 0, 1, 2, 3 and 6 s: the first has left the window by the fifth.
    for (int i = 0; i < 5; ++i) {
        current().partial("texte " + std::to_string(i));
        ASSERT_EQ(exitOf([&] { current().error("coupure"); }), std::nullopt) << i;
        sim.advance(i == 3 ? 3.0 : 1.0);
    }
    EXPECT_EQ(taskCount(), 6u);
    EXPECT_EQ(eventsOfType("final").size(), 5u) << "each error settles the text heard so far";
    EXPECT_EQ(eventsOfType("final").front(), final("texte 0"));
}

TEST_F(Session, TheFifthErrorWithinSixSecondsEndsTheRun) {
    // Errors at 0, 1, 2 and 3 s are absorbed; the fifth comes at 5.9 s.
    for (double gap : {1.0, 1.0, 1.0, 2.9}) {
        ASSERT_EQ(exitOf([&] { current().error("coupure"); }), std::nullopt);
        sim.advance(gap);
    }
    current().partial("perdu");
    EXPECT_EQ(exitOf([&] { current().error("Le service a cessé"); }), 1);
    auto all = events();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(
        all[all.size() - 2],
        error("recognizer", "La reconnaissance s'interrompt sans cesse : Le service a cessé"));
    EXPECT_EQ(all.back(), event("end"));
    EXPECT_TRUE(eventsOfType("final").empty()) << "the run ends without settling";
}

TEST_F(Session, ErrorsOfClosedRequestsSettleTheirTextAndAreNotCounted) {
    for (int i = 0; i < 6; ++i) {
        current().partial("phrase " + std::to_string(i));
        sim.advance(1.4);
    }
    ASSERT_EQ(taskCount(), 7u);
    for (int i = 0; i < 6; ++i) ASSERT_EQ(exitOf([&] { task(i).error("perdu"); }), std::nullopt);
    EXPECT_EQ(eventsOfType("final").size(), 6u);
    EXPECT_EQ(eventsOfType("final").back(), final("phrase 5"));
    task(2).final("encore");  // settled already: dropped
    EXPECT_EQ(eventsOfType("final").size(), 6u);
}

// --- Level meter ------------------------------------------------------------

class Levels : public Session {
  protected:
    std::vector<double> levels() {
        std::vector<double> values;
        for (auto& e : eventsOfType("level")) values.push_back(e["value"].get<double>());
        return values;
    }
    static std::vector<float> alternating(float a, std::size_t frames = 2048) {
        std::vector<float> samples(frames);
        for (std::size_t i = 0; i < frames; ++i) samples[i] = i % 2 ? -a : a;
        return samples;
    }
    // One buffer 0.2 s after the last, so the throttle lets it through.
    void pushSpaced(std::vector<std::vector<float>> channels) {
        sim.clock.set(sim.clock.now() + 0.2);
        sim.audio.push(channels);
    }
};

TEST_F(Levels, WorkedValues) {
    for (float a : {0.0f, 0.025f, 0.05f, 0.1f, 0.7f}) pushSpaced({alternating(a)});
    std::vector<float> sine(2048);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(0.05 *
                                     std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / 48000.0));
    pushSpaced({sine});
    EXPECT_EQ(levels(), (std::vector<double>{0, 0.3, 0.6, 1, 1, 0.42}));
}

TEST_F(Levels, OnlyTheFirstChannelCountsAndNaNIsFullScale) {
    pushSpaced({alternating(0.0f), alternating(0.9f)});
    auto loud = alternating(0.01f);
    loud[7] = std::nanf("");
    pushSpaced({loud});
    pushSpaced({std::vector<float>(2048, 1.0f / 12.0f)});
    EXPECT_EQ(levels(), (std::vector<double>{0, 1, 1}));
}

TEST_F(Levels, AtMostOneLevelPer120Milliseconds) {
    sim.audio.push({alternating(0.05f)});  // the first buffer passes at once
    sim.clock.set(sim.clock.now() + 0.12);
    sim.audio.push({alternating(0.05f)});
    sim.clock.set(sim.clock.now() + 0.01);
    sim.audio.push({alternating(0.05f)});
    EXPECT_EQ(levels().size(), 2u) << "0.12 s is skipped, 0.13 s passes";
}

TEST_F(Levels, EmptyBuffersRestartTheIntervalButBuffersWithoutFloatsDoNot) {
    sim.audio.push({std::vector<float>{}});  // counts as reported, writes nothing
    sim.clock.set(sim.clock.now() + 0.1);
    sim.audio.push({alternating(0.05f)});
    EXPECT_TRUE(levels().empty());
    sim.clock.set(sim.clock.now() + 0.1);
    sim.audio.pushNoFloatData(2048);
    sim.audio.push({alternating(0.05f)});
    EXPECT_EQ(levels().size(), 1u);
    sim.clock.set(sim.clock.now() + 0.2);
    sim.audio.pushNoFloatData(2048);
    sim.audio.push({alternating(0.025f)});
    EXPECT_EQ(levels(), (std::vector<double>{0.6, 0.3}));
}

// --- Start failures ----------------------------------------------------------

TEST(SessionStart, NoUsableInputFormatEndsWithNoMic) {
    for (platform::AudioFormat format :
         {platform::AudioFormat{0, 2}, platform::AudioFormat{NAN, 1}, platform::AudioFormat{-1, 1},
          platform::AudioFormat{44100, 0}}) {
        sim::SimPlatform sim;
        sim.speech.serve("fr-FR");
        sim.audio.format = format;
        std::shared_ptr<app::App> app;
        EXPECT_EQ(startGranted(sim, app), 1);
        EXPECT_EQ(sim.events(),
                  (std::vector<json>{error("no-mic", "Aucun micro utilisable"), event("end")}));
        EXPECT_EQ(sim.audio.log, std::vector<std::string>{"inputFormat"}) << "no tap, no start";
    }
}

TEST(SessionStart, EngineThatFailsToStartEndsWithItsDescription) {
    sim::SimPlatform sim;
    sim.speech.serve("fr-FR");
    sim.audio.startError = "Connection refused";
    std::shared_ptr<app::App> app;
    EXPECT_EQ(startGranted(sim, app), 1);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{error("engine", "Le micro n'a pas démarré : Connection refused"),
                                 event("end")}));
}

TEST(SessionStart, PunctuationFollowsTheOptionAndTheCapability) {
    for (bool capable : {true, false}) {
        for (bool noPunctuation : {false, true}) {
            sim::SimPlatform sim;
            auto recognizer = sim.speech.serve("fr-FR", false);
            sim.speech.punctuationCapability = capable;
            std::vector<std::string> args;
            if (noPunctuation) args.push_back("--no-punctuation");
            std::shared_ptr<app::App> app;
            ASSERT_EQ(startGranted(sim, app, args), std::nullopt);
            const auto& settings = recognizer->tasks.at(0)->settingsAtOpen;
            EXPECT_EQ(settings.requiresOnDeviceRecognition, std::nullopt)
                << "never touched when off-device";
            EXPECT_EQ(settings.addsPunctuation,
                      capable ? std::optional<bool>(!noPunctuation) : std::nullopt);
        }
    }
}

// --- Threads -------------------------------------------------------------------

TEST_F(Session, AudioThreadFeedsLiveRequestsWhileTheMainThreadReplacesThem) {
    std::vector<std::vector<std::vector<float>>> buffers(400, {std::vector<float>(256, 0.01f)});
    sim.audio.pushFromThread(buffers, [&] {
        for (int i = 0; i < 40; ++i) {
            current().partial("segment " + std::to_string(i));
            sim.advance(1.4);
        }
    });
    std::size_t total = 0;
    for (auto& t : recognizer->tasks) {
        total += t->request->appendedBuffers();
        // Audio appended after the end of a closed segment would be lost.
        EXPECT_EQ(t->request->appendedAfterEnd(), 0u);
    }
    EXPECT_EQ(total, buffers.size()) << "every buffer reached exactly one request";
}

}  // namespace
}  // namespace scrivia::testing
