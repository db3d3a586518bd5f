#include "scene/bgpic_library.h"

#include <string>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "objects/brush.h"
#include "objects/display_engine.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/report.h"
#include "scene/attribute_providers.h"
#include "scene/bgpic.h"
#include "scene/display_engine.h"
#include "scene/gradient_options.h"
#include "scene/output_redirect.h"
#include "scene/scene_neighbours.h"

namespace qv::scene {
namespace {

// Option-table positions that were not given.
constexpr int32_t kNoPosition = 99999;
// The colour that means "no transparent colour" (NOTRANSPARENCY).
constexpr uint32_t kNoTransparency = 0xFFFFFFFF;
constexpr int kMaxPaletteColours = 256;

// The id argument of a command that makes a picture.
using NewPictureId = qvNewObjectId;

qvObjectId ScriptId(uint32_t number) {
    return {number, nullptr};
}

// A numeric id whose picture is locked or drawn into cannot be given to a new picture; this is
// checked before anything is made.
int CheckReplaceable(qvVmState* L, const NewPictureId& target) {
    if (target.automatic) return 0;
    if (Host().DrawingInto(ScriptId(target.number))) return ERR_MODIFYABGPIC;
    qvBGPic* old = nullptr;
    const int code = GetBGPic(L, ScriptId(target.number), &old, QV_BGPIC_MODIFY | QV_BGPIC_NOCOPY);
    return code == ERR_LOCKEDOBJ ? code : 0;
}

// Gives a picture just added under an automatic id the command's id: the old picture with a
// numeric id goes now that the new one is complete. Results: the handle of an automatic id.
int FinishNewBGPic(qvVmState* L, const NewPictureId& target, qvBGPic* picture) {
    if (!target.automatic) {
        if (int code = FreeBGPicById(L, ScriptId(target.number), 0)) {
            FreeBGPicById(L, {0, picture}, 0);
            return code;
        }
        picture->header.id = target.number;
        picture->header.handle = nullptr;
    }
    return PushNewObjectHandle(L, picture->header);
}

int PublishBGPic(qvVmState* L, const NewPictureId& target, BGPicParts* parts) {
    qvObjectId id = AutomaticId();
    qvBGPic* picture = nullptr;
    if (int code = AddBGPic(&id, parts, &picture)) return code;
    return FinishNewBGPic(L, target, picture);
}

// The bitmap of a picture that has no pixels of its own: its fill at the size.
int MakeFilledParts(qvVmState* L, int32_t width, int32_t height, BGPicParts* parts) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (int code =
            MakeBGPicImage(L, nullptr, &parts->fill, -1, width, height, &bitmap, &mask, &alpha)) {
        return code;
    }
    parts->bitmap.reset(bitmap);
    parts->width = width, parts->height = height;
    return 0;
}

// A picture of one colour.
int MakePlainParts(int32_t width, int32_t height, uint32_t colour, BGPicParts* parts) {
    parts->bitmap.reset(AllocDisplayBitMap(width, height));
    if (parts->bitmap == nullptr) return ERR_MEM;
    RectFill(parts->bitmap.get(), 0, 0, width, height, colour);
    parts->width = width, parts->height = height;
    return 0;
}

// A loaded picture's bitmaps, made now (after start-up); the image handle stays only with a
// vector picture.
int MakeLoadedBitmaps(qvVmState* L, BGPicParts* parts) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = parts->alpha.release();
    const int code = MakeBGPicImage(L, GetImageHandlePixels(parts->image.get()), &parts->fill,
                                    parts->transparentColour, parts->width, parts->height, &bitmap,
                                    &mask, &alpha);
    parts->alpha.reset(alpha);
    if (code != 0) return code;
    parts->bitmap.reset(bitmap), parts->mask.reset(mask);
    if (parts->vector == 0) parts->image.reset();
    return 0;
}

bool Preloading(qvVmState* L) {
    int32_t preloading = 0;
    const qvAttrGet tags[] = {{QV_ATTR_PRELOADING, &preloading}, {QV_ATTR_END, nullptr}};
    GetGlobalAttrs(L, tags);
    return preloading != 0;
}

