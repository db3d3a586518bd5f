// The legacy label model: instead of calling a function, a click in an area, a key or the
// mouse over an area makes the script continue at a label with a fixed name
// ("ONBUTTONCLICK3", "ONKEYDOWNALL", ...). Records are kept in creation order; the
// dispatcher's label pass and hover-label check (passes.h) look for labels the script has.
#pragma once

#include <cstdint>

#include "engine/vm.h"

// Record kinds (the constants ONBUTTONOVER, ONBUTTONCLICK, ONKEYDOWN, ONBUTTONRIGHTCLICK).
enum : int32_t {
    QV_LEGACY_OVER = 1,
    QV_LEGACY_CLICK = 2,
    QV_LEGACY_KEYDOWN = 3,
    QV_LEGACY_RIGHTCLICK = 5,
};

struct qvLegacyLabel {
    qvLegacyLabel* next;
    int32_t kind;
    int32_t id;
    int32_t x1, y1, x2, y2;  // in display coordinates, inclusive (0 for key records)
    char* keyText;           // owned (key records), else none
    int32_t enabled;
};

// CreateButton(id, x1, y1, x2, y2): records of the kinds over, click and right click.
int CreateButton(qvVmState* L);
// CreateKeyDown(id, key name).
int CreateKeyDown(qvVmState* L);
int RemoveButton(qvVmState* L);
int RemoveKeyDown(qvVmState* L);
int ModifyButton(qvVmState* L);
int ModifyKeyDown(qvVmState* L);
// EnableEvent(type [, id]), DisableEvent(type [, id]): close reporting, the "all" labels, and
// the first record of that kind and id.
int EnableEvent(qvVmState* L);
int DisableEvent(qvVmState* L);
int ClearEvents(qvVmState* L);
// The id of the record that last matched an "all" label.
int GetEventCode(qvVmState* L);
// While the mouse stays in the area whose hover label was jumped to, dispatches events (no
// hover labels) until a handler runs.
int WhileMouseOn(qvVmState* L);
int BreakWhileMouseOn(qvVmState* L);
// Waits while the key of the last key label stays held.
int WhileKeyDown(qvVmState* L);

namespace qv::events {

// Frees every record (the hover record goes with them); at the end of a run the "all" flags,
// the event code and the last key are forgotten too.
void FreeLegacyLabels(bool endOfRun);

}  // namespace qv::events
