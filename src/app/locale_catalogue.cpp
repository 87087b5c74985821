#include <algorithm>

#include "app/app.h"
#include "platform/locale_identifier.h"

namespace scrivia::app {

void listLocales(App& app) {
    auto& speech = app.platform.speech;
    // Dashed before sorting: a platform may give either separator, and "en-US"
    // sorts before "en_GB".
    std::vector<std::pair<std::string, std::string>> identifiers;  // dashed, as given
    for (auto& identifier : speech.supportedLocales())
        identifiers.emplace_back(platform::dashedIdentifier(identifier), identifier);
    // std::string compares bytes as unsigned, which for UTF-8 is code point order.
    std::sort(identifiers.begin(), identifiers.end());
    std::vector<std::string> locales;
    std::vector<std::string> onDevice;
    for (const auto& [dashed, given] : identifiers) {
        locales.push_back(dashed);
        auto recognizer = speech.recognizer(given);
        if (recognizer && recognizer->supportsOnDeviceRecognition()) onDevice.push_back(dashed);
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
