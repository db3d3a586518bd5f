// qvasm: assemble, disassemble and check compiled chunks, and run listings.
// Exit status 0 when the tool ran, 1 for usage errors, unreadable input, assembly errors or
// (run --check) a listing whose run does not meet its expectations.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error_codes.h"
#include "engine/testsupport/listing.h"
#include "engine/vm.h"
#include "tools/qvasm/qvasm.h"

namespace {

using Args = std::span<const std::string_view>;

struct Command {
    std::string_view name;
    std::string_view usage;
    int (*run)(Args args);
};

int Usage();

std::optional<std::string> ReadFile(std::string_view path) {
    std::ifstream in{std::string(path), std::ios::binary};
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(std::string_view path, std::span<const uint8_t> bytes) {
    std::ofstream out{std::string(path), std::ios::binary};
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int Fail(std::string_view path, std::string_view message) {
    std::fprintf(stderr, "%.*s: %.*s\n", int(path.size()), path.data(), int(message.size()),
                 message.data());
    return 1;
}

// A positive decimal count.
std::optional<uint64_t> ParseCount(std::string_view text) {
    uint64_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n == 0) return std::nullopt;
    return n;
}

// Splits "IN [-o OUT] [flags]" into its parts; false on anything unexpected.
struct FileArgs {
    std::string_view in;
    std::string_view out;
    std::vector<std::string_view> flags;
};
bool ParseFileArgs(Args args, FileArgs* parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            parsed->out = args[++i];
        } else if (args[i].starts_with("--")) {
            parsed->flags.push_back(args[i]);
        } else if (parsed->in.empty()) {
            parsed->in = args[i];
        } else {
            return false;
        }
    }
    return !parsed->in.empty();
}

// A chunk loaded as the player loads it: the status, the verifier's refusal (reason
// VM_VERIFY_OK when it refused nothing) and, when asked, the dump of the loaded function.
struct Loaded {
    int status;
    qvVerifyFailure refusal;
};

Loaded Load(std::span<const uint8_t> bytes, std::string_view path, std::vector<uint8_t>* dump) {
    qvVmState* L = VmOpen();
    if (L == nullptr) return {ERR_MEM, {}};
    const std::string name = "@" + std::string(path);
    const int status = qv::LoadChunk(L, bytes, name.c_str());
    const Loaded loaded{status, VmLastVerifyFailure(L)};
    if (status == 0 && dump != nullptr) qv::DumpFunction(L, -1, dump);
    VmClose(L);
    return loaded;
}

// The listing line the verifier's refusal points at: the refused instruction's, else the
// function's .function line.
int RefusedLine(const qv::AssembleResult& result, const qvVerifyFailure& refusal) {
    if (refusal.function < 0 || size_t(refusal.function) >= result.functions.size()) return 0;
    const qv::AsmFunctionLines& f = result.functions[size_t(refusal.function)];
    const bool inCode = refusal.pc >= 0 && size_t(refusal.pc) < f.code.size();
    return inCode ? f.code[size_t(refusal.pc)] : f.begin;
}

// The chunk of a listing carries the listing's name and lines, so that the player's error
// reports (through qvmkapplet's line map) and the verifier's refusals name them; what the
// player would refuse is not written.
int RunAsm(Args args) {
    FileArgs a;
    if (!ParseFileArgs(args, &a) || a.out.empty()) return Usage();
    qv::AssembleOptions options;
    bool verify = true;
    for (std::string_view flag : a.flags) {
        if (flag == "--le") {
            options.littleEndian = true;
        } else if (flag == "--no-verify") {
            verify = false;  // faulty chunks on purpose: the fuzzers' seeds
        } else {
            return Usage();
        }
    }
    const auto text = ReadFile(a.in);
    if (!text) return Fail(a.in, "cannot read");
    options.sourceName = "@" + std::string(a.in);
    options.listingLines = true;
    const qv::AssembleResult result = qv::Assemble(*text, options);
    for (const qv::AsmDiagnostic& d : result.diagnostics) {
        std::fprintf(stderr, "%.*s:%d: %s\n", int(a.in.size()), a.in.data(), d.line,
                     d.message.c_str());
    }
    if (!result.ok()) return 1;
    const Loaded loaded = verify ? Load(result.bytes, a.in, nullptr) : Loaded{0, {}};
    if (loaded.refusal.reason != VM_VERIFY_OK) {
        std::fprintf(stderr, "%.*s:%d: %s (the player refuses the chunk: status %d)\n",
                     int(a.in.size()), a.in.data(), RefusedLine(result, loaded.refusal),
                     VmVerifyReasonText(loaded.refusal.reason), loaded.status);
        return 1;
    }
    if (loaded.status != 0) {
        return Fail(a.in, "the player refuses the chunk: status " + std::to_string(loaded.status));
    }
    return WriteFile(a.out, result.bytes) ? 0 : Fail(a.out, "cannot write");
}

int RunDis(Args args) {
    FileArgs a;
    if (!ParseFileArgs(args, &a) || !a.out.empty() || !a.flags.empty()) return Usage();
    const auto bytes = ReadFile(a.in);
    if (!bytes) return Fail(a.in, "cannot read");
    const auto result =
        qv::Disassemble({reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()});
    if (!result.ok()) return Fail(a.in, result.error);
    std::fputs(result.text.c_str(), stdout);
    return 0;
}