int32_t TransparentColour(uint32_t colour) {
    return colour == kNoTransparency ? -1 : static_cast<int32_t>(colour & 0xFFFFFF);
}

struct LoadOptions {
    int32_t transparent = -1;
    bool loadAlpha = false;
};

// The fill of a loaded picture: "fillstyle" and the keys of its style.
int ReadFillOptions(qvVmState* L, int t, qvBGPicFill* fill) {
    int32_t style = QV_FILL_NONE;
    GetTableFieldInt(L, t, "fillstyle", &style, nullptr);
    switch (style) {
        case QV_FILL_NONE:
            break;
        case QV_FILL_COLOUR:
            GetTableFieldBool(L, t, "fillcolor", &fill->colour, nullptr);
            break;
        case QV_FILL_GRADIENT:
            if (int code = ParseGradientTags(L, t, &fill->gradient)) return code;
            break;
        case QV_FILL_TEXTURE:
            GetTableFieldId(L, t, "texturebrush", &fill->textureBrush, nullptr);
            GetTableFieldInt(L, t, "texturex", &fill->textureX, nullptr);
            GetTableFieldInt(L, t, "texturey", &fill->textureY, nullptr);
            break;
        default:
            return ERR_WRONGUSAGE;
    }
    fill->style = style;
    return 0;
}

// The third argument of LoadBGPic: a transparent colour, or a table of options.
int ReadLoadOptions(qvVmState* L, int idx, LoadOptions* options, qvBGPicFill* fill) {
    const int type = VmType(L, idx);
    if (type <= VM_TNIL) return 0;
    if (type != VM_TTABLE) {
        options->transparent = TransparentColour(GetArgUInt32(L, idx));
        return 0;
    }
    uint32_t value = kNoTransparency;
    GetTableFieldBool(L, idx, "transparency", &value, nullptr);
    options->transparent = TransparentColour(value);
    value = 0;
    GetTableFieldBool(L, idx, "loadalpha", &value, nullptr);
    options->loadAlpha = value != 0;
    return ReadFillOptions(L, idx, fill);
}

// The palette table of LoadBGPic: numbers from index 0, at most 256, up to the first nil.
// The loaders take no palette, so it is only checked.
int CheckPalette(qvVmState* L, int idx) {
    CheckArgTable(L, idx);
    for (int i = 0; i < kMaxPaletteColours; ++i) {
        VmRawGetI(L, idx, i);
        const int type = VmType(L, -1);
        VmSetTop(L, -2);
        if (type == VM_TNIL) break;
        if (type != VM_TNUMBER) {
            SetErrorString(std::to_string(i).c_str());
            return ERR_NUMTABLEARG;
        }
    }
    return 0;
}

// The vector picture builder of TransformPluginImage: the bitmap and the alpha plane of the
// rendered pixels.
int BuildPictureBitmaps(qvVmState*, const uint32_t* pixels, int32_t width, int32_t height,
                        qvDisplayBitMap** bitmap, qvPlaneBitMap** mask, qvPlaneBitMap** alpha) {
    OwnedPlane plane(AlphaPlaneFromPixels(pixels, width, height));
    if (plane == nullptr) return ERR_MEM;
    if (int code =
            PixelArrayToBitMap(pixels, kNoTransparency, width, height, width, 0, bitmap, mask)) {
        return code;
    }
    *alpha = plane.release();
    return 0;
}

// The output picture's size stands in for a width or height not given.
int32_t SizeArg(qvVmState* L, int idx, int32_t fallback) {
    return Trunc32(GetOptArgNumber(L, idx, fallback));
}

// A gradient or textured fill of width x height as a new picture (a vector source that
// scaling fills again), or as a new brush of its pixels.
int PublishFilled(qvVmState* L, const NewPictureId& target, bool brush, int32_t width,
                  int32_t height, BGPicParts* parts) {
    const NewBrushId brushTarget{target.number, target.automatic};
    if (int code = brush ? CheckBrushReplaceable(brushTarget) : CheckReplaceable(L, target)) {
        return code;
    }
    if (int code = MakeFilledParts(L, width, height, parts)) return code;
    if (!brush) {
        parts->vector = 1;
        return PublishBGPic(L, target, parts);
    }
    qvBrush* made = nullptr;
    if (int code = AddBrush(AutomaticBrushId(), kBitmapBrush, width, height, width, 0, nullptr,
                            parts->bitmap.get(), kNoTransparency, nullptr, nullptr, &made)) {
        return code;
    }
    parts->bitmap.release();
    return PublishNewBrush(L, brushTarget, made);
}

