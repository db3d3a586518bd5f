// The library fixture with the string library registered.
#pragma once

#include "libs/string/string_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

class StringLib : public LibFixture {
protected:
    StringLib() : LibFixture(OpenLibraries<RegisterStringLibrary>) {}
};

}  // namespace qv::testing
