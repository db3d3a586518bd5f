// What the scene fuzzers share beside the byte input: the planes of the image layers they show.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_input.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::fuzz {

// A 9 x 7 image of a colour by kind: plain, with a mask or with an alpha plane.
inline qv::test::Planes KindPlanes(int kind) {
    qv::test::Planes p = qv::test::Solid(9, 7, 0x102030u * uint32_t(kind + 1));
    if (kind % 3 == 1) {
        p.mask.resize(size_t(p.width) * p.height);
        for (size_t i = 0; i < p.mask.size(); ++i) p.mask[i] = uint8_t(i % 2);
    } else if (kind % 3 == 2) {
        p.alpha.resize(size_t(p.width) * p.height);
        for (size_t i = 0; i < p.alpha.size(); ++i) p.alpha[i] = uint8_t(i * 37);
    }
    return p;
}

}  // namespace qv::fuzz
