// The listing harness: assembles a qvasm listing, runs its main function in a fresh engine
// with the harness commands, and reports what the script logged and how it ended. Listings
// carry their expectations in ";!" comment lines:
//   ;! log TEXT          one line that report() writes, in order (TEXT may be empty)
//   ;! status N          the status of the main function's protected call (default 0)
//   ;! exitonerror 0|1   the run-time's exit-on-error switch at the start (default 1)
//   ;! hook line         a line hook (mask 4, count 0) that logs "@line N" at every call
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"
#include "engine/vm.h"

namespace qv {

struct ListingExpectations {
    std::vector<std::string> log;
    int status = 0;
    uint32_t exitOnError = 1;
    bool lineHook = false;
    std::vector<std::string> errors;  // malformed ";!" lines, as "line N: message"
};

ListingExpectations ParseExpectations(std::string_view text);

// What the harness commands need of the run-time beyond the engine's host interface: the
// exit-on-error switch and the nested protected-call counter (global attributes 12 and 11),
// the error line and text argument, and the GetLastError command.
class ListingHost {
public:
    ListingHost() = default;
    ListingHost(const ListingHost&) = delete;
    ListingHost& operator=(const ListingHost&) = delete;
    virtual ~ListingHost() = default;

    virtual EngineHost& Engine() = 0;
    virtual void SetExitOnError(uint32_t on) = 0;
    virtual void AddNestedCalls(int delta) = 0;
    virtual int32_t ErrorLine() const = 0;
    virtual std::string ErrorText() const = 0;
    // The handler the harness registers as getlasterror(); the host must know it, since
    // every other command clears the last error.
    virtual qvCFunction GetLastErrorHandler() const = 0;
};

// The harness over the engine's MinimalHost.
class MinimalListingHost final : public ListingHost {
public:
    MinimalListingHost();
    EngineHost& Engine() override { return host_; }
    void SetExitOnError(uint32_t on) override { host_.exitOnError = on; }
    void AddNestedCalls(int delta) override { host_.nestedCalls += delta; }
    int32_t ErrorLine() const override { return host_.line; }
    std::string ErrorText() const override { return host_.ErrorText(); }
    qvCFunction GetLastErrorHandler() const override { return host_.getLastError; }

private:
    MinimalHost host_;
};

// Registers a command library into the engine before the listing runs.
using LibraryOpener = void (*)(qvVmState* L);

struct ListingOptions {
    bool gcTorture = false;     // collect at every check point
    bool stackTorture = false;  // move the stack and call records at check points and calls
    // The n-th engine allocation of the run (counted from VmOpen, 1-based) fails; 0: none.
    // The run then ends with some status, and the harness checks that the engine survives:
    // a collection and a close succeed, and (unless a host of the caller's, which keeps
    // blocks of its own, is given) no block stays live.
    uint64_t failAllocation = 0;
    ListingHost* host = nullptr;  // nullptr: a MinimalListingHost of the run's own
    std::vector<LibraryOpener> libraries;
    std::string chunkName = "=listing";
};

struct ListingResult {
    int status = 0;
    std::vector<std::string> log;
    uint32_t lastError = 0;
    int32_t line = -1;
    std::string errorText;
    // Assembly, expectation and setup errors as "line N: message"; when there are any, the
    // listing did not run (status -1).
    std::vector<std::string> diagnostics;
    uint64_t allocations = 0;  // engine allocation requests from VmOpen to the run's end
    // What went wrong after an allocation failure (failAllocation runs only).
    std::vector<std::string> faults;
};

// Runs a listing's text; its own ";!" lines choose exit-on-error and the line hook. With
// QV_FAIL_SWEEP set to "sample" or "all" in the environment (and no failAllocation asked
// for), the run is followed by that allocation-failure sweep, whose faults join the result's.
ListingResult RunListing(std::string_view text, const ListingOptions& options = {});
// Runs a listing file; the chunk is named "@" and the path.
ListingResult RunListingFile(const std::filesystem::path& path, ListingOptions options = {});

// The differences between the expectations and a run, and its faults, one line each; empty
// when they agree.
std::string DiffListing(const ListingExpectations& expected, const ListingResult& result);

// Allocation failure points for a run of `allocations` requests. The full sweep takes every
// n up to 2,000 and then at most 2,000 evenly spaced points beyond, the last allocation among
// them; the sample, for routine test runs, takes the first 32 and at most 96 beyond.
enum class FailureSweep { Full, Sample };
std::vector<uint64_t> FailurePoints(uint64_t allocations, FailureSweep sweep);

// Runs the listing once per failure point of a run of `allocations` requests; returns the
// faults, each naming its allocation.
std::vector<std::string> SweepAllocationFailures(std::string_view text, ListingOptions options,
                                                 uint64_t allocations, FailureSweep sweep);

}  // namespace qv
