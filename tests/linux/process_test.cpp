// The process service: locale from the environment, and named background threads.
#include "platform/linux/process.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <clocale>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>

namespace scrivia::platform::linux_ {
namespace {

TEST(LocaleIdentifierTest, TakesTheVariablesInTheCLibrarysPrecedence) {
    EXPECT_EQ(localeIdentifierFromEnvironment("fr_FR.UTF-8", "de_DE.UTF-8", "it_IT.UTF-8"),
              "fr_FR");
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, "de_DE.UTF-8", "it_IT.UTF-8"), "de_DE");
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, "it_IT.UTF-8"), "it_IT");
    // An empty variable is as good as unset.
    EXPECT_EQ(localeIdentifierFromEnvironment("", "", "pt_BR.UTF-8"), "pt_BR");
}

TEST(LocaleIdentifierTest, DropsCodesetAndModifier) {
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, "de_DE@euro"), "de_DE");
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, "sr_RS.UTF-8@latin"), "sr_RS");
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, "ja_JP.eucJP"), "ja_JP");
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, "es"), "es");
}

TEST(LocaleIdentifierTest, TheCLocaleAndNoSettingMeanUSEnglish) {
    for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8", "", "/usr/share/x/locale"}) {
        EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, name), "en_US") << name;
    }
    EXPECT_EQ(localeIdentifierFromEnvironment(nullptr, nullptr, nullptr), "en_US");
    // LC_ALL=C overrides a language set below it.
    EXPECT_EQ(localeIdentifierFromEnvironment("C", "fr_FR.UTF-8", "fr_FR.UTF-8"), "en_US");
}

// Sets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ProcessTest, ReadsALocaleThatIsNotInstalledWithoutChangingTheProgramsLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ScopedEnv all("LC_ALL", "");
    ScopedEnv messages("LC_MESSAGES", "xx_YY.UTF-8");  // no such locale on any system
    ScopedEnv lang("LANG", "C.UTF-8");
    Process process;
    EXPECT_EQ(process.currentLocaleIdentifier(), "xx_YY");
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

std::string backgroundThreadName(const std::string& requested) {
    Process process;
    std::promise<std::string> name;
    process.runInBackground(requested, [&name] {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        name.set_value(buffer);
    });
    return name.get_future().get();
}

TEST(ProcessTest, NamesBackgroundThreadsWithinLinuxsLimit) {
    EXPECT_EQ(backgroundThreadName("stdin-reader"), "stdin-reader");
    EXPECT_EQ(backgroundThreadName("a-name-longer-than-fifteen"), "a-name-longer-t");
    Process process;
    EXPECT_EQ(process.standardOutput(), 1);
    EXPECT_EQ(process.standardInput(), 0);
}

}  // namespace
}  // namespace scrivia::platform::linux_