// --- Commands ---

int DisplayBGPicPart(qvVmState* L) {
    CheckArgCount(L, 5, 8);
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBGPicPart;
    args.id = GetObjectIdArg(L, 1);  // -1: the picture the display shows
    args.srcX = GetOptIntArg(L, 2, nullptr), args.srcY = GetOptIntArg(L, 3, nullptr);
    args.width = GetOptIntArg(L, 4, nullptr), args.height = GetOptIntArg(L, 5, nullptr);
    if (args.width < 1 || args.height < 1) return ERR_BADDIMENSIONS;
    int noX = 0, noY = 0;
    args.x = GetOptIntArg(L, 6, &noX), args.y = GetOptIntArg(L, 7, &noY);
    if (noX != 0) args.x = args.srcX;
    if (noY != 0) args.y = args.srcY;
    // Last a flag, or a table of drawing tags whose "layers" asks for the part as shown.
    if (VmType(L, 8) == VM_TTABLE) {
        uint32_t layers = 0;
        GetTableFieldBool(L, 8, "layers", &layers, nullptr);
        args.wholePicture = layers != 0 ? 1 : 0;
        args.tagArgIndex = 8;
    } else {
        args.wholePicture = GetOptIntArg(L, 8, nullptr) != 0 ? 1 : 0;
    }
    return DisplayBrushEx(L, args);
}

int CreateBGPic(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const NewPictureId target = GetNewObjectIdArg(L, 1);
    const int32_t width = GetOptIntArg(L, 2, nullptr), height = GetOptIntArg(L, 3, nullptr);
    const uint32_t colour = GetOptArgUInt32(L, 4, 0);
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (int code = CheckReplaceable(L, target)) return code;
    BGPicParts parts;
    if (int code = MakePlainParts(width, height, colour, &parts)) return code;
    return PublishBGPic(L, target, &parts);
}

int CreateGradientBGPic(qvVmState* L) {
    CheckArgCount(L, 4, 8);
    return MakeGradientImage(L, kGradientArgs);
}

int CreateTexturedBGPic(qvVmState* L) {
    CheckArgCount(L, 2, 6);
    return MakeTexturedImage(L);
}

int BrushToBGPic(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const qvObjectId brushId = GetObjectIdArg(L, 1);
    const NewPictureId target = GetNewObjectIdArg(L, 2);
    gfx::PictureView brush{};
    if (int code = gfx::Neighbour().GetBrush(L, brushId, &brush)) return code;
    bool transformed = false;
    qvImageHandle* source = gfx::Neighbour().BrushVectorSource(brushId, &transformed);
    if (source != nullptr && transformed) return ERR_TFVBRUSHBGPIC;
    if (int code = CheckReplaceable(L, target)) return code;
    BGPicParts parts;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (int code = CopyBitmapArea(brush.bitmap, brush.mask, brush.alpha, 0, 0, brush.width,
                                  brush.height, 0, &bitmap, &mask, &alpha)) {
        return code;
    }
    parts.bitmap.reset(bitmap), parts.mask.reset(mask), parts.alpha.reset(alpha);
    parts.width = brush.width, parts.height = brush.height;
    parts.alphaMode = alpha != nullptr ? 1 : 0;
    if (source != nullptr) {
        AddImageHandleRef(source);
        parts.image.reset(source);
        parts.vector = 1;
    }
    return PublishBGPic(L, target, &parts);
}

