// The vectorgraphics library without a real back end: stream bytes, growth, copies and
// appends, the stroke state, the errors of every command, and what the library hands a back
// end (a recording fake).
#include <cstring>
#include <string>
#include <vector>

#include "objects/vector/path_list.h"
#include "platform/linux/memory.h"
#include "tests/objects/vector/vector_test_support.h"

namespace qv::testing {
namespace {

// A back end that records what it is asked and answers as the test says.
struct Recorder {
    std::vector<qvPathExtentsRequest> extents;
    std::vector<qvPathStrokeStyle> styles;
    std::vector<std::pair<double, double>> moves;
    std::vector<uint32_t> freedFonts;
    int currentPointCalls = 0;
    int fontsCreated = 0;
    int answer = 1;
    uint32_t fontHandle = 7;
    double bounds[4] = {3, 4, 10, 12};
};
Recorder recorder;

int FakeExtents(qvPathExtentsRequest* r) {
    recorder.extents.push_back(*r);
    recorder.styles.push_back(*r->style);
    r->left = recorder.bounds[0];
    r->top = recorder.bounds[1];
    r->right = recorder.bounds[2];
    r->bottom = recorder.bounds[3];
    return recorder.answer;
}
int FakeDraw(const qvPathDrawRequest*) {
    return recorder.answer;
}
int FakeTranslate(const qvPathTranslateRequest* r) {
    recorder.moves.emplace_back(r->dx, r->dy);
    return recorder.answer;
}
int FakeCurrentPoint(const uint8_t*, size_t, const qvPathStrokeStyle*, double* x, double* y) {
    ++recorder.currentPointCalls;
    *x = 5;
    *y = 6;
    return recorder.answer;
}
uint32_t FakeCreateFont(FT_Face) {
    ++recorder.fontsCreated;
    return recorder.fontHandle;
}
void FakeFreeFont(uint32_t handle) {
    recorder.freedFonts.push_back(handle);
}
const VectorBackend kFakeBackend = {FakeExtents,      FakeDraw,       FakeTranslate,
                                    FakeCurrentPoint, FakeCreateFont, FakeFreeFont};

class Paths : public VectorLib {
protected:
    Paths() { recorder = Recorder{}; }

