// The process service: the locale from the environment, and termination signals.
#include "platform/linux/process.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace scrivia::platform::linux_ {
namespace {

TEST(LocaleIdentifierTest, FollowsTheCLibrarysPrecedenceAndKeepsLanguageAndTerritory) {
    struct Case {
        const char *all, *messages, *lang, *expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"fr_FR.UTF-8", "de_DE.UTF-8", "it_IT.UTF-8", "fr_FR"},
             {nullptr, "de_DE.UTF-8", "it_IT.UTF-8", "de_DE"},
             {"", "", "pt_BR.UTF-8", "pt_BR"},  // empty counts as unset
             {nullptr, nullptr, "de_DE@euro", "de_DE"},
             {nullptr, nullptr, "sr_RS.UTF-8@latin", "sr_RS"},
             {"C", "fr_FR.UTF-8", "fr_FR.UTF-8", "en_US"},
             {nullptr, nullptr, "C.UTF-8", "en_US"},
             {nullptr, nullptr, nullptr, "en_US"},
         }) {
        EXPECT_EQ(localeIdentifierFromEnvironment(c.all, c.messages, c.lang), c.expected)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}

TEST(ProcessTest, EachTerminationSignalRunsTheHandlerOnTheMainLoop) {
    RunLoop loop;
    Process process(loop);
    int handled = 0;
    process.onTerminationRequest([&] {
        if (++handled == 3) loop.quit(0);
    });
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) raise(signal);
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(handled, 3);
}

}  // namespace
}  // namespace scrivia::platform::linux_
