// The style rows of layer types on a real display with layers on: the graphics, string, text,
// display, picture, brush and layers libraries and the anim store, and a working copy of a
// layer that a row reads a style table into, as the style engine makes it.
#pragma once

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/scene_hooks.h"
#include "objects/text/text_library.h"
#include "scene/layers/layers_library.h"
#include "scene/layers/style_rows.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenStyleRowLibraries =
    OpenLibraries<RegisterGraphicsLibrary, RegisterStringLibrary, RegisterTextLibrary,
                  RegisterDisplayLibrary, RegisterBGPicLibrary, RegisterBrushLibrary>;

// The working copies of one layer; the item is the work's.
struct StyleWork {
    scene::LayerStyleWork work;
    StyleWork() = default;
    StyleWork(const StyleWork&) = delete;
    StyleWork& operator=(const StyleWork&) = delete;
    ~StyleWork() { FreeLayerItem(work.item); }
    template <typename Item>
    Item* ItemAs() const {
        return dynamic_cast<Item*>(work.item);
    }
};

class StyleRowsFixture : public BrushDisplayFixture {
protected:
    explicit StyleRowsFixture(LibraryOpener open = OpenStyleRowLibraries)
        : BrushDisplayFixture(open) {
        scene::SetObjectHooks(&hooks);
        if (const int code = RegisterLayersLibrary(L)) ADD_FAILURE() << code;
        Open(64, 48, 0);
        EXPECT_EQ(Call("EnableLayers").code, 0);
    }
    ~StyleRowsFixture() override {
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeAllAnims(L);
        FreeAllTextObjects(L);
        FreeLayersLibrary(L);
        scene::SetObjectHooks(nullptr);
    }

    qvLayer* Layer(int32_t n) const { return GetLayerByIndex(display->settings.picture, n); }

    // Reads the style table into the working copies of layer n, as a retype when type is
    // another than the layer's. The row's code.
    int Read(int32_t n, const Arg& table, StyleWork* out, uint32_t type = 0) {
        const qvLayer* layer = Layer(n);
        scene::LayerStyleWork& work = out->work;
        work.layer = *layer;
        work.transform = layer->transform;
        work.live = layer;
        work.oldType = layer->type;
        work.retype = type != 0 && type != layer->type;
        if (work.retype) work.layer.type = type;
        const scene::LayerStyleRow* row = scene::FindLayerStyleRow(work.layer.type);
        if (row == nullptr) return -1;
        work.item = work.retype ? row->retypeItem(L, &work) : scene::CopyWorkingItem(layer);
        if (work.item == nullptr) return ERR_MEM;
        PushArg(table);
        const int code = row->read(L, VmGetTop(L), &work);
        VmSetTop(L, -2);
        return code;
    }

    // GetLayerStyle of layer n.
    Value Style(int32_t n) {
        CallResult style = Call("GetLayerStyle", {Num(n)});
        EXPECT_EQ(style.code, 0);
        return style.results.empty() ? Value{} : style.results[0];
    }
    static double NumberAt(const Value& table, std::string_view key) {
        const Value* v = table.Field(key);
        return v != nullptr ? v->number : -12345;
    }

    // An anim of frames plain frames under a number.
    void MakeAnim(uint32_t id, int32_t width, int32_t height, int frames) {
        qvAnimFrames planes;
        for (int i = 0; i < frames; ++i)
            planes.bitmaps.push_back(AllocDisplayBitMap(width, height));
        qvObjectId pair{id, nullptr};
        qvAnim* anim = nullptr;
        ASSERT_EQ(AddAnim(&pair, width, height, &planes, 0, &anim), 0);
    }

    objects::SceneHooks hooks;
};

}  // namespace qv::testing
