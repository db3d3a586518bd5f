// A layered scene for the layer tests, the fuzz target and the benchmarks: one display over
// a headless window (its display bitmap holding the background, its composition bitmap, its
// dirty list and scaling) that shows one background picture, objects the layers and sprites
// show, and builders of layers from plain pixel descriptions. Header-only and free of
// GoogleTest.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/blocks.h"
#include "platform/linux/window.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/object_hooks.h"

namespace qv::test {

// A picture as plain data: colours 0xRRGGBB row by row, and optionally a mask (0 or 1 per
// pixel) and an alpha plane (one byte per pixel).
struct Planes {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> rgb;
    std::vector<uint8_t> mask;
    std::vector<uint8_t> alpha;

    uint32_t At(int32_t x, int32_t y) const { return rgb[size_t(y) * width + x]; }
};

inline Planes Solid(int32_t width, int32_t height, uint32_t colour) {
    return {width, height, std::vector<uint32_t>(size_t(width) * height, colour), {}, {}};
}

// The bitmaps of a description; any may be none when memory runs short.
struct OwnedPlanes {
    OwnedBitMap bitmap;
    OwnedPlane mask;
    OwnedPlane alpha;
};

inline OwnedPlanes MakePlanes(const Planes& p) {
    OwnedPlanes out;
    out.bitmap.reset(AllocDisplayBitMap(p.width, p.height));
    if (out.bitmap) {
        for (int32_t y = 0; y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) PlotPixel(out.bitmap.get(), x, y, p.At(x, y));
        }
    }
    if (!p.mask.empty()) {
        out.mask.reset(AllocMaskBitMap(out.bitmap.get(), p.width, p.height, 1));
        for (int32_t y = 0; out.mask && y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) {
                if (p.mask[size_t(y) * p.width + x] != 0) PlotPixel(out.mask.get(), x, y, 0);
            }
        }
    }
    if (!p.alpha.empty()) {
        out.alpha.reset(AllocAlphaBitMap(p.width, p.height, 1));
        for (int32_t y = 0; out.alpha && y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) {
                out.alpha->plane[size_t(y) * out.alpha->bytesPerRow + x] =
                    p.alpha[size_t(y) * p.width + x];
            }
        }
    }
    return out;
}

// The pixels of a bitmap's rectangle as 0xRRGGBB.
inline std::vector<uint32_t> ReadPixels(const qvDisplayBitMap* bitmap, int32_t width,
                                        int32_t height) {
    std::vector<uint32_t> pixels;
    pixels.reserve(size_t(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) pixels.push_back(ReadBitMapPixel(bitmap, x, y));
    }
    return pixels;
}

// Brushes, anim frames and sprites by number for the layers and sprites that show them, and
// the orphan collections asked for.
class SceneObjects final : public scene::ObjectHooks {
public:
    SceneObjects() { scene::SetObjectHooks(this); }
    ~SceneObjects() override { scene::SetObjectHooks(nullptr); }
    SceneObjects(const SceneObjects&) = delete;
    SceneObjects& operator=(const SceneObjects&) = delete;

    std::map<uint32_t, OwnedPlanes> brushes;
    std::map<uint32_t, OwnedPlanes> sprites;  // by the instance's id number
    int brushCollections = 0;

    int BrushImage(qvVmState* L, qvObjectId id, gfx::PictureView* out,
                   qvImageHandle** source) override {
        auto found = brushes.find(id.number);
        if (found == brushes.end()) return ObjectHooks::BrushImage(L, id, out, source);
        *out = ViewOf(found->second);
        *source = nullptr;
        return 0;
    }
    bool SpriteFrame(const qvSpriteInstance& instance, int32_t, gfx::PictureView* out) override {
        auto found = sprites.find(instance.id.number);
        if (found == sprites.end()) return false;
        *out = ViewOf(found->second);
        return true;
    }
    void FreeOrphanBrushes(qvVmState*) override { ++brushCollections; }

private:
    static gfx::PictureView ViewOf(const OwnedPlanes& p) {
        return {p.bitmap.get(), p.mask.get(), p.alpha.get(), p.bitmap->width, p.bitmap->height};
    }
};

// One display over a headless window showing one picture whose background is given. The
// display is current and its output is the display itself (the picture is the output
// picture) until a test says otherwise.
class SceneDisplay final : public gfx::BlitHost, public scene::DisplaySeam {
public:
    explicit SceneDisplay(const Planes& background)
        : width(background.width), height(background.height) {
        OwnedPlanes planes = MakePlanes(background);
        displayBitmap.reset(DuplicateBitMap(planes.bitmap.get(), false));
        composition.reset(AllocDisplayBitMap(width, height));
        scene::BGPicParts parts;
        parts.bitmap = std::move(planes.bitmap);
        parts.width = width, parts.height = height;
        qvObjectId id = scene::AutomaticId();
        AddBGPic(&id, &parts, &picture);
        output = picture;
        window = OpenHeadlessWindow(0, 0, width, height);
        view.outputType = gfx::kTargetDisplay;
        view.layersEnabled = true;
        view.backBuffers[0] = displayBitmap.get();
        view.backBuffers[1] = composition.get();
        view.pictureWidth = width, view.pictureHeight = height;
        view.window = window;
        gfx::Graphics().SetHost(this);
        scene::SetDisplaySeam(this);
        // The window opens showing the picture.
        WindowBlit(displayBitmap.get(), 0, 0, window, 0, 0, width, height, 0, 0);
        TakeWindowDamage();
    }
    ~SceneDisplay() override {
        gfx::Graphics().SetHost(nullptr);
        scene::SetDisplaySeam(nullptr);
        FreeRectList(&dirty);
        CloseHeadlessWindow(window);
        FreeAllBGPics(nullptr);
    }
    SceneDisplay(const SceneDisplay&) = delete;
    SceneDisplay& operator=(const SceneDisplay&) = delete;

