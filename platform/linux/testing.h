// Test hooks of the platform's bitmap and window layer. Production code never calls these;
// tests use them to make overruns, stride mix-ups, leaked locks and failed allocations show
// up at once. Every hook is process-wide and meant for single-threaded tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"

namespace qv::platform::testing {

// Allocation failures: every bitmap, plane and record comes from AllocMemBlock, so the
// memory fault injector fails the n-th of them.
using qv::AllocationFault;

// Extra row padding in units: display bitmaps get that many pixels more per row, masks two
// bytes and alpha planes four bytes more, so that row length differs from width everywhere.
void SetExtraRowPadding(int32_t units);

// Fills every buffer allocated without the clear flag with kPoison (production fills 0).
inline constexpr uint8_t kPoison = 0xA5;
void SetPoisonFill(bool enabled);

// Fails the n-th LockBitMapRecord from now (1-based); 0 disarms.
void InjectLockFault(uint64_t n);

class LockFault {
public:
    explicit LockFault(uint64_t n) { InjectLockFault(n); }
    ~LockFault() { InjectLockFault(0); }
    LockFault(const LockFault&) = delete;
    LockFault& operator=(const LockFault&) = delete;
};

// Locks taken minus locks released over all bitmaps; 0 after every balanced test.
int64_t LockBalance();
void ResetLockBalance();

// Grants compositing capabilities (CompositingSupported answers flags & granted) and makes
// the composite blit doubles succeed or fail; granted 0 goes back to software rendering.
void GrantCompositing(uint32_t granted, bool blitsSucceed);
struct CompositeCalls {
    int scale;
    int transform;
};
CompositeCalls CompositeCallCounts();

// Overrides the screen format (QV_SCREEN_FORMAT); QV_FMT_COUNT goes back to the environment.
void SetScreenFormat(uint32_t format);

class ScopedScreenFormat {
public:
    explicit ScopedScreenFormat(uint32_t format) { SetScreenFormat(format); }
    ~ScopedScreenFormat() { SetScreenFormat(QV_FMT_COUNT); }
    ScopedScreenFormat(const ScopedScreenFormat&) = delete;
    ScopedScreenFormat& operator=(const ScopedScreenFormat&) = delete;
};

// The vertical-blank wait presents at once while enabled.
void SetInstantVBlank(bool enabled);

// How often RefreshTitleGadgets was called.
uint64_t TitleGadgetRefreshes();

// While set, registering a window for dropped files fails (UpdateDisplayAppWindow gives
// ERR_ADDAPPWIN), as a desktop that refuses it does.
void RefuseAppWindows(bool refused);

// Writes the bitmap as a binary PPM (P6); false when it cannot be written.
bool WriteBitMapPPM(const qvDisplayBitMap* bitmap, const std::string& path);

}  // namespace qv::platform::testing
