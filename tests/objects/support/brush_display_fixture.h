// The brush library on a headless display: the graphics, display, background-picture and
// brush libraries registered as the player registers them, display 1 opened at a chosen size
// and colour, brushes made to order, and a spy that can stand in for the scene seam (output
// redirection, layers and hardware double buffering, which other code drives).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "gfx/blit_frontends.h"
#include "gfx/library/object_types.h"
#include "libs/string/string_library.h"
#include "objects/brush.h"
#include "objects/brush_library/brush_library.h"
#include "objects/display_engine.h"
#include "objects/scene_seam.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenBrushDisplayLibraries =
    OpenLibraries<RegisterStringLibrary, RegisterGraphicsLibrary, RegisterDisplayLibrary,
                  RegisterBGPicLibrary, RegisterBrushLibrary>;

// A scene seam whose answers tests set, recording what the display engine asks of it.
class SceneSpy : public objects::SceneSeam {
public:
    SceneSpy() { objects::SetSceneSeam(this); }
    ~SceneSpy() override { objects::SetSceneSeam(nullptr); }
    SceneSpy(const SceneSpy&) = delete;
    SceneSpy& operator=(const SceneSpy&) = delete;

    bool RedirectedOutput(uint32_t* type, qvObjectId* id) override {
        if (!redirected) return false;
        *type = uint32_t(gfx::kTypeBrush), *id = output;
        return true;
    }
    int EndRedirection(qvVmState*) override {
        ++endedRedirections;
        redirected = false;
        return 0;
    }
    bool HardwareDoubleBuffering() override { return hardwareDoubleBuffer; }
    int AddObjectLayer(qvVmState*, const objects::ObjectLayer& layer) override {
        layers.push_back(layer);
        FreeDisplayBitMap(layer.bitmap);
        FreePlaneBitMap(layer.mask);
        FreePlaneBitMap(layer.alpha);
        return 0;
    }

    bool redirected = false;
    qvObjectId output{};
    int endedRedirections = 0;
    bool hardwareDoubleBuffer = false;
    std::vector<objects::ObjectLayer> layers;
};

class BrushDisplayFixture : public LibFixture {
protected:
    explicit BrushDisplayFixture(LibraryOpener open = OpenBrushDisplayLibraries)
        : LibFixture(open) {
        gfx::SetNeighbours(&neighbours);
        platform::testing::ResetHeadless();
        RestartWindowNumbers();
    }
    ~BrushDisplayFixture() override {
        FreeAllBrushes(L);
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeGraphicsObjects(L);
        gfx::SetNeighbours(nullptr);
        platform::testing::ResetHeadless();
    }

    // Display 1 of width x height in the colour, opened as start-up opens it.
    qvDisplay* Open(int32_t width, int32_t height, uint32_t colour = 0) {
        const CallResult made =
            Call("CreateDisplay", {Num(1), Table({{Str("width"), Num(width)},
                                                  {Str("height"), Num(height)},
                                                  {Str("color"), Num(colour)}})});
        EXPECT_EQ(made.code, 0);
        EXPECT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
        FindDisplay({1, nullptr}, &display);
        return display;
    }

    // A brush under a number whose pixel (x, y) is pixels[y * width + x]; a mask or an alpha
    // plane from the planes given (1 or 0 per mask pixel, a byte per alpha pixel).
    qvBrush* MakeBrush(uint32_t id, int32_t width, int32_t height,
                       const std::vector<uint32_t>& pixels,
                       const std::vector<uint8_t>& maskBits = {},
                       const std::vector<uint8_t>& alpha = {}) {
        FreeBrushById(L, {id, nullptr}, false);
        qvBrush* b = nullptr;
        EXPECT_EQ(CreateBrushBitmaps({id, nullptr}, width, height, 0, !maskBits.empty(),
                                     !alpha.empty(), true, false, &b),
                  0);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const size_t i = size_t(y) * width + x;
                PlotPixel(b->bitmap, x, y, pixels[i]);
                if (!maskBits.empty()) PlotPixel(b->mask, x, y, maskBits[i] != 0 ? 0 : 1);
                if (!alpha.empty())
                    b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x] = alpha[i];
            }
        }
        return b;
    }
    // A width x height brush of one colour.
    qvBrush* Plain(uint32_t id, int32_t width, int32_t height, uint32_t colour) {
        return MakeBrush(id, width, height, std::vector<uint32_t>(size_t(width) * height, colour));
    }

    std::vector<uint32_t> Window() const { return WindowPixels(display); }
    uint32_t At(int32_t x, int32_t y) const {
        return ReadBitMapPixel(display->window->framebuffer, x, y);
    }

    DisplayTestNeighbours neighbours;
    qvDisplay* display = nullptr;
};

// Per channel d + ((s - d) x a >> 8), as a bitmap of the screen's format keeps it.
inline uint32_t Blend(uint32_t source, uint32_t dest, uint32_t alpha) {
    const uint32_t s = Stored(source), d = Stored(dest);
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const int sc = int(s >> shift) & 255, dc = int(d >> shift) & 255;
        out |= uint32_t((dc + ((sc - dc) * int(alpha) >> 8)) & 255) << shift;
    }
    return Stored(out);
}

}  // namespace qv::testing
