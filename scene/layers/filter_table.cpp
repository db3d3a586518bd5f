#include "scene/layers/filter_table.h"

#include <algorithm>
#include <string>

#include "engine/convert.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"
#include "runtime/strings.h"

namespace qv {

namespace {

constexpr FilterArgumentKind Int = kIntegerArgument, Lvl = kLevelArgument, Real = kRealArgument;

}  // namespace

const FilterArguments kLayerFilterArguments[kLayerFilterCount] = {
    {{Real}, {5.0}},                                      // blur
    {{Real}, {2.0}},                                      // charcoal
    {{Int, Int}, {1, 1}},                                 // contrast
    {{Real}, {5.0}},                                      // edge
    {{Real}, {5.0}},                                      // emboss
    {{Real, Real, Real}, {1.0, 1.0, 1.0}},                // gamma
    {{}, {}},                                             // grayscale
    {{}, {}},                                             // invert
    {{Real, Real, Real}, {100.0, 100.0, 100.0}},          // modulate
    {{Int}, {1}},                                         // monochrome
    {{Real}, {2.0}},                                      // oilpaint
    {{Int}, {10}},                                        // pixelate
    {{Lvl}, {204}},                                       // sepiatone
    {{Real}, {5.0}},                                      // sharpen
    {{Lvl}, {128}},                                       // solarize
    {{Int}, {180}},                                       // swirl
    {{Int, Lvl}, {0xFFFFFF, 128}},                        // tint
    {{Int, Int, Int, Real, Real}, {32, 1, 0, 0.5, 0.5}},  // waterripple
    {{}, {}},                                             // xflip
    {{}, {}},                                             // yflip
};

bool AnyMovingFilter(const qvLayerFilter slots[kLayerFilterCount]) {
    for (int slot :
         {kFilterPixelate, kFilterSwirl, kFilterWaterRipple, kFilterXFlip, kFilterYFlip}) {
        if (slots[slot].enabled != 0) return true;
    }
    return false;
}

bool AnyFilterEnabled(const qvLayerFilter slots[kLayerFilterCount]) {
    return std::any_of(slots, slots + kLayerFilterCount,
                       [](const qvLayerFilter& f) { return f.enabled != 0; });
}

namespace {

// The number (or numeric text) on top of the stack, or ERR_NUMTABLEARG naming the field.
int TopNumber(qvVmState* L, const char* field, double* value) {
    if (VmIsNumber(L, -1) == 0) return ErrorWithText(ERR_NUMTABLEARG, field);
    *value = VmToNumber(L, -1);
    return 0;
}

// The field of the table on top of the stack as a number; absent leaves *value.
int ReadNumberField(qvVmState* L, const char* field, double* value) {
    VmPushString(L, field);
    VmGetTable(L, -2);
    const int code = VmType(L, -1) != VM_TNIL ? TopNumber(L, field, value) : 0;
    VmSetTop(L, -2);
    return code;
}

// One argument of the kind from the value on top of the stack.
int ReadArgument(qvVmState* L, FilterArgumentKind kind, int table, double* value) {
    if (kind != kLevelArgument) return TopNumber(L, "args", value);
    *value = ReadNumberOrPercent(L, -1, table, 255, 0, nullptr);
    return 0;
}

// Fills the slot's arguments: those of the list on top of the stack (or none), then the
// defaults. 0 or ERR_NUMTABLEARG, with the slot unchanged.
int ReadArguments(qvVmState* L, int slotIndex, bool given, int table, qvLayerFilter* slot) {
    const FilterArguments& spec = kLayerFilterArguments[slotIndex];
    qvLayerFilter read = *slot;
    int ints = 0, reals = 0;
    bool more = given;
    for (int i = 0; i < 6 && spec.kinds[i] != kNoArgument; ++i) {
        double value = spec.defaults[i];
        if (more) {
            VmRawGetI(L, -1, i);
            more = VmType(L, -1) != VM_TNIL;
            const int code = more ? ReadArgument(L, spec.kinds[i], table, &value) : 0;
            VmSetTop(L, -2);
            if (code != 0) return code;
        }
        if (spec.kinds[i] == kRealArgument) {
            read.reals[reals++] = static_cast<float>(value);
        } else {
            read.ints[ints++] = Trunc32(value);
        }
    }
    *slot = read;
    return 0;
}

int FindFilter(const char* name) {
    for (int i = 0; i < kLayerFilterCount; ++i) {
        if (StrICmp(name, qvLayerFilterNames[i]) == 0) return i;
    }
    return -1;
}

// One entry of the list, on top of the stack.
int ReadEntry(qvVmState* L, int index, int table, qvLayerFilter slots[kLayerFilterCount]) {
    if (VmType(L, -1) != VM_TTABLE) return ErrorWithText(ERR_TABEXPECTED2, "filters");
    VmPushString(L, "name");
    VmGetTable(L, -2);
    const int nameType = VmType(L, -1);
    std::string name = nameType == VM_TSTRING ? VmToString(L, -1) : "";
    VmSetTop(L, -2);
    if (nameType == VM_TNIL) return ErrorWithText(ERR_NOFILTERNAME, std::to_string(index).c_str());
    if (nameType != VM_TSTRING) return ErrorWithText(ERR_STRTABLEARG, "name");
    const int slotIndex = FindFilter(name.c_str());
    if (slotIndex < 0) return ErrorWithText(ERR_UNKNOWNFILTER, name.c_str());
    qvLayerFilter& slot = slots[slotIndex];
    double disable = 0;
    if (int code = ReadNumberField(L, "disable", &disable)) return code;
    if (disable != 0) {
        slot.enabled = 0;
        return 0;
    }
    double priority = 0;
    if (int code = ReadNumberField(L, "priority", &priority)) return code;
    VmPushString(L, "args");
    VmGetTable(L, -2);
    const int argsType = VmType(L, -1);
    if (argsType != VM_TNIL && argsType != VM_TTABLE)
        return ErrorWithText(ERR_TABEXPECTED2, "args");
    if (int code = ReadArguments(L, slotIndex, argsType == VM_TTABLE, table, &slot)) return code;
    VmSetTop(L, -2);
    slot.enabled = 1;
    slot.priority = static_cast<uint8_t>(std::clamp(Trunc32(priority), 0, 255));
    return 0;
}

}  // namespace
}  // namespace qv

int ParseLayerFilters(qvVmState* L, int t, qvLayerFilter slots[kLayerFilterCount], int* found) {
    if (t < 0 && t > VM_REGISTRYINDEX) t = VmGetTop(L) + t + 1;
    const int top = VmGetTop(L);
    VmPushString(L, "filters");
    VmGetTable(L, t);
    int code = 0;
    if (VmType(L, -1) != VM_TNIL) {
        if (found != nullptr) *found = 1;
        if (VmType(L, -1) != VM_TTABLE) code = ErrorWithText(ERR_TABEXPECTED2, "filters");
        for (int i = 0; code == 0; ++i) {
            VmRawGetI(L, top + 1, i);
            if (VmType(L, -1) == VM_TNIL) break;
            code = qv::ReadEntry(L, i, t, slots);
            VmSetTop(L, top + 1);
        }
    }
    VmSetTop(L, top);
    return code;
}
