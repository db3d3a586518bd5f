// The start-up records that the applet loader fills, made as the player makes them: cleared,
// with the display defaults, and registered as "applet" and "clargs". Free of GoogleTest, so
// that the fuzz target and the self-loading program use them too.
#pragma once

#include "engine/vm.h"
#include "platform/linux/memory.h"
#include "runtime/applet_loader.h"
#include "runtime/runtime_state.h"

namespace qv::testing {

struct LoaderRecords {
    explicit LoaderRecords(qvVmState* L)
        : options(static_cast<qvStartupOptions*>(AllocMemBlock(sizeof(qvStartupOptions), 1))),
          header(static_cast<qvScriptHeader*>(AllocMemBlock(sizeof(qvScriptHeader), 1))) {
        SetDisplayDefaults(header, options);
        SetRegistryPointer(L, "applet", header);
        SetRegistryPointer(L, "clargs", options);
    }
    LoaderRecords(const LoaderRecords&) = delete;
    LoaderRecords& operator=(const LoaderRecords&) = delete;
    ~LoaderRecords() {
        FreeAppletData(header);
        FreeMemBlock(header);
        FreeMemBlock(options);
    }

    qvStartupOptions* const options;
    qvScriptHeader* const header;
};

}  // namespace qv::testing