// Loads the chunk with the verifier, as the player would: "status N", with the verifier's
// reason, the refused function's number and pc when it refused the chunk.
int RunCheck(Args args) {
    FileArgs a;
    if (!ParseFileArgs(args, &a) || !a.flags.empty()) return Usage();
    const auto bytes = ReadFile(a.in);
    if (!bytes) return Fail(a.in, "cannot read");
    std::vector<uint8_t> dump;
    const Loaded loaded = Load({reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()},
                               a.in, a.out.empty() ? nullptr : &dump);
    const qvVerifyFailure& refusal = loaded.refusal;
    if (refusal.reason != VM_VERIFY_OK) {
        std::printf("status %d (%s; function %d, pc %d)\n", loaded.status,
                    VmVerifyReasonText(refusal.reason), refusal.function, refusal.pc);
    } else {
        std::printf("status %d\n", loaded.status);
    }
    if (loaded.status != 0 || a.out.empty()) return 0;
    return WriteFile(a.out, dump) ? 0 : Fail(a.out, "cannot write");
}

// Runs a listing once: its log lines, then "status N". With --check the run must meet the
// listing's ";!" expectations, else the differences go to standard error and the exit status
// is 1.
int RunOnce(std::string_view path, const std::string& text, const qv::ListingOptions& options,
            bool check) {
    const qv::ListingResult result = qv::RunListing(text, options);
    for (const std::string& d : result.diagnostics) Fail(path, d);
    if (!result.diagnostics.empty()) return 1;
    for (const std::string& line : result.log) std::printf("%s\n", line.c_str());
    std::printf("status %d\n", result.status);
    for (const std::string& f : result.faults) Fail(path, f);
    if (!result.faults.empty()) return 1;
    if (!check) return 0;
    const std::string diff = qv::DiffListing(qv::ParseExpectations(text), result);
    std::fputs(diff.c_str(), stderr);
    return diff.empty() ? 0 : 1;
}

// Runs the listing once to count its allocations, then once with each failure point of the
// sweep; every fault goes to standard error, and any makes the exit status 1.
int RunSweep(std::string_view path, const std::string& text, const qv::ListingOptions& options,
             qv::FailureSweep sweep) {
    const qv::ListingResult counted = qv::RunListing(text, options);
    for (const std::string& d : counted.diagnostics) Fail(path, d);
    if (!counted.diagnostics.empty()) return 1;
    const std::vector<std::string> faults =
        qv::SweepAllocationFailures(text, options, counted.allocations, sweep);
    for (const std::string& f : faults) Fail(path, f);
    std::printf("fail-alloc: %zu runs over %llu allocations, %zu faults\n",
                qv::FailurePoints(counted.allocations, sweep).size(),
                static_cast<unsigned long long>(counted.allocations), faults.size());
    return faults.empty() ? 0 : 1;
}

// Runs a listing with the harness. --fail-alloc N fails the N-th engine allocation of the
// run and checks that the engine survives it instead of the expectations; "all" and "sample"
// sweep the run's allocations.
int RunListing(Args args) {
    std::vector<std::string_view> rest;
    std::string_view failAlloc;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--fail-alloc" && i + 1 < args.size()) {
            failAlloc = args[++i];
        } else {
            rest.push_back(args[i]);
        }
    }
    FileArgs a;
    if (!ParseFileArgs(rest, &a) || !a.out.empty()) return Usage();
    qv::ListingOptions options;
    bool check = false;
    for (std::string_view flag : a.flags) {
        if (flag == "--gc-torture") {
            options.gcTorture = true;
        } else if (flag == "--stack-torture") {
            options.stackTorture = true;
        } else if (flag == "--check" && failAlloc.empty()) {
            check = true;
        } else {
            return Usage();
        }
    }
    const auto text = ReadFile(a.in);
    if (!text) return Fail(a.in, "cannot read");
    options.chunkName = "@" + std::string(a.in);
    if (failAlloc.empty()) return RunOnce(a.in, *text, options, check);
    if (failAlloc == "all") return RunSweep(a.in, *text, options, qv::FailureSweep::Full);
    if (failAlloc == "sample") return RunSweep(a.in, *text, options, qv::FailureSweep::Sample);
    const auto n = ParseCount(failAlloc);
    if (!n) return Usage();
    options.failAllocation = *n;
    return RunOnce(a.in, *text, options, false);
}

constexpr Command kCommands[] = {
    {"asm", "asm IN.qvs -o OUT.qvb [--le] [--no-verify]", RunAsm},
    {"dis", "dis IN.qvb", RunDis},
    {"check", "check IN.qvb [-o OUT.qvb]", RunCheck},
    {"run", "run [--gc-torture] [--stack-torture] [--check | --fail-alloc N|all|sample] IN.qvs",
     RunListing},
};

void PrintUsage(FILE* out) {
    std::fputs("usage:\n", out);
    for (const Command& c : kCommands) {
        std::fprintf(out, "  qvasm %.*s\n", int(c.usage.size()), c.usage.data());
    }
    std::fputs("  qvasm --help\n", out);
}

int Usage() {
    PrintUsage(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    if (args[0] == "--help") return PrintUsage(stdout), 0;
    for (const Command& c : kCommands) {
        if (c.name == args[0]) return c.run(Args(args).subspan(1));
    }
    return Usage();
}
