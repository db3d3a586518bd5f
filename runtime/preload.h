// Preload: the applet's declarations become calls of the matching script commands, by name,
// with the arguments and option table a script would pass, so that preloaded objects are
// ordinary objects of their libraries. Displays are created last, with "CreateDisplay".
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/attributes.h"
#include "runtime/runtime_state.h"

// Checks the required plugins, adds the default display when the applet declares none,
// merges the command line's display style into the display items (unless the applet locked
// its settings), lets pictures of one file share one load, then calls one command per item
// and one "CreateDisplay" per display. Leaves attributes 6 (preloading), 23 (script
// locations) and 2 (quiet) set for the caller to restore. Returns 0 or the first error; after
// a failing command the current line and command name are the item's, so that the report
// names its source line.
int PreloadApplet(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options);

namespace qv {

// Sets one global attribute (start-up and preload switch them one at a time).
inline void SetAttr(qvVmState* L, uint32_t tag, int32_t value) {
    const qvAttrSet tags[] = {{tag, value}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
}

}  // namespace qv
