// Global run-time attributes, set and read by tag lists ending in tag 0. The core keeps
// tags 1 (event time-out, ms), 2 (quiet), 6 (preloading), 11 (nested script callbacks: a
// non-zero value enters one, 0 leaves one; read gives the depth), 12 (exit on error, set
// only) and 23 (report script locations, set only); libraries add handlers for their own.
#pragma once

#include <cstdint>

#include "engine/vm.h"

enum : uint32_t {
    QV_ATTR_END = 0,
    QV_ATTR_EVENTTIMEOUT = 1,
    QV_ATTR_QUIET = 2,
    QV_ATTR_PRELOADING = 6,
    QV_ATTR_NESTEDCALLS = 11,
    QV_ATTR_EXITONERROR = 12,
    QV_ATTR_REPORTLOCATIONS = 23,
};

struct qvAttrSet {
    uint32_t tag;
    int32_t value;
};

struct qvAttrGet {
    uint32_t tag;
    int32_t* value;
};

// Handlers return non-zero when they took the tag.
using qvSetAttrHandler = int (*)(qvVmState* L, uint32_t tag, int32_t value);
using qvGetAttrHandler = int (*)(qvVmState* L, uint32_t tag, int32_t* value);

// Both return the number of pairs processed. A tag the core does not keep goes to the
// handlers of the chain in registration order until one takes it; one that none takes is
// ignored.
int SetGlobalAttrs(qvVmState* L, const qvAttrSet* tags);
int GetGlobalAttrs(qvVmState* L, const qvAttrGet* tags);

// Append a handler to its chain; 0 or ERR_MEM.
int AddSetAttrHandler(qvSetAttrHandler handler);
int AddGetAttrHandler(qvGetAttrHandler handler);

namespace qv {

// Frees both handler chains.
void FreeAttrHandlers();

// Tag 11 without a tag list, for callers that enter and leave a callback per call: one level
// more, and one less but never below 0.
void EnterCallback();
void LeaveCallback();

}  // namespace qv