int BGPicToBrush(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, GetObjectIdArg(L, 1), &picture, 0)) return code;
    const NewBrushId target = GetNewObjectIdArg(L, 2);
    const bool resized =
        picture->width != picture->baseWidth || picture->height != picture->baseHeight;
    if (picture->vector != 0 && resized) return ERR_TFVBGPICBRUSH;
    if (int code = CheckBrushReplaceable(target)) return code;
    gfx::NewPicture planes;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    // The scaled set has the picture's logical size.
    const qvBGPicSet& set = picture->scaled;
    if (int code = CopyBitmapArea(set.bitmap, set.mask, set.alpha, 0, 0, picture->width,
                                  picture->height, 0, &bitmap, &mask, &alpha)) {
        return code;
    }
    planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    uint32_t key = kNoTransparency;
    if (mask != nullptr) {
        key = picture->transparentColour >= 0 ? uint32_t(picture->transparentColour)
                                              : kMaskWithoutKey;
    }
    qvImageHandle* source = picture->image;
    qvBrush* made = nullptr;
    if (int code = AddBrush(AutomaticBrushId(), source != nullptr ? kVectorBrush : kBitmapBrush,
                            picture->width, picture->height, picture->width, 0, source, bitmap, key,
                            mask, alpha, &made)) {
        return code;
    }
    planes.bitmap.release(), planes.mask.release(), planes.alpha.release();
    if (source != nullptr) AddImageHandleRef(source);
    return PublishNewBrush(L, target, made);
}

int FreeBGPic(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return FreeBGPicById(L, GetObjectIdArg(L, 1), 1);
}

int LoadBGPic(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    const NewPictureId target = GetNewObjectIdArg(L, 1);
    const char* file = GetStringArgResolved(L, 2, 0, nullptr);
    LoadOptions options;
    BGPicParts parts;
    if (int code = ReadLoadOptions(L, 3, &options, &parts.fill)) return code;
    if (VmType(L, 4) != VM_TNONE) {
        if (int code = CheckPalette(L, 4)) return code;
    }
    if (options.loadAlpha && options.transparent != -1) return ERR_MASKNALPHA;
    if (int code = CheckReplaceable(L, target)) return code;
    PrintLoadingMessage("Loading background picture %s", file, 1);
    qvLoadedPicture loaded{};
    if (int code = LoadPluginPicture(file, options.loadAlpha ? 1 : 0, &loaded)) return code;
    parts.image.reset(loaded.handle);
    parts.alpha.reset(loaded.alpha);
    parts.width = loaded.width, parts.height = loaded.height;
    parts.vector = loaded.vector != 0 ? 1 : 0;
    parts.alphaMode = loaded.alpha != nullptr ? 1 : 0;
    parts.transparentColour = parts.vector != 0 ? -1 : options.transparent;
    // While the applet's resources are preloaded the picture keeps its pixels; the first
    // display makes its bitmaps (RebuildBGPics).
    if (!Preloading(L)) {
        if (int code = MakeLoadedBitmaps(L, &parts)) return code;
    }
    const int results = PublishBGPic(L, target, &parts);
    if (results < ERR_MEM) PrintLoadingDone();
    return results;
}

int ScaleBGPic(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, GetObjectIdArg(L, 1), &picture, QV_BGPIC_MODIFY | QV_BGPIC_NOCOPY)) {
        return code;
    }
    if (Host().ShownByDisplay(picture)) return ERR_SCALEBGPIC;
    if (Host().DrawingInto({picture->header.id, picture->header.handle})) return ERR_MODIFYABGPIC;
    int32_t width = Trunc32(GetNumberOrPercentArg(L, 2, picture->width, 1, nullptr));
    int32_t height = Trunc32(GetNumberOrPercentArg(L, 3, picture->height, 1, nullptr));
    const int smooth = GetOptIntArg(L, 4, nullptr) != 0 ? 1 : 0;
    if (int code = ScaleKeepAspect(picture->width, picture->height, &width, &height)) return code;
    if (width == picture->width && height == picture->height) return 0;
    // Layers that show the picture keep the old pixels; the copy is made only now that the
    // picture does change.
    if (int code = DetachBGPic(L, picture)) return code;
    return RescaleBGPic(L, picture, width, height, smooth);
}

int CopyBGPic(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const qvObjectId source = GetObjectIdArg(L, 1);
    const NewPictureId target = GetNewObjectIdArg(L, 2);
    if (!target.automatic && source.handle == nullptr && source.number == target.number) {
        return ERR_WRONGUSAGE;
    }
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, source, &picture, 0)) return code;
    if (int code = CheckReplaceable(L, target)) return code;
    qvObjectId id = AutomaticId();
    qvBGPic* copy = nullptr;
    if (int code = CopyBGPicEx(L, picture, &id, &copy)) return code;
    return FinishNewBGPic(L, target, copy);
}

