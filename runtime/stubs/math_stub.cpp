#include "runtime/stubs/math_stub.h"

#include <cstdlib>
#include <ctime>

#include "runtime/random.h"
#include "runtime/stubs/stub_library.h"

int RegisterMathLibrary(qvVmState* L) {
    auto seconds = static_cast<uint32_t>(std::time(nullptr));
    SeedRandom48(seconds);
    std::srand(seconds);
    return qv::RegisterStubLibrary(L, "math");
}
