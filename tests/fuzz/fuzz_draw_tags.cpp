// Drawing tags come from scripts: any table must parse into blocks whose values stay in their
// ranges, or fail with an error code, and the sizes they give must compute without undefined
// conversions. Input: a flag byte (the parser's flags), two bytes of object size, then the
// table, built from the bytes as keys (mostly the tags' own) and values of every kind.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "objects/draw_tags.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"

namespace {

constexpr const char* kKeys[] = {
    "transform",    "scalex",      "scaley",   "width",       "height",       "rotate",
    "smoothscale",  "anchorx",     "anchory",  "hidden",      "transparency", "tint",
    "tintcolor",    "insertpos",   "shadow",   "shadowcolor", "shadowdir",    "shadowsize",
    "shadowradius", "shadowsigma", "border",   "bordercolor", "bordersize",   "filters",
    "name",         "args",        "priority", "disable",     "blur",         "waterripple"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    double Number() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
};

void PushValue(qvVmState* L, Input* in, int depth);

// A table of up to 8 entries: some at indices from 0 (lists), some under keys.
void PushTable(qvVmState* L, Input* in, int depth) {
    VmNewTable(L);
    const int count = in->Byte() % 9;
    for (int i = 0; i < count && in->More(); ++i) {
        const uint8_t key = in->Byte();
        if (key & 0x80) {
            VmPushNumber(L, i);
        } else {
            VmPushString(L, kKeys[key % kKeyCount]);
        }
        PushValue(L, in, depth + 1);
        VmRawSet(L, -3);
    }
}

void PushValue(qvVmState* L, Input* in, int depth) {
    switch (in->Byte() % 8) {
        case 0:
            VmPushNumber(L, in->Number());
            break;
        case 1:
            VmPushNumber(L, static_cast<int8_t>(in->Byte()) * 37);
            break;
        case 2: {
            char text[8];
            const int n = std::snprintf(text, sizeof text, "%d%%", in->Byte());
            VmPushLString(L, text, static_cast<size_t>(n));
            break;
        }
        case 3: {
            const size_t length = in->Byte() * 3u;
            const size_t take = length < in->size - in->at ? length : in->size - in->at;
            VmPushLString(L, reinterpret_cast<const char*>(in->data + in->at), take);
            in->at += take;
            break;
        }
        case 4:
            VmPushString(L, kKeys[in->Byte() % kKeyCount]);
            break;
        case 5:
            VmPushBoolean(L, in->Byte() & 1);
            break;
        case 6:
            if (depth < 4) {
                PushTable(L, in, depth);
                break;
            }
            [[fallthrough]];
        default:
            VmPushNil(L);
            break;
    }
}

struct Run {
    Input* in;
    int flags;
    int32_t width, height;
};

void Check(bool holds) {
    if (!holds) __builtin_trap();
}

int Parse(qvVmState* L) {
    const Run* run = static_cast<const Run*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    PushTable(L, run->in, 0);
    qvDrawTransform transform;
    qvDrawStyle style;
    const int code = ParseDrawTags(L, 1, run->width, run->height, 0, 0, 1, &transform, &style,
                                   run->flags | QV_DRAWTAGS_RESET);
    if (code != 0) return 0;
    Check(style.transparency >= 0 && style.transparency <= 255);
    Check(style.shadow.direction >= 0 && style.shadow.direction <= 7);
    Check(style.shadow.size >= 0);
    Check(style.border.on == 0 || style.border.size >= 1);
    Check(transform.anchorx >= 0 && transform.anchorx <= 1);
    Check(transform.anchory >= 0 && transform.anchory <= 1);
    Check(std::memchr(style.name, '\0', sizeof style.name) != nullptr);
    Check(style.insertpos >= 0);
    int32_t width = 0, height = 0;
    if (TransformedSize(transform.matrix, run->width, run->height, &width, &height) == 0) {
        Check(width >= 1 && width <= 32768 && height >= 1 && height <= 32768);
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Input in{data + 3, size - 3};
    Run run{&in, data[0] & 0x1E, data[1] * 40, data[2] * 40};
    VmCPCall(L, Parse, &run);
    VmClose(L);
    qv::FreeObjectRegistry();
    return 0;
}
