// The library fixture with the math library registered.
#pragma once

#include "libs/math/math_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

class MathLib : public LibFixture {
protected:
    MathLib() : LibFixture(OpenLibraries<RegisterMathLibrary>) {}
};

}  // namespace qv::testing
