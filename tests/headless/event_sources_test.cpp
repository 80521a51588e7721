// Standard input cut into lines, and the termination signals read from an fd.

#include "headless/event_sources.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>

#include <thread>

namespace ostrel::headless {
namespace {

struct SplitCase {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;  // including the one finish() gives
};

class Lines : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Lines, AreCutAtNewlines) {
    LineSplitter splitter;
    std::vector<std::string> lines;
    for (const auto& chunk : GetParam().chunks) {
        for (auto& line : splitter.feed(chunk)) lines.push_back(std::move(line));
    }
    if (auto last = splitter.finish()) lines.push_back(*last);
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Table, Lines,
                         ::testing::Values(SplitCase{{"AT\n"}, {"AT"}}, SplitCase{{"A", "T", "\n"}, {"AT"}},
                                           SplitCase{{"one\ntwo\n"}, {"one", "two"}},
                                           SplitCase{{"one\ntw", "o\nthree"}, {"one", "two", "three"}},
                                           SplitCase{{"\n\n"}, {"", ""}}, SplitCase{{"keep\r\n"}, {"keep\r"}},
                                           SplitCase{{}, {}}, SplitCase{{""}, {}},
                                           SplitCase{{std::string("a\0b\n", 4)}, {std::string("a\0b", 3)}}));

TEST(TerminationSignals, ASignalBecomesReadable) {
    std::thread([] {
        // On a thread of its own, so that the mask of the test's main thread is untouched.
        TerminationSignals signals;
        EXPECT_EQ(signals.take(), 0);
        ASSERT_EQ(pthread_kill(pthread_self(), SIGTERM), 0);
        pollfd fd{signals.fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&fd, 1, 2000), 1);
        EXPECT_EQ(signals.take(), SIGTERM);
        EXPECT_EQ(signals.take(), 0);
        // Threads started now have the signals blocked as well.
        std::thread([] {
            sigset_t mask;
            pthread_sigmask(SIG_BLOCK, nullptr, &mask);
            EXPECT_TRUE(sigismember(&mask, SIGINT));
            EXPECT_TRUE(sigismember(&mask, SIGTERM));
        }).join();
    }).join();
}

TEST(TerminationSignals, RestoresTheMaskAndSwallowsWhatIsStillPending) {
    std::thread([] {
        {
            TerminationSignals signals;
            ASSERT_EQ(pthread_kill(pthread_self(), SIGINT), 0);
            // Not taken here: the destructor must take it, or restoring the
            // mask would deliver it and end the test program.
        }
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        EXPECT_FALSE(sigismember(&mask, SIGINT));
        EXPECT_FALSE(sigismember(&mask, SIGTERM));
    }).join();
}

}  // namespace
}  // namespace ostrel::headless
