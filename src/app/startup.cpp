#include "app/startup.h"

#include "app/app.h"

namespace scrivia::app {

std::shared_ptr<App> start(std::vector<std::string> args, platform::Platform& platform) {
    auto app = std::make_shared<App>(platform);
    auto& settings = app->settings;
    settings.localeId = dashedIdentifier(platform.process.currentLocaleIdentifier());
    settings.pauseSeconds = 1.2;
    settings.punctuation = true;
    settings.listOnly = false;
    settings.args.assign(args.begin(), args.end());
    parseOptions(settings);

    if (settings.listOnly) listLocales(*app);

    auto recognizer = selectRecognizer(*app);
    requestPermissions(app, std::move(recognizer));
    startControlChannel(app);
    return app;
}

int run(std::vector<std::string> args, platform::Platform& platform) {
    auto app = start(std::move(args), platform);
    platform.runLoop.run();
    return 0;
}

}  // namespace scrivia::app
