// The engine's real host: the abort flag, the error state and the error hook of the run-time
// core. The player installs it on its engine; engine tests keep their own host.
#pragma once

#include "engine/host.h"

namespace qv {

class RuntimeHost final : public EngineHost {
public:
    qv::AbortFlag& AbortFlag() override;
    uint32_t LastError() const override;
    void SetLastError(uint32_t code) override;
    void SetErrorLine(int32_t line) override;
    void SetErrorNumber(uint32_t n) override;
    bool DebugTrace() const override;
    bool IsGetLastError(qvCFunction f) const override;
    int HandleCommandError(qvVmState* L, int code) override;
    void CaptureErrorLocation(qvVmState* L) override;

protected:
    void StoreErrorText(std::string_view text) override;
};

// Makes the run-time core the host of L's engine.
void InstallRuntimeHost(qvVmState* L);

}  // namespace qv
