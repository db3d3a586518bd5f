// The "display" library with the "graphics" and "bgpic" libraries on the headless video back
// end: displays made through their commands and opened as at start-up, the windows'
// framebuffers and the back end's operation log to check, the event queue to read, and the
// video-recording answer of the graphics library to switch.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/library/graphics_library.h"
#include "gfx/library/object_types.h"
#include "media/video_display.h"
#include "objects/object_neighbours.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/window.h"
#include "runtime/event_queue.h"
#include "scene/display.h"
#include "scene/display_engine.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/layers/layer.h"
#include "scene/scene_neighbours.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenDisplayLibraries =
    OpenLibraries<RegisterGraphicsLibrary, RegisterDisplayLibrary, RegisterBGPicLibrary>;

// The player's neighbours of the graphics library, with the video recorder's answer to set.
class DisplayTestNeighbours final : public scene::SceneNeighbours,
                                    public scene::DisplayNeighbours,
                                    public objects::ObjectNeighbours {
public:
    bool recording = false;
    bool VideoDumpRecording() override { return recording; }
};

// A queued event as GetEvent gives it.
struct QueuedEvent {
    qvDisplay* display;
    uint32_t type;
};

class DisplayFixture : public LibFixture {
protected:
    DisplayFixture() : LibFixture(OpenDisplayLibraries) {
        gfx::SetNeighbours(&neighbours);
        platform::testing::ResetHeadless();
        RestartWindowNumbers();
        RemoveEvents(L, -1, 1);
    }
    ~DisplayFixture() override {
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeGraphicsObjects(L);
        gfx::SetNeighbours(nullptr);
        media::testing::SetVideoPlayingOn(nullptr);
        platform::testing::RefuseAppWindows(false);
        platform::testing::ResetHeadless();
    }

    // Display 1 made with the options and opened as start-up opens it.
    qvDisplay* Start(std::vector<std::pair<Arg, Arg>> options = {}) {
        EXPECT_EQ(Call("CreateDisplay", {Num(1), Table(std::move(options))}).code, 0);
        EXPECT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
        return Display(1);
    }

    static qvDisplay* Display(uint32_t id) {
        qvDisplay* display = nullptr;
        FindDisplay({id, nullptr}, &display);
        return display;
    }
    static size_t DisplayCount() {
        size_t count = 0;
        for (qvDisplay* d = scene::FirstDisplay(); d != nullptr; d = scene::NextDisplay(d)) {
            ++count;
        }
        return count;
    }

    static qvBGPic* Find(uint32_t id) {
        qvBGPic* picture = nullptr;
        GetBGPic(nullptr, {id, nullptr}, &picture, QV_BGPIC_ORPHANS);
        return picture;
    }
    static size_t PictureCount() {
        size_t count = 0;
        for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) ++count;
        return count;
    }

    // The back end's operation log from now on.
    void ClearLog() { logStart_ = platform::testing::OperationLog().size(); }
    std::vector<std::string> Log() const {
        const std::vector<std::string> all = platform::testing::OperationLog();
        return {all.begin() + std::min(logStart_, all.size()), all.end()};
    }

    // The queued events, taken out of the queue.
    std::vector<QueuedEvent> TakeEvents() {
        std::vector<QueuedEvent> events;
        qvInputEvent event{};
        for (int i = 0; GetEvent(L, i, &event, 0) != 0; ++i) {
            events.push_back({event.display, event.type});
        }
        RemoveEvents(L, -1, 1);
        return events;
    }

    DisplayTestNeighbours neighbours;

private:
    size_t logStart_ = 0;
};

// A picture whose shown pixels all differ from their neighbours.
inline qvBGPic* Patterned(qvBGPic* picture) {
    qvDisplayBitMap* bitmap = picture->shown.bitmap;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            PlotPixel(bitmap, x, y, uint32_t(x * 0x0B0503 + y * 0x030B07 + (x ^ y) * 0x010101));
        }
    }
    return picture;
}

// A layer of one colour on the current output picture; AddBrushLayer's result.
inline int AddSolidLayer(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height,
                         uint32_t colour) {
    OwnedBitMap bitmap(AllocDisplayBitMap(width, height));
    RectFill(bitmap.get(), 0, 0, width, height, colour);
    qvDrawStyle style = kInitialDrawStyle;
    style.transparency = 1;  // refreshed by AddLayer itself
    return AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, x, y, width, height, nullptr, &style,
                         bitmap.release(), nullptr, nullptr, -1, 0);
}

// The pixels of the window's framebuffer as 0xRRGGBB words, row by row.
inline std::vector<uint32_t> WindowPixels(const qvDisplay* display) {
    return Pixels(display->window->framebuffer);
}

}  // namespace qv::testing
