// Random steps over a layered scene for the property test and the fuzz target: add, move,
// hide, show, remove, swap, restyle (transparency, filters, shadows, borders, transforms) and
// clip layers of odd sizes with masks and alpha planes, partly or wholly outside the picture,
// each followed by the refresh that the command doing it would ask for, and batches of them
// drawn into the shown picture (as between SelectBGPic and EndSelect). After every step
// outside a batch the window must equal the picture recomposed from scratch. Header-only and
// free of GoogleTest.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gfx/library/clip_regions.h"
#include "scene/bgpic.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/transform_matrix.h"
#include "scene/output_redirect.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::test {

// Where the steps' choices come from: a generator's numbers or a fuzzer's bytes.
class Choices {
public:
    virtual ~Choices() = default;
    // A number below bound (bound > 0).
    virtual uint32_t Below(uint32_t bound) = 0;
    // A number from low to high inclusive.
    int32_t Between(int32_t low, int32_t high) {
        return low + int32_t(Below(uint32_t(high - low + 1)));
    }
};

class LayerSteps {
public:
    LayerSteps(qvVmState* L, SceneDisplay& scene) : L_(L), scene_(scene) { MakeRegions(); }
    ~LayerSteps() {
        if (redirected_) Redirect();
        for (const auto& region : regions_) ClearLayerClipRegionRefs(region.get());
    }
    LayerSteps(const LayerSteps&) = delete;
    LayerSteps& operator=(const LayerSteps&) = delete;

    // One step; returns what it did, for the messages of a failure.
    const char* Step(Choices& c) {
        const int32_t count = CountLayers(scene_.picture);
        const uint32_t kind = count == 0 ? 0 : c.Below(15);
        qvLayer* layer =
            count == 0 ? nullptr : GetLayerByIndex(scene_.picture, c.Between(1, count));
        switch (kind) {
            case 0:
                Add(c);
                return "add";
            case 1:
                Move(c, layer);
                return "move";
            case 2:
            case 3:
                layer->hidden = kind == 2 ? 1 : 0;
                RefreshLayer(L_, layer);
                return kind == 2 ? "hide" : "show";
            case 4:
                Remove(c, layer);
                return "remove";
            case 5:
                Swap(layer, GetLayerByIndex(scene_.picture, c.Between(1, count)));
                return "swap";
            case 6:
                layer->transparency = c.Below(3) == 0 ? 0 : c.Below(256);
                RefreshLayer(L_, layer);
                return "transparency";
            case 7: {
                const uint32_t pick = c.Below(uint32_t(regions_.size()) + 1);
                layer->sourceItem->clipRegion = pick == 0 ? nullptr : regions_[pick - 1].get();
                RefreshLayer(L_, layer);
                return "clip region";
            }
            case 8:
                Add(c);
                return "add";
            case 10:
                Restyle(layer, [&] { Filter(c, layer); });
                return "filter";
            case 11:
                Restyle(layer, [&] { Shadow(c, layer); });
                return "shadow";
            case 12:
                Restyle(layer, [&] { Border(c, layer); });
                return "border";
            case 13:
                Restyle(layer, [&] { Transform(c, layer); });
                return "transform";
            case 14:
                Redirect();
                return redirected_ ? "select picture" : "end select";
            default:
                RefreshRect(L_, c.Between(-20, scene_.width), c.Between(-20, scene_.height),
                            c.Between(-5, 40), c.Between(-5, 40));
                return "refresh";
        }
    }

    bool WindowMatches() { return scene_.Window() == scene_.Recomposed(L_); }
    // Drawing goes into the shown picture: the window waits for the end of the batch.
    bool Redirected() const { return redirected_; }

private:
    struct RegionFree {
        void operator()(qvClipRegion* region) const {
            FreePlaneBitMap(region->mask);
            FreeMemBlock(region);
        }
    };

