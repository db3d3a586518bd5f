#include "scene/events/legacy_labels.h"

#include <cstdio>
#include <cstring>

#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "runtime/strings.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_displays.h"
#include "scene/events/input_commands.h"
#include "scene/events/passes.h"

namespace qv::events {
namespace {

// The label constants that EnableEvent and DisableEvent take besides the record kinds.
enum : int32_t {
    kCloseWindow = 10,
    kClickAll = 11,
    kRightClickAll = 12,
    kOverAll = 13,
    kKeyDownAll = 14,
};

struct LegacyState {
    qvLegacyLabel* head = nullptr;
    bool clickAll = false, rightClickAll = false, overAll = false, keyDownAll = false;
    int32_t eventCode = 0;
    uint32_t lastKey = 0;  // the key of the last key label
    const qvLegacyLabel* hover = nullptr;
};
LegacyState legacy;

int32_t IntArg(qvVmState* L, int idx) {
    return GetOptIntArg(L, idx, nullptr);
}

// A copy of the string argument in a block of the run-time allocator; none when memory is
// short.
char* KeyTextArg(qvVmState* L, int idx) {
    size_t length = 0;
    const char* text = GetArgString(L, idx, &length);
    auto* copy = static_cast<char*>(AllocMemBlock(length + 1, 0));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

qvLegacyLabel* Append(int32_t kind, int32_t id) {
    auto* record = static_cast<qvLegacyLabel*>(AllocMemBlock(sizeof(qvLegacyLabel), 1));
    if (record == nullptr) return nullptr;
    record->kind = kind;
    record->id = id;
    record->enabled = 1;
    qvLegacyLabel** link = &legacy.head;
    while (*link != nullptr) link = &(*link)->next;
    *link = record;
    return record;
}

qvLegacyLabel* Find(int32_t kind, int32_t id) {
    for (qvLegacyLabel* r = legacy.head; r != nullptr; r = r->next) {
        if (r->kind == kind && r->id == id) return r;
    }
    return nullptr;
}

void Free(qvLegacyLabel* record) {
    for (qvLegacyLabel** link = &legacy.head; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            break;
        }
    }
    if (legacy.hover == record) legacy.hover = nullptr;
    FreeMemBlock(record->keyText);
    FreeMemBlock(record);
}

bool Inside(const qvLegacyLabel* record, DisplayPoint at) {
    return record->x1 <= at.x && at.x <= record->x2 && record->y1 <= at.y && at.y <= record->y2;
}

// The key name a key label compares with: the table's name of a special key, else the
// character.
void KeyNameOf(uint32_t code, char (&name)[32]) {
    for (int row = kFirstKeyRow; row <= kLastSpecialKeyRow; ++row) {
        if (kKeyTable[row].code == code) {
            std::snprintf(name, sizeof name, "%s", kKeyTable[row].name);
            return;
        }
    }
    std::snprintf(name, sizeof name, "%c", static_cast<char>(code));
}

// The label that a queued event raises, chosen by the first enabled record it matches; false
// when it matches none.
bool LabelOf(const qvInputEvent& event, char (&label)[64]) {
    const bool leftPress = event.type == QV_EVENT_LEFTMOUSE && event.down != 0;
    const bool rightPress = event.type == QV_EVENT_RIGHTMOUSE && event.down != 0;
    const bool keyPress = event.type == QV_EVENT_KEY && event.keyDown != 0;
    if (!leftPress && !rightPress && !keyPress) return false;
    const DisplayPoint at =
        Displays().ToDisplay(event.display, static_cast<int32_t>(event.x),
                             static_cast<int32_t>(event.y), Rounding::kTowardZero);
    char keyName[32] = "";
    if (keyPress) KeyNameOf(event.keyCode, keyName);
    for (const qvLegacyLabel* r = legacy.head; r != nullptr; r = r->next) {
        if (r->enabled == 0) continue;
        const char* all = nullptr;
        const char* numbered = nullptr;
        bool allFlag = false;
        if (r->kind == QV_LEGACY_CLICK && leftPress && Inside(r, at)) {
            all = "ONBUTTONCLICKALL", numbered = "ONBUTTONCLICK%d", allFlag = legacy.clickAll;
        } else if (r->kind == QV_LEGACY_RIGHTCLICK && rightPress && Inside(r, at)) {
            all = "ONBUTTONRIGHTCLICKALL", numbered = "ONBUTTONRIGHTCLICK%d";
            allFlag = legacy.rightClickAll;
        } else if (r->kind == QV_LEGACY_KEYDOWN && keyPress && r->keyText != nullptr &&
                   StrICmp(keyName, r->keyText) == 0) {
            all = "ONKEYDOWNALL", numbered = "ONKEYDOWN%d", allFlag = legacy.keyDownAll;
            legacy.lastKey = event.keyCode;
        } else {
            continue;
        }
        if (allFlag) {
            legacy.eventCode = r->id;
            std::snprintf(label, sizeof label, "%s", all);
        } else {
            std::snprintf(label, sizeof label, numbered, static_cast<int>(r->id));
        }
        return true;
    }
    return false;
}

// Continues the script at the label when it has one.
bool JumpTo(qvVmState* L, const char* label) {
    const int position = LookupLabel(L, label);
    if (position < 0) return false;
    SetLabelJump(L, position);
    return true;
}

// EnableEvent and DisableEvent.
int SetEvent(qvVmState* L, bool on) {
    CheckArgCount(L, 1, 2);
    const int32_t type = IntArg(L, 1);
    const int32_t id = IntArg(L, 2);
    switch (type) {
        case kCloseWindow:
            if (qvDisplay* display = Displays().CurrentDisplay()) {
                Displays().SetCloseReporting(display, on);
            }
            break;
        case kClickAll:
            legacy.clickAll = on;
            break;
        case kRightClickAll:
            legacy.rightClickAll = on;
            break;
        case kOverAll:
            legacy.overAll = on;
            break;
        case kKeyDownAll:
            legacy.keyDownAll = on;
            break;
        default:
            break;
    }
    if (qvLegacyLabel* record = Find(type, id)) record->enabled = on ? 1 : 0;
    return 0;
}

void SetArea(qvLegacyLabel* record, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    record->x1 = x1, record->y1 = y1, record->x2 = x2, record->y2 = y2;
}

constexpr int32_t kButtonKinds[] = {QV_LEGACY_OVER, QV_LEGACY_CLICK, QV_LEGACY_RIGHTCLICK};

}  // namespace

void FreeLegacyLabels(bool endOfRun) {
    while (legacy.head != nullptr) Free(legacy.head);
    if (endOfRun) legacy = {};
}

bool LegacyLabelsExist() {
    return legacy.head != nullptr;
}

int LegacyLabelPass(qvVmState* L, qvEventMessage*) {
    qvInputEvent event{};
    for (int index = 0; GetEvent(L, index, &event, 0) != 0; ++index) {
        char label[64];
        if (event.display == nullptr || !LabelOf(event, label) || !JumpTo(L, label)) continue;
        RemoveEvents(L, index, 1);
        return -1;
    }
    return 0;
}

int LegacyHoverCheck(qvVmState* L, qvEventMessage*) {
    const DisplayPoint mouse = MouseInDisplay(Displays().CurrentDisplay());
    for (const qvLegacyLabel* r = legacy.head; r != nullptr; r = r->next) {
        if (r->enabled == 0 || r->kind != QV_LEGACY_OVER || !Inside(r, mouse)) continue;
        legacy.hover = r;
        char label[64];
        if (legacy.overAll) {
            legacy.eventCode = r->id;
            std::snprintf(label, sizeof label, "ONBUTTONOVERALL");
        } else {
            std::snprintf(label, sizeof label, "ONBUTTONOVER%d", static_cast<int>(r->id));
        }
        if (JumpTo(L, label)) return -1;
    }
    return 0;
}

}  // namespace qv::events

