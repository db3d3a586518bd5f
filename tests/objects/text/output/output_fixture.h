// Text output on real displays: the "graphics", "string", "text", "display" and "bgpic"
// libraries on the headless video back end, display 1 opened as at start-up, the object
// hooks that let layers show text objects, and helpers that read the window.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/string/string_library.h"
#include "objects/fonts/font.h"
#include "objects/scene_hooks.h"
#include "objects/text/render_text.h"
#include "objects/text/text_library.h"
#include "objects/text/text_objects.h"
#include "platform/linux/video/headless.h"
#include "scene/bgpic.h"
#include "scene/layers/layer.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenTextOutputLibraries =
    OpenLibraries<RegisterGraphicsLibrary, RegisterStringLibrary, RegisterTextLibrary,
                  RegisterDisplayLibrary, RegisterBGPicLibrary>;

inline uint8_t AlphaAt(const qvPlaneBitMap* plane, int32_t x, int32_t y) {
    return plane->plane[ptrdiff_t(y) * plane->bytesPerRow + x];
}
inline std::vector<uint8_t> AlphaBytes(const qvPlaneBitMap* plane, int32_t width, int32_t height) {
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) bytes.push_back(AlphaAt(plane, x, y));
    }
    return bytes;
}

class TextOutputFixture : public LibFixture {
protected:
    TextOutputFixture() : LibFixture(OpenTextOutputLibraries) {
        gfx::SetNeighbours(&neighbours);
        scene::SetObjectHooks(&hooks);
        platform::testing::ResetHeadless();
        RestartWindowNumbers();
        RemoveEvents(L, -1, 1);
    }
    ~TextOutputFixture() override {
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeAllTextObjects(L);
        FreeGraphicsObjects(L);
        scene::SetObjectHooks(nullptr);
        gfx::SetNeighbours(nullptr);
        platform::testing::ResetHeadless();
    }

    // Display 1 of width x height, black, opened as start-up opens it.
    qvDisplay* Start(int32_t width = 320, int32_t height = 200,
                     std::vector<std::pair<Arg, Arg>> more = {}) {
        std::vector<std::pair<Arg, Arg>> options = {
            {Str("width"), Num(width)}, {Str("height"), Num(height)}, {Str("color"), Num(0)}};
        options.insert(options.end(), more.begin(), more.end());
        EXPECT_EQ(Call("CreateDisplay", {Num(1), Table(std::move(options))}).code, 0);
        EXPECT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
        qvDisplay* display = nullptr;
        FindDisplay({1, nullptr}, &display);
        return display;
    }
    static qvDisplay* Current() { return scene::Displays().current; }
    static std::vector<uint32_t> Window() { return WindowPixels(Current()); }
    static qvBGPic* Shown() { return Current()->settings.picture; }
    static int32_t LayerCount() { return CountLayers(Shown()); }
    static qvLayer* Layer(int32_t n) { return GetLayerByIndex(Shown(), n); }

    // The window's damage since it was last taken, as one bounding box {x, y, w, h}, taken.
    static std::vector<int32_t> TakeWindowDamage() {
        qvPlatformDisplay* w = Current()->window;
        std::lock_guard<std::recursive_mutex> hold(w->lock);
        const DamageList damage = TakeDamage(w);
        if (damage.count == 0) return {};
        int32_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
        for (int i = 0; i < damage.count; ++i) {
            const DamageRect& d = damage.rects[i];
            x1 = std::min(x1, d.x), y1 = std::min(y1, d.y);
            x2 = std::max(x2, d.x + d.width), y2 = std::max(y2, d.y + d.height);
        }
        return {x1, y1, x2 - x1, y2 - y1};
    }

    // Display 1 whose layers are scaled twice over onto a 320 x 200 window, layers on.
    qvDisplay* StartLayerScaled() {
        qvDisplay* display = Start(160, 100,
                                   {{Str("scalemode"), Num(2)},
                                    {Str("scalewidth"), Num(320)},
                                    {Str("scaleheight"), Num(200)}});
        display->layersEnabled = 1;
        return display;
    }

    // Fonts: the built-in bitmap font, or Vera Sans at a size.
    void UseTopaz() { ASSERT_EQ(Call("SetFont", {Str(":::default_bitmap"), Num(8)}).code, 0); }
    void UseVera(int32_t size) {
        ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(size)}).code, 0);
    }

    DisplayTestNeighbours neighbours;
    objects::SceneHooks hooks;
};

}  // namespace qv::testing
