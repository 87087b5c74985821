// The events scrivia writes, and its error codes with their French messages.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace scrivia::events {

// A flat JSON object with a string member "type"; members are strings,
// booleans, numbers or arrays of strings.
using Event = nlohmann::json;

Event localesEvent(const std::vector<std::string>& locales,
                   const std::vector<std::string>& onDevice);
Event readyEvent(const std::string& locale, bool onDevice);
Event levelEvent(double value);
Event partialEvent(const std::string& text);
// "lineBreaksBefore" is written only when there are some.
Event finalEvent(const std::string& text, int lineBreaksBefore = 0);
Event errorEvent(const std::string& code, const std::string& message);
Event endEvent();

// Error codes, as the host reads them.
namespace code {
inline constexpr const char* unsupported = "unsupported";
inline constexpr const char* speechDenied = "speech-denied";
inline constexpr const char* micDenied = "mic-denied";
inline constexpr const char* unavailable = "unavailable";
inline constexpr const char* noMic = "no-mic";
inline constexpr const char* engine = "engine";
inline constexpr const char* recognizer = "recognizer";
}  // namespace code

// Messages shown to the user. Those ending in " : " are followed directly by
// a locale identifier or a platform error's description.
namespace message {
inline constexpr const char* unsupportedPrefix = "Langue non prise en charge par la dictée : ";
inline constexpr const char* speechDenied =
    "Reconnaissance vocale refusée (Réglages Système > Confidentialité > Reconnaissance vocale)";
inline constexpr const char* speechRestricted = "Reconnaissance vocale restreinte sur ce Mac";
inline constexpr const char* speechNotDetermined =
    "Autorisation de reconnaissance vocale non accordée";
inline constexpr const char* speechUnknown = "Autorisation de reconnaissance vocale inconnue";
inline constexpr const char* micDenied =
    "Accès au micro refusé (Réglages Système > Confidentialité > Microphone)";
inline constexpr const char* unavailable =
    "Le moteur de reconnaissance n'est pas disponible pour le moment";
inline constexpr const char* noMic = "Aucun micro utilisable";
inline constexpr const char* enginePrefix = "Le micro n'a pas démarré : ";
inline constexpr const char* recognizerPrefix = "La reconnaissance s'interrompt sans cesse : ";
}  // namespace message

}  // namespace scrivia::events
