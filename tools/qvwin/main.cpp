// qvwin [--x X] [--y Y] [--width W] [--height H] [--borderless] [--ppm FILE] [--shape FILE]
//       [--frames N]
// Opens one window through the video back end (QV_VIDEO chooses it, as for the player) and
// runs the input pump over it. Prints "READY x y w h" (the inner rectangle on the desktop)
// once the window is shown, then "EVENT type d1 d2 d3" for every queued event: for keys the
// down flag, the qualifiers and the code, for others x, y and the down flag. It ends on a
// close request, after N refreshes of the display, or on SIGTERM.
//
// --ppm shows a binary PPM (P6, maxval 255), whose size is the window's unless --width and
// --height are given; --shape cuts the window to a binary PGM (P5, maxval 255): grey 128 and
// above shows.
#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/display_input.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/support.h"

namespace {

constexpr int kFailure = 20;
constexpr uint32_t kCloseRequest = 7;

volatile std::sig_atomic_t terminated = 0;

struct Options {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool borderless = false;
    const char* ppm = nullptr;
    const char* shape = nullptr;
    long frames = -1;
};

struct Netpbm {
    int32_t width = 0, height = 0;
    int channels = 0;
    std::vector<uint8_t> samples;
};

// A binary PPM (P6) or PGM (P5) with maxval 255; false when it is anything else.
bool ReadNetpbm(const char* file, const char* magic, Netpbm* out) {
    std::ifstream in(file, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    size_t at = 0;
    auto token = [&]() {
        while (at < data.size()) {
            if (data[at] == '#') {
                at = std::min(data.find('\n', at), data.size());
            } else if (std::isspace(uint8_t(data[at]))) {
                ++at;
            } else {
                break;
            }
        }
        const size_t start = at;
        while (at < data.size() && !std::isspace(uint8_t(data[at]))) ++at;
        return data.substr(start, at - start);
    };
    auto number = [&](long high) {
        const std::string t = token();
        char* end = nullptr;
        const long value = std::strtol(t.c_str(), &end, 10);
        return !t.empty() && *end == '\0' && value >= 1 && value <= high ? value : 0;
    };
    if (token() != magic) return false;
    const long width = number(32768), height = number(32768), maxval = number(255);
    out->channels = std::strcmp(magic, "P6") == 0 ? 3 : 1;
    const size_t size = size_t(width) * size_t(height) * size_t(out->channels);
    if (width == 0 || height == 0 || maxval != 255 || data.size() < at + 1 + size) return false;
    out->width = int32_t(width), out->height = int32_t(height);
    out->samples.assign(data.begin() + long(at + 1), data.begin() + long(at + 1 + size));
    return true;
}

bool ParseArguments(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--borderless") {
            o->borderless = true;
            continue;
        }
        if (i + 1 == argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        const long number = std::strtol(value, &end, 10);
        const bool numeric = *value != '\0' && *end == '\0' && number >= -32768 && number <= 32768;
        if (name == "--ppm") {
            o->ppm = value;
        } else if (name == "--shape") {
            o->shape = value;
        } else if (!numeric) {
            return false;
        } else if (name == "--x" || name == "--y") {
            (name == "--x" ? o->x : o->y) = int32_t(number);
        } else if ((name == "--width" || name == "--height") && number > 0) {
            (name == "--width" ? o->width : o->height) = int32_t(number);
        } else if (name == "--frames" && number > 0) {
            o->frames = number;
        } else {
            return false;
        }
    }
    return true;
}

// The one display of the tool: a close request is reported, everything else is only shown.
struct Display {
    qvDisplayPrefix prefix;
};

class ToolInput final : public qv::DisplayInput {
public:
    bool ReportsClose(const qvDisplay*) override { return true; }
    bool IsPrimary(const qvDisplay*) override { return true; }
    uint32_t Flags(const qvDisplay*) override { return 0; }
    void SetKeyState(qvDisplay*, uint32_t, bool) override {}
    void SetButtonState(qvDisplay*, qv::MouseButton, bool) override {}
    void MouseMoved(qvDisplay*, const qvTimeVal&) override {}
    void RequestResize(qvDisplay*, int32_t, int32_t) override {}
    void SetIconified(qvDisplay*, bool) override {}
    void RequestModeSwitch(qvDisplay*) override {}
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "qvwin: %s\n", message.c_str());
    return kFailure;
}

