#include "objects/vector/path_commands.h"

#include <algorithm>
#include <array>

#include "engine/convert.h"
#include "objects/vector/path_list.h"
#include "objects/vector/path_queries.h"
#include "objects/vector/vector_neighbours.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"

namespace qv {
namespace {

struct LibraryState {
    int32_t join = QV_JOIN_MITER;
    int32_t cap = QV_CAP_BUTT;
    int32_t fillRule = QV_FILLRULE_WINDING;
    double dashOffset = 0;
    int32_t dashCount = 0;
    double* dashes = nullptr;  // a block of the run-time allocator
    bool forcePathUse = false;
    PathDrawer drawer = nullptr;
};
LibraryState state;

int PathArg(qvVmState* L, int idx, qvPath** path) {
    return FindPath(GetObjectIdArg(L, idx), path);
}

bool FlagArg(qvVmState* L, int idx) {
    return VmType(L, idx) == VM_TBOOLEAN ? VmToBoolean(L, idx) != 0 : GetArgNumber(L, idx) != 0;
}

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

// --- Segments ---

// MoveTo, LineTo, CurveTo and their relative forms: id, then the points.
template <uint32_t Code, int32_t Relative, int Numbers>
int PointSegment(qvVmState* L) {
    CheckArgCount(L, Numbers + 1, Numbers + 1);
    double numbers[Numbers];
    for (int i = 0; i < Numbers; ++i) numbers[i] = GetArgNumber(L, i + 2);
    return AddPointSegment(GetObjectIdArg(L, 1), Code, Relative, numbers);
}

template <uint32_t Code>
int BareSegment(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return AddPathSegment(GetObjectIdArg(L, 1), Code, {});
}

int AddArc(qvVmState* L, double cx, double cy, double rx, double ry, double start, double end,
           int32_t clockwise) {
    const PathOperand operands[] = {PathOperand::Num(cx),       PathOperand::Num(cy),
                                    PathOperand::Num(rx),       PathOperand::Num(ry),
                                    PathOperand::Num(start),    PathOperand::Num(end),
                                    PathOperand::Int(clockwise)};
    return AddPathSegment(GetObjectIdArg(L, 1), QV_PATH_ARC, operands);
}

int AddArcToPath(qvVmState* L) {
    CheckArgCount(L, 7, 8);
    int32_t clockwise = 1;
    if (VmGetTop(L) >= 8 && VmType(L, 8) != VM_TNIL) {
        clockwise = VmType(L, 8) == VM_TBOOLEAN ? VmToBoolean(L, 8) : IntArg(L, 8);
    }
    return AddArc(L, GetArgNumber(L, 2), GetArgNumber(L, 3), GetArgNumber(L, 4), GetArgNumber(L, 5),
                  GetArgNumber(L, 6), GetArgNumber(L, 7), clockwise);
}

int AddCircleToPath(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    const double r = GetArgNumber(L, 4);
    return AddArc(L, GetArgNumber(L, 2), GetArgNumber(L, 3), r, r, 0, 360, 1);
}

int AddEllipseToPath(qvVmState* L) {
    CheckArgCount(L, 5, 5);
    return AddArc(L, GetArgNumber(L, 2), GetArgNumber(L, 3), GetArgNumber(L, 4), GetArgNumber(L, 5),
                  0, 360, 1);
}

// The corner options of a box: "roundlevel" for all four, then each corner on its own.
void ReadCorners(qvVmState* L, int idx, std::array<int32_t, 4>& corners) {
    if (VmGetTop(L) < idx || VmType(L, idx) == VM_TNIL) return;
    CheckArgTable(L, idx);
    constexpr auto clamp = [](int32_t v) { return std::clamp(v, 0, 100); };
    int32_t value = 0;
    if (GetTableFieldInt(L, idx, "roundlevel", &value, nullptr)) corners.fill(clamp(value));
    constexpr const char* kNames[] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (size_t i = 0; i < corners.size(); ++i) {
        if (GetTableFieldInt(L, idx, kNames[i], &value, nullptr)) corners[i] = clamp(value);
    }
}

int AddBoxToPath(qvVmState* L) {
    CheckArgCount(L, 5, 6);
    std::array<int32_t, 4> corners{};
    const double x = GetArgNumber(L, 2), y = GetArgNumber(L, 3);
    const double width = GetArgNumber(L, 4), height = GetArgNumber(L, 5);
    ReadCorners(L, 6, corners);
    const PathOperand operands[] = {PathOperand::Num(x),          PathOperand::Num(y),
                                    PathOperand::Num(width),      PathOperand::Num(height),
                                    PathOperand::Int(corners[0]), PathOperand::Int(corners[1]),
                                    PathOperand::Int(corners[2]), PathOperand::Int(corners[3])};
    return AddPathSegment(GetObjectIdArg(L, 1), QV_PATH_BOX, operands);
}

// --- Stroke state ---

template <int32_t LibraryState::*Field>
int SetStateWord(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    state.*Field = IntArg(L, 1);
    return 0;
}

int SetDash(qvVmState* L) {
    CheckArgCount(L, 2, 0);
    const int count = VmGetTop(L) - 1;
    // Every argument is checked before the old pattern goes.
    for (int i = 1; i <= count + 1; ++i) GetArgNumber(L, i);
    ClearDashPattern();
    if (GetArgNumber(L, 2) < 0) return 0;
    auto* lengths = static_cast<double*>(AllocMemBlock(sizeof(double) * count, 0));
    if (lengths == nullptr) return ERR_MEM;
    for (int i = 0; i < count; ++i) lengths[i] = GetArgNumber(L, i + 2);
    state.dashOffset = GetArgNumber(L, 1);
    state.dashes = lengths;
    state.dashCount = count;
    return 0;
}

// --- Paths ---

int StartPath(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int wasNil = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &wasNil));
    if (!wasNil) FreePathOfNumber(L, number);
    qvPath* path = NewPath(number, wasNil != 0);
    if (path == nullptr) return ERR_MEM;
    return PushNewObjectHandle(L, path->header);
}

