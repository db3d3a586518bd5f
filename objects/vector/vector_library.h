// The "vectorgraphics" command library: vector paths built from segments (moves, lines, cubic
// curves, arcs, rounded boxes, outline text), the stroke state, and the queries that the
// vector back end answers. The run-time keeps each path's segment stream; all geometry is the
// back end's (vector_backend.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/vm.h"
#include "runtime/objects.h"
#include "runtime/plugin_api/qv_plugin_api.h"

enum : uint32_t { QV_OBJ_VECTORPATH = 49 };

struct qvPath {
    qvObjectHeader header;
    uint8_t* segments;  // the stream, or nullptr for an empty path
    int32_t capacity;   // bytes allocated for the stream
    uint8_t* end;       // where the terminator stands; the next segment goes there
};

// Registers the commands, the constants and the path list; resets join, cap and fill rule.
// 0 or ERR_MEM.
int RegisterVectorGraphicsLibrary(qvVmState* L);
// Shutdown: frees every path and the dash pattern; when the back end was used, the fonts
// give back their vector-font handles first.
void FreeAllPaths(qvVmState* L);

// The path of id; 0, or ERR_FINDARRAY for a handle and ERR_FINDPATH (the number as the error
// argument) for a numeric id.
int FindPath(qvObjectId id, qvPath** path);

namespace qv {

// An operand of AddPathSegment, in 16 bytes: building a segment's operands costs little.
class PathOperand {
public:
    enum class Kind : uint8_t { Integer, Number, Text };

    PathOperand() : PathOperand(Kind::Integer) { integer_ = 0; }

    static PathOperand Int(int32_t v) {
        PathOperand o(Kind::Integer);
        o.integer_ = v;
        return o;
    }
    static PathOperand Num(double v) {
        PathOperand o(Kind::Number);
        o.number_ = v;
        return o;
    }
    // Cut at the first zero byte: the back end reads a string up to it.
    static PathOperand Text(std::string_view v);

    Kind kind() const { return kind_; }
    // The bytes the operand takes in the stream.
    size_t room() const {
        return kind_ == Kind::Integer  ? sizeof(int32_t)
               : kind_ == Kind::Number ? sizeof(double)
                                       : qvPathStringRoom(textLength_);
    }
    int32_t integer() const { return integer_; }
    double number() const { return number_; }
    std::string_view text() const { return {text_, textLength_}; }

private:
    explicit PathOperand(Kind kind) : kind_(kind) {}

    Kind kind_;
    uint32_t textLength_ = 0;
    union {
        int32_t integer_;
        double number_;
        const char* text_;
    };
};
static_assert(sizeof(PathOperand) == 16);

// Appends one segment to the path of id; 0, ERR_MEM (the path unchanged) or the lookup errors.
int AddPathSegment(qvObjectId id, uint32_t code, std::span<const PathOperand> operands);

// Appends a move, line or cubic curve (the relative flag, then 2 or 6 numbers) in one write:
// the segments that paths are mostly made of. A relative one on an empty path gets the move
// to the origin of AddSegmentAfterOrigin.
int AddPointSegment(qvObjectId id, uint32_t code, int32_t relative,
                    std::span<const double> numbers);

// Appends a segment that starts at the current point (a relative one, or text). On an empty
// path a move to the origin goes first: the segment would start there anyway, and so
// translating the path moves it too.
int AddSegmentAfterOrigin(qvObjectId id, uint32_t code, std::span<const PathOperand> operands);

// The bytes of the stream in use (the terminator not counted).
inline size_t UsedBytes(const qvPath& path) {
    return path.segments != nullptr ? static_cast<size_t>(path.end - path.segments) : 0;
}

// The stroke state that drawings copy. The dash lengths belong to the library.
struct PathStrokeState {
    int32_t join;
    int32_t cap;
    int32_t fillRule;
    double dashOffset;
    int32_t dashCount;
    const double* dashes;
};
PathStrokeState CurrentStrokeState();
// The state as the back end takes it.
qvPathStrokeStyle StrokeStyleOf(const PathStrokeState& state, bool antiAlias);

// Whether the draw library's shapes go through paths (ForcePathUse).
bool PathUseForced();

// Draws a path for the command DrawPath (id, x, y, colour, index of the drawing-tags table);
// path rendering installs it. Without it, DrawPath reports ERR_VECGFXPLUGIN.
using PathDrawer = int (*)(qvVmState* L, qvObjectId id, int32_t x, int32_t y, uint32_t colour,
                           int tableIndex);
void SetPathDrawer(PathDrawer drawer);
PathDrawer InstalledPathDrawer();

// Gives back one font's vector-font handle (FreeVectorFont when it holds one) and clears it;
// the font library calls it for every font from ReleaseFontOutlines.
void ReleaseFontOutline(uint32_t* handle);

}  // namespace qv
