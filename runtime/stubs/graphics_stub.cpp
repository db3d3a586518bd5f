#include "runtime/stubs/graphics_stub.h"

#include "gfx/graphics_state.h"
#include "runtime/stubs/stub_library.h"

namespace qv {
namespace {

enum : uint32_t { kAttrMaskMode = 5, kAttrAlphaIntensity = 7 };

int32_t* AttrField(uint32_t tag) {
    gfx::GraphicsState& g = gfx::Graphics();
    switch (tag) {
        case kAttrMaskMode:
            return &g.maskMode;
        case kAttrAlphaIntensity:
            return &g.alphaIntensity;
        default:
            return nullptr;
    }
}

}  // namespace
}  // namespace qv

int RegisterGraphicsLibrary(qvVmState* L) {
    qv::gfx::GraphicsState& g = qv::gfx::Graphics();
    g.maskMode = qv::gfx::kMaskVisible;
    g.alphaIntensity = 128;
    return qv::RegisterStubLibrary(L, "graphics");
}

int GraphicsSetAttr(qvVmState*, uint32_t tag, int32_t value) {
    int32_t* field = qv::AttrField(tag);
    if (field == nullptr) return 0;
    *field = value;
    return 1;
}

int GraphicsGetAttr(qvVmState*, uint32_t tag, int32_t* value) {
    const int32_t* field = qv::AttrField(tag);
    if (field == nullptr) return 0;
    *value = *field;
    return 1;
}

void FlushGfxCache() {}

void FreeGraphicsObjects(qvVmState*) {
    qv::gfx::Graphics().Free();
}