    // Two boxes and a shaped region, partly outside the picture.
    void MakeRegions() {
        const int32_t boxes[][4] = {{-8, 10, 40, 20}, {30, -5, 25, 90}, {12, 6, 33, 27}};
        for (const auto& b : boxes) {
            auto* region = static_cast<qvClipRegion*>(AllocMemBlock(sizeof(qvClipRegion), 1));
            if (region == nullptr) continue;
            region->x = b[0], region->y = b[1], region->width = b[2], region->height = b[3];
            regions_.emplace_back(region);
        }
        qvClipRegion* shaped = regions_.empty() ? nullptr : regions_.back().get();
        if (shaped == nullptr) return;
        shaped->mask = AllocMaskBitMap(nullptr, shaped->width, shaped->height, 1);
        for (int32_t y = 0; shaped->mask != nullptr && y < shaped->height; ++y) {
            for (int32_t x = 0; x < shaped->width; ++x) {
                if ((x * x + y * 3) % 7 < 4) PlotPixel(shaped->mask, x, y, 0);
            }
        }
        if (shaped->mask != nullptr) shaped->maskBytesPerRow = shaped->mask->bytesPerRow;
    }

    static Planes RandomPlanes(Choices& c) {
        const int32_t width = c.Between(1, 40), height = c.Between(1, 40);
        Planes p = Solid(width, height, 0);
        const uint32_t seed = c.Below(0x1000000);
        for (size_t i = 0; i < p.rgb.size(); ++i)
            p.rgb[i] = (seed + uint32_t(i) * 0x050A0F) & 0xFFFFFF;
        const uint32_t planes = c.Below(4);  // none, mask, alpha, both
        if ((planes & 1) != 0) {
            p.mask.resize(p.rgb.size());
            for (size_t i = 0; i < p.mask.size(); ++i) p.mask[i] = (i * 7 + seed) % 3 != 0;
        }
        if ((planes & 2) != 0) {
            p.alpha.resize(p.rgb.size());
            for (size_t i = 0; i < p.alpha.size(); ++i) p.alpha[i] = uint8_t(i * 37 + seed);
        }
        return p;
    }

    void Add(Choices& c) {
        const Planes planes = RandomPlanes(c);
        qvDrawStyle style = kInitialDrawStyle;
        style.transparency = c.Below(3) == 0 ? int32_t(c.Below(256)) : 0;
        style.hidden = c.Below(8) == 0 ? 1 : 0;
        const int32_t count = CountLayers(scene_.picture);
        const int32_t position = c.Between(-1, count + 2);
        const int flags = c.Below(6) == 0 ? QV_ADDLAYER_REPLACE : 0;
        qvLayer* layer =
            scene_.AddLayer(L_, planes, c.Between(-45, scene_.width + 5),
                            c.Between(-45, scene_.height + 5), &style, position, flags);
        // A plain layer on top is the drawing command's to paint.
        if (layer != nullptr && layer->hidden == 0 && layer->node.succ->succ == nullptr &&
            layer->transparency == 0) {
            RefreshLayer(L_, layer);
        }
    }

    void Move(Choices& c, qvLayer* layer) {
        const int flags = int(c.Below(4));
        auto coordinate = [&](int32_t size, int relative) {
            if (c.Below(5) == 0) return KEEPPOSITION;
            return relative != 0 ? c.Between(-30, 30) : c.Between(-45, size + 5);
        };
        const int32_t x = coordinate(scene_.width, flags & QV_MOVE_RELATIVEX);
        const int32_t y = coordinate(scene_.height, flags & QV_MOVE_RELATIVEY);
        MoveLayerTo(L_, layer, nullptr, x, y, 0, flags, nullptr);
    }