    void UseFake() { UseVectorBackend(&kFakeBackend); }
};

TEST_F(Paths, ANewPathIsEmptyAndAnswersZerosWithoutABackEnd) {
    Start(1);
    EXPECT_TRUE(Call("IsPathEmpty", {Num(1)}).results.at(0).boolean);
    const CallResult extents = Call("GetPathExtents", {Num(1)});
    ASSERT_EQ(extents.code, 0);
    ASSERT_EQ(extents.results.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(extents.Number(i), 0);
    const CallResult point = Call("GetCurrentPoint", {Num(1)});
    ASSERT_EQ(point.code, 0);
    EXPECT_EQ(point.Number(0), 0);
    EXPECT_EQ(point.Number(1), 0);
    EXPECT_EQ(Call("NormalizePath", {Num(1)}).code, 0);
    EXPECT_EQ(Call("TranslatePath", {Num(1), Num(3), Num(4)}).code, 0);
    ASSERT_EQ(Call("StartSubPath", {Num(1)}).code, 0);
    EXPECT_FALSE(Call("IsPathEmpty", {Num(1)}).results.at(0).boolean);
}

TEST_F(Paths, GeometryNeedsTheBackEnd) {
    Start(1);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {"GetPathExtents", {Num(1)}, ERR_VECGFXPLUGIN},
        {"GetCurrentPoint", {Num(1)}, ERR_VECGFXPLUGIN},
        {"TranslatePath", {Num(1), Num(1), Num(0)}, ERR_VECGFXPLUGIN},
        {"TranslatePath", {Num(1), Num(0), Num(0)}, 0},
        {"NormalizePath", {Num(1)}, ERR_VECGFXPLUGIN},
        {"AddTextToPath", {Num(1), Str("A")}, ERR_VECGFXPLUGIN},
        {"DrawPath", {Num(1), Num(0), Num(0)}, ERR_VECGFXPLUGIN},
    };
    for (const Case& c : cases) EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
    // Building, copying and appending go on.
    EXPECT_EQ(Call("CopyPath", {Num(1), Num(2)}).code, 0);
    EXPECT_EQ(Call("AppendPath", {Num(2), Num(1)}).code, 0);
    EXPECT_EQ(StreamOf(2).size(), 2 * StreamOf(1).size());
}

TEST_F(Paths, SegmentsAreWrittenInTheStreamLayout) {
    Start(1);
    const std::vector<std::pair<const char*, std::vector<Arg>>> calls = {
        {"MoveTo", {Num(1), Num(10), Num(20.5)}},
        {"LineTo", {Num(1), Num(-3), Num(4)}},
        {"CurveTo", {Num(1), Num(1), Num(2), Num(3), Num(4), Num(5), Num(6)}},
        {"RelMoveTo", {Num(1), Num(1), Num(1)}},
        {"RelLineTo", {Num(1), Num(2), Num(2)}},
        {"RelCurveTo", {Num(1), Num(6), Num(5), Num(4), Num(3), Num(2), Num(1)}},
        {"StartSubPath", {Num(1)}},
        {"ClosePath", {Num(1)}},
        {"AddArcToPath", {Num(1), Num(1), Num(2), Num(3), Num(4), Num(5), Num(6)}},
        {"AddArcToPath", {Num(1), Num(1), Num(2), Num(3), Num(4), Num(5), Num(6), Num(0)}},
        {"AddCircleToPath", {Num(1), Num(50), Num(60), Num(7)}},
        {"AddEllipseToPath", {Num(1), Num(50), Num(60), Num(7), Num(8)}},
        {"AddBoxToPath", {Num(1), Num(1), Num(2), Num(30), Num(40)}},
    };
    for (const auto& [name, args] : calls) ASSERT_EQ(Call(name, args).code, 0) << name;
    StreamBytes expected;
    expected.Move(10, 20.5).Line(-3, 4);
    expected.Code(QV_PATH_CURVETO).Int(0).Num(1).Num(2).Num(3).Num(4).Num(5).Num(6);
    expected.Move(1, 1, 1).Line(2, 2, 1);
    expected.Code(QV_PATH_CURVETO).Int(1).Num(6).Num(5).Num(4).Num(3).Num(2).Num(1);
    expected.Code(QV_PATH_NEWSUBPATH).Close();
    expected.Arc(1, 2, 3, 4, 5, 6, 1).Arc(1, 2, 3, 4, 5, 6, 0);
    expected.Arc(50, 60, 7, 7, 0, 360, 1).Arc(50, 60, 7, 8, 0, 360, 1);
    expected.Box(1, 2, 30, 40);
    EXPECT_EQ(StreamOf(1), expected.bytes());
    // The terminator stands at the end, not counted.
    const qvPath* path = PathOf(1);
    uint32_t terminator = 1;
    std::memcpy(&terminator, path->end, sizeof terminator);
    EXPECT_EQ(terminator, 0u);
}

TEST_F(Paths, ARelativeSegmentOnAnEmptyPathIsWrittenAlone) {
    for (const char* command : {"RelMoveTo", "RelLineTo"}) {
        Start(1);
        ASSERT_EQ(Call(command, {Num(1), Num(5), Num(6)}).code, 0);
        StreamBytes expected;
        expected.Code(std::string(command) == "RelMoveTo" ? QV_PATH_MOVETO : QV_PATH_LINETO);
        expected.Int(1).Num(5).Num(6);
        EXPECT_EQ(StreamOf(1), expected.bytes()) << command;
    }
}

// Before the back end moves a path, each start that the stream leaves at the origin (a
// relative line or curve, or text, first or after a start of a sub-path) gets an absolute
// move to the origin, which then moves with the rest; without room the path stays as it was.
TEST_F(Paths, MovingAPathFixesTheStartsItLeavesAtTheOrigin) {
    UseFake();
    Start(1);
    ASSERT_EQ(Call("RelLineTo", {Num(1), Num(5), Num(6)}).code, 0);
    ASSERT_EQ(Call("RelLineTo", {Num(1), Num(1), Num(1)}).code, 0);
    ASSERT_EQ(Call("StartSubPath", {Num(1)}).code, 0);
    ASSERT_EQ(Call("RelCurveTo", {Num(1), Num(1), Num(2), Num(3), Num(4), Num(5), Num(6)}).code, 0);
    ASSERT_EQ(Call("ClosePath", {Num(1)}).code, 0);
    ASSERT_EQ(Call("RelLineTo", {Num(1), Num(7), Num(8)}).code, 0);
    const std::vector<uint8_t> before = StreamOf(1);
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("TranslatePath", {Num(1), Num(2), Num(3)}).code, ERR_MEM);
    }
    EXPECT_EQ(StreamOf(1), before);
    EXPECT_TRUE(recorder.moves.empty());
    ASSERT_EQ(Call("TranslatePath", {Num(1), Num(2), Num(3)}).code, 0);
    StreamBytes expected;
    expected.Move(0, 0).Code(QV_PATH_LINETO).Int(1).Num(5).Num(6);
    expected.Code(QV_PATH_LINETO).Int(1).Num(1).Num(1).Code(QV_PATH_NEWSUBPATH).Move(0, 0);
    expected.Code(QV_PATH_CURVETO).Int(1).Num(1).Num(2).Num(3).Num(4).Num(5).Num(6);
    expected.Code(QV_PATH_CLOSE).Code(QV_PATH_LINETO).Int(1).Num(7).Num(8);
    EXPECT_EQ(StreamOf(1), expected.bytes());
    ASSERT_EQ(recorder.moves.size(), 1u);
    // Nothing is left at the origin now: a second move adds nothing.
    ASSERT_EQ(Call("NormalizePath", {Num(1)}).code, 0);
    EXPECT_EQ(StreamOf(1), expected.bytes());
}

