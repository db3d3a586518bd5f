#include "platform/linux/video/headless_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/window.h"

namespace qv {
namespace {

// A whole decimal number in [low, high].
bool ParseNumber(const std::string& text, long long low, long long high, long long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

using Kind = ScheduledInput::Kind;
using Phase = ScheduledInput::Phase;

// What follows a line's type.
enum class Arguments : uint8_t { kPoint, kSize, kCode, kNone };

struct LineType {
    const char* name;
    Kind kind;
    Phase phase;
    Arguments arguments;
};

constexpr LineType kLineTypes[] = {
    {"click", Kind::kButton, Phase::kBoth, Arguments::kPoint},
    {"press", Kind::kButton, Phase::kDown, Arguments::kPoint},
    {"release", Kind::kButton, Phase::kUp, Arguments::kPoint},
    {"move", Kind::kMove, Phase::kBoth, Arguments::kPoint},
    {"key", Kind::kKey, Phase::kBoth, Arguments::kCode},
    {"keydown", Kind::kKey, Phase::kDown, Arguments::kCode},
    {"keyup", Kind::kKey, Phase::kUp, Arguments::kCode},
    {"close", Kind::kClose, Phase::kBoth, Arguments::kNone},
    {"movewindow", Kind::kMoveWindow, Phase::kBoth, Arguments::kPoint},
    {"sizewindow", Kind::kSizeWindow, Phase::kBoth, Arguments::kSize},
    {"activate", Kind::kActivate, Phase::kBoth, Arguments::kNone},
    {"deactivate", Kind::kDeactivate, Phase::kBoth, Arguments::kNone},
};

constexpr const char* kAnyLine =
    "FRAME click|press|release|move|movewindow X Y, FRAME sizewindow W H, FRAME "
    "key|keydown|keyup CODE or FRAME close|activate|deactivate, each with an optional @DISPLAY";

// The words a type's arguments are named by in what a line was expected to be.
const char* ArgumentNames(Arguments arguments) {
    switch (arguments) {
        case Arguments::kPoint:
            return " X Y";
        case Arguments::kSize:
            return " W H";
        case Arguments::kCode:
            return " CODE";
        case Arguments::kNone:
            break;
    }
    return "";
}

// The words after the type (a trailing @DISPLAY taken off before).
bool ParseArguments(Arguments arguments, const std::vector<std::string>& w, ScheduledInput* out) {
    long long a = 0, b = 0;
    switch (arguments) {
        case Arguments::kCode:
            if (w.size() != 1 || !ParseNumber(w[0], 0, UINT32_MAX, &a)) return false;
            break;
        case Arguments::kNone:
            if (!w.empty()) return false;
            break;
        case Arguments::kPoint:
        case Arguments::kSize: {
            const bool size = arguments == Arguments::kSize;
            const long long low = size ? 1 : INT32_MIN, high = size ? kMaxWindowSide : INT32_MAX;
            if (w.size() != 2 || !ParseNumber(w[0], low, high, &a) ||
                !ParseNumber(w[1], low, high, &b)) {
                return false;
            }
            break;
        }
    }
    out->a = int32_t(uint32_t(a));
    out->b = int32_t(b);
    return true;
}

// Takes a trailing "@DISPLAY" (a display's numeric id, from 1) off the words; false when the
// last word begins with "@" but names no display.
bool TakeDisplay(std::vector<std::string>* w, ScheduledInput* out) {
    if (w->empty() || w->back()[0] != '@') return true;
    long long id;
    if (!ParseNumber(w->back().substr(1), 1, UINT32_MAX, &id)) return false;
    out->display = uint32_t(id);
    w->pop_back();
    return true;
}

// Parses one line's words; "" when they are an entry (or none), else what was expected.
std::string ParseLine(const std::vector<std::string>& words, ScheduledInput* out) {
    if (words.empty()) return "";
    long long frame;
    if (words.size() < 2 || !ParseNumber(words[0], 1, INT64_MAX, &frame)) return kAnyLine;
    out->frame = uint64_t(frame);
    for (const LineType& type : kLineTypes) {
        if (words[1] != type.name) continue;
        out->kind = type.kind;
        out->phase = type.phase;
        std::vector<std::string> arguments(words.begin() + 2, words.end());
        if (TakeDisplay(&arguments, out) && ParseArguments(type.arguments, arguments, out)) {
            return "";
        }
        return std::string("FRAME ") + type.name + ArgumentNames(type.arguments) + " [@DISPLAY]";
    }
    return kAnyLine;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    return w;
}

int Load(const char* path, std::vector<ScheduledInput>* out, std::string* detail) {
    std::ifstream in(path);
    if (!in) {
        *detail = std::string(path) + " (cannot be opened)";
        return ERR_READFILE;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        ScheduledInput input{};
        const std::vector<std::string> words = Words(line);
        const std::string expected = ParseLine(words, &input);
        if (!expected.empty()) {
            std::fprintf(stderr, "QV_HEADLESS_INPUT %s line %d \"%s\": expected %s\n", path, number,
                         line.c_str(), expected.c_str());
            // The report shows the file part of the text, so the line is named by its number.
            *detail = std::string(path) + " (line " + std::to_string(number) + ")";
            return ERR_READFILE;
        }
        if (!words.empty()) out->push_back(input);
    }
    std::stable_sort(
        out->begin(), out->end(),
        [](const ScheduledInput& l, const ScheduledInput& r) { return l.frame < r.frame; });
    return 0;
}

}  // namespace

ScheduledEvents HostEventsOf(const ScheduledInput& input) {
    static constexpr HostEventKind kKinds[] = {HostEventKind::kButton, HostEventKind::kKey,
                                               HostEventKind::kMotion, HostEventKind::kClose,
                                               HostEventKind::kMoved,  HostEventKind::kResized};
    ScheduledEvents out{};
    if (input.kind == Kind::kActivate || input.kind == Kind::kDeactivate) return out;
    HostEvent& first = out.events[0];
    first.kind = kKinds[int(input.kind)];
    if (input.kind == Kind::kKey) {
        first.key = uint32_t(input.a);
    } else {
        first.x = input.a, first.y = input.b;
    }
    out.count = 1;
    if (first.kind != HostEventKind::kButton && first.kind != HostEventKind::kKey) return out;
    first.down = input.phase != Phase::kUp;
    // A click and a key are a press and its release.
    if (input.phase == Phase::kBoth) {
        out.events[1] = first;
        out.events[1].down = false;
        out.count = 2;
    }
    return out;
}

int LoadInputSchedule(const char* path, std::vector<ScheduledInput>* out, std::string* detail) {
    out->clear();
    return CatchAllocFailure(int(ERR_MEM), [&] { return Load(path, out, detail); });
}

}  // namespace qv
