#include "platform/linux/video/headless_input.h"

#include <algorithm>
#include <cerrno>
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

bool ParseLine(const std::string& line, ScheduledInput* out, bool* empty) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    *empty = w.empty();
    if (w.size() < 2) return false;
    long long frame, a = 0, b = 0;
    if (!ParseNumber(w[0], 1, INT64_MAX, &frame)) return false;
    const std::string& type = w[1];
    const size_t args = w.size() - 2;
    bool ok;
    if (type == "click" || type == "move") {
        ok = args == 2 && ParseNumber(w[2], INT32_MIN, INT32_MAX, &a) &&
             ParseNumber(w[3], INT32_MIN, INT32_MAX, &b);
        out->kind = type == "click" ? ScheduledInput::Kind::kClick : ScheduledInput::Kind::kMove;
    } else if (type == "key") {
        ok = args == 1 && ParseNumber(w[2], 0, UINT32_MAX, &a);
        out->kind = ScheduledInput::Kind::kKey;
    } else {
        ok = type == "close" && args == 0;
        out->kind = ScheduledInput::Kind::kClose;
    }
    out->frame = uint64_t(frame);
    out->a = int32_t(uint32_t(a));
    out->b = int32_t(b);
    return ok;
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
        bool empty;
        if (ParseLine(line, &input, &empty)) {
            out->push_back(input);
        } else if (!empty) {
            // The report shows the file part of the text, so the line is named by its number.
            *detail = std::string(path) + " (line " + std::to_string(number) + ")";
            return ERR_READFILE;
        }
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
    if (input.kind == ScheduledInput::Kind::kKey) {
        first.key = uint32_t(input.a);
    } else {
        first.x = input.a, first.y = input.b;
    }
    out.count = 1;
    // A click and a key are a press and its release.
    if (first.kind == HostEventKind::kButton || first.kind == HostEventKind::kKey) {
        first.down = true;
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
