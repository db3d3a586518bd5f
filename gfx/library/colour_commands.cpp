// Colours, frame limits, picture probing and snapshots.
#include <algorithm>
#include <array>
#include <cstdint>

#include "engine/convert.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/commands.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/neighbours.h"
#include "gfx/save_picture.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/files.h"
#include "runtime/image_handles.h"
#include "runtime/option_tables.h"
#include "runtime/random.h"

namespace qv::gfx {
namespace {

enum : int32_t { kSnapWindow = 0, kSnapDisplay = 1, kSnapDesktop = 2 };

// The run of 0xRGB colours from (steps x unit) down to (last x unit).
template <size_t N>
constexpr void Ramp(std::array<uint16_t, N>& table, size_t& at, uint16_t unit, int first,
                    int last) {
    for (int k = first; k >= last; --k) table[at++] = static_cast<uint16_t>(k * unit);
}

constexpr uint16_t kFirstColours[] = {
    0xCCC, 0x000, 0xFFF, 0x888, 0xA20, 0xD50, 0xEB0, 0x080, 0x6B0, 0x170, 0x5BC, 0x367, 0x07B,
    0x048, 0xE88, 0xB55, 0xE72, 0xC64, 0x820, 0xFB7, 0x90F, 0x60C, 0xB70, 0x950, 0xFA5, 0xD84,
    0x9B9, 0x686, 0x4A7, 0x175, 0x333, 0xEEE, 0x666, 0x000, 0x777, 0x240, 0x620, 0x510, 0x750,
    0x540, 0x350, 0x030, 0x256, 0x133, 0x035, 0x024, 0x744, 0x522, 0x731, 0x632, 0x410, 0x753,
    0x407, 0x306, 0x530, 0x420, 0x752, 0x642, 0x454, 0x343, 0x253, 0x032, 0x111, 0x777};
constexpr uint16_t kLastColours[] = {
    0xF77, 0xF87, 0xFA7, 0xFB7, 0xFC7, 0xFD7, 0xFF7, 0xEF7, 0xDF7, 0xBF7, 0xAF7, 0x9F7, 0x8F7,
    0x7F8, 0x7F9, 0x7FA, 0x7FC, 0x7FD, 0x7FE, 0x7EF, 0x7DF, 0x7CF, 0x7BF, 0x79F, 0x78F, 0x77F,
    0x97F, 0xA7F, 0xB7F, 0xC7F, 0xE7F, 0xF7F, 0xF00, 0xF20, 0xF50, 0xF70, 0xFA0, 0xFC0, 0xFE0,
    0xDF0, 0xBF0, 0x8F0, 0x6F0, 0x3F0, 0x1F0, 0x0F1, 0x0F4, 0x0F6, 0x0F9, 0x0FB, 0x0FD, 0x0EF,
    0x0BF, 0x09F, 0x07F, 0x04F, 0x02F, 0x00F, 0x30F, 0x50F, 0x80F, 0xA0F, 0xC0F};
// Between them: yellow, red, green and blue ramps, cyan and magenta ramps, FFF to FF0 and
// the greys FFF to 111.
constexpr size_t kRampColours = 15 + 15 + 15 + 14 + 15 + 15 + 16 + 15;

constexpr auto kRandomColours = [] {
    std::array<uint16_t, std::size(kFirstColours) + kRampColours + std::size(kLastColours)> t{};
    size_t at = 0;
    for (uint16_t c : kFirstColours) t[at++] = c;
    Ramp(t, at, 0x110, 15, 1);
    Ramp(t, at, 0x100, 15, 1);
    Ramp(t, at, 0x010, 15, 1);
    Ramp(t, at, 0x001, 15, 2);
    Ramp(t, at, 0x011, 15, 1);
    Ramp(t, at, 0x101, 15, 1);
    for (int k = 15; k >= 0; --k) t[at++] = static_cast<uint16_t>(0xFF0 + k);
    Ramp(t, at, 0x111, 15, 1);
    for (uint16_t c : kLastColours) t[at++] = c;
    return t;
}();
// The table has one colour more than the draw reaches (the index is below 246).
constexpr int32_t kRandomColourRange = 246;
static_assert(kRandomColours.size() >= kRandomColourRange);

int PushUnsigned(qvVmState* L, uint32_t value) {
    VmPushNumber(L, value);
    return 1;
}

// The picture of a snapshot: the window, the desktop, or the background picture as shown.
int GrabSnapshot(qvVmState* L, int32_t type, OwnedBitMap* bitmap, int32_t* width, int32_t* height) {
    if (type == kSnapDisplay) {
        qvDisplayBitMap* rendered = nullptr;
        const int code = Neighbour().RenderBGPicBitmap(L, &rendered, width, height);
        bitmap->reset(rendered);
        return code;
    }
    const qvPlatformDisplay* window = nullptr;
    if (type == kSnapWindow) {
        window = Graphics().View(Graphics().Host().CurrentDisplay()).window;
        // A closed display keeps its window record, but there is nothing to grab.
        if (!WindowIsOpen(window)) return ERR_WINDOW;
    } else if (type != kSnapDesktop) {
        return ERR_WRONGUSAGE;
    }
    bitmap->reset(GrabScreenToBitMap(window, 0, 0, INT32_MAX, INT32_MAX));
    if (*bitmap == nullptr) return ERR_MEM;
    *width = (*bitmap)->width;
    *height = (*bitmap)->height;
    return 0;
}

}  // namespace

int32_t RandomColorCount() {
    return kRandomColourRange;
}

uint32_t RandomColorAt(int32_t index) {
    const uint32_t c = kRandomColours[index];
    const uint32_t r = c >> 8, g = (c >> 4) & 15, b = c & 15;
    return (r * 0x11) << 16 | (g * 0x11) << 8 | b * 0x11;
}

}  // namespace qv::gfx

