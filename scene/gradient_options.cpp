#include "scene/gradient_options.h"

#include <utility>

#include "engine/convert.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"

namespace qv::scene {
namespace {

// What index i of the table on top of the stack holds; a number goes to *value.
enum class Entry { kMissing, kNumber, kOther };

Entry ReadEntry(qvVmState* L, int i, double* value) {
    VmRawGetI(L, -1, i);
    Entry entry = Entry::kOther;
    if (VmType(L, -1) == VM_TNIL) {
        entry = Entry::kMissing;
    } else if (VmType(L, -1) == VM_TNUMBER) {
        *value = VmToNumber(L, -1);
        entry = Entry::kNumber;
    }
    VmSetTop(L, -2);
    return entry;
}

int NumberExpected(const char* key) {
    SetErrorString(key);
    return ERR_NUMTABLEARG;
}

// The stops of the table on top of the stack.
int ReadStops(qvVmState* L, qvGradient* gradient, const char* key) {
    int32_t count = 0;
    for (;; ++count) {
        double colour = 0, position = 0;
        const Entry first = ReadEntry(L, 2 * count, &colour);
        if (first == Entry::kMissing) break;
        if (count == gfx::kMaxGradientStops) return ERR_INTERNAL;
        if (first != Entry::kNumber) return NumberExpected(key);
        const Entry second = ReadEntry(L, 2 * count + 1, &position);
        if (second == Entry::kMissing) return ERR_MISSINGPARAMTR;
        if (second != Entry::kNumber) return NumberExpected(key);
        if (!(position >= 0 && position <= 1)) return ERR_WRONGUSAGE;
        gradient->stops[count] = {Bits32(colour), position};
    }
    if (count == 1) return ERR_WRONGUSAGE;
    if (count > 1) gradient->stopCount = count;
    return 0;
}

// A fraction field of the table; ERR_WRONGUSAGE outside 0 to 1.
int ReadFraction(qvVmState* L, int t, const char* key, double* value) {
    GetTableFieldNumber(L, t, key, value, nullptr);
    return *value >= 0 && *value <= 1 ? 0 : ERR_WRONGUSAGE;
}

uint32_t ReadColour(qvVmState* L, int t, const char* key, uint32_t colour) {
    GetTableFieldBool(L, t, key, &colour, nullptr);
    return colour;
}

}  // namespace
}  // namespace qv::scene

using namespace qv::scene;

int BuildGradientStops(qvVmState* L, int t, qvGradient* gradient, const GradientKeys& keys) {
    if (t < 0) t = VmGetTop(L) + t + 1;
    if (gradient->style == qv::gfx::RADIAL || gradient->style == qv::gfx::CONICAL) {
        for (auto [key, value] : {std::pair{keys.centreX, &gradient->centreX},
                                  {keys.centreY, &gradient->centreY},
                                  {keys.balance, &gradient->balance},
                                  {keys.border, &gradient->border}}) {
            if (int code = ReadFraction(L, t, key, value)) return code;
        }
    }
    VmPushString(L, keys.colours);
    VmGetTable(L, t);
    int code = 0;
    if (VmType(L, -1) == VM_TTABLE) {
        code = ReadStops(L, gradient, keys.colours);
    } else if (VmType(L, -1) != VM_TNIL) {
        SetErrorString(keys.colours);
        code = ERR_TABEXPECTED2;
    }
    VmSetTop(L, -2);
    return code;
}

int ParseGradientTags(qvVmState* L, int t, qvGradient* gradient) {
    GetTableFieldInt(L, t, "gradientstyle", &gradient->style, nullptr);
    if (gradient->style < qv::gfx::LINEAR || gradient->style > qv::gfx::CONICAL) {
        return ERR_WRONGUSAGE;
    }
    gradient->startColour = ReadColour(L, t, "gradientstartcolor", gradient->startColour);
    gradient->endColour = ReadColour(L, t, "gradientendcolor", gradient->endColour);
    GetTableFieldInt(L, t, "gradientangle", &gradient->angle, nullptr);
    return BuildGradientStops(L, t, gradient, kGradientTagKeys);
}

int ParseGradientOptions(qvVmState* L, qvGradient* gradient, int angleIdx) {
    switch (gradient->style) {
        case 0:
        case 1:
            gradient->angle = gradient->style == 1 ? 90 : 0;
            gradient->style = qv::gfx::LINEAR;
            break;
        case qv::gfx::LINEAR:
        case qv::gfx::CONICAL:
            gradient->angle = qv::Trunc32(GetOptArgNumber(L, angleIdx, 0));
            break;
        case qv::gfx::RADIAL:
            break;
        default:
            return ERR_WRONGUSAGE;
    }
    const int tableIdx = angleIdx + 1;
    if (VmType(L, tableIdx) <= VM_TNIL) return 0;
    CheckArgTable(L, tableIdx);
    return BuildGradientStops(L, tableIdx, gradient, kGradientOptionKeys);
}
