// Start-up of a run: the platform, the catalog, the command line, the banner, the core's
// support services, the registry entries and the 22 command libraries.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/applet_loader.h"
#include "runtime/player.h"

// The run-time's CRC-32 table: the reflected rule with polynomial 0xEDB88320.
extern const std::array<uint32_t, 256> qvCrc32Table;

// Returns 0 or the code that ends start-up. Libraries register in table order, each under
// the engine's protection with the globals table pushed and the stack emptied afterwards.
int InitAndParseArgs(const qv::PlayerRun& run, const qvAppletLink& link, int argc,
                     const char* const* argv);

// Runs one library's initialiser as start-up does: under the engine's protection with the
// globals table pushed, the stack emptied afterwards; 0 or the code it returned or raised.
int RegisterLibrary(qvVmState* L, int (*initialise)(qvVmState* L));

// Runs the loaded main function (on top of the stack) in one protected call with no
// arguments and no results; 0 or the code the script ended with.
int RunMainChunk(qvVmState* L);
