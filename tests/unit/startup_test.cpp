// Start-up: the catalogue, the choice of recogniser, the permission chain and
// stops that come before the session exists.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "sim/sim_platform.h"

namespace scrivia {
namespace {

using nlohmann::json;

TEST(Startup, CatalogueIsSortedWithItsOnDeviceSubsequenceAndEndsTheRunWithoutEnd) {
    sim::Run run;
    for (auto [id, onDevice] :
         {std::pair{"fr_FR", true}, {"en-US", true}, {"de_DE", false}, {"en_GB", true}})
        run.serve(id).onDevice = onDevice;
    run.speech.recognizers["es_ES"] = nullptr;  // listed, but no recogniser for it
    run.start({"--list", "--locale", "xx"});
    EXPECT_EQ(run.events(),
              (std::vector<json>{{{"type", "locales"},
                                  {"locales", {"de-DE", "en-GB", "en-US", "es-ES", "fr-FR"}},
                                  {"onDevice", {"en-GB", "en-US", "fr-FR"}}}}));
    EXPECT_EQ(run.runLoop.status, 0);
    EXPECT_EQ(run.audio.engine, nullptr);
}

TEST(Startup, AnUnservedLocaleIsUnsupportedAndTheDefaultIsTheUsersDashed) {
    for (auto [args, asked] :
         {std::pair<std::vector<std::string>, std::string>{{"--locale", "\xff"}, "\ufffd"},
          {{}, "de-CH"}}) {
        sim::Run run;
        run.process.locale = "de_CH";
        run.start(args);
        EXPECT_EQ(
            run.transcript(),
            "error:unsupported:Langue non prise en charge par la dictée : " + asked + " | end");
        EXPECT_EQ(run.runLoop.status, 1);
    }
}

TEST(Startup, PermissionChain) {
    struct Row {
        platform::AuthorizationStatus speech;
        bool mic, available;
        std::string said;  // nothing: the session starts
    };
    const std::string speechDenied = "error:speech-denied:";
    for (const Row& r : std::vector<Row>{
             {0, true, true, speechDenied + "Autorisation de reconnaissance vocale non accordée"},
             {1, true, true,
              speechDenied + "Reconnaissance vocale refusée (Réglages Système > Confidentialité > "
                             "Reconnaissance vocale)"},
             {2, true, true, speechDenied + "Reconnaissance vocale restreinte sur ce Mac"},
             {4, true, true, speechDenied + "Autorisation de reconnaissance vocale inconnue"},
             {3, false, false,  // availability is not asked first
              "error:mic-denied:Accès au micro refusé (Réglages Système > Confidentialité > "
              "Microphone)"},
             {3, true, false,
              "error:unavailable:Le moteur de reconnaissance n'est pas disponible pour le moment"},
             {3, true, true, ""},
         }) {
        sim::Run run;
        run.speech.authorization = r.speech;
        run.audio.granted = r.mic;
        run.serve("fr_FR").available = r.available;
        run.start({"--locale", "fr_FR"});
        EXPECT_EQ(run.transcript(), r.said.empty() ? "" : r.said + " | end") << r.speech;
        EXPECT_EQ(run.runLoop.status, r.said.empty() ? std::nullopt : std::optional(1));
        EXPECT_EQ(run.audio.engine != nullptr, r.said.empty());
    }
}

TEST(Startup, StopEndOfInputOrASignalBeforeTheSessionWritesEndAlone) {
    for (auto [input, close] : {std::pair{"stop\n", false}, {"other\n", true}, {"signal", false}}) {
        sim::Run run;
        run.serve("fr_FR");
        run.app = app::start({}, run.view);  // permissions answered, not yet handled
        input == std::string("signal") ? run.process.terminate() : run.process.input(input, close);
        run.runLoop.advance(0);
        EXPECT_EQ(run.transcript(), "end") << input;
        EXPECT_EQ(run.runLoop.status, 0);
        EXPECT_EQ(run.audio.engine, nullptr);
    }
}

}  // namespace
}  // namespace scrivia
