#include "runtime/runtime_host.h"

#include "runtime/errors.h"
#include "runtime/runtime_state.h"

namespace qv {

AbortFlag& RuntimeHost::AbortFlag() {
    return Runtime().abortFlag;
}

uint32_t RuntimeHost::LastError() const {
    return Runtime().error.lastError;
}

void RuntimeHost::SetLastError(uint32_t code) {
    Runtime().error.lastError = code;
}

void RuntimeHost::SetErrorLine(int32_t line) {
    Runtime().error.line = line;
}

void RuntimeHost::SetErrorNumber(uint32_t n) {
    ::SetErrorNumber(n);
}

bool RuntimeHost::DebugTrace() const {
    return Runtime().debugTrace;
}

bool RuntimeHost::IsGetLastError(qvCFunction f) const {
    return f != nullptr && f == Runtime().getLastError;
}

int RuntimeHost::HandleCommandError(qvVmState* L, int code) {
    return ::HandleCommandError(L, code);
}

void RuntimeHost::CaptureErrorLocation(qvVmState* L) {
    ::CaptureErrorLocation(L);
}

void RuntimeHost::StoreErrorText(std::string_view text) {
    // The engine hands over views of chunk constants, which need not end in a NUL.
    char copy[sizeof Runtime().error.text];
    size_t n = text.copy(copy, sizeof copy - 1);
    copy[n] = '\0';
    ::SetErrorString(copy);
}

void InstallRuntimeHost(qvVmState* L) {
    static RuntimeHost host;
    SetEngineHost(L, &host);
}

}  // namespace qv
