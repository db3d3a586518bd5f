// The graphics engine's process-wide state that the blits read: the drawing settings, the
// temporary plane of SafeBlt, the pseudo-display for offscreen blits and the display host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/blit_host.h"
#include "gfx/scale_maps.h"

struct qvObjectHeader;

namespace qv::gfx {

// Mask modes (SetMaskMode) and the alpha intensity that means a plain copy.
enum : int32_t {
    kMaskVisible = 0,
    kMaskInvisible = 1,
    kMaskVanillaCopy = 2,
    kMaskXor = 3,
    kMaskAnd = 4,
    kMaskOr = 5,
    kAlphaVanillaCopy = -1,
};

class GraphicsState {
public:
    GraphicsState() = default;
    ~GraphicsState() { Free(); }
    GraphicsState(const GraphicsState&) = delete;
    GraphicsState& operator=(const GraphicsState&) = delete;

    // Run-time attributes 5 and 7, and the alpha-combine switch of the selected brush.
    int32_t maskMode = kMaskVisible;
    int32_t alphaIntensity = 128;  // 0-255, or kAlphaVanillaCopy
    bool alphaCombine = false;

    // The object lists of the graphics library, registered with the object registry: clip
    // regions (35), pointers (36) and asynchronous drawing objects (37).
    qvObjectHeader* clipRegions = nullptr;
    qvObjectHeader* pointers = nullptr;
    qvObjectHeader* asyncDraws = nullptr;

    // The index maps of bilinear scaling; FreeScaleTables frees them at shutdown.
    ScaleMaps scaleMaps;

    // The installed display host, or one that never has a display.
    BlitHost& Host();
    void SetHost(BlitHost* host);

    // The temporary plane of SafeBlt, grown to at least bytes (contents undefined) and never
    // shrunk; none when it cannot grow, and then it is gone, so that no later call uses a
    // freed buffer.
    uint8_t* TempPlane(size_t bytes);
    size_t TempPlaneSize() const { return tempSize_; }

    // The pseudo-display: a cleared display whose output target is a brush. It stands in as
    // the current display for offscreen blits while no display exists. 0 or ERR_MEM.
    int CreatePseudoDisplay();
    qvDisplay* PseudoDisplay() const;
    // A display's view: the pseudo-display's own, else the host's.
    DisplayView View(const qvDisplay* display);

    // Frees the temporary plane and the pseudo-display (shutdown).
    void Free();

private:
    BlitHost* host_ = nullptr;
    uint8_t* tempPlane_ = nullptr;
    size_t tempSize_ = 0;
    DisplayView* pseudo_ = nullptr;
};

GraphicsState& Graphics();

}  // namespace qv::gfx
