// The engine's only way to the run-time: abort flag, error state, error hook, location
// capture, debug output and case helpers. Every engine starts with its own MinimalHost (kept
// in the global state), and the run-time replaces it with its real one.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/vm.h"
#include "platform/linux/abort_flag.h"

namespace qv {

// The error-argument text holds at most this many bytes (512 with the terminating NUL).
constexpr size_t kErrorTextMax = 511;

class EngineHost {
public:
    EngineHost() = default;
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;
    virtual ~EngineHost() = default;

    // Set from signal handlers and other threads; the interpreter stops at the next
    // instruction when it is non-zero. The engine watches it while the host is installed.
    virtual qv::AbortFlag& AbortFlag() = 0;

    virtual uint32_t LastError() const = 0;
    virtual void SetLastError(uint32_t code) = 0;

    // Error-state fields the engine writes before it raises.
    virtual void SetErrorLine(int32_t line) = 0;
    virtual void SetErrorNumber(uint32_t n) = 0;
    // Names come from chunk constants of any length; the store keeps the first 511 bytes.
    void SetErrorText(std::string_view text) { StoreErrorText(text.substr(0, kErrorTextMax)); }

    // The call trace switch ("DebugOutput").
    virtual bool DebugTrace() const = 0;
    // True for the handler of GetLastError, the one command that keeps the last error.
    virtual bool IsGetLastError(qvCFunction f) const = 0;

    // A command returned code: record it, then raise it as a script error or return 0.
    virtual int HandleCommandError(qvVmState* L, int code) = 0;
    // Fills the command name and line of the error from the engine's call levels.
    virtual void CaptureErrorLocation(qvVmState* L) = 0;

    // Appends text (data, never a format) to the debug output.
    virtual void WriteDebug(std::string_view text);
    virtual void ToLowerStr(char* s) const;
    virtual int StrICmp(const char* a, const char* b) const;

protected:
    virtual void StoreErrorText(std::string_view text) = 0;
};

// The host an engine works with on its own: the error hook rules of the run-time over plain
// fields, which tests read and set.
class MinimalHost final : public EngineHost {
public:
    qv::AbortFlag abortFlag;
    uint32_t lastError = 0;
    uint32_t errorNumber = 0;
    int32_t line = -1;
    uint32_t exitOnError = 1;
    int32_t nestedCalls = 0;  // nested protected calls of the run-time
    bool trace = false;
    qvCFunction getLastError = nullptr;

    const char* ErrorText() const { return errorText_; }
    const char* CommandName() const { return commandName_; }
    void SetCommandName(std::string_view name);

    qv::AbortFlag& AbortFlag() override { return abortFlag; }
    uint32_t LastError() const override { return lastError; }
    void SetLastError(uint32_t code) override { lastError = code; }
    void SetErrorLine(int32_t l) override { line = l; }
    void SetErrorNumber(uint32_t n) override { errorNumber = n; }
    bool DebugTrace() const override { return trace; }
    bool IsGetLastError(qvCFunction f) const override { return f != nullptr && f == getLastError; }
    int HandleCommandError(qvVmState* L, int code) override;
    void CaptureErrorLocation(qvVmState* L) override;

protected:
    void StoreErrorText(std::string_view text) override;

private:
    char errorText_[kErrorTextMax + 1] = "";
    char commandName_[64] = "----";
};

// The engine's own host, built in place the first time it is needed.
EngineHost& OwnHost(qvVmState* L);

inline EngineHost& Host(qvVmState* L) {
    EngineHost* host = L->g->host;
    return host != nullptr ? *host : OwnHost(L);
}

// Makes host (owned by the caller, alive while the engine uses it) the engine's host;
// nullptr goes back to a fresh MinimalHost of the engine's own.
void SetEngineHost(qvVmState* L, EngineHost* host);

}  // namespace qv