    qvDisplay* Display() { return reinterpret_cast<qvDisplay*>(&view); }

    // The window's pixels, and what the picture recomposes to from scratch.
    std::vector<uint32_t> Window() const { return ReadPixels(window->framebuffer, width, height); }
    std::vector<uint32_t> Recomposed(qvVmState* L) {
        OwnedBitMap fresh(AllocDisplayBitMap(width, height));
        ::Redraw(L, Display(), picture, fresh.get(), 0, 0, width, height, 0, 0);
        return ReadPixels(fresh.get(), width, height);
    }
    // The window's rectangles copied since the last call.
    std::vector<DamageRect> TakeWindowDamage() {
        std::lock_guard<std::recursive_mutex> hold(window->lock);
        const DamageList damage = TakeDamage(window);
        return {damage.rects, damage.rects + damage.count};
    }

    // A layer showing its own copy of the planes at (x, y) (type BRUSH unless given), added
    // through AddBrushLayer; the new layer, or none after an error (in *code when given).
    qvLayer* AddLayer(qvVmState* L, const Planes& planes, int32_t x, int32_t y,
                      qvDrawStyle* style = nullptr, int32_t insertPos = -1, int flags = 0,
                      int* code = nullptr) {
        OwnedPlanes own = MakePlanes(planes);
        qvDisplayBitMap* bitmap = own.bitmap.get();
        const int result = AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, x, y, planes.width,
                                         planes.height, nullptr, style, own.bitmap.release(),
                                         own.mask.release(), own.alpha.release(), insertPos, flags);
        if (code != nullptr) *code = result;
        return result == 0 ? FindLayer(bitmap) : nullptr;
    }
    // A layer of a brush that the objects hold, or of a part of it.
    qvLayer* AddBrushPart(qvVmState* L, uint32_t brush, int32_t partX, int32_t partY, int32_t x,
                          int32_t y, int32_t partWidth, int32_t partHeight,
                          qvDrawStyle* style = nullptr) {
        const qvObjectId id{brush, nullptr};
        const uint32_t type = partX == 0 && partY == 0 ? gfx::kTypeBrush : gfx::kTypeBrushPart;
        if (AddBrushLayer(L, type, &id, partX, partY, x, y, partWidth, partHeight, nullptr, style,
                          nullptr, nullptr, nullptr, -1, 0) != 0) {
            return nullptr;
        }
        return reinterpret_cast<qvLayer*>(picture->layers.tailPred);
    }
    // A sprite instance on top of the picture, shown from the objects' sprite with the id.
    qvSpriteInstance* AddSprite(uint32_t id, int32_t x, int32_t y, int32_t spriteWidth,
                                int32_t spriteHeight) {
        auto* s = static_cast<qvSpriteInstance*>(AllocMemBlock(sizeof(qvSpriteInstance), 1));
        *s = {nullptr, {id, nullptr}, x, y, spriteWidth, spriteHeight, 1, nullptr, nullptr};
        qvSpriteInstance** tail = &picture->sprites;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = s;
        return s;
    }

    // BlitHost.
    qvDisplay* CurrentDisplay() override { return current ? Display() : nullptr; }
    void SetCurrentDisplay(qvDisplay* display) override { current = display == Display(); }
    gfx::DisplayView ViewDisplay(const qvDisplay*) override { return view; }
    gfx::OutputPicture CurrentOutputPicture() override {
        return {output->width, output->height, {}, nullptr, output->clipRegion};
    }
    void Redraw(qvVmState* L, qvDisplay* display, qvDisplayBitMap* dest, int32_t x, int32_t y,
                int32_t w, int32_t h, int flags) override {
        RedrawShownPicture(L, display, dest, x, y, w, h, flags);
    }
    void ClearDisplayBorders(qvDisplay*) override {}
    void FlipBuffers(qvDisplay*, int, int) override {}
    void RefreshVideosOnDisplay(qvDisplay*) override {}

    // DisplaySeam.
    qvBGPic* OutputPicture() override { return current ? output : nullptr; }
    qvBGPic* ShownPicture(const qvDisplay* display) override {
        return display == reinterpret_cast<const qvDisplay*>(&view) ? picture : nullptr;
    }
    qvRectList* DirtyRects(qvDisplay*) override { return &dirty; }
    scene::DisplayScale Scale(const qvDisplay*) override { return scale; }

    const int32_t width, height;
    OwnedBitMap displayBitmap;
    OwnedBitMap composition;
    qvBGPic* picture = nullptr;
    qvBGPic* output = nullptr;
    qvPlatformDisplay* window = nullptr;
    gfx::DisplayView view{};
    qvRectList dirty{};
    scene::DisplayScale scale;
    bool current = true;

private:
    qvLayer* FindLayer(const qvDisplayBitMap* bitmap) {
        qvLayer* found = nullptr;
        scene::ForEachLayer(&picture->layers, [&](qvLayer* layer) {
            if (layer->sourceItem->image.bitmap == bitmap) found = layer;
        });
        return found;
    }
};

}  // namespace qv::test
