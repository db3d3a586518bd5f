#include "tests/support/lib_fixture.h"

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/case_tables.h"
#include "engine/convert.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "tools/qvasm/qvasm.h"

namespace qv::testing {
namespace {

constexpr char kFixtureKey[] = "qv.libfixture";
// Nested tables of results are copied this deep.
constexpr int kMaxValueDepth = 4;

qvErrorState& ErrorState() {
    return Runtime().error;
}

Value ReadValue(qvVmState* L, int idx, int depth);

void ReadEntries(qvVmState* L, int idx, int depth, Value* table) {
    VmPushNil(L);
    while (VmNext(L, idx) != 0) {
        Value key = ReadValue(L, -2, depth + 1);
        Value value = ReadValue(L, -1, depth + 1);
        table->entries.emplace_back(std::move(key), std::move(value));
        VmSetTop(L, -2);
    }
}

// Copies the value at idx without converting it in place (keys stay usable by VmNext).
Value ReadValue(qvVmState* L, int idx, int depth) {
    if (idx < 0 && idx > VM_REGISTRYINDEX) idx = VmGetTop(L) + idx + 1;
    Value v;
    v.type = VmType(L, idx);
    switch (v.type) {
        case VM_TNUMBER:
            v.number = VmToNumber(L, idx);
            break;
        case VM_TBOOLEAN:
            v.boolean = VmToBoolean(L, idx) != 0;
            break;
        case VM_TSTRING:
            v.text.assign(VmToString(L, idx), VmStrLen(L, idx));
            break;
        case VM_TTABLE:
            v.pointer = VmToPointer(L, idx);
            if (depth < kMaxValueDepth) ReadEntries(L, idx, depth, &v);
            break;
        default:
            v.pointer = VmToPointer(L, idx);
            break;
    }
    return v;
}

struct CallContext {
    LibFixture* fixture;
    std::string_view name;
    const std::vector<Arg>* args;
    CallResult* result;
    std::vector<CallResult>* iterations;  // Iterate only
    int maxCalls;
};

// Moves the values above base into results and drops them.
void TakeResults(qvVmState* L, int base, CallResult* result) {
    for (int i = base + 1; i <= VmGetTop(L); ++i) result->results.push_back(ReadValue(L, i, 0));
    VmSetTop(L, base);
}

int OpenBody(qvVmState* L) {
    auto opener = reinterpret_cast<LibraryOpener>(VmToUserdata(L, 1));
    opener(L);
    return 0;
}

int NativeTrampoline(qvVmState* L) {
    auto* f = static_cast<NativeFunction*>(VmToUserdata(L, VmUpvalueIndex(1)));
    return (*f)(L);
}

// GetLastError for listings run with the run-time's host.
int GetLastErrorCommand(qvVmState* L) {
    VmPushNumber(L, ErrorState().lastError);
    return 1;
}

// The listing harness over the run-time core's state.
class RuntimeListingHost final : public ListingHost {
public:
    RuntimeListingHost() { Runtime().getLastError = GetLastErrorCommand; }
    EngineHost& Engine() override { return host_; }
    void SetExitOnError(uint32_t on) override { ErrorState().exitOnError = on; }
    void AddNestedCalls(int delta) override { ErrorState().nestedCalls += delta; }
    int32_t ErrorLine() const override { return ErrorState().line; }
    std::string ErrorText() const override { return ErrorState().text; }
    qvCFunction GetLastErrorHandler() const override { return GetLastErrorCommand; }

private:
    RuntimeHost host_;
};

// Pushes the global function of the command named in the context and its arguments.
void PushCall(qvVmState* L, const CallContext& c) {
    std::string name(c.name);
    LowerCaseInPlace(name.data());
    VmPushLString(L, name.data(), name.size());
    VmGetTable(L, VM_GLOBALSINDEX);
    for (const Arg& arg : *c.args) c.fixture->PushArg(arg);
}

int CallBody(qvVmState* L) {
    auto* c = static_cast<CallContext*>(VmToUserdata(L, 1));
    const int base = VmGetTop(L);
    PushCall(L, *c);
    VmCall(L, static_cast<int>(c->args->size()), -1);
    TakeResults(L, base, c->result);
    return 0;
}

int IterateBody(qvVmState* L) {
    auto* c = static_cast<CallContext*>(VmToUserdata(L, 1));
    PushCall(L, *c);
    VmCall(L, static_cast<int>(c->args->size()), 1);
    const int base = VmGetTop(L);  // the iterator
    for (int i = 0; i < c->maxCalls; ++i) {
        VmPushValue(L, base);
        VmCall(L, 0, -1);
        if (VmGetTop(L) == base || VmType(L, base + 1) == VM_TNIL) break;
        TakeResults(L, base, &c->iterations->emplace_back());
    }
    return 0;
}

}  // namespace

Arg Num(double n) {
    Arg a;
    a.kind = Arg::Kind::Number;
    a.number = n;
    return a;
}

Arg Str(std::string_view bytes) {
    Arg a;
    a.kind = Arg::Kind::String;
    a.text = bytes;
    return a;
}

Arg Nil() {
    return Arg{};
}

Arg Bool(bool b) {
    Arg a;
    a.kind = Arg::Kind::Boolean;
    a.boolean = b;
    return a;
}

Arg Table(std::vector<std::pair<Arg, Arg>> entries) {
    Arg a;
    a.kind = Arg::Kind::Table;
    a.entries = std::move(entries);
    return a;
}

Arg List(std::vector<Arg> items) {
    std::vector<std::pair<Arg, Arg>> entries;
    for (size_t i = 0; i < items.size(); ++i) {
        entries.emplace_back(Num(static_cast<double>(i)), std::move(items[i]));
    }
    return Table(std::move(entries));
}

Arg LightUserdata(void* p) {
    Arg a;
    a.kind = Arg::Kind::LightUserdata;
    a.pointer = p;
    return a;
}

Arg Native(NativeFunction f) {
    Arg a;
    a.kind = Arg::Kind::Native;
    a.native = std::make_shared<NativeFunction>(std::move(f));
    return a;
}

Arg Script(std::string listing) {
    Arg a;
    a.kind = Arg::Kind::Script;
    a.text = std::move(listing);
    return a;
}

const Value* Value::At(double key) const {
    for (const auto& [k, v] : entries) {
        if (k.type == VM_TNUMBER && k.number == key) return &v;
    }
    return nullptr;
}

const Value* Value::Field(std::string_view key) const {
    for (const auto& [k, v] : entries) {
        if (k.type == VM_TSTRING && k.text == key) return &v;
    }
    return nullptr;
}

std::ostream& operator<<(std::ostream& out, const Value& v) {
    switch (v.type) {
        case VM_TNUMBER: {
            char text[kNumberTextSize];
            return out << std::string_view(text, FormatNumber(v.number, text));
        }
        case VM_TSTRING:
            return out << '"' << v.text << '"';
        case VM_TBOOLEAN:
            return out << (v.boolean ? "true" : "false");
        case VM_TTABLE:
            out << '{';
            for (const auto& [key, value] : v.entries) out << key << '=' << value << ' ';
            return out << '}';
        default:
            return out << TypeName(v.type);
    }
}

std::string CallResult::Text(size_t i) const {
    return i < results.size() && results[i].type == VM_TSTRING ? results[i].text : "";
}

double CallResult::Number(size_t i) const {
    return i < results.size() && results[i].type == VM_TNUMBER ? results[i].number : 0;
}

LibFixture::LibFixture(LibraryOpener opener) : opener_(opener) {
    ResetRuntimeState();
    if (InitSupport() != 0) ADD_FAILURE() << "the run-time's support services did not start";
    L = VmOpen();
    if (L == nullptr) {
        ADD_FAILURE() << "no engine";
        return;
    }
    InstallRuntimeHost(L);
    SetRegistryPointer(L, kFixtureKey, this);
    const int status = VmCPCall(L, OpenBody, reinterpret_cast<void*>(opener));
    if (status != 0) ADD_FAILURE() << "registering the library failed with " << status;
}

LibFixture::~LibFixture() {
    if (L != nullptr) VmClose(L);
    ResetRuntimeState();
}

void LibFixture::PushArg(const Arg& arg) {
    switch (arg.kind) {
        case Arg::Kind::Number:
            VmPushNumber(L, arg.number);
            break;
        case Arg::Kind::String:
            VmPushLString(L, arg.text.data(), arg.text.size());
            break;
        case Arg::Kind::Nil:
            VmPushNil(L);
            break;
        case Arg::Kind::Boolean:
            VmPushBoolean(L, arg.boolean ? 1 : 0);
            break;
        case Arg::Kind::Table:
            VmNewTable(L);
            for (const auto& [key, value] : arg.entries) {
                PushArg(key);
                PushArg(value);
                VmRawSet(L, -3);
            }
            break;
        case Arg::Kind::LightUserdata:
            VmPushLightUserdata(L, arg.pointer);
            break;
        case Arg::Kind::Native:
            natives_.push_back(arg.native);
            VmPushLightUserdata(L, arg.native.get());
            VmPushCClosure(L, NativeTrampoline, 1);
            break;
        case Arg::Kind::Script: {
            const AssembleResult assembled = Assemble(arg.text);
            if (!assembled.ok() || LoadChunk(L, assembled.bytes, "=callback") != 0) {
                ADD_FAILURE() << "the script argument does not assemble and load";
                VmPushNil(L);
            }
            break;
        }
    }
}

CallResult LibFixture::Call(std::string_view name, const std::vector<Arg>& args) {
    qvErrorState& e = ErrorState();
    e.lastError = 0;
    e.number = 0;
    e.text[0] = '\0';
    CallResult result;
    CallContext context{this, name, &args, &result, nullptr, 0};
    const int status = VmCPCall(L, CallBody, &context);
    if (status != 0) result.results.clear();
    result.code = status != 0 ? status : static_cast<int>(e.lastError);
    result.ended = status != 0;
    result.errorText = e.text;
    result.errorNumber = e.number;
    result.aborted = Runtime().abortFlag.exchange(0) != 0;
    return result;
}

std::vector<CallResult> LibFixture::Iterate(std::string_view name, const std::vector<Arg>& args,
                                            int maxCalls) {
    std::vector<CallResult> iterations;
    CallResult unused;
    CallContext context{this, name, &args, &unused, &iterations, maxCalls};
    const int status = VmCPCall(L, IterateBody, &context);
    if (status != 0) {
        iterations.clear();
        iterations.emplace_back().code = status;
    }
    Runtime().abortFlag.store(0);
    return iterations;
}

void LibFixture::SetExitOnError(bool on) {
    ErrorState().exitOnError = on ? 1 : 0;
}

void LibFixture::Abort() {
    Runtime().abortFlag.store(1);
}

void LibFixture::PumpHook(qvVmState* L, qvDebugRecord*, int*) {
    auto* fixture = static_cast<LibFixture*>(GetRegistryPointer(L, kFixtureKey));
    ++fixture->pumpCalls_;
    if (fixture->pumpStopAfter_ > 0 && fixture->pumpCalls_ >= fixture->pumpStopAfter_) {
        Runtime().abortFlag.store(1);
    }
}

void LibFixture::InstallFakePump(int stopAfter) {
    pumpCalls_ = 0;
    pumpStopAfter_ = stopAfter;
    VmSetHook(L, PumpHook, VM_MASKLINE, 0);
}

const std::string& LibFixture::TempDir() {
    if (!tempDir_) {
        tempDir_.emplace();
        assigns_.emplace("T:=" + tempDir_->path());
    }
    return tempDir_->path();
}

std::string LibFixture::CheckListing(const std::filesystem::path& path, bool gcTorture) {
    RuntimeListingHost host;
    ListingOptions options;
    options.gcTorture = gcTorture;
    options.host = &host;
    options.libraries = {opener_};
    const ListingResult result = RunListingFile(path, options);
    std::string report;
    for (const std::string& d : result.diagnostics) report += d + "\n";
    if (!report.empty()) return report;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return DiffListing(ParseExpectations(text), result);
}

void LibFixture::ExpectListingMet(const std::filesystem::path& path) {
    EXPECT_EQ(CheckListing(path), "");
    EXPECT_EQ(CheckListing(path, true), "") << "with a collection at every check point";
}

std::filesystem::path SourceDir() {
    return QV_SOURCE_DIR;
}

std::vector<std::string> ListingsIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".qvs") names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ListingTestName(const ::testing::TestParamInfo<std::string>& info) {
    return std::filesystem::path(info.param).stem().string();
}

std::string CaseName(size_t index, std::string_view text) {
    std::string name = std::to_string(index) + "_";
    for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    return name;
}

ToolRun RunTool(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.output.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ToolRun RunPython(const std::string& script, const std::string& input) {
    ScratchDir dir;
    const std::string scriptPath = dir.Write("script.py", ToBytes(script));
    const std::string inputPath = dir.Write("input", ToBytes(input));
    return RunTool("python3 '" + scriptPath + "' < '" + inputPath + "'");
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

}  // namespace qv::testing
