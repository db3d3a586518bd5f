// The "bgpic" library under the library fixture, with the neighbours it asks played by fakes:
// a display list (the picture each display shows, the picture drawing goes into), brushes of
// one colour, and layers made by hand on a picture to drive copy-on-write and orphans.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "gfx/library/object_types.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/layers/layer.h"
#include "scene/scene_neighbours.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenBGPicLibrary = OpenLibraries<RegisterBGPicLibrary>;

// Displays: each shows one picture; the first is the current one.
class FakeDisplays : public scene::BGPicHost {
public:
    std::vector<const qvBGPic*> shown;
    std::optional<qvObjectId> drawingInto;
    struct Rect {
        int32_t x, y, width, height;
    };
    std::vector<Rect> refreshed;

    bool ShownByDisplay(const qvBGPic* picture) override {
        return std::find(shown.begin(), shown.end(), picture) != shown.end();
    }
    bool DrawingInto(qvObjectId id) override {
        return drawingInto && drawingInto->number == id.number && drawingInto->handle == id.handle;
    }
    qvBGPic* CurrentDisplayPicture() override {
        return shown.empty() ? nullptr : const_cast<qvBGPic*>(shown.front());
    }
    void RefreshRect(qvVmState*, int32_t x, int32_t y, int32_t width, int32_t height) override {
        refreshed.push_back({x, y, width, height});
    }
};

// Brushes by number: a bitmap of the given pixels (0xRRGGBB), optionally a vector brush.
class FakeBrushes : public scene::SceneNeighbours {
public:
    struct Brush {
        OwnedBitMap bitmap;
        OwnedPlane mask;
        qvImageHandle* vectorSource = nullptr;
        bool transformed = false;
    };
    std::map<uint32_t, Brush> brushes;

    ~FakeBrushes() override {
        for (auto& [id, brush] : brushes) ReleaseImageHandle(brush.vectorSource);
    }

    // A width x height brush whose pixel (x, y) is pixels[y * width + x].
    Brush& Add(uint32_t id, int32_t width, int32_t height, const std::vector<uint32_t>& pixels) {
        Brush& brush = brushes[id];
        brush.bitmap.reset(AllocDisplayBitMap(width, height));
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                PlotPixel(brush.bitmap.get(), x, y, pixels[size_t(y) * width + x]);
            }
        }
        return brush;
    }

    int GetBrush(qvVmState* L, qvObjectId id, gfx::PictureView* out) override {
        auto found = brushes.find(id.number);
        if (id.handle != nullptr || found == brushes.end()) return Neighbours::GetBrush(L, id, out);
        const Brush& b = found->second;
        *out = {b.bitmap.get(), b.mask.get(), nullptr, b.bitmap->width, b.bitmap->height};
        return 0;
    }
    qvImageHandle* BrushVectorSource(qvObjectId id, bool* transformed) override {
        auto found = brushes.find(id.number);
        if (found == brushes.end()) return nullptr;
        *transformed = found->second.transformed;
        return found->second.vectorSource;
    }
};

class SceneFixture : public LibFixture {
protected:
    SceneFixture() : LibFixture(OpenBGPicLibrary) {
        scene::SetBGPicHost(&displays);
        gfx::SetNeighbours(&brushes);
    }
    ~SceneFixture() override {
        FreeAllBGPics(L);
        scene::SetBGPicHost(nullptr);
        gfx::SetNeighbours(nullptr);
    }

    // The picture with the id, orphans included; none when there is none.
    static qvBGPic* Find(qvObjectId id) {
        qvBGPic* picture = nullptr;
        GetBGPic(nullptr, id, &picture, QV_BGPIC_ORPHANS);
        return picture;
    }
    static qvBGPic* Find(uint32_t number) { return Find(qvObjectId{number, nullptr}); }

    static size_t PictureCount() {
        size_t count = 0;
        for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) ++count;
        return count;
    }

    // A layer of the type on top of the picture, showing the object with the id; its three
    // items are one record.
    static qvLayer* AddLayer(qvBGPic* picture, uint32_t type, qvObjectId shows) {
        auto* layer = static_cast<qvLayer*>(AllocMemBlock(sizeof(qvLayer), 1));
        auto* item = NewBlock<qvLayerItem>();
        layer->type = type;
        layer->objectId = layer->creationId = shows;
        layer->sourceItem = layer->pictureItem = layer->displayItem = item;
        AddTail(&picture->layers, &layer->node);
        return layer;
    }
    static qvLayer* ShowPart(qvBGPic* on, const qvBGPic* shown) {
        return AddLayer(on, gfx::kTypeBGPicPart, {shown->header.id, shown->header.handle});
    }

    // A picture with a numeric id made through the command.
    qvBGPic* Create(uint32_t id, int32_t width, int32_t height, uint32_t colour) {
        EXPECT_EQ(Call("CreateBGPic", {Num(id), Num(width), Num(height), Num(colour)}).code, 0);
        return Find(id);
    }

    FakeDisplays displays;
    FakeBrushes brushes;
};

// The pixels of a bitmap as 0xRRGGBB words, row by row.
inline std::vector<uint32_t> Pixels(const qvDisplayBitMap* bitmap) {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) pixels.push_back(ReadBitMapPixel(bitmap, x, y));
    }
    return pixels;
}

// What a colour reads back as from a bitmap of the screen's format.
inline uint32_t Stored(uint32_t rgb) {
    OwnedBitMap one(AllocDisplayBitMap(1, 1));
    PlotPixel(one.get(), 0, 0, rgb);
    return ReadBitMapPixel(one.get(), 0, 0);
}

}  // namespace qv::testing