using namespace qv::events;

int CreateButton(qvVmState* L) {
    CheckArgCount(L, 5, 5);
    const int32_t id = IntArg(L, 1);
    const int32_t x1 = IntArg(L, 2), y1 = IntArg(L, 3), x2 = IntArg(L, 4), y2 = IntArg(L, 5);
    for (int32_t kind : kButtonKinds) {
        if (qvLegacyLabel* record = Append(kind, id)) SetArea(record, x1, y1, x2, y2);
    }
    return 0;
}

int CreateKeyDown(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t id = IntArg(L, 1);
    char* text = KeyTextArg(L, 2);
    if (text == nullptr) return ERR_MEM;
    qvLegacyLabel* record = Append(QV_LEGACY_KEYDOWN, id);
    if (record == nullptr) {
        FreeMemBlock(text);
        return ERR_MEM;
    }
    record->keyText = text;
    return 0;
}

int RemoveButton(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const int32_t id = IntArg(L, 1);
    for (int32_t kind : kButtonKinds) {
        if (qvLegacyLabel* record = Find(kind, id)) Free(record);
    }
    return 0;
}

int RemoveKeyDown(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (qvLegacyLabel* record = Find(QV_LEGACY_KEYDOWN, IntArg(L, 1))) Free(record);
    return 0;
}

int ModifyButton(qvVmState* L) {
    CheckArgCount(L, 5, 5);
    const int32_t id = IntArg(L, 1);
    const int32_t x1 = IntArg(L, 2), y1 = IntArg(L, 3), x2 = IntArg(L, 4), y2 = IntArg(L, 5);
    for (int32_t kind : kButtonKinds) {
        if (qvLegacyLabel* record = Find(kind, id)) SetArea(record, x1, y1, x2, y2);
    }
    return 0;
}

int ModifyKeyDown(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvLegacyLabel* record = Find(QV_LEGACY_KEYDOWN, IntArg(L, 1));
    if (record == nullptr) return 0;
    char* text = KeyTextArg(L, 2);
    if (text == nullptr) return ERR_MEM;
    SetArea(record, 0, 0, 0, 0);
    FreeMemBlock(record->keyText);
    record->keyText = text;
    return 0;
}

int EnableEvent(qvVmState* L) {
    return SetEvent(L, true);
}

int DisableEvent(qvVmState* L) {
    return SetEvent(L, false);
}

int ClearEvents(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    FreeLegacyLabels(false);
    return 0;
}

int GetEventCode(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, legacy.eventCode);
    return 1;
}

int WhileMouseOn(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    // Dispatching from inside a handler would overwrite the state the outer dispatch resumes.
    if (CallbackDepth() != 0) return ERR_WRONGUSAGE;
    qvEventMessage message;
    while (legacy.hover != nullptr &&
           Inside(legacy.hover, MouseInDisplay(Displays().CurrentDisplay()))) {
        if (message.kind != QV_MSG_NONE) return 0;
        // An error, or -1 when a click or key label was found: the script continues there.
        if (const int code = DispatchEvent(L, 1, &message)) return code;
        if (message.kind == QV_MSG_NONE) WaitSignals(L, -1);
        if (PumpEvents(L) != 0) return 0;
    }
    return 0;
}

int BreakWhileMouseOn(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    legacy.hover = nullptr;
    return 0;
}

int WhileKeyDown(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    while (const qvDisplay* display = Displays().CurrentDisplay()) {
        if (!Displays().KeyDown(display, legacy.lastKey) || WaitForInput(L)) break;
    }
    return 0;
}