TEST_F(Paths, StringOperandsArePaddedToWholeWords) {
    struct Case {
        std::string text;
        size_t room;
    };
    const Case cases[] = {{"", 4},         {"a", 4},      {"ab", 4},
                          {"abc", 8},      {"abcd", 8},   {"abcdef", 8},
                          {"abcdefg", 12}, {"ab\0cd", 4}, {"\xC3\xA9", 4}};
    for (const Case& c : cases) {
        Start(1);
        const PathOperand operands[] = {PathOperand::Text(c.text)};
        ASSERT_EQ(AddPathSegment({1, nullptr}, QV_PATH_TEXT, operands), 0);
        const std::vector<uint8_t> bytes = StreamOf(1);
        ASSERT_EQ(bytes.size(), 4 + c.room) << c.text;
        const std::string kept(c.text.c_str());
        EXPECT_EQ(std::memcmp(bytes.data() + 4, kept.data(), kept.size()), 0);
        for (size_t i = 4 + kept.size(); i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0) << i;
    }
}

TEST_F(Paths, StreamsGrowByAtLeast1024BytesWhen128DoNotFit) {
    Start(1);
    const qvPath* path = PathOf(1);
    constexpr size_t kMove = 4 + 4 + 16;
    std::vector<int32_t> capacities;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(Call("MoveTo", {Num(1), Num(i), Num(i)}).code, 0);
        capacities.push_back(path->capacity);
    }
    // 128 bytes are wanted for each segment: the first 1024 bytes take 38 moves.
    for (size_t i = 0; i < capacities.size(); ++i) {
        const bool fitted = 1024 - i * kMove >= 128;
        EXPECT_EQ(capacities[i], fitted ? 1024 : 2048) << i;
    }
    // A segment longer than the minimum growth grows the stream by what it needs.
    const int32_t before = path->capacity;
    const std::string text(3000, 'x');
    const PathOperand operands[] = {PathOperand::Text(text)};
    ASSERT_EQ(AddPathSegment({1, nullptr}, QV_PATH_TEXT, operands), 0);
    EXPECT_EQ(path->capacity, before + 128 + static_cast<int32_t>(qvPathStringRoom(3000)));
}

TEST_F(Paths, AFailedAllocationLeavesEverythingAsItWas) {
    Start(1);
    const qvPath* path = PathOf(1);
    while (path->capacity == 0 || path->capacity - UsedBytes(*path) >= 128) {
        ASSERT_EQ(Call("LineTo", {Num(1), Num(1), Num(2)}).code, 0);
    }
    const std::vector<uint8_t> before = StreamOf(1);
    const int32_t capacity = path->capacity;
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("LineTo", {Num(1), Num(3), Num(4)}).code, ERR_MEM);
        EXPECT_EQ(Call("StartPath", {Num(2)}).code, ERR_MEM);
        EXPECT_EQ(Call("CopyPath", {Num(1), Num(3)}).code, ERR_MEM);
        EXPECT_EQ(Call("SetDash", {Num(1), Num(4), Num(2)}).code, ERR_MEM);
    }
    EXPECT_EQ(StreamOf(1), before);
    EXPECT_EQ(path->capacity, capacity);
    EXPECT_EQ(Call("IsPathEmpty", {Num(2)}).code, ERR_FINDPATH);
    EXPECT_EQ(CurrentStrokeState().dashCount, 0);
    // A relative segment on an empty path comes with its move to the origin, or not at all.
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("StartPath", {Num(4)}).code, ERR_MEM);
    }
    Start(4);
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("RelLineTo", {Num(4), Num(3), Num(4)}).code, ERR_MEM);
    }
    EXPECT_TRUE(Call("IsPathEmpty", {Num(4)}).results.at(0).boolean);
    // A copy that fails keeps the path that had the id.
    Start(3);
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("CopyPath", {Num(1), Num(3)}).code, ERR_MEM);
    }
    EXPECT_TRUE(Call("IsPathEmpty", {Num(3)}).results.at(0).boolean);
}

