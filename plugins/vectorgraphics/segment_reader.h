// Reads a path's segment stream as the run-time writes it, never past its used length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv::vectorgraphics {

struct Segment {
    uint32_t code = 0;
    int32_t ints[4] = {};      // the integer operands in order
    double numbers[6] = {};    // the double operands in order
    std::string_view text{};   // the string operand of QV_PATH_TEXT
    size_t offset = 0;         // of the code word in the stream
    size_t bytes = 0;          // of the whole segment, its code word included
    size_t numbersOffset = 0;  // of the first double operand (they follow each other)

    // Segments 1 to 3 relative to the current point.
    bool Relative() const { return ints[0] != 0; }
    // Whether it draws from the current point: a relative line or curve, or text.
    bool DrawsFromCurrentPoint() const {
        return code == QV_PATH_TEXT ||
               ((code == QV_PATH_LINETO || code == QV_PATH_CURVETO) && Relative());
    }
};

class SegmentReader {
public:
    SegmentReader(const uint8_t* stream, size_t length) : stream_(stream), length_(length) {}

    // The next segment; false at the end (the used length or a zero word) or when the
    // stream does not parse (Failed()).
    bool Next(Segment* segment);
    bool Failed() const { return failed_; }

private:
    bool Fail();

    const uint8_t* stream_;
    size_t length_;
    size_t position_ = 0;
    bool failed_ = false;
};

// Whether the whole stream parses.
bool StreamParses(const uint8_t* stream, size_t length);

}  // namespace qv::vectorgraphics
