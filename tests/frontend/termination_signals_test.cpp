// The termination signals: readable from their fd, blocked in threads started
// after them, and the mask put back without delivering what was pending.

#include "frontend/termination_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>

#include <thread>

namespace ostrel::frontend {
namespace {

TEST(TerminationSignals, BecomeReadableAndTheMaskIsRestoredWithoutDeliveringWhatIsPending) {
    std::thread([] {
        // On a thread of its own, so that the mask of the test's main thread is untouched.
        {
            TerminationSignals signals;
            EXPECT_EQ(signals.take(), 0);
            ASSERT_EQ(pthread_kill(pthread_self(), SIGTERM), 0);
            pollfd fd{signals.fd(), POLLIN, 0};
            ASSERT_EQ(::poll(&fd, 1, 2000), 1);
            EXPECT_EQ(signals.take(), SIGTERM);
            EXPECT_EQ(signals.take(), 0);
            // Ctrl-\ asks to stop as well.
            ASSERT_EQ(pthread_kill(pthread_self(), SIGQUIT), 0);
            ASSERT_EQ(::poll(&fd, 1, 2000), 1);
            EXPECT_EQ(signals.take(), SIGQUIT);
            // Threads started now have the signals blocked as well.
            std::thread([] {
                sigset_t mask;
                pthread_sigmask(SIG_BLOCK, nullptr, &mask);
                EXPECT_TRUE(sigismember(&mask, SIGINT));
                EXPECT_TRUE(sigismember(&mask, SIGTERM));
                EXPECT_TRUE(sigismember(&mask, SIGQUIT));
            }).join();
            // Not taken here: the destructor must take it, or restoring the
            // mask would deliver it and end the test program.
            ASSERT_EQ(pthread_kill(pthread_self(), SIGINT), 0);
        }
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        EXPECT_FALSE(sigismember(&mask, SIGINT));
        EXPECT_FALSE(sigismember(&mask, SIGTERM));
    }).join();
}

}  // namespace
}  // namespace ostrel::frontend