TEST_F(Paths, AppendPathJoinsStreams) {
    Start(1);
    Start(2);
    Start(3);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    ASSERT_EQ(Call("ClosePath", {Num(2)}).code, 0);
    EXPECT_EQ(Call("AppendPath", {Num(1), Num(1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("AppendPath", {Num(1), Num(3)}).code, 0);  // empty source
    EXPECT_EQ(StreamOf(1), StreamBytes().Move(1, 2).bytes());
    ASSERT_EQ(Call("AppendPath", {Num(1), Num(2)}).code, 0);
    EXPECT_EQ(StreamOf(1), StreamBytes().Move(1, 2).Close().bytes());
    // Onto an empty path: the source's bytes, the stream grown by at least 1024.
    ASSERT_EQ(Call("AppendPath", {Num(3), Num(1)}).code, 0);
    EXPECT_EQ(StreamOf(3), StreamOf(1));
    EXPECT_EQ(PathOf(3)->capacity, 1024);
    EXPECT_EQ(Call("AppendPath", {Num(3), Num(9)}).code, ERR_FINDPATH);
}

TEST_F(Paths, CopyPathMakesAnIndependentPath) {
    Start(1);
    ASSERT_EQ(Call("LineTo", {Num(1), Num(1), Num(2)}).code, 0);
    EXPECT_EQ(Call("CopyPath", {Num(1), Num(1)}).code, ERR_WRONGUSAGE);
    // A path that has the new id is replaced.
    Start(2);
    ASSERT_EQ(Call("CopyPath", {Num(1), Num(2)}).code, 0);
    EXPECT_EQ(StreamOf(2), StreamOf(1));
    EXPECT_EQ(PathOf(2)->capacity, PathOf(1)->capacity);
    ASSERT_EQ(Call("ClosePath", {Num(1)}).code, 0);
    EXPECT_EQ(StreamOf(2), StreamBytes().Line(1, 2).bytes());
    // An automatic id comes back as a handle, which names the copy.
    const CallResult copy = Call("CopyPath", {Num(1), Nil()});
    ASSERT_EQ(copy.code, 0);
    ASSERT_EQ(copy.results.size(), 1u);
    void* handle = const_cast<void*>(copy.results[0].pointer);
    EXPECT_FALSE(Call("IsPathEmpty", {LightUserdata(handle)}).results.at(0).boolean);
    EXPECT_EQ(Call("CopyPath", {LightUserdata(handle), Nil()}).code, 0);
    // An empty path copies as an empty path.
    Start(4);
    ASSERT_EQ(Call("CopyPath", {Num(4), Num(5)}).code, 0);
    EXPECT_TRUE(Call("IsPathEmpty", {Num(5)}).results.at(0).boolean);
}

TEST_F(Paths, StartFreeAndClear) {
    Start(1);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    Start(1);  // replaces the path of that id
    EXPECT_TRUE(Call("IsPathEmpty", {Num(1)}).results.at(0).boolean);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    ASSERT_EQ(Call("ClearPath", {Num(1)}).code, 0);
    const qvPath* path = PathOf(1);
    EXPECT_EQ(path->segments, nullptr);
    EXPECT_EQ(path->capacity, 0);
    EXPECT_EQ(path->end, nullptr);
    ASSERT_EQ(Call("FreePath", {Num(1)}).code, 0);
    EXPECT_EQ(Call("IsPathEmpty", {Num(1)}).code, ERR_FINDPATH);
    const CallResult automatic = Call("StartPath", {Nil()});
    ASSERT_EQ(automatic.results.size(), 1u);
    EXPECT_EQ(automatic.results[0].type, VM_TLIGHTUSERDATA);
    EXPECT_EQ(CountObjectsOfType(QV_OBJ_VECTORPATH), 1);
}

TEST_F(Paths, UnknownIdsGiveTheLookupErrors) {
    int anything = 0;
    const std::vector<std::pair<const char*, std::vector<Arg>>> calls = {
        {"MoveTo", {Num(9), Num(0), Num(0)}},
        {"RelCurveTo", {Num(9), Num(0), Num(0), Num(0), Num(0), Num(0), Num(0)}},
        {"StartSubPath", {Num(9)}},
        {"AddBoxToPath", {Num(9), Num(0), Num(0), Num(1), Num(1)}},
        {"FreePath", {Num(9)}},
        {"ClearPath", {Num(9)}},
        {"IsPathEmpty", {Num(9)}},
        {"GetCurrentPoint", {Num(9)}},
        {"GetPathExtents", {Num(9)}},
        {"CopyPath", {Num(9), Num(1)}},
        {"AppendPath", {Num(9), Num(9)}},
        {"TranslatePath", {Num(9), Num(1), Num(1)}},
        {"NormalizePath", {Num(9)}},
    };
    for (const auto& [name, args] : calls) {
        const CallResult r = Call(name, args);
        EXPECT_EQ(r.code, ERR_FINDPATH) << name;
        EXPECT_EQ(r.errorNumber, 9u) << name;
        std::vector<Arg> byHandle = args;
        byHandle[0] = LightUserdata(&anything);
        EXPECT_EQ(Call(name, byHandle).code, ERR_FINDARRAY) << name;
    }
}

TEST_F(Paths, BadArgumentsAreRefused) {
    Start(1);
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {"MoveTo", {Num(1), Num(0)}, ERR_MISSINGPARAMTR},
        {"MoveTo", {Num(1), Num(0), Num(0), Num(0)}, ERR_TOOMANYARGS},
        {"LineTo", {Num(1), Str("x"), Num(0)}, ERR_NUMEXPECTED},
        {"SetDash", {Num(0)}, ERR_MISSINGPARAMTR},
        {"SetDash", {Num(0), Num(1), Str("x")}, ERR_NUMEXPECTED},
        {"AddBoxToPath", {Num(1), Num(0), Num(0), Num(1), Num(1), Num(5)}, ERR_TABEXPECTED},
        {"AddTextToPath", {Num(1)}, ERR_MISSINGPARAMTR},
        {"DrawPath", {Num(1), Num(0)}, ERR_MISSINGPARAMTR},
        {"StartPath", {}, ERR_MISSINGPARAMTR},
    };
    for (const Case& c : cases) EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
    EXPECT_TRUE(Call("IsPathEmpty", {Num(1)}).results.at(0).boolean);
}

TEST_F(Paths, BoxCornersComeFromTheOptions) {
    struct Case {
        std::vector<std::pair<Arg, Arg>> options;
        int32_t a, b, c, d;
    };
    const Case cases[] = {
        {{}, 0, 0, 0, 0},
        {{{Str("roundlevel"), Num(150)}}, 100, 100, 100, 100},
        {{{Str("roundlevel"), Num(50)}, {Str("cornera"), Num(10)}}, 10, 50, 50, 50},
        {{{Str("cornerb"), Num(-5)}, {Str("cornerc"), Num(30)}, {Str("cornerd"), Num(101)}},
         0,
         0,
         30,
         100},
    };
    for (const Case& c : cases) {
        Start(1);
        ASSERT_EQ(
            Call("AddBoxToPath", {Num(1), Num(1), Num(2), Num(3), Num(4), Table(c.options)}).code,
            0);
        EXPECT_EQ(StreamOf(1), StreamBytes().Box(1, 2, 3, 4, c.a, c.b, c.c, c.d).bytes());
    }
}

TEST_F(Paths, StrokeStateIsStoredAsGiven) {
    ASSERT_EQ(Call("SetLineJoin", {Num(7)}).code, 0);
    ASSERT_EQ(Call("SetLineCap", {Num(-2)}).code, 0);
    ASSERT_EQ(Call("SetFillRule", {Num(1)}).code, 0);
    PathStrokeState s = CurrentStrokeState();
    EXPECT_EQ(s.join, 7);
    EXPECT_EQ(s.cap, -2);
    EXPECT_EQ(s.fillRule, 1);
    ASSERT_EQ(Call("SetDash", {Num(2), Num(5), Num(3)}).code, 0);
    s = CurrentStrokeState();
    EXPECT_EQ(s.dashOffset, 2);
    ASSERT_EQ(s.dashCount, 2);
    EXPECT_EQ(s.dashes[0], 5);
    EXPECT_EQ(s.dashes[1], 3);
    ASSERT_EQ(Call("SetDash", {Num(4), Num(-1), Num(3)}).code, 0);
    s = CurrentStrokeState();
    EXPECT_EQ(s.dashCount, 0);
    EXPECT_EQ(s.dashOffset, 0);
    // Registration starts over.
    ASSERT_EQ(RegisterVectorGraphicsLibrary(L), 0);
    s = CurrentStrokeState();
    EXPECT_EQ(s.join, QV_JOIN_MITER);
    EXPECT_EQ(s.cap, QV_CAP_BUTT);
    EXPECT_EQ(s.fillRule, QV_FILLRULE_WINDING);
}

TEST_F(Paths, ConstantsAndForcedPathUse) {
    const std::pair<const char*, double> constants[] = {
        {"JOINMITER", 0}, {"JOINROUND", 1}, {"JOINBEVEL", 2},       {"CAPBUTT", 0},
        {"CAPROUND", 1},  {"CAPSQUARE", 2}, {"FILLRULEWINDING", 0}, {"FILLRULEEVENODD", 1}};
    for (const auto& [name, value] : constants) {
        const char* text = nullptr;
        double number = -1;
        ASSERT_NE(LookupConstant(L, name, &text, &number), 0) << name;
        EXPECT_EQ(number, value) << name;
    }
    EXPECT_FALSE(PathUseForced());
    ASSERT_EQ(Call("ForcePathUse", {Bool(true)}).code, 0);
    EXPECT_TRUE(PathUseForced());
    ASSERT_EQ(Call("ForcePathUse", {Num(0)}).code, 0);
    EXPECT_FALSE(PathUseForced());
}

TEST_F(Paths, QueriesHandTheBackEndTheStateOfTheMoment) {
    UseFake();
    Start(1);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    ASSERT_EQ(Call("SetLineJoin", {Num(QV_JOIN_ROUND)}).code, 0);
    ASSERT_EQ(Call("SetDash", {Num(1), Num(4), Num(2)}).code, 0);
    neighbours.draw = {kFillNone, kFormAntiAlias, 6};
    CallResult r = Call("GetPathExtents", {Num(1)});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.Number(0), 3);
    EXPECT_EQ(r.Number(3), 12);
    neighbours.draw = {kFillColour, kFormNormal, 2};
    ASSERT_EQ(Call("GetPathExtents", {Num(1)}).code, 0);
    ASSERT_EQ(recorder.extents.size(), 2u);
    EXPECT_EQ(recorder.extents[0].fill, 0u);
    EXPECT_EQ(recorder.extents[0].lineWidth, 6);
    EXPECT_EQ(recorder.extents[0].length, StreamOf(1).size());
    EXPECT_EQ(recorder.styles[0].antiAlias, 1u);
    EXPECT_EQ(recorder.styles[0].join, QV_JOIN_ROUND);
    EXPECT_EQ(recorder.styles[0].dashCount, 2);
    EXPECT_EQ(recorder.extents[1].fill, 1u);
    EXPECT_EQ(recorder.styles[1].antiAlias, 0u);
    r = Call("GetCurrentPoint", {Num(1)});
    EXPECT_EQ(r.Number(0), 5);
    EXPECT_EQ(r.Number(1), 6);
    // NormalizePath measures the filled area at width 1 and moves it to the origin.
    ASSERT_EQ(Call("NormalizePath", {Num(1)}).code, 0);
    ASSERT_EQ(recorder.extents.size(), 3u);
    EXPECT_EQ(recorder.extents[2].fill, 1u);
    EXPECT_EQ(recorder.extents[2].lineWidth, 1);
    ASSERT_EQ(recorder.moves.size(), 1u);
    EXPECT_EQ(recorder.moves[0], std::make_pair(-3.0, -4.0));
    ASSERT_EQ(Call("TranslatePath", {Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("TranslatePath", {Num(1), Num(2), Num(0)}).code, 0);
    EXPECT_EQ(recorder.moves.size(), 2u);
    // A back end that fails is reported.
    recorder.answer = 0;
    EXPECT_EQ(Call("GetPathExtents", {Num(1)}).code, ERR_DRAWPATH);
    EXPECT_EQ(Call("GetCurrentPoint", {Num(1)}).code, ERR_DRAWPATH);
    EXPECT_EQ(Call("TranslatePath", {Num(1), Num(1), Num(1)}).code, ERR_DRAWPATH);
}

int drawnX = 0, drawnY = 0, drawnTable = 0;
uint32_t drawnColour = 0;

TEST_F(Paths, DrawPathGoesToTheInstalledRenderer) {
    Start(1);
    UseFake();
    // Path rendering is installed with the library: an empty path has nothing to draw.
    EXPECT_EQ(Call("DrawPath", {Num(1), Num(0), Num(0)}).code, ERR_EMPTYPATH);
    SetPathDrawer([](qvVmState*, qvObjectId id, int32_t x, int32_t y, uint32_t colour, int table) {
        drawnX = x, drawnY = y, drawnColour = colour, drawnTable = table;
        return id.number == 1 ? 0 : ERR_FINDPATH;
    });
    EXPECT_EQ(Call("DrawPath", {Num(1), Num(12.7), Num(-3), Num(0xFF00FF)}).code, 0);
    SetPathDrawer(nullptr);
    EXPECT_EQ(drawnX, 12);
    EXPECT_EQ(drawnY, -3);
    EXPECT_EQ(drawnColour, 0xFF00FFu);
    EXPECT_EQ(drawnTable, 5);
}

TEST_F(Paths, TextTakesTheCurrentFontOfTheBuiltInEngine) {
    UseFake();
    Start(1);
    EXPECT_EQ(Call("AddTextToPath", {Num(1), Str("A")}).code, ERR_VFONTTYPE);
    uint32_t handle = 0;
    neighbours.fontStatus = 0;
    neighbours.font = {nullptr, 24, &handle};
    const Arg badEncoding = Table({{Str("encoding"), Num(2)}});
    EXPECT_EQ(Call("AddTextToPath", {Num(1), Str("A"), badEncoding}).code, ERR_WRONGUSAGE);
    recorder.fontHandle = 0;
    EXPECT_EQ(Call("AddTextToPath", {Num(1), Str("A")}).code, ERR_VFONT);
    EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(Call("IsPathEmpty", {Num(1)}).results.at(0).boolean);
    recorder.fontHandle = 7;
    // ISO 8859-1 by default, as UTF-8 in the stream; nothing comes before the first text, so
    // that appending the path continues from the destination's point.
    ASSERT_EQ(Call("AddTextToPath", {Num(1), Str("A\xE9")}).code, 0);
    const Arg utf8 = Table({{Str("encoding"), Num(1)}});
    ASSERT_EQ(Call("AddTextToPath", {Num(1), Str("\xE2\x82\xAC"), utf8}).code, 0);
    neighbours.encoding = kEncodingUtf8;
    ASSERT_EQ(Call("AddTextToPath", {Num(1), Str("x\0y")}).code, 0);
    EXPECT_EQ(handle, 7u);
    EXPECT_EQ(recorder.fontsCreated, 2);  // the failed one and the one the font keeps
    StreamBytes expected;
    expected.Code(QV_PATH_TEXT).Int(7).Int(24).Text("A\xC3\xA9");
    expected.Code(QV_PATH_TEXT).Int(7).Int(24).Text("\xE2\x82\xAC");
    expected.Code(QV_PATH_TEXT).Int(7).Int(24).Text("x");
    EXPECT_EQ(StreamOf(1), expected.bytes());
    // At shutdown the fonts give their handles back, since the back end was used.
    FreeAllPaths(L);
    EXPECT_EQ(neighbours.releases, 1);
    EXPECT_EQ(recorder.freedFonts, std::vector<uint32_t>{7});
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(VectorBackendFound());
}

TEST_F(Paths, ShutdownReleasesNoFontsWhenTheBackEndWasNeverFound) {
    Start(1);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(1), Num(2)}).code, 0);
    ASSERT_EQ(Call("SetDash", {Num(1), Num(4)}).code, 0);
    FreeAllPaths(L);
    EXPECT_EQ(neighbours.releases, 0);
    EXPECT_EQ(CountObjectsOfType(QV_OBJ_VECTORPATH), 0);
    EXPECT_EQ(CurrentStrokeState().dashCount, 0);
}

}  // namespace
}  // namespace qv::testing