int FreePathCommand(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    FreePath(L, path);
    return 0;
}

int ClearPath(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    ClearStream(path);
    return 0;
}

int IsPathEmpty(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    VmPushBoolean(L, path->segments == nullptr);
    return 1;
}

int CopyPath(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvPath* source = nullptr;
    if (int code = PathArg(L, 1, &source)) return code;
    int wasNil = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 2, &wasNil));
    if (!wasNil && source->header.handle == nullptr && source->header.id == number) {
        return ERR_WRONGUSAGE;
    }
    // The copy exists before a path of its id goes, so that nothing is lost when memory is
    // short.
    qvPath* copy = CopyPathRecord(*source, number, wasNil != 0);
    if (copy == nullptr) return ERR_MEM;
    if (!wasNil) FreePathOfNumber(L, number);
    AppendObject(PathListHead(), &copy->header);
    return PushNewObjectHandle(L, copy->header);
}

int AppendPath(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvPath *destination = nullptr, *source = nullptr;
    if (int code = PathArg(L, 1, &destination)) return code;
    if (int code = PathArg(L, 2, &source)) return code;
    if (destination == source) return ERR_WRONGUSAGE;
    return AppendStream(destination, *source);
}

// --- Queries through the back end ---

int GetCurrentPoint(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    double x = 0, y = 0;
    if (path->segments != nullptr) {
        const VectorBackend* backend = FindVectorBackend();
        if (backend == nullptr) return ERR_VECGFXPLUGIN;
        if (int code = PathCurrentPoint(*backend, *path, QueryStrokeStyle(), &x, &y)) return code;
    }
    VmPushNumber(L, x);
    VmPushNumber(L, y);
    return 2;
}

int GetPathExtents(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    PathBounds bounds{};
    if (path->segments != nullptr) {
        const VectorBackend* backend = FindVectorBackend();
        if (backend == nullptr) return ERR_VECGFXPLUGIN;
        const PathDrawSettings draw = PathNeighbours().DrawSettings();
        if (int code = MeasurePath(*backend, *path, QueryStrokeStyle(), draw.fillStyle != kFillNone,
                                   draw.lineWidth, 0, 0, &bounds)) {
            return code;
        }
    }
    for (double v : {bounds.left, bounds.top, bounds.right, bounds.bottom}) VmPushNumber(L, v);
    return 4;
}

