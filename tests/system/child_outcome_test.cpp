// How a child's run ended, as the spawner tells it: its exit status, the signal that ended it,
// its deadline, or that it could not start.
#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>

#include "system/shell_child.h"

namespace {

constexpr std::int64_t generous_ms = 10000;

TEST(ChildOutcome, AnExitIsItsStatus) {
    child_outcome outcome = run_shell("exit 0", run_as_self, generous_ms);
    EXPECT_EQ(outcome.end, child_end::exited);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(ended_well(outcome));

    outcome = run_shell("exit 3", run_as_self, generous_ms);
    EXPECT_EQ(outcome.end, child_end::exited);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_FALSE(ended_well(outcome));

    // The shell's own "not found".
    outcome = run_shell("/nonexistent/command", run_as_self, generous_ms);
    EXPECT_EQ(outcome.end, child_end::exited);
    EXPECT_EQ(outcome.status, 127);
}

TEST(ChildOutcome, ASignalBeforeTheDeadlineIsNamed) {
    child_outcome outcome = run_shell("kill -TERM $$", run_as_self, generous_ms);
    EXPECT_EQ(outcome.end, child_end::killed);
    EXPECT_EQ(outcome.status, SIGTERM);
    EXPECT_FALSE(ended_well(outcome));
}

TEST(ChildOutcome, AChildStillGoingAtItsDeadlineIsEndedAndSaidSo) {
    auto started = std::chrono::steady_clock::now();
    child_outcome outcome = run_shell("sleep 30", run_as_self, 200);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(outcome.end, child_end::past_deadline);
    EXPECT_FALSE(ended_well(outcome));
    EXPECT_LT(took, std::chrono::milliseconds(200 + reap_deadline_ms));
}

} // namespace