using namespace qv::gfx;

int Red(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushUnsigned(L, (GetArgUInt32(L, 1) >> 16) & 255);
}

int Green(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushUnsigned(L, (GetArgUInt32(L, 1) >> 8) & 255);
}

int Blue(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushUnsigned(L, GetArgUInt32(L, 1) & 255);
}

// The channels are not masked: a value above 255 runs into the next channel, as scripts
// have always seen it.
int RGB(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const auto r = static_cast<uint32_t>(qv::Trunc32(GetArgNumber(L, 1)));
    const auto g = static_cast<uint32_t>(qv::Trunc32(GetArgNumber(L, 2)));
    const auto b = static_cast<uint32_t>(qv::Trunc32(GetArgNumber(L, 3)));
    return PushUnsigned(L, r << 16 | g << 8 | b);
}

int ARGB(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const auto alpha = static_cast<uint32_t>(qv::Trunc32(GetArgNumber(L, 1)));
    return PushUnsigned(L, alpha << 24 | GetArgUInt32(L, 2));
}

// A ratio outside 0..255 would push channels out of their byte into their neighbours.
int MixRGB(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const uint32_t first = GetArgUInt32(L, 1), second = GetArgUInt32(L, 2);
    const double ratio = GetNumberOrPercentArg(L, 3, 255, 0, nullptr);
    if (!(ratio >= 0 && ratio <= 255)) return ERR_WRONGUSAGE;
    return PushUnsigned(L, BlendRGB(first, second, static_cast<int32_t>(ratio)));
}

// Every display shows the screen's format on this platform.
int GetRealColor(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const uint32_t colour = GetArgUInt32(L, 1);
    switch (QueryBitMapAttr(nullptr, 21)) {
        case 15:
            return PushUnsigned(L, colour & 0xFFF8F8F8);
        case 16:
            return PushUnsigned(L, colour & 0xFFF8FCF8);
        default:
            return PushUnsigned(L, colour);
    }
}

int GetPen(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvARGB* palette = Graphics().Host().CurrentOutputPicture().palette;
    if (palette == nullptr) return PushUnsigned(L, 0xFFFFFFFF);
    return PushUnsigned(L, palette[std::clamp(GetOptIntArg(L, 1, nullptr), 0, 255)]);
}

int GetRandomColor(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const auto index = static_cast<int32_t>(GetRandom48() * RandomColorCount());
    return PushUnsigned(L, RandomColorAt(index));
}

int VWait(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    PlatformWaitVBlank(L, Graphics().View(Graphics().Host().CurrentDisplay()).window);
    return 0;
}

int SetFPSLimit(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    SetRuntimeOption(nullptr, 16, static_cast<uintptr_t>(std::max(GetOptIntArg(L, 1, nullptr), 0)));
    return 0;
}

int GetFPSLimit(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, static_cast<double>(QueryBitMapAttr(nullptr, 16)));
    return 1;
}

int DumpVideoTime(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    if (!Neighbour().VideoDumpRecording()) {
        VmPushNumber(L, -1);
        return 1;
    }
    const qvVideoDumpState& dump = qv::VideoDumpState();
    VmPushNumber(L, dump.elapsedSeconds * 1000.0 + dump.elapsedMicroseconds / 1000);
    return 1;
}

int IsPicture(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* file = GetStringArgResolved(L, 1, 0, nullptr);
    qvPictureFormat format{};
    int vector = 0;
    const bool ok = IdentifyPluginPicture(file, &format, &vector);
    VmPushNumber(L, ok ? 1 : 0);
    VmNewTable(L);
    SetTableFieldInt(L, "width", ok ? format.width : 0);
    SetTableFieldInt(L, "height", ok ? format.height : 0);
    SetTableFieldInt(L, "alpha", ok && format.depth == 32 ? 1 : 0);
    SetTableFieldInt(L, "vector", ok && vector != 0 ? 1 : 0);
    return 2;
}

int SaveSnapshot(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const char* file = GetArgString(L, 1, nullptr);
    const auto type = TruncSaturate(GetOptArgNumber(L, 2, kSnapWindow));
    const auto format = TruncSaturate(GetOptArgNumber(L, 3, IMGFMT_BMP));
    int32_t quality = 90, colours = 256, dither = 0;
    ParseSaveOptions(L, 4, &quality, &colours, &dither);
    qv::OwnedBitMap bitmap;
    int32_t width = 0, height = 0;
    if (const int code = GrabSnapshot(L, type, &bitmap, &width, &height)) return code;
    return SaveBitmap(format, bitmap.get(), width, height, file, nullptr, QV_NOCOLOR, nullptr,
                      quality, colours, dither);
}

void ParseSaveOptions(qvVmState* L, int idx, int32_t* quality, int32_t* colours, int32_t* dither) {
    // Nil stands for an argument left out.
    if (VmGetTop(L) < idx || VmType(L, idx) == VM_TNIL) {
        *quality = 90;
        return;
    }
    if (VmType(L, idx) != VM_TTABLE) {
        *quality = GetOptIntArg(L, idx, nullptr);
        return;
    }
    GetTableFieldInt(L, idx, "quality", quality, nullptr);
    GetTableFieldInt(L, idx, "colors", colours, nullptr);
    uint32_t flag = 0;
    if (GetTableFieldBool(L, idx, "dither", &flag, nullptr)) *dither = flag != 0 ? 1 : 0;
}
