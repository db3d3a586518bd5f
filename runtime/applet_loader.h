// The applet container and its loader. An applet reaches the run-time appended to the
// program file, found through the link record below, or as a file named on the command
// line; plain ("QVA") or compressed ("QVZ"). LoadApplet reads its tagged sections into the
// script header until the program chunk has been read.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/runtime_state.h"

// The link record in the program image, 45 bytes. The tool that appends an applet finds it
// by its marker (which must occur exactly once in the program) and overwrites the offset.
struct qvAppletLink {
    char signature[32];  // the maker's name, NUL-padded
    uint8_t offset[4];   // big-endian start of the appended applet; 0xDEADC0DE: none
    uint8_t marker[8];   // C0 DE CA FE C0 CA C0 1A
    uint8_t zero;
};
static_assert(sizeof(qvAppletLink) == 45);

// Opens the applet (options' applet path, at the run's link offset when an applet is linked
// to the program), unpacks a compressed one into a temporary file, and reads its sections
// into header. Returns 0 or an error code; what was read before an error stays in header.
int LoadApplet(qvVmState* L, qvStartupOptions* options, qvScriptHeader* header);

namespace qv {

inline constexpr uint32_t kNoLinkedApplet = 0xDEADC0DE;

// Frees what loading put into header (the program chunks, the preload items, the linked
// files and the source line map) and empties those fields.
void FreeAppletData(qvScriptHeader* header);

// A copy of the program's link record, read so that the compiler cannot assume its value.
qvAppletLink ReadAppletLink();
// The offset word of a link record.
uint32_t LinkOffsetOf(const qvAppletLink& link);

}  // namespace qv
