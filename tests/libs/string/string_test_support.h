// The library fixture with the string library registered.
#pragma once

#include "libs/string/string_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline void OpenStringLibrary(qvVmState* L) {
    if (RegisterStringLibrary(L) != 0) RaiseError(L, ERR_MEM);
}

class StringLib : public LibFixture {
protected:
    StringLib() : LibFixture(OpenStringLibrary) {}
};

}  // namespace qv::testing