// In the published order of the table; SelectBGPic and EndSelect join with output
// redirection.
constexpr qvCommandEntry kBGPicCommands[] = {
    {"DisplayBGPic", DisplayBGPic},
    {"DisplayBGPicPart", DisplayBGPicPart},
    {"ScaleBGPic", ScaleBGPic},
    {"CreateGradientBGPic", CreateGradientBGPic},
    {"CreateRainbowBGPic", CreateGradientBGPic},
    {"CreateTexturedBGPic", CreateTexturedBGPic},
    {"BrushToBGPic", BrushToBGPic},
    {"BGPicToBrush", BGPicToBrush},
    {"CreateBGPic", CreateBGPic},
    {"FreeBGPic", FreeBGPic},
    {"LoadBGPic", LoadBGPic},
    {"SelectBGPic", SelectBGPic},
    {"EndSelect", EndSelect},
    {"CopyBGPic", CopyBGPic},
    {nullptr, nullptr},
};

}  // namespace

int MakeGradientImage(qvVmState* L, const GradientArgs& args, bool brush) {
    const NewPictureId target = GetNewObjectIdArg(L, args.id);
    BGPicParts parts;
    parts.fill.style = QV_FILL_GRADIENT;
    qvGradient& gradient = parts.fill.gradient;
    gradient.style = GetOptIntArg(L, args.style, nullptr);
    gradient.startColour = GetArgUInt32(L, args.startColour);
    gradient.endColour = GetArgUInt32(L, args.endColour);
    const gfx::OutputPicture output = gfx::Graphics().Host().CurrentOutputPicture();
    const int32_t width = SizeArg(L, args.width, output.width);
    const int32_t height = SizeArg(L, args.height, output.height);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (int code = ParseGradientOptions(L, &gradient, args.angle)) return code;
    return PublishFilled(L, target, brush, width, height, &parts);
}

int MakeTexturedImage(qvVmState* L, bool brush) {
    const NewPictureId target = GetNewObjectIdArg(L, 1);
    BGPicParts parts;
    parts.fill.style = QV_FILL_TEXTURE;
    parts.fill.textureBrush = GetObjectIdArg(L, 2);
    const gfx::OutputPicture output = gfx::Graphics().Host().CurrentOutputPicture();
    const int32_t width = SizeArg(L, 3, output.width);
    const int32_t height = SizeArg(L, 4, output.height);
    parts.fill.textureX = Trunc32(GetOptArgNumber(L, 5, 0));
    parts.fill.textureY = Trunc32(GetOptArgNumber(L, 6, 0));
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    gfx::PictureView texture{};
    if (int code = gfx::Neighbour().GetBrush(L, parts.fill.textureBrush, &texture)) return code;
    // The fill copies the brush's bitmap as its texture and tiles it.
    return PublishFilled(L, target, brush, width, height, &parts);
}

void GetXYOptions(qvVmState* L, int idx, int32_t* x, int32_t* y) {
    *x = *y = kNoPosition;
    if (VmGetTop(L) != idx || VmType(L, idx) != VM_TTABLE) return;
    GetTableFieldInt(L, idx, "x", x, nullptr);
    GetTableFieldInt(L, idx, "y", y, nullptr);
}

}  // namespace qv::scene

int AddPlainBGPic(qvObjectId* id, int32_t width, int32_t height, uint32_t colour) {
    qv::scene::BGPicParts parts;
    if (int code = qv::scene::MakePlainParts(width, height, colour, &parts)) return code;
    qvBGPic* picture = nullptr;
    return AddBGPic(id, &parts, &picture);
}

int RegisterBGPicLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::scene::kBGPicCommands, 0);
    if (int code = RegisterObjectList(qv::scene::BGPicList())) return code;
    qv::SetPluginImageBuilder(qv::scene::BuildPictureBitmaps);
    qv::scene::RegisterBGPicAttributes();
    return RegisterCommandTable(qv::scene::kBGPicCommands, "bgpic");
}
