#include "plugins/vectorgraphics/segment_reader.h"

#include <cstring>
#include <iterator>

namespace qv::vectorgraphics {
namespace {

// The operands of each code: 'i' int32, 'd' double, 's' string; nullptr for unknown codes.
constexpr const char* kLayouts[] = {
    nullptr,     // 0: the terminator
    "idd",       // move to
    "idd",       // line to
    "idddddd",   // cubic curve to
    nullptr,     // never written
    "",          // start sub-path
    "",          // close path
    "ddddddi",   // arc
    "ddddiiii",  // box
    "iis",       // text
};

}  // namespace

bool SegmentReader::Fail() {
    failed_ = true;
    return false;
}

bool SegmentReader::Next(Segment* s) {
    if (failed_ || position_ == length_) return false;
    if (length_ - position_ < sizeof(uint32_t)) return Fail();
    *s = Segment{};
    s->offset = position_;
    std::memcpy(&s->code, stream_ + position_, sizeof s->code);
    if (s->code == 0) return false;
    if (s->code >= std::size(kLayouts) || kLayouts[s->code] == nullptr) return Fail();
    size_t at = position_ + sizeof(uint32_t);
    int ints = 0, numbers = 0;
    for (const char* kind = kLayouts[s->code]; *kind != '\0'; ++kind) {
        const size_t room = length_ - at;
        if (*kind == 'i') {
            if (room < sizeof(int32_t)) return Fail();
            std::memcpy(&s->ints[ints++], stream_ + at, sizeof(int32_t));
            at += sizeof(int32_t);
        } else if (*kind == 'd') {
            if (room < sizeof(double)) return Fail();
            if (numbers == 0) s->numbersOffset = at;
            std::memcpy(&s->numbers[numbers++], stream_ + at, sizeof(double));
            at += sizeof(double);
        } else {
            const auto* text = static_cast<const uint8_t*>(std::memchr(stream_ + at, 0, room));
            if (text == nullptr) return Fail();
            const auto textLength = static_cast<size_t>(text - (stream_ + at));
            if (qvPathStringRoom(textLength) > room) return Fail();
            s->text = std::string_view(reinterpret_cast<const char*>(stream_ + at), textLength);
            at += qvPathStringRoom(textLength);
        }
    }
    s->bytes = at - position_;
    position_ = at;
    return true;
}

bool StreamParses(const uint8_t* stream, size_t length) {
    SegmentReader reader(stream, length);
    Segment segment;
    while (reader.Next(&segment)) {
    }
    return !reader.Failed();
}

}  // namespace qv::vectorgraphics
