#include "platform/linux/video/headless_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"

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

struct LineType {
    const char* name;
    Kind kind;
    Phase phase;
    const char* arguments;  // as the expectation names them
};

constexpr LineType kLineTypes[] = {
    {"click", Kind::kButton, Phase::kBoth, "X Y"}, {"press", Kind::kButton, Phase::kDown, "X Y"},
    {"release", Kind::kButton, Phase::kUp, "X Y"}, {"move", Kind::kMove, Phase::kBoth, "X Y"},
    {"key", Kind::kKey, Phase::kBoth, "CODE"},     {"keydown", Kind::kKey, Phase::kDown, "CODE"},
    {"keyup", Kind::kKey, Phase::kUp, "CODE"},     {"close", Kind::kClose, Phase::kBoth, ""},
};

constexpr const char* kAnyLine =
    "FRAME click|press|release|move X Y, FRAME key|keydown|keyup CODE or FRAME close";

bool ParseArguments(const LineType& type, const std::vector<std::string>& w, ScheduledInput* out) {
    const size_t args = w.size() - 2;
    long long a = 0, b = 0;
    bool ok;
    if (type.kind == Kind::kKey) {
        ok = args == 1 && ParseNumber(w[2], 0, UINT32_MAX, &a);
    } else if (type.kind == Kind::kClose) {
        ok = args == 0;
    } else {
        ok = args == 2 && ParseNumber(w[2], INT32_MIN, INT32_MAX, &a) &&
             ParseNumber(w[3], INT32_MIN, INT32_MAX, &b);
    }
    out->kind = type.kind;
    out->phase = type.phase;
    out->a = int32_t(uint32_t(a));
    out->b = int32_t(b);
    return ok;
}

// Parses one line's words; "" when they are an entry (or none), else what was expected.
std::string ParseLine(const std::vector<std::string>& w, ScheduledInput* out) {
    if (w.empty()) return "";
    long long frame;
    if (w.size() < 2 || !ParseNumber(w[0], 1, INT64_MAX, &frame)) return kAnyLine;
    out->frame = uint64_t(frame);
    for (const LineType& type : kLineTypes) {
        if (w[1] != type.name) continue;
        if (ParseArguments(type, w, out)) return "";
        return std::string("FRAME ") + type.name + (*type.arguments != '\0' ? " " : "") +
               type.arguments;
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
                                               HostEventKind::kMotion, HostEventKind::kClose};
    ScheduledEvents out{};
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