// Prints and removes the queued events; true after a close request.
bool PrintEvents() {
    bool closed = false;
    qvInputEvent e{};
    for (int i = 0; (i = GetEvent(nullptr, i, &e, 0)) != 0; e = {}) {
        if (e.type == QV_EVENT_KEY) {
            std::printf("EVENT %u %u %u %u\n", e.type, e.keyDown, e.keyQualifiers, e.keyCode);
        } else {
            std::printf("EVENT %u %d %d %u\n", e.type, int(e.x), int(e.y), e.down);
        }
        closed = closed || e.type == kCloseRequest;
    }
    RemoveEvents(nullptr, -1, 1);
    std::fflush(stdout);
    return closed;
}

qvPlaneBitMap* ShapeMask(const Netpbm& pgm) {
    qvPlaneBitMap* mask = AllocMaskBitMap(nullptr, pgm.width, pgm.height, 1);
    if (mask == nullptr) return nullptr;
    for (int32_t y = 0; y < pgm.height; ++y) {
        for (int32_t x = 0; x < pgm.width; ++x) {
            if (pgm.samples[size_t(y) * pgm.width + x] >= 128) PlotPixel(mask, x, y, 0);
        }
    }
    return mask;
}

void Paint(qvPlatformDisplay* window, const Netpbm& ppm) {
    for (int32_t y = 0; y < ppm.height; ++y) {
        for (int32_t x = 0; x < ppm.width; ++x) {
            const uint8_t* p = &ppm.samples[(size_t(y) * ppm.width + x) * 3];
            WriteWindowPixel(window, x, y, uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
        }
    }
}

int Run(const Options& o, const Netpbm& ppm, const Netpbm& pgm) {
    static Display display{};
    static ToolInput input;
    qv::OwnedPlane shape(o.shape != nullptr ? ShapeMask(pgm) : nullptr);
    qvPlatformDisplay* window = AllocPlatformDisplay(qv::DisplayOfPrefix(&display.prefix));
    if (window == nullptr) return Fail("out of memory");
    const int32_t width = o.width != 0 ? o.width : ppm.width != 0 ? ppm.width : 320;
    const int32_t height = o.height != 0 ? o.height : ppm.height != 0 ? ppm.height : 200;
    const qvWindowSpec spec{o.x,    o.y, width, height, o.borderless ? QV_WINDOW_BORDERLESS : 0u,
                            "qvwin"};
    if (int code = OpenPlatformWindow(window, spec, 1, shape.get(), nullptr)) {
        FreePlatformDisplay(window);
        return Fail("the window does not open (error " + std::to_string(code) + ")");
    }
    qv::SetDisplayInput(&input);
    Paint(window, ppm);
    qv::Present();
    std::printf("READY %d %d %d %d\n", window->x + window->frame.left,
                window->y + window->frame.top, width, height);
    std::fflush(stdout);
    bool closed = false;
    while (!closed && !terminated && (o.frames < 0 || qv::Refreshes() < uint64_t(o.frames))) {
        if (qv::Video().waitEvent(qv::RefreshTime(qv::Refreshes() + 1))) qv::InputDue().store(1);
        PumpEvents(nullptr);
        closed = PrintEvents();
    }
    qv::SetDisplayInput(nullptr);
    FreePlatformDisplay(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        return Fail(
            "usage: qvwin [--x X] [--y Y] [--width W] [--height H] [--borderless] [--ppm FILE] "
            "[--shape FILE] [--frames N]");
    }
    Netpbm ppm, pgm;
    if (options.ppm != nullptr && !ReadNetpbm(options.ppm, "P6", &ppm)) {
        return Fail(std::string(options.ppm) + " is no binary PPM with maxval 255");
    }
    if (options.shape != nullptr && !ReadNetpbm(options.shape, "P5", &pgm)) {
        return Fail(std::string(options.shape) + " is no binary PGM with maxval 255");
    }
    std::signal(SIGTERM, [](int) { terminated = 1; });
    std::string detail;
    if (int code = qv::StartVideo(&detail)) {
        return Fail("no video (error " + std::to_string(code) + ": " + detail + ")");
    }
    int status = InitSupport() == 0 ? Run(options, ppm, pgm) : Fail("no event queue");
    FreeSupport();
    qv::StopVideo();
    return status;
}
