#include "engine/host.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/api_internal.h"
#include "engine/case_tables.h"
#include "platform/linux/debug_output.h"

namespace qv {
namespace {

void CopyBounded(char* out, size_t capacity, std::string_view text) {
    size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

void EngineHost::WriteDebug(std::string_view text) {
    WriteDebugPlain(text);
}

void EngineHost::ToLowerStr(char* s) const {
    LowerCaseInPlace(s);
}

int EngineHost::StrICmp(const char* a, const char* b) const {
    return CompareIgnoringCase(a, b);
}

void MinimalHost::SetCommandName(std::string_view name) {
    CopyBounded(commandName_, sizeof commandName_, name);
}

void MinimalHost::StoreErrorText(std::string_view text) {
    CopyBounded(errorText_, sizeof errorText_, text);
}

// The run-time's hook rules: outside nested protected calls a raised error also stops the
// script (abort flag); with error ending switched off the code is only recorded.
int MinimalHost::HandleCommandError(qvVmState* L, int code) {
    lastError = static_cast<uint32_t>(code);
    if (exitOnError == 0) {
        if (nestedCalls == 0) {
            SetCommandName("----");
            line = -1;
        }
        return 0;
    }
    CaptureErrorLocation(L);
    if (nestedCalls == 0) abortFlag.store(1);
    VmThrow(L, code);
}

void MinimalHost::CaptureErrorLocation(qvVmState* L) {
    if (std::strcmp(commandName_, "----") == 0) {
        const qvValue* fn = LevelFunction(L, 0);
        const char* name = fn != nullptr ? GlobalFunctionName(L, fn) : nullptr;
        bool native = fn != nullptr && ClosureOf(fn)->isNative;
        SetCommandName(name != nullptr ? name : (native ? "?" : "<<unnamed>>"));
    }
    if (line == -1) line = LevelLine(L, 1);
}

// The global state is plain memory freed without destructors: the host kept there owns no
// resources, so it needs none.
static_assert(sizeof(MinimalHost) <= sizeof(qvVmGlobalState::ownHost));
static_assert(alignof(MinimalHost) <= 16);

namespace {

// The engine's main thread watches its host's abort flag; when the flag has no room for it,
// the thread reads the flag itself.
void WatchAbortFlag(qvVmState* L, EngineHost& host) {
    qvVmState* main = L->g->mainthread;
    if (host.AbortFlag().Watch(&main->attention))
        main->attention.fetch_and(static_cast<uint8_t>(~kAttentionPoll));
    else
        main->attention.fetch_or(kAttentionPoll);
}

}  // namespace

EngineHost& OwnHost(qvVmState* L) {
    L->g->host = new (L->g->ownHost) MinimalHost();
    WatchAbortFlag(L, *L->g->host);
    return *L->g->host;
}

void SetEngineHost(qvVmState* L, EngineHost* host) {
    qvVmGlobalState* g = L->g;
    if (g->host != nullptr) g->host->AbortFlag().Unwatch(&g->mainthread->attention);
    g->host = host;
    if (host != nullptr) WatchAbortFlag(L, *host);
}

}  // namespace qv
