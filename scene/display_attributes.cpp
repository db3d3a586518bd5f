// GetAttribute of a display: what its record, its window and its text state hold. The font
// attributes are those of the current font, in which the display's text is printed.
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "gfx/library/pointers.h"
#include "objects/text/text_attributes.h"
#include "objects/text/text_library.h"
#include "platform/linux/screen.h"
#include "runtime/arguments.h"
#include "scene/attribute_providers.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/display_modes.h"
#include "scene/layers/layer.h"

namespace qv::scene {
namespace {

using namespace qv::gfx;

// The values of ATTRMODE (DISPMODE_WINDOWED, DISPMODE_FULLSCREEN) and of ATTRSCALEMODE.
constexpr int32_t kModeWindowed = 1, kModeFullScreen = 2;
constexpr int32_t kScaleNone = 0, kScaleAuto = 1, kScaleLayer = 2;
// A desktop has no orientation (ORIENTATION_NONE).
constexpr int32_t kOrientationNone = 0;

// The attributes that tell a display flag, as 1 or 0.
struct FlagAttribute {
    int32_t attribute;
    uint32_t flag;
};
constexpr FlagAttribute kFlagAttributes[] = {
    {ATTRACTIVE, kFlagActive},   {ATTRBORDERLESS, kFlagBorderless},
    {ATTRFIXED, kFlagFixed},     {ATTRSIZEABLE, kFlagSizeable},
    {ATTRNOHIDE, kFlagNoHide},   {ATTRNOMODESWITCH, kFlagNoModeSwitch},
    {ATTRNOCLOSE, kFlagNoClose},
};

const FlagAttribute* FlagOf(int32_t attribute) {
    for (const FlagAttribute& f : kFlagAttributes) {
        if (f.attribute == attribute) return &f;
    }
    return nullptr;
}

int32_t ScaleMode(const qvDisplaySettings& s) {
    if (s.autoscale != 0) return kScaleAuto;
    return s.layerScaling != 0 ? kScaleLayer : kScaleNone;
}

double NumberOf(const qvDisplay* d, int32_t attribute) {
    const qvDisplaySettings& s = d->settings;
    const FrameSizes& frame = d->frame;
    switch (attribute) {
        case ATTRWIDTH:
            return s.width;
        case ATTRHEIGHT:
            return s.height;
        case ATTRMAXWIDTH:
            return DisplayScreenArea(d).width - frame.left - frame.right;
        case ATTRMAXHEIGHT:
            return DisplayScreenArea(d).height - frame.top - frame.bottom;
        case ATTRLAYERS:
            return CountLayers(s.picture);
        case ATTRXPOS:
            return s.x;
        case ATTRYPOS:
            return s.y;
        case ATTRCURSORX:
            return d->text.x;
        case ATTRCURSORY:
            return d->text.y;
        case ATTRBORDERLEFT:
            return frame.left;
        case ATTRBORDERTOP:
            return frame.top;
        case ATTRBORDERRIGHT:
            return frame.right;
        case ATTRBORDERBOTTOM:
            return frame.bottom;
        case ATTRHOSTWIDTH:
            return ScreenWidth();
        case ATTRHOSTHEIGHT:
            return ScreenHeight();
        case ATTRSTATE:
            return d->state;
        case ATTRMODE:
            return Displays().ownScreen ? kModeFullScreen : kModeWindowed;
        case ATTRSCALEMODE:
            return ScaleMode(s);
        case ATTRSCALEWIDTH:
            return s.scaleWidth;
        case ATTRSCALEHEIGHT:
            return s.scaleHeight;
        case ATTRMARGINLEFT:
            return d->text.leftMargin;
        case ATTRMARGINRIGHT:
            return d->text.rightMargin;
        case ATTROUTPUTDEVICE:
            return d->outputType;
        case ATTRDOUBLEBUFFER:
            return d->doubleBufferOutput != 0 || d->doubleBufferPending != 0 ? 1 : 0;
        case ATTRHOSTDEPTH:
            return ScreenDepth();
        case ATTRLAYERSON:
            return d->layersEnabled != 0 ? 1 : 0;
        case ATTRORIENTATION:
            return kOrientationNone;
        default:  // ATTRKEYBOARD: a desktop shows no on-screen keyboard
            return 0;
    }
}

int DisplayAttribute(const AttributeRequest& r) {
    qvDisplay* d = nullptr;
    if (const int code = FindDisplay(r.id, &d)) return code;
    if (text::IsFontAttribute(r.attribute)) {
        return text::PushFontAttribute(r.L, GetDefaultFont(), r.attribute);
    }
    if (const FlagAttribute* f = FlagOf(r.attribute)) {
        VmPushNumber(r.L, (d->settings.flags & f->flag) != 0 ? 1 : 0);
        return 1;
    }
    switch (r.attribute) {
        case ATTRMASKMODE:
        case ATTRALPHAINTENSITY:
            return PushDrawingAttribute(r.L, r.attribute);
        case ATTRTITLE:
            VmPushString(r.L, d->settings.title);
            return 1;
        case ATTRBGPIC:
            PushObjectId(r.L, {d->settings.picture->header.id, d->settings.picture->header.handle});
            return 1;
        case ATTRPOINTER:  // the pointer the script set, 0 for the system's
            if (d->pointer == nullptr) {
                VmPushNumber(r.L, 0);
            } else {
                PushObjectId(r.L, {d->pointer->header.id, d->pointer->header.handle});
            }
            return 1;
        default:
            VmPushNumber(r.L, NumberOf(d, r.attribute));
            return 1;
    }
}

}  // namespace

void RegisterDisplayAttributes() {
    RegisterAttributeProvider(kTypeDisplay, DisplayAttribute);
}

}  // namespace qv::scene
