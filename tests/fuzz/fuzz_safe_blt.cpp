// SafeBlt cases drawn from the fuzzer's bytes (the generator of the property test): every
// case must stay inside its buffers and, within bounds, equal the naive reference.
#include <cstdint>
#include <cstdlib>

#include "tests/gfx/support/blit_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    // As many bytes as the range needs; 0 once the input is used up.
    auto pick = [&](uint32_t n) {
        uint32_t value = 0;
        for (uint32_t range = n - 1; range != 0 && at < size; range >>= 8) {
            value = value << 8 | data[at++];
        }
        return value % n;
    };
    const qv::test::BlitCase c = qv::test::MakeBlitCase(pick);
    if (!qv::test::CheckBlitCase(c).empty()) std::abort();
    return 0;
}
