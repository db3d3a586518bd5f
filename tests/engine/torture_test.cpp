// The torture modes themselves: the stack really moves, the failure sweep picks its points as
// promised, and the survival check after an allocation failure catches what it must.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/internal.h"
#include "engine/testsupport/listing.h"
#include "platform/linux/memory.h"

namespace {

int Nothing(qvVmState*) {
    return 0;
}

struct Positions {
    uintptr_t stack;
    uintptr_t records;
};

Positions Where(qvVmState* L) {
    return {reinterpret_cast<uintptr_t>(L->stack), reinterpret_cast<uintptr_t>(L->baseCi)};
}

TEST(StackTorture, EveryCallAndCheckPointMovesTheStackAndTheRecords) {
    struct Step {
        const char* what;
        void (*run)(qvVmState*);
    };
    const Step steps[] = {
        {"call",
         [](qvVmState* L) {
             VmPushCClosure(L, Nothing, 0);
             VmCall(L, 0, 0);
         }},
        {"check point", [](qvVmState* L) { VmNewTable(L); }},
    };
    for (const Step& step : steps) {
        for (bool torture : {false, true}) {
            qvVmState* L = VmOpen();
            ASSERT_NE(L, nullptr);
            VmSetGCThreshold(L, 0x400000);  // no collection moves anything by itself
            L->g->stackTorture = torture;
            VmPushNumber(L, 42);
            const Positions before = Where(L);
            step.run(L);
            const Positions after = Where(L);
            EXPECT_EQ(before.stack != after.stack, torture) << step.what;
            EXPECT_EQ(before.records != after.records, torture) << step.what;
            EXPECT_EQ(VmToNumber(L, 1), 42) << step.what;
            VmClose(L);
        }
    }
}

struct SweepCase {
    qv::FailureSweep sweep;
    uint64_t allocations;
    size_t points;
    uint64_t dense;  // every n up to here is a point
};

TEST(FailureSweep, DenseFirstThenEvenlySpacedUpToTheRunsCount) {
    using enum qv::FailureSweep;
    const SweepCase cases[] = {
        {Full, 0, 0, 0},          {Full, 5, 5, 5},           {Full, 2000, 2000, 2000},
        {Full, 4000, 4000, 4000}, {Full, 10001, 4000, 2000}, {Sample, 32, 32, 32},
        {Sample, 100, 100, 100},  {Sample, 1000, 128, 32},   {Sample, 100000, 128, 32},
    };
    for (const SweepCase& c : cases) {
        const std::vector<uint64_t> points = qv::FailurePoints(c.allocations, c.sweep);
        const std::string what = std::to_string(c.allocations);
        EXPECT_EQ(points.size(), c.points) << what;
        for (size_t i = 0; i < points.size(); ++i) {
            if (i < c.dense) {
                EXPECT_EQ(points[i], i + 1) << what;
            } else {
                EXPECT_GT(points[i], points[i - 1]) << what;
            }
        }
        if (!points.empty()) {
            EXPECT_EQ(points.back(), c.allocations) << what;
        }
    }
}

constexpr char kListing[] = R"(;! log done
.function main
    NEWTABLE r0 0 0
    GETGLOBAL r1 "report"
    LOADK r2 "done"
    CALL r1 2 1
    RETURN r0 1
.end
)";

// A library that keeps a block of the platform allocator beyond the engine's close.
std::vector<void*> kept;
void KeepBlock(qvVmState*) {
    kept.push_back(qv::PlatformRealloc(nullptr, 0, 16));
}
void FreeKept() {
    for (void* block : kept) qv::PlatformRealloc(block, 16, 0);
    kept.clear();
}

TEST(FailureSweep, TheRunEndsCleanlyOrTheFaultIsNamed) {
    qv::ListingOptions options;
    const qv::ListingResult counted = qv::RunListing(kListing, options);
    ASSERT_EQ(counted.status, 0);
    ASSERT_GT(counted.allocations, 2u);

    options.failAllocation = 1;  // the thread record: VmOpen fails
    qv::ListingResult r = qv::RunListing(kListing, options);
    EXPECT_EQ(r.status, ERR_MEM);
    EXPECT_TRUE(r.faults.empty());

    options.failAllocation = counted.allocations;
    r = qv::RunListing(kListing, options);
    EXPECT_EQ(r.status, ERR_MEM);
    EXPECT_TRUE(r.faults.empty());

    options.failAllocation = counted.allocations + 1;  // beyond the run: it runs normally
    r = qv::RunListing(kListing, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.log, std::vector<std::string>{"done"});

    options.libraries = {KeepBlock};
    r = qv::RunListing(kListing, options);
    FreeKept();
    EXPECT_EQ(r.faults, std::vector<std::string>{"blocks live after VmClose: 1"});
}

TEST(FailureSweep, TheEnvironmentAddsASweepToEveryRunAndTheDiffNamesItsFaults) {
    qv::ListingOptions options;
    options.libraries = {KeepBlock};
    setenv("QV_FAIL_SWEEP", "sample", 1);
    const qv::ListingResult r = qv::RunListing(kListing, options);
    unsetenv("QV_FAIL_SWEEP");
    FreeKept();
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.faults.empty());
    EXPECT_EQ(r.faults.back(), "allocation " + std::to_string(r.allocations) +
                                   " failing: blocks live after VmClose: 1");
    const std::string diff = qv::DiffListing(qv::ParseExpectations(kListing), r);
    EXPECT_EQ(diff.rfind("fault: allocation ", 0), 0u) << diff;
}

}  // namespace
