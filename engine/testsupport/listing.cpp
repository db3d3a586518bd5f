// Running a listing: assemble, open an engine with the harness, load, define the applet's
// labels, install the hooks asked for, run the main function under protection, close.
#include "engine/testsupport/listing.h"

#include <fstream>
#include <iterator>

#include "engine/testsupport/commands.h"
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

// Runs the assembled chunk; the context (and the result it writes to) outlives the engine,
// whose finalizers may still call the harness commands.
void Run(const AssembleResult& assembled, const ListingExpectations& expected,
         const ListingOptions& options, ListingHost& host, ListingResult* result) {
    HarnessContext context{&host, &result->log};
    Engine engine;
    qvVmState* L = engine.get();
    if (L == nullptr) {
        result->status = ERR_MEM;
        return;
    }
    SetEngineHost(L, &host.Engine());
    if (options.gcTorture) L->g->gcTorture = true;
    host.SetExitOnError(expected.exitOnError);
    Setup setup{&context, &options, &assembled.labels};
    int status = VmCPCall(L, RegisterAll, &setup);
    if (status == 0) status = LoadChunk(L, assembled.bytes, options.chunkName.c_str());
    if (status == 0) {
        if (expected.lineHook) VmSetHook(L, HarnessLineHook, VM_MASKLINE, 0);
        status = VmPCall(L, 0, 0, 0);
    }
    result->status = status;
    result->lastError = host.Engine().LastError();
    result->line = host.ErrorLine();
    result->errorText = host.ErrorText();
}

}  // namespace

MinimalListingHost::MinimalListingHost() {
    host_.getLastError = PushLastError;
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
    return result;
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