    // As the layer commands remove: through the work list, merged, then repainted.
    void Remove(Choices& c, qvLayer* layer) {
        if (c.Below(2) == 0) {
            RemoveLayerRecord(L_, layer, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
            return;
        }
        qvRectList list{};
        if (InitRectList(&list, 1) != 0) return;
        RemoveLayerRecord(L_, layer, 0, nullptr, nullptr, nullptr, nullptr, &list);
        AppendRect(&list, c.Between(-10, 60), c.Between(-10, 60), c.Between(1, 30),
                   c.Between(1, 30), true);
        MergeDirtyRects(&list);
        RedrawLayerArea(L_, &list);
        FreeRectList(&list);
    }

    // A change of style as the style engine makes it: the caches the style feeds freed, the
    // old and the new bounds repainted.
    template <typename Change>
    void Restyle(qvLayer* layer, Change change) {
        int32_t x, y, w, h;
        GetLayerBounds(L_, layer, layer->displayItem, &x, &y, &w, &h);
        change();
        FreeLayerGeometryBitmaps(layer);
        FreeLayerBorderCache(layer);
        FreeLayerCaches(layer);
        RefreshRect(L_, x, y, w, h);
        RefreshLayer(L_, layer);
    }

    void Filter(Choices& c, qvLayer* layer) {
        qvLayerFilter& f = layer->filters[c.Below(kLayerFilterCount)];
        f.enabled = c.Below(4) == 0 ? 0 : 1;
        f.priority = uint8_t(c.Below(256));
        for (int32_t& n : f.ints) n = c.Between(-10, 300);
        for (float& r : f.reals) r = float(c.Between(-20, 60)) / 4.0f;
        layer->movingFilter = AnyMovingFilter(layer->filters) ? 1 : 0;
    }

    void Shadow(Choices& c, qvLayer* layer) {
        layer->shadow = {c.Below(4) == 0 ? 0 : 1, c.Below(0x10000) << 16 | c.Below(0x10000),
                         c.Between(1, 64),        c.Between(0, 7),
                         c.Between(4, 40) / 4.0,  c.Between(1, 20) / 4.0};
        layer->shadowFade = c.Below(3) == 0 ? c.Below(257) : 0;
    }

    void Border(Choices& c, qvLayer* layer) {
        const uint32_t alpha = c.Below(3) == 0 ? c.Below(256) : 0;
        layer->border = {c.Below(4) == 0 ? 0 : 1, alpha << 24 | c.Below(0x1000000),
                         c.Between(1, 12)};
        layer->borderFade = c.Below(3) == 0 ? c.Below(257) : 0;
    }

    // A turn and a scale about an anchor; the picture item is built again.
    void Transform(Choices& c, qvLayer* layer) {
        qvDrawTransform t = kInitialDrawTransform;
        t.rotate = c.Between(-360, 360) % 360;
        t.scalex = c.Between(1, 12) / 4.0, t.scaley = c.Between(1, 12) / 4.0;
        t.smoothscale = int32_t(c.Below(2));
        t.anchorx = c.Below(5) / 4.0, t.anchory = c.Below(5) / 4.0;
        t.hasTransform = 1;
        const qvLayerItem* source = layer->sourceItem;
        MakeTransformMatrix(t.matrix, 0, 0, source->width, source->height, t.rotate, t.scalex,
                            t.scaley);
        if (t.matrix[0] == 1 && t.matrix[1] == 0 && t.matrix[2] == 0 && t.matrix[3] == 1) return;
        layer->transform = t;
        layer->anchorX = t.anchorx, layer->anchorY = t.anchory;
        BuildLayerCache(L_, layer, QV_CACHE_NOREPAINT);
    }

    // Starts or ends drawing into the shown picture: meanwhile changes are recorded, and the
    // end repaints them.
    void Redirect() {
        redirected_ = !redirected_;
        if (redirected_) {
            ResetRectList(&scene_.dirty);
            scene_.view.outputType = gfx::kTargetBGPic;
            return;
        }
        scene_.view.outputType = gfx::kTargetDisplay;
        RepaintRedirectedPicture(L_, scene_.picture, &scene_.dirty, 0);
    }

    void Swap(qvLayer* a, qvLayer* b) {
        if (a == b) return;
        qvListNode* afterA = a->node.pred;
        RemoveNode(&a->node);
        InsertNode(&scene_.picture->layers, &a->node, b->node.pred);
        RemoveNode(&b->node);
        InsertNode(&scene_.picture->layers, &b->node, afterA == &b->node ? &a->node : afterA);
        RefreshLayer(L_, a);
        RefreshLayer(L_, b);
    }

    qvVmState* L_;
    SceneDisplay& scene_;
    std::vector<std::unique_ptr<qvClipRegion, RegionFree>> regions_;
    bool redirected_ = false;
};

}  // namespace qv::test
