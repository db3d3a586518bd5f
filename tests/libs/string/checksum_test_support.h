// The library fixture with the checksum commands registered: MD5 and CRC32 belong to the dos
// library's table, so a table of their own registers them beside MD5Str and CRC32Str.
#pragma once

#include "libs/string/checksum.h"
#include "libs/string/commands.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline void OpenChecksumCommands(qvVmState* L) {
    static constexpr qvCommandEntry kCommands[] = {
        {"MD5Str", MD5Str}, {"CRC32Str", CRC32Str}, {"MD5", MD5},
        {"CRC32", CRC32},   {nullptr, nullptr},
    };
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kCommands, 0);
    VmSetTop(L, -2);
}

class ChecksumLib : public LibFixture {
protected:
    ChecksumLib() : LibFixture(OpenChecksumCommands) {}
};

}  // namespace qv::testing
