// What the command fuzzers share: the fuzzer's bytes read one at a time, and the check that
// ends a run when a rule is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace qv::fuzz {

struct ByteInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool More() const { return at < size; }
    // The next byte; 0 once the input is used up.
    uint8_t Byte() { return at < size ? data[at++] : 0; }
};

inline void Check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace qv::fuzz