int TranslatePath(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const double dx = GetArgNumber(L, 2), dy = GetArgNumber(L, 3);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    if (path->segments == nullptr || (dx == 0 && dy == 0)) return 0;
    const VectorBackend* backend = FindVectorBackend();
    if (backend == nullptr) return ERR_VECGFXPLUGIN;
    return MovePath(*backend, path, dx, dy);
}

int NormalizePath(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPath* path = nullptr;
    if (int code = PathArg(L, 1, &path)) return code;
    if (path->segments == nullptr) return 0;
    const VectorBackend* backend = FindVectorBackend();
    if (backend == nullptr) return ERR_VECGFXPLUGIN;
    PathBounds bounds{};
    if (int code = MeasurePath(*backend, *path, QueryStrokeStyle(), true, 1, 0, 0, &bounds)) {
        return code;
    }
    if (bounds.left == 0 && bounds.top == 0) return 0;
    return MovePath(*backend, path, -bounds.left, -bounds.top);
}

int DrawPath(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    const qvObjectId id = GetObjectIdArg(L, 1);
    const int32_t x = IntArg(L, 2), y = IntArg(L, 3);
    const uint32_t colour = GetOptArgUInt32(L, 4, 0);
    if (FindVectorBackend() == nullptr || state.drawer == nullptr) return ERR_VECGFXPLUGIN;
    return state.drawer(L, id, x, y, colour, 5);
}

int ForcePathUse(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    state.forcePathUse = FlagArg(L, 1);
    return 0;
}

}  // namespace

const qvCommandEntry kVectorCommands[] = {
    {"MoveTo", PointSegment<QV_PATH_MOVETO, 0, 2>},
    {"LineTo", PointSegment<QV_PATH_LINETO, 0, 2>},
    {"CurveTo", PointSegment<QV_PATH_CURVETO, 0, 6>},
    {"RelMoveTo", PointSegment<QV_PATH_MOVETO, 1, 2>},
    {"RelLineTo", PointSegment<QV_PATH_LINETO, 1, 2>},
    {"RelCurveTo", PointSegment<QV_PATH_CURVETO, 1, 6>},
    {"DrawPath", DrawPath},
    {"StartPath", StartPath},
    {"StartSubPath", BareSegment<QV_PATH_NEWSUBPATH>},
    {"ClosePath", BareSegment<QV_PATH_CLOSE>},
    {"AddArcToPath", AddArcToPath},
    {"AddCircleToPath", AddCircleToPath},
    {"AddEllipseToPath", AddEllipseToPath},
    {"AddBoxToPath", AddBoxToPath},
    {"SetLineJoin", SetStateWord<&LibraryState::join>},
    {"SetLineCap", SetStateWord<&LibraryState::cap>},
    {"SetDash", SetDash},
    {"SetFillRule", SetStateWord<&LibraryState::fillRule>},
    {"FreePath", FreePathCommand},
    {"ClearPath", ClearPath},
    {"IsPathEmpty", IsPathEmpty},
    {"GetCurrentPoint", GetCurrentPoint},
    {"GetPathExtents", GetPathExtents},
    {"CopyPath", CopyPath},
    {"AppendPath", AppendPath},
    {"AddTextToPath", AddTextToPath},
    {"TranslatePath", TranslatePath},
    {"NormalizePath", NormalizePath},
    {"ForcePathUse", ForcePathUse},
    {nullptr, nullptr},
};

void ResetPathState() {
    const PathDrawer drawer = state.drawer;
    ClearDashPattern();
    state = LibraryState{};
    state.drawer = drawer;
}

void ClearDashPattern() {
    FreeMemBlock(state.dashes);
    state.dashes = nullptr;
    state.dashCount = 0;
    state.dashOffset = 0;
}

PathStrokeState CurrentStrokeState() {
    return {state.join, state.cap, state.fillRule, state.dashOffset, state.dashCount, state.dashes};
}

qvPathStrokeStyle StrokeStyleOf(const PathStrokeState& s, bool antiAlias) {
    return {s.join, s.cap, s.fillRule, antiAlias ? 1u : 0u, s.dashOffset, s.dashes, s.dashCount};
}

bool PathUseForced() {
    return state.forcePathUse;
}

void SetPathDrawer(PathDrawer drawer) {
    state.drawer = drawer;
}

PathDrawer InstalledPathDrawer() {
    return state.drawer;
}

}  // namespace qv
