#include "engine/SideThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

// Whether the thread or the waiting caller runs a job depends on the
// scheduler; many rounds see both, and each must run every job exactly once.
TEST(SideThread, RunsEachJobOnceAndItsWritesAreSeenAfterWait) {
    SideThread side;
    long total = 0;
    for (int job = 1; job <= 500; ++job) {
        int result = 0;
        side.Start([&result, job] { result += job; });
        side.Wait();
        total += result;
    }
    EXPECT_EQ(total, 500L * 501 / 2);
}

TEST(SideThread, AJobsFailureReachesWaitAndTheNextJobStillRuns) {
    SideThread side;
    std::atomic<int> runs{0};
    for (int round = 0; round < 50; ++round) {
        side.Start([] { throw std::runtime_error("lookup failed"); });
        EXPECT_THROW(side.Wait(), std::runtime_error) << round;
        side.Start([&runs] { ++runs; });
        side.Wait();
    }
    EXPECT_EQ(runs, 50);
}

TEST(SideThread, EndsWithAJobNobodyWaitedFor) {
    std::atomic<int> runs{0};
    {
        SideThread side;
        side.Start([&runs] { ++runs; });
    }
    EXPECT_LE(runs, 1) << "begun or dropped, never run twice";
}

}  // namespace
