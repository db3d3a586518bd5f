// The pictures a call makes, freed with the holder. Free of GoogleTest, so that the fuzz
// targets use it too.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

namespace qv::test {

// The pictures a call makes (and their size where it reports one), freed at the end of the test.
struct Outputs {
    Outputs() = default;
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    ~Outputs() {
        FreeDisplayBitMap(bitmap);
        FreePlaneBitMap(mask);
        FreePlaneBitMap(alpha);
    }
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    int32_t width = 0, height = 0;
};

}  // namespace qv::test
