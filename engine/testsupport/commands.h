// The harness commands and the line hook of a listing run.
#pragma once

#include <string>
#include <vector>

#include "engine/testsupport/listing.h"

namespace qv {

// What the commands of one run share; it must outlive the engine, whose finalizers may still
// call them.
struct HarnessContext {
    ListingHost* host = nullptr;
    std::vector<std::string>* log = nullptr;  // nullptr: reports go nowhere
    bool rejumpDone = false;                  // rejumplabel() alternates between -2 and 0
};

// Registers the harness commands as lower-case globals and keeps context in the registry.
void RegisterHarnessCommands(qvVmState* L, HarnessContext* context);
// The line hook of ";! hook line": logs "@line N".
void HarnessLineHook(qvVmState* L, qvDebugRecord* ar, int* status);

}  // namespace qv
