#include "app/startup.h"

#include "app/app.h"
#include "app/word_list.h"
#include "platform/locale_identifier.h"

namespace scrivia::app {

std::shared_ptr<App> start(std::vector<std::string> args, platform::Platform& platform) {
    auto app = std::make_shared<App>(platform);
    watchHost(app);
    auto& settings = app->settings;
    settings.localeId = platform::dashedIdentifier(platform.process.currentLocaleIdentifier());
    settings.args.assign(args.begin(), args.end());
    parseOptions(settings);

    if (settings.listOnly) {
        listLocales(*app);
        return app;
    }
    // Read once, before the recogniser is made: it is built with them.
    settings.words = loadWordList(platform.process, settings.wordsPath);
    platform.speech.useOwnWords(settings.words);
    auto recognizer = selectRecognizer(*app);
    if (!recognizer) return app;
    requestPermissions(app, std::move(recognizer));
    startControlChannel(app);
    return app;
}

int run(std::vector<std::string> args, platform::Platform& platform) {
    auto app = start(std::move(args), platform);
    return platform.runLoop.run();
}

}  // namespace scrivia::app
