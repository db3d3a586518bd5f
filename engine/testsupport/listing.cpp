// Running a listing: assemble, open an engine with the harness, load, define the applet's
// labels, install the hooks asked for, run the main function under protection, close.
#include "engine/testsupport/listing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "engine/testsupport/commands.h"
#include "platform/linux/memory.h"
#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

int PushLastError(qvVmState* L) {
    VmPushNumber(L, Host(L).LastError());
    return 1;
}

// Closes the engine when the run ends, however it ends.
class Engine {
public:
    Engine() : L_(VmOpen()) {}
    ~Engine() {
        if (L_ != nullptr) VmClose(L_);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    qvVmState* get() const { return L_; }

private:
    qvVmState* L_;
};

struct Setup {
    HarnessContext* context;
    const ListingOptions* options;
    const std::map<std::string, int>* labels;
};

// Registration runs under protection: running out of memory here is a status like any other.
int RegisterAll(qvVmState* L) {
    auto* setup = static_cast<Setup*>(VmToUserdata(L, 1));
    RegisterHarnessCommands(L, setup->context);
    for (LibraryOpener open : setup->options->libraries) open(L);
    for (const auto& [name, pc] : *setup->labels) DefineLabel(L, name.c_str(), pc);
    return 0;
}

// Registers the harness, loads the chunk and runs its main function; returns the status of
// the first step that fails.
int Execute(qvVmState* L, const AssembleResult& assembled, const ListingExpectations& expected,
            const ListingOptions& options, ListingHost& host, HarnessContext* context) {
    SetEngineHost(L, &host.Engine());
    // A caller's host outlives runs, and an error that ended the last one set its flag.
    host.Engine().AbortFlag().store(0);
    if (options.gcTorture) L->g->gcTorture = true;
    if (options.stackTorture) L->g->stackTorture = true;
    host.SetExitOnError(expected.exitOnError);
    Setup setup{context, &options, &assembled.labels};
    int status = VmCPCall(L, RegisterAll, &setup);
    if (status == 0) status = LoadChunk(L, assembled.bytes, options.chunkName.c_str());
    if (status != 0) return status;
    if (expected.lineHook) VmSetHook(L, HarnessLineHook, VM_MASKLINE, 0);
    return VmPCall(L, 0, 0, 0);
}

int Collect(qvVmState* L) {
    VmCollectGarbage(L);
    return 0;
}

// After an allocation failure the engine must stay usable: with allocations working again,
// a collection (and the finalizers it runs) succeeds.
void CheckCollection(qvVmState* L, ListingResult* result) {
    const int status = VmCPCall(L, Collect, nullptr);
    if (status != 0) {
        result->faults.push_back("collection after the failure: status " + std::to_string(status));
    }
}

// Runs the assembled chunk; the context (and the result it writes to) outlives the engine,
// whose finalizers may still call the harness commands.
void Run(const AssembleResult& assembled, const ListingExpectations& expected,
         const ListingOptions& options, ListingHost& host, ListingResult* result) {
    HarnessContext context{&host, &result->log};
    const MemoryStats before = GetMemoryStats();
    std::optional<AllocationFault> fault;
    if (options.failAllocation != 0) fault.emplace(options.failAllocation, false);
    {
        Engine engine;
        qvVmState* L = engine.get();
        result->status =
            L != nullptr ? Execute(L, assembled, expected, options, host, &context) : ERR_MEM;
        result->allocations = GetMemoryStats().requests - before.requests;
        result->lastError = host.Engine().LastError();
        result->line = host.ErrorLine();
        result->errorText = host.ErrorText();
        fault.reset();
        if (options.failAllocation != 0 && L != nullptr) CheckCollection(L, result);
    }
    // A host of the caller's (the run-time's) keeps blocks of its own beyond the engine
    // (registries, error texts); with it, LeakSanitizer at the process's end finds what is
    // lost.
    const bool ownHost = options.host == nullptr;
    const auto live =
        static_cast<int64_t>(GetMemoryStats().liveBlocks) - static_cast<int64_t>(before.liveBlocks);
    if (options.failAllocation != 0 && ownHost && live != 0) {
        result->faults.push_back("blocks live after VmClose: " + std::to_string(live));
    }
}

}  // namespace

MinimalListingHost::MinimalListingHost() {
    host_.getLastError = PushLastError;
}

namespace {

// The sweep that QV_FAIL_SWEEP asks for, if any.
std::optional<FailureSweep> SweepFromEnvironment() {
    const char* value = std::getenv("QV_FAIL_SWEEP");
    if (value == nullptr) return std::nullopt;
    if (std::strcmp(value, "all") == 0) return FailureSweep::Full;
    if (std::strcmp(value, "sample") == 0) return FailureSweep::Sample;
    return std::nullopt;
}

}  // namespace

std::vector<std::string> SweepAllocationFailures(std::string_view text, ListingOptions options,
                                                 uint64_t allocations, FailureSweep sweep) {
    std::vector<std::string> faults;
    for (uint64_t n : FailurePoints(allocations, sweep)) {
        options.failAllocation = n;
        for (const std::string& f : RunListing(text, options).faults) {
            faults.push_back("allocation " + std::to_string(n) + " failing: " + f);
        }
    }
    return faults;
}

ListingResult RunListing(std::string_view text, const ListingOptions& options) {
    ListingResult result;
    const ListingExpectations expected = ParseExpectations(text);
    result.diagnostics = expected.errors;
    const AssembleResult assembled = Assemble(text);
    for (const AsmDiagnostic& d : assembled.diagnostics) {
        result.diagnostics.push_back("line " + std::to_string(d.line) + ": " + d.message);
    }
    if (!result.diagnostics.empty()) {
        result.status = -1;
        return result;
    }
    MinimalListingHost ownHost;
    Run(assembled, expected, options, options.host != nullptr ? *options.host : ownHost, &result);
    const std::optional<FailureSweep> sweep = SweepFromEnvironment();
    if (sweep && options.failAllocation == 0) {
        for (std::string& f : SweepAllocationFailures(text, options, result.allocations, *sweep)) {
            result.faults.push_back(std::move(f));
        }
    }
    return result;
}

std::vector<uint64_t> FailurePoints(uint64_t allocations, FailureSweep sweep) {
    const bool full = sweep == FailureSweep::Full;
    const uint64_t dense = full ? 2000 : 32;
    const uint64_t spread = full ? 2000 : 96;
    std::vector<uint64_t> points;
    for (uint64_t n = 1; n <= std::min(allocations, dense); ++n) points.push_back(n);
    if (allocations <= dense) return points;
    const uint64_t beyond = allocations - dense;
    const uint64_t count = std::min(beyond, spread);
    for (uint64_t i = 1; i <= count; ++i)
        points.push_back(dense + (i * beyond + count - 1) / count);
    return points;
}

ListingResult RunListingFile(const std::filesystem::path& path, ListingOptions options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ListingResult result;
        result.status = -1;
        result.diagnostics.push_back("cannot read " + path.string());
        return result;
    }
    const std::string text(std::istreambuf_iterator<char>(in), {});
    options.chunkName = "@" + path.string();
    return RunListing(text, options);
}

}  // namespace qv
