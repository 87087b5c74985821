// The process and its main loop: the locale from the environment, the order
// of tasks and timers, termination signals, and quitting.
#include "platform/linux/system/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <tuple>

namespace scrivia::platform::linux_ {
namespace {

TEST(LocaleIdentifierTest, FollowsTheCLibrarysPrecedenceAndKeepsLanguageAndTerritory) {
    // LC_ALL, LC_MESSAGES, LANG (null when unset), and the locale they give.
    for (auto [all, messages, lang, want] : std::initializer_list<std::array<const char*, 4>>{
             {"fr_FR.UTF-8", "de_DE.UTF-8", "it_IT.UTF-8", "fr_FR"},
             {nullptr, "de_DE.UTF-8", "it_IT.UTF-8", "de_DE"},
             {"", "", "pt_BR.UTF-8", "pt_BR"},  // empty counts as unset
             {nullptr, nullptr, "sr_RS.UTF-8@latin", "sr_RS"},
             {"C", "fr_FR.UTF-8", "fr_FR.UTF-8", "en_US"},
             {nullptr, nullptr, "C.UTF-8", "en_US"},
             {nullptr, nullptr, nullptr, "en_US"},
         }) {
        EXPECT_EQ(localeIdentifierFromEnvironment(all, messages, lang), want)
            << "LANG=" << (lang ? lang : "(unset)");
    }
}

// Posted tasks run in order, timers by due time and never early, each
// termination signal runs the handler on the loop, and the first quit ends it.
TEST(MainLoop, TasksInOrderTimersWhenDueSignalsOnTheLoopAndTheFirstQuitsStatus) {
    RunLoop loop;
    Process process(loop);
    std::string order;
    const auto start = std::chrono::steady_clock::now();
    bool early = false;
    auto note = [&](char name, double delay) {
        return [&, name, delay] {
            order += name;
            early |=
                std::chrono::steady_clock::now() - start < std::chrono::duration<double>(delay);
        };
    };
    process.onTerminationRequest(note('s', 0));
    loop.postAfter(0.06, note('C', 0.06));
    loop.postAfter(0.02, note('A', 0.02));
    loop.postAfter(0.04, note('B', 0.04));
    loop.postAfter(-1, note('0', 0));  // a negative delay means now, after what is posted
    loop.post(note('p', 0));
    loop.post([] {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) raise(signal);
    });
    loop.postAfter(0.08, [&] {
        loop.quit(3);
        loop.quit(0);
    });
    loop.postAfter(0.08, note('X', 0));  // queued behind the quit: never runs
    EXPECT_EQ(loop.run(), 3);
    EXPECT_EQ(order, "p0sssABC");
    EXPECT_FALSE(early);
}

// Only a regular file within the limit is read; nothing waits on a FIFO.
TEST(UserFile, ARegularFileWithinTheLimitOnly) {
    constexpr std::size_t limit = 1 << 20;
    char dir[] = "/tmp/scrivia-userfile-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/fifo", big = std::string(dir) + "/big";
    mkfifo(fifo.c_str(), 0600);
    RunLoop loop;
    Process process(loop);
    // The path, its size when one is written, and the size read (-1: none).
    // clang-format off
    for (auto [path, size, want] : std::initializer_list<std::tuple<std::string, long, long>>{
             {big, limit, limit}, {big, limit + 1, -1}, {fifo, -1, -1}, {dir, -1, -1},
             {"/dev/zero", -1, -1}, {std::string(dir) + "/missing", -1, -1}}) {
        // clang-format on
        if (size >= 0) std::ofstream(path) << std::string(size, 'x');
        auto read = std::async(std::launch::async, [&, path = path] {
            auto bytes = process.readUserFile(path, limit);
            return bytes ? long(bytes->size()) : -1L;
        });
        if (read.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            ADD_FAILURE() << path << " blocks";
            close(open(path.c_str(), O_WRONLY | O_NONBLOCK));  // a writer lets the FIFO go
        }
        EXPECT_EQ(read.get(), want) << path;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace scrivia::platform::linux_
