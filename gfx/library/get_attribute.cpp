#include "gfx/library/get_attribute.h"

#include <array>
#include <initializer_list>

#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "gfx/library/pointers.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/strings.h"

namespace qv::gfx {

namespace {

// The attributes a type answers, as a bit set over 0..127.
struct AttributeSet {
    int32_t type;
    std::array<uint64_t, 2> bits;
};

// items are attribute numbers; a pair {a, -b} stands for the range a..b.
constexpr AttributeSet Answers(int32_t type, std::initializer_list<int> items) {
    AttributeSet set{type, {0, 0}};
    int previous = 0;
    for (int item : items) {
        const int first = item < 0 ? previous + 1 : item;
        const int last = item < 0 ? -item : item;
        for (int a = first; a <= last; ++a) set.bits[a / 64] |= uint64_t{1} << (a % 64);
        previous = last;
    }
    return set;
}

constexpr AttributeSet kTypes[] = {
    Answers(kTypeBGPic, {0, 1, 5, 6, 9, 16, 17, 39, 60}),
    Answers(kTypeSample, {9, 11, 14, 15, 18, 60}),
    Answers(kTypeBrush, {0, 1, 5, 9, 16, 17, 60, 73}),
    Answers(kTypeAnim, {0, 1, 5, 11, 16, 17, 37, 60}),
    Answers(kTypeTextObject, {0, 1, 30, -36, 60}),
    Answers(kTypeDisplay,
            {0, -4, 6, 7, 8, 21, 22, 24, -35, 38, 40, -56, 60, 61, 63, 64, 69, 70, 71}),
    Answers(kTypeLayer, {0, 1, 6, -13, 30, -37, 62, 65, -68}),
    Answers(kTypeSprite, {0, 1, 5, 7, 8, 11, 12, 16, 17, 23, 60}),
    Answers(kTypeMusic, {9, 14, 15, 18, 19, 20, 60, 72}),
    Answers(kTypeClipRegion, {0, 1, 7, 8, 60}),
    Answers(kTypePointer, {0, 1, 9, 60}),
    Answers(kTypeAsyncDraw, {9, 11, 12, 60}),
    Answers(kTypeMemory, {57, 60}),
    Answers(kTypeEventHandler, {58, 59}),
    Answers(kTypeInterval, {14, 58, 59}),
    Answers(kTypeTimeout, {14, 58, 59}),
    Answers(kTypeFont, {30, -35, 60}),
    Answers(kTypeFile, {42, 60}),
    Answers(kTypeVideo, {0, 1, 11, 14, 18, 19, 60, 72}),
    Answers(kTypeDirectory, {60}),
    Answers(kTypeVectorPath, {60}),
    Answers(kTypeMoveList, {60}),
    Answers(kTypeAnimStream, {60}),
    Answers(kTypeTimer, {60}),
    Answers(kTypeClient, {60}),
    Answers(kTypeServer, {60}),
    Answers(kTypeUdpObject, {60}),
};

constexpr bool Has(const AttributeSet& set, int32_t attribute) {
    return attribute >= 0 && attribute < 128 && (set.bits[attribute / 64] >> (attribute % 64)) & 1;
}

constexpr const AttributeSet* SetOf(int32_t type) {
    for (const AttributeSet& set : kTypes) {
        if (set.type == type) return &set;
    }
    return nullptr;
}

static_assert(!Has(*SetOf(kTypeBrush), ATTRXPOS) && Has(*SetOf(kTypeBrush), ATTRHARDWARE));
static_assert(Has(*SetOf(kTypeDisplay), 45) && !Has(*SetOf(kTypeDisplay), 39));
static_assert(Has(*SetOf(kTypeLayer), 12) && Has(*SetOf(kTypeLayer), 37) &&
              !Has(*SetOf(kTypeLayer), 60));

// Indexed by object type.
std::array<AttributeProvider, kTypeUdpObject + 1> providers{};

// The text layers and the (LAYER) attribute 12 are the provider's; here only the picture's
// layers must be on and the layer must exist.
int LayerRequest(AttributeRequest* request) {
    qvVmState* L = request->L;
    if (!Graphics().View(Graphics().Host().CurrentDisplay()).layersEnabled) return ERR_NOLAYERS;
    request->layer = Neighbour().FindLayerArg(L, 2);
    if (request->layer < 1 || request->layer > Neighbour().CountLayers()) {
        SetErrorNumber(static_cast<uint32_t>(request->layer));
        return ERR_LAYERRANGE;
    }
    return 0;
}

// The function or user data of a named handler; 0 when none is installed.
int EventHandlerAttribute(qvVmState* L, int32_t attribute) {
    const char* name = GetArgString(L, 2, nullptr);
    const qvEventHandler* slot = nullptr;
    bool known = false;
    for (int i = 0; i < kDisplayEventCount && !known; ++i) {
        if (StrICmp(name, kDisplayEventNames[i]) != 0) continue;
        known = true;
        const qvEventHandler* slots =
            Neighbour().DisplayEventHandlers(Graphics().Host().CurrentDisplay());
        if (slots != nullptr) slot = &slots[i];
    }
    for (int i = 0; i < kGlobalEventCount && !known; ++i) {
        if (StrICmp(name, kGlobalEventNames[i]) != 0) continue;
        known = true;
        if (const qvEventHandler* slots = Neighbour().GlobalEventHandlers()) slot = &slots[i];
    }
    if (!known) return ErrorWithText(ERR_UNKNOWNTAG, name);
    const int32_t ref = slot == nullptr             ? -1
                        : attribute == ATTRFUNCTION ? slot->function
                                                    : slot->userData;
    if (ref < 0) {
        VmPushNumber(L, 0);
    } else {
        VmRawGetI(L, VM_REGISTRYINDEX, ref);
    }
    return 1;
}

int PushNumber(qvVmState* L, double value) {
    VmPushNumber(L, value);
    return 1;
}

int ClipRegionProvider(const AttributeRequest& r) {
    qvClipRegion* region = nullptr;
    if (const int code = FindClipRegion(r.L, r.id, &region, 0)) return code;
    switch (r.attribute) {
        case ATTRWIDTH:
            return PushNumber(r.L, region->width);
        case ATTRHEIGHT:
            return PushNumber(r.L, region->height);
        case ATTRXPOS:
            return PushNumber(r.L, region->x);
        default:
            return PushNumber(r.L, region->y);
    }
}

int PointerProvider(const AttributeRequest& r) {
    qvPointer* p = nullptr;
    if (const int code = FindPointer(r.id, &p)) return code;
    switch (r.attribute) {
        case ATTRWIDTH:
            return PushNumber(r.L, p->width);
        case ATTRHEIGHT:
            return PushNumber(r.L, p->height);
        default:
            return PushNumber(r.L, p->kind);
    }
}

int AsyncDrawProvider(const AttributeRequest& r) {
    qvAsyncDraw* a = nullptr;
    if (const int code = FindAsyncDraw(r.id, &a)) return code;
    if (r.attribute == ATTRTYPE) return PushNumber(r.L, a->kind);
    const int32_t message = r.attribute == ATTRNUMFRAMES ? kAsyncFrameCount : kAsyncCurrentFrame;
    const intptr_t answer = a->handler != nullptr ? a->handler(message, nullptr, a->userData) : 0;
    return PushNumber(r.L, static_cast<double>(answer));
}

}  // namespace

void RegisterAttributeProvider(int32_t type, AttributeProvider provider) {
    if (type >= 0 && type < static_cast<int32_t>(providers.size())) providers[type] = provider;
}

AttributeProvider InstalledAttributeProvider(int32_t type) {
    return type >= 0 && type < static_cast<int32_t>(providers.size()) ? providers[type] : nullptr;
}

bool AttributeListed(int32_t type, int32_t attribute) {
    const AttributeSet* set = SetOf(type);
    return set != nullptr && Has(*set, attribute);
}

bool AttributeTypeKnown(int32_t type) {
    return SetOf(type) != nullptr;
}

int PushDrawingAttribute(qvVmState* L, int32_t attribute) {
    const GraphicsState& g = Graphics();
    return PushNumber(L, attribute == ATTRMASKMODE ? g.maskMode : g.alphaIntensity);
}

void RegisterGraphicsAttributeProviders() {
    RegisterAttributeProvider(kTypeClipRegion, ClipRegionProvider);
    RegisterAttributeProvider(kTypePointer, PointerProvider);
    RegisterAttributeProvider(kTypeAsyncDraw, AsyncDrawProvider);
    RegisterLibraryAttributeProviders();
}

}  // namespace qv::gfx

using namespace qv::gfx;

int GetAttribute(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    AttributeRequest request{
        L, GetOptIntArg(L, 1, nullptr), {}, 0, GetOptIntArg(L, 3, nullptr), VmGetTop(L) == 4, 0};
    if (!AttributeTypeKnown(request.type)) return ERR_WRONGUSAGE;
    if (!AttributeListed(request.type, request.attribute)) return ERR_UNKNOWNATTR;
    if (request.attribute == ATTRCOUNT) {
        return PushNumber(L, CountObjectsOfType(static_cast<uint32_t>(request.type)));
    }
    if (request.type == kTypeEventHandler) return EventHandlerAttribute(L, request.attribute);
    if (request.type == kTypeLayer) {
        if (const int code = LayerRequest(&request)) return code;
    } else {
        request.id = GetObjectIdArg(L, 2);
    }
    if (request.hasParameter) request.parameter = GetOptIntArg(L, 4, nullptr);
    const AttributeProvider provider = providers[request.type];
    return provider != nullptr ? provider(request) : ERR_FINDARRAY;
}
