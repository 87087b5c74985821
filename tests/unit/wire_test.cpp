// What crosses the process boundary: options, control lines and event lines.
#include <gtest/gtest.h>

#include <sstream>

#include "app/control_channel.h"
#include "app/settings.h"
#include "app/word_list.h"
#include "events/json_line.h"
#include "events/text.h"

namespace scrivia {
namespace {

TEST(Options, Table) {
    // Arguments, and what they set: locale, pause, punctuation (+ or -), list (L or -).
    for (auto [args, want] :
         std::initializer_list<std::pair<std::vector<std::string>, std::string>>{
             {{}, "fr-FR 1.2 + -"},
             {{"--pause", "0.1"}, "fr-FR 0.4 + -"},
             {{"--pause", "12"}, "fr-FR 5 + -"},
             {{"--pause", "nan"}, "fr-FR 0.4 + -"},
             {{"--pause", "inf"}, "fr-FR 5 + -"},
             {{"--pause", "-inf"}, "fr-FR 0.4 + -"},
             {{"--pause", "0x1p-1"}, "fr-FR 0.5 + -"},
             {{"--pause", "+.3e1"}, "fr-FR 3 + -"},
             {{"--pause", "2", "--pause", "3"}, "fr-FR 3 + -"},  // the last wins
             {{"--pause", "1,5", "--no-punctuation"}, "fr-FR 1.2 - -"},
             {{"--pause", " 1"}, "fr-FR 1.2 + -"},
             {{"--pause", "--list"}, "fr-FR 1.2 + -"},  // the value, though invalid
             {{"--locale", "--list"}, "--list 1.2 + -"},
             {{"--locale", "de_DE", "--locale", "fr_FR"}, "fr_FR 1.2 + -"},  // the last, verbatim
             {{"--locale"}, "fr-FR 1.2 + -"},
             {{"--pause"}, "fr-FR 1.2 + -"},
             {{"--pause", ""}, "fr-FR 1.2 + -"},
             {{"--LIST", "--pause=2", "-l", "--No-Punctuation", "--locale=de"}, "fr-FR 1.2 + -"},
             {{"x", "--list", "y"}, "fr-FR 1.2 + L"},
             {{"--words", "a", "--words", "b b"}, "fr-FR 1.2 + - w:b b"},
             {{"--words", "--list"}, "fr-FR 1.2 + - w:--list"},
             {{"--words", "x", "--list"}, "fr-FR 1.2 + L w:x"},
             {{"--words"}, "fr-FR 1.2 + -"},
             {{"--Words", "x", "--words=x"}, "fr-FR 1.2 + -"},
         }) {
        app::Settings s{.localeId = "fr-FR", .args = {args.begin(), args.end()}};
        app::parseOptions(s);
        std::ostringstream got;
        got << s.localeId << " " << s.pauseSeconds << " " << (s.punctuation ? "+" : "-") << " "
            << (s.listOnly ? "L" : "-") << (s.wordsPath.empty() ? "" : " w:" + s.wordsPath);
        EXPECT_EQ(got.str(), want) << ::testing::PrintToString(args);
    }
}

TEST(WordList, UsableLinesInOrderAndTheFirst2000) {
    const std::string line100(app::wordLineMaxBytes, 'a');
    std::string many;  // 2,001 entries
    for (int i = 0; i <= 2000; ++i) many.append("w").append(std::to_string(i)).append("\n");
    // The file, and its entries as "written/spoken" (a long one as its size), one space apart.
    for (auto [text, want] : std::initializer_list<std::pair<std::string, std::string>>{
             {"Kubernetes\nAnouk Dupont\niPhone", "Kubernetes Anouk Dupont iPhone"},
             {"\xef\xbb\xbf# team\n\n \t \n  #x = y\nGitHub", "GitHub"},
             {"PostgreSQL = post gres q l\r\nSiobhan \t= shiv   awn\r\n",
              "PostgreSQL/post gres q l Siobhan/shiv awn"},
             {"  Node.js \t\nC=64\nx =\n= y\n=\na = b = c\nE = mc2", "Node.js C=64 E/mc2"},
             {line100 + "\r\n" + line100 + "a\n" + line100.substr(4) + " = b", "100 96/b"},
             {"Zo\u00eb\ncaf\xc3\n\xed\xa0\x80\n\xc0\xaf\nok", "Zo\u00eb ok"},  // bad UTF-8
             {"a\x01b\nc\x7f\nd\u0085\ne\rf\ng", "g"},                          // controls
             {many, "2000 w0 w1999"}}) {
        const auto entries = app::parseWordList(text);
        std::string got = entries.size() > 10 ? std::to_string(entries.size()) : "";
        for (const auto& e : entries) {
            if (entries.size() > 10 && &e != &entries.front() && &e != &entries.back()) continue;
            const auto shown = e.written.size() > 50 ? std::to_string(e.written.size()) : e.written;
            got += (got.empty() ? "" : " ") + shown + (e.spoken.empty() ? "" : "/" + e.spoken);
        }
        EXPECT_EQ(got, want) << text.substr(0, 40);
    }
}

TEST(ControlLines, StopAloneOnItsLineOnly) {
    const std::string bound(app::ControlLineReader::maxKept - 4, ' ');
    const std::string overlong(app::ControlLineReader::maxKept + 1, ' ');
    // Standard input in chunks, and whether it asks to stop.
    for (auto [chunks, stops] : std::vector<std::pair<std::vector<std::string>, bool>>{
             {{"stop\n"}, true},
             {{"stop\r\n"}, true},
             {{"  \tstop \t\n"}, true},
             {{"hello\n\nstop\nignored"}, true},
             {{"st", "op", "\n"}, true},
             {{"stop"}, false},  // not a whole line yet
             {{"Stop\n"}, false},
             {{"stop now\n"}, false},
             {{"st op\n"}, false},
             {{"stop\xff\n"}, false},
             {{bound + "stop\n"}, true},
             {{overlong, "stop\n"}, false},  // skipped whole, up to its line feed
             {{overlong, overlong, "stop\n", "stop\n"}, true},
         }) {
        app::ControlLineReader reader;
        bool stopped = false;
        for (auto& chunk : chunks) stopped = reader.feed(chunk) || stopped;
        EXPECT_EQ(stopped, stops) << ::testing::PrintToString(chunks).substr(0, 60);
    }
}

TEST(JsonLine, OneCompactLineEverySolidusEscapedUtf8AsIsInvalidBytesReplaced) {
    using namespace events;
    for (auto [event, line] : std::vector<std::pair<Event, std::string>>{
             {endEvent(), R"({"type":"end"})"},
             {levelEvent(0.42), R"({"type":"level","value":0.42})"},
             {finalEvent("a", 2), R"({"lineBreaksBefore":2,"text":"a","type":"final"})"},
             {finalEvent("two\nlines \"q\" back\\slash\x01", 0),
              R"({"text":"two\nlines \"q\" back\\slash\u0001","type":"final"})"},
             {errorEvent("engine", "démarré : a/b//c"),
              R"({"code":"engine","message":"démarré : a\/b\/\/c","type":"error"})"},
             {partialEvent("bad \xff\xc3 byte"),
              "{\"text\":\"bad \xef\xbf\xbd\xef\xbf\xbd byte\",\"type\":\"partial\"}"},
         })
        EXPECT_EQ(jsonLine(event), line + "\n");
}

TEST(Text, TrimmingAndCanonicalEquality) {
    for (auto [in, want] : std::initializer_list<std::pair<const char*, const char*>>{
             {"  \t\r\nhello  world\n ", "hello  world"},
             {"\u00a0\u2028\u3000\u0085text\u2029\u000b\u000c", "text"},
             {"in\nside", "in\nside"},
             {" \t\n\u2003 ", ""},
             {"\u200bword", "\u200bword"},  // a format character, not a separator
             {" \xff stop \xfe ", "\xff stop \xfe"},
             {"\xe2\x80 ", "\xe2\x80"},
         })
        EXPECT_EQ(events::trimmed(in), want) << in;
    EXPECT_TRUE(events::canonicallyEqual("caf\u00e9", "cafe\u0301"));
    EXPECT_FALSE(events::canonicallyEqual("cafe", "caf\u00e9"));
    EXPECT_FALSE(events::canonicallyEqual("\xff", "\xfe"));
}

}  // namespace
}  // namespace scrivia
