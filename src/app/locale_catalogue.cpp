#include <algorithm>

#include "app/app.h"
#include "platform/locale_identifier.h"

namespace scrivia::app {

void listLocales(App& app) {
    auto& speech = app.platform.speech;
    auto identifiers = speech.supportedLocales();
    // std::string compares bytes as unsigned, which for UTF-8 is code point order.
    std::sort(identifiers.begin(), identifiers.end());
    std::vector<std::string> locales;
    std::vector<std::string> onDevice;
    for (const auto& identifier : identifiers) {
        locales.push_back(platform::dashedIdentifier(identifier));
        auto recognizer = speech.recognizer(identifier);
        if (recognizer && recognizer->supportsOnDeviceRecognition())
            onDevice.push_back(platform::dashedIdentifier(identifier));
    }
    app.stream.emit(events::localesEvent(locales, onDevice));
    app.stream.close(0);
}

std::shared_ptr<platform::SpeechRecognizer> selectRecognizer(App& app) {
    const auto& localeId = app.settings.localeId;
    auto recognizer = app.platform.speech.recognizer(localeId);
    if (!recognizer)
        app.stream.fail(events::code::unsupported, events::message::unsupportedPrefix + localeId);
    return recognizer;
}

}  // namespace scrivia::app
