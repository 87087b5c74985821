// Start-up: the catalogue, the choice of recogniser, the permission chain and
// stops that come before the session exists.
#include "harness.h"

namespace scrivia::testing {
namespace {

using Startup = Harness;

TEST_F(Startup, CatalogueIsSortedByCodePointsWithItsOnDeviceSubsequence) {
    sim.speech.serve("fr_FR", true);
    sim.speech.serve("en_US", true);
    sim.speech.serve("de_DE", false);
    sim.speech.serve("en-GB", true);
    sim.speech.locales.push_back("es_ES");  // listed, but no recogniser for it
    EXPECT_EQ(launch({"--list", "--locale", "xx"}), 0);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{{{"type", "locales"},
                                  {"locales", {"de-DE", "en-GB", "en-US", "es-ES", "fr-FR"}},
                                  {"onDevice", {"en-GB", "en-US", "fr-FR"}}}}));
    EXPECT_FALSE(sim.speech.authorizationRequested());
    EXPECT_EQ(sim.audio.enginesMade, 0);
}

TEST_F(Startup, EmptyCatalogue) {
    EXPECT_EQ(launch({"--list"}), 0);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{
                  {{"type", "locales"}, {"locales", json::array()}, {"onDevice", json::array()}}}));
}

TEST_F(Startup, UnservedLocaleIsUnsupported) {
    sim.speech.serve("fr_FR");
    EXPECT_EQ(launch({"--locale", "--list"}), 1);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{
                  error("unsupported", "Langue non prise en charge par la dictée : --list"),
                  event("end")}));
    EXPECT_FALSE(sim.speech.authorizationRequested());
}

TEST_F(Startup, DefaultLocaleIsTheUsersDashedAndAnOptionValueIsPassedVerbatim) {
    sim.process.locale = "de_CH";
    EXPECT_EQ(launch(), 1);
    EXPECT_EQ(sim.speech.asked, std::vector<std::string>{"de-CH"});
    EXPECT_EQ(sim.events().front()["message"], "Langue non prise en charge par la dictée : de-CH");

    sim::SimPlatform other;
    other.speech.serve("fr_FR");
    try {
        auto held = app::start({"--locale", "fr_FR"}, other.platform);
    } catch (const sim::ExitCalled&) {
        FAIL() << "fr_FR is served";
    }
    EXPECT_EQ(other.speech.asked, std::vector<std::string>{"fr_FR"});
    EXPECT_TRUE(other.speech.authorizationRequested());
}

struct Refusal {
    platform::AuthorizationStatus status;
    const char* message;
};

class SpeechRefusal : public Harness, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SpeechRefusal, EndsWithSpeechDeniedAndNeverAsksForTheMicrophone) {
    sim.speech.serve("fr-FR");
    ASSERT_EQ(launch(), std::nullopt);
    sim.speech.answerAuthorization(GetParam().status);
    EXPECT_EQ(sim.runDue(), 1);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{error("speech-denied", GetParam().message), event("end")}));
    EXPECT_FALSE(sim.audio.microphoneRequested());
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, SpeechRefusal,
    ::testing::Values(Refusal{0, "Autorisation de reconnaissance vocale non accordée"},
                      Refusal{1,
                              "Reconnaissance vocale refusée (Réglages Système > Confidentialité > "
                              "Reconnaissance vocale)"},
                      Refusal{2, "Reconnaissance vocale restreinte sur ce Mac"},
                      Refusal{4, "Autorisation de reconnaissance vocale inconnue"},
                      Refusal{-1, "Autorisation de reconnaissance vocale inconnue"}));

TEST_F(Startup, MicrophoneRefusedEndsWithoutAskingAvailability) {
    auto recognizer = sim.speech.serve("fr-FR");
    ASSERT_EQ(launch(), std::nullopt);
    sim.speech.answerAuthorization(3);
    EXPECT_EQ(sim.runDue(), std::nullopt);
    sim.audio.answerMicrophone(false);
    EXPECT_EQ(sim.runDue(), 1);
    EXPECT_EQ(sim.events(),
              (std::vector<json>{
                  error("mic-denied",
                        "Accès au micro refusé (Réglages Système > Confidentialité > Microphone)"),
                  event("end")}));
    EXPECT_EQ(recognizer->availabilityAsked, 0);
}

TEST_F(Startup, UnavailableRecogniserCreatesNoSession) {
    sim.speech.serve("fr-FR", true, false);
    ASSERT_EQ(launch(), std::nullopt);
    sim.speech.answerAuthorization(3);
    sim.runDue();
    sim.audio.answerMicrophone(true);
    EXPECT_EQ(sim.runDue(), 1);
    EXPECT_EQ(
        sim.events(),
        (std::vector<json>{
            error("unavailable", "Le moteur de reconnaissance n'est pas disponible pour le moment"),
            event("end")}));
    EXPECT_EQ(sim.audio.enginesMade, 0);
}

TEST_F(Startup, GrantedRunStartsExactlyOneSession) {
    auto recognizer = sim.speech.serve("fr_FR", false);
    launchSession({"--locale", "fr_FR"});
    EXPECT_EQ(sim.audio.enginesMade, 1);
    EXPECT_EQ(recognizer->tasks.size(), 1u);
    EXPECT_EQ(events(),
              (std::vector<json>{{{"type", "ready"}, {"locale", "fr-FR"}, {"onDevice", false}}}));
    EXPECT_EQ(sim.speech.authorizationRequests(), 1);
    EXPECT_EQ(sim.audio.microphoneRequests(), 1);
}

TEST_F(Startup, StopBeforeTheSessionWritesEndAlone) {
    sim.speech.serve("fr-FR");
    ASSERT_EQ(launch(), std::nullopt);
    sim.speech.answerAuthorization(3);
    sim.runDue();  // now waiting for the microphone
    sim.process.writeStdin("stop\n");
    ASSERT_TRUE(sim.runLoop.waitForPost());
    EXPECT_EQ(sim.runDue(), 0);
    EXPECT_EQ(sim.events(), std::vector<json>{event("end")});
}

TEST_F(Startup, EndOfInputBeforeAnyAnswerWritesEndAlone) {
    sim.speech.serve("fr-FR");
    ASSERT_EQ(launch(), std::nullopt);
    sim.process.closeStdin();
    ASSERT_TRUE(sim.runLoop.waitForPost());
    EXPECT_EQ(sim.runDue(), 0);
    EXPECT_EQ(sim.events(), std::vector<json>{event("end")});
}

TEST_F(Startup, UnsupportedLocaleNeverStartsTheControlChannel) {
    EXPECT_EQ(launch({"--locale", "xx"}), 1);
    sim.process.closeStdin();
    EXPECT_FALSE(sim.runLoop.waitForPost(0.2));
}

}  // namespace
}  // namespace scrivia::testing
