// The library fixture with the math library registered.
#pragma once

#include "libs/math/math_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline void OpenMathLibrary(qvVmState* L) {
    if (RegisterMathLibrary(L) != 0) RaiseError(L, ERR_MEM);
}

class MathLib : public LibFixture {
protected:
    MathLib() : LibFixture(OpenMathLibrary) {}
};

}  // namespace qv::testing
