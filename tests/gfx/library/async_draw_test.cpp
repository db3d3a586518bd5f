// Asynchronous drawing objects driven by a fake producer: the frame protocol, the lookups,
// the callbacks each end calls, and the output checks.
#include <deque>
#include <utility>
#include <vector>

#include "gfx/library/async_draw.h"
#include "platform/linux/memory.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

// A producer of `frames` frames that records every callback and message.
struct Producer {
    int32_t frames = 3;
    int32_t current = 0;
    int steps = 0;
    int stepError = 0;
    int jumpError = 0;
    int finishCalls = 0;
    int32_t finishFlag = -1;
    int freeCalls = 0;
    int32_t freeFlag = -1;
    void* drawn = nullptr;
    void* query = nullptr;
    std::vector<std::pair<int32_t, int32_t>> messages;  // {message, the flag of message 8}

    static int Step(void* self, int32_t* finished) {
        auto* p = static_cast<Producer*>(self);
        ++p->steps;
        if (p->stepError != 0) return p->stepError;
        *finished = ++p->current >= p->frames ? 1 : 0;
        return 0;
    }
    static void Finish(void* self, int32_t finished) {
        auto* p = static_cast<Producer*>(self);
        ++p->finishCalls;
        p->finishFlag = finished;
    }
    static void Free(void* self, int32_t afterFinish) {
        auto* p = static_cast<Producer*>(self);
        ++p->freeCalls;
        p->freeFlag = afterFinish;
    }
    static intptr_t Handle(int32_t message, void* argument, void* self) {
        auto* p = static_cast<Producer*>(self);
        p->messages.push_back({message, message == 8 ? *static_cast<int32_t*>(argument) : -1});
        switch (message) {
            case 2:
                return p->frames;
            case 3:
                return p->current;
            case 4:
                if (p->jumpError != 0) return p->jumpError;
                p->current = *static_cast<int32_t*>(argument);
                return 0;
            case 6:
                *static_cast<void**>(argument) = p->drawn;
                return 0;
            case 7:
                *static_cast<void**>(argument) = p->query;
                return 0;
            default:
                return 0;
        }
    }
    bool Received(int32_t message) const {
        for (auto [m, flag] : messages) {
            if (m == message) return true;
        }
        return false;
    }
};

class AsyncDraws : public GraphicsLib {
protected:
    // The objects call back into their producers until they are freed.
    ~AsyncDraws() override { FreeAsyncDraws(L); }
    Producer& New() { return producers.emplace_back(); }

    std::deque<Producer> producers;

    qvAsyncDraw* Add(Producer* p, int32_t kind = ADF_FX, bool withFinish = true) {
        qvAsyncDraw* a = nullptr;
        EXPECT_EQ(AddAsyncDraw(kind, Producer::Step, 0, withFinish ? Producer::Finish : nullptr,
                               Producer::Free, Producer::Handle, p, &a),
                  0);
        return a;
    }
    CallResult Frame(qvAsyncDraw* a) { return Call("AsyncDrawFrame", {LightUserdata(a)}); }
    CallResult Frame(qvAsyncDraw* a, double frame) {
        return Call("AsyncDrawFrame", {LightUserdata(a), Num(frame)});
    }
};

TEST_F(AsyncDraws, FramesRunToTheEndAndTheObjectGoes) {
    Producer& p = New();
    p.frames = 2;
    qvAsyncDraw* a = Add(&p);
    EXPECT_EQ(Frame(a).Number(), 0);
    EXPECT_EQ(Frame(a).Number(), 0);
    EXPECT_EQ(p.steps, 2);
    EXPECT_EQ(p.finishCalls, 0);
    EXPECT_EQ(Frame(a).Number(), 1) << "the frame after the last finishes";
    EXPECT_EQ(p.finishCalls, 1);
    EXPECT_EQ(p.finishFlag, 1);
    EXPECT_EQ(p.freeCalls, 1);
    EXPECT_EQ(p.freeFlag, 1);
    EXPECT_EQ(Call("CancelAsyncDraw", {LightUserdata(a)}).code, ERR_FINDARRAY);
    CallResult missing = Call("CancelAsyncDraw", {Num(4)});
    EXPECT_EQ(missing.code, ERR_FINDASYNCDRAW);
    EXPECT_EQ(missing.errorNumber, 4u);
}

TEST_F(AsyncDraws, AnObjectBelongsToTheDisplayItWasMadeFor) {
    Producer& p = New();
    qvAsyncDraw* a = Add(&p);
    EXPECT_EQ(DisplayHasAsyncDraws(scene.Display()), 1);
    scene.current = scene.OtherDisplay();
    EXPECT_EQ(DisplayHasAsyncDraws(scene.OtherDisplay()), 0);
    EXPECT_EQ(Frame(a).code, ERR_ADFWRONGDISP);
    EXPECT_EQ(p.steps, 0);
}

TEST_F(AsyncDraws, CancelNeverFinishesAndFinishFinishesOnce) {
    Producer& cancelled = New();
    Producer& finished = New();
    qvAsyncDraw* a = Add(&cancelled);
    qvAsyncDraw* b = Add(&finished);
    ASSERT_EQ(Call("CancelAsyncDraw", {LightUserdata(a)}).code, 0);
    EXPECT_EQ(cancelled.finishCalls, 0);
    EXPECT_EQ(cancelled.freeCalls, 1);
    EXPECT_EQ(cancelled.freeFlag, 0);

    ASSERT_EQ(Frame(b).code, 0);
    ASSERT_EQ(Call("FinishAsyncDraw", {LightUserdata(b)}).code, 0);
    EXPECT_EQ(finished.finishCalls, 1);
    EXPECT_EQ(finished.finishFlag, 0) << "the object had not finished";
    EXPECT_EQ(finished.freeCalls, 1);
    EXPECT_EQ(Call("FinishAsyncDraw", {LightUserdata(b)}).code, ERR_FINDARRAY);
    EXPECT_EQ(finished.finishCalls, 1);
}

TEST_F(AsyncDraws, AProducerWithoutFinishCallbackStillFinishes) {
    Producer& p = New();
    p.frames = 1;
    qvAsyncDraw* a = Add(&p, ADF_FX, false);
    ASSERT_EQ(Frame(a).Number(), 0);
    EXPECT_EQ(Frame(a).Number(), 1);
    EXPECT_EQ(p.freeCalls, 1);
    qvAsyncDraw* b = Add(&p, ADF_FX, false);
    EXPECT_EQ(Call("FinishAsyncDraw", {LightUserdata(b)}).code, 0);
    EXPECT_EQ(p.freeCalls, 2);
}

TEST_F(AsyncDraws, FrameArguments) {
    scene.view.layersEnabled = true;
    struct Case {
        const char* what;
        int32_t current;
        bool finished;
        double frame;
        int code;
        double result;
        int steps;
        bool jumped;
        bool gone;
    };
    const Case cases[] = {
        {"beyond the count", 1, false, 5, ERR_ANIMFRAME, 0, 0, false, false},
        {"the current frame", 1, false, 1, 0, 0, 0, false, false},
        {"the next frame", 1, false, 2, 0, 0, 1, false, false},
        {"frame 0 draws the next", 1, false, 0, 0, 0, 1, false, false},
        {"below 1 counts as 0", 1, false, -7, 0, 0, 1, false, false},
        {"a jump", 0, false, 2, 0, 0, 0, true, false},
        {"a jump to the last", 0, false, 3, 0, 1, 0, true, false},
        {"frame 0 once finished", 3, true, 0, 0, 1, 0, false, true},
        {"beyond the count once finished", 3, true, 9, 0, 1, 0, false, true},
    };
    for (const Case& c : cases) {
        Producer& p = New();
        p.current = c.current;
        qvAsyncDraw* a = Add(&p);
        a->finished = c.finished;
        CallResult r = Frame(a, c.frame);
        EXPECT_EQ(r.code, c.code) << c.what;
        if (c.code == 0) {
            EXPECT_EQ(r.Number(), c.result) << c.what;
        }
        EXPECT_EQ(p.steps, c.steps) << c.what;
        EXPECT_EQ(p.Received(4), c.jumped) << c.what;
        EXPECT_EQ(p.Received(5), c.jumped) << c.what << ": shown on the display";
        EXPECT_EQ(p.freeCalls, c.gone ? 1 : 0) << c.what;
        if (!c.gone) Call("CancelAsyncDraw", {LightUserdata(a)});
    }
    Producer& p = New();
    qvAsyncDraw* a = Add(&p);
    p.jumpError = ERR_ANIMFRAME;
    EXPECT_EQ(Frame(a, 3).code, ERR_ANIMFRAME);
    scene.view.layersEnabled = false;
    EXPECT_EQ(Frame(a, 1).code, ERR_NOLAYERS);
}

TEST_F(AsyncDraws, DrawingIntoAPictureIsBracketedAlsoWhenTheStepFails) {
    scene.view.outputType = gfx::kTargetBGPic;
    int layer = 0;
    Producer& p = New();
    p.drawn = &layer;
    qvAsyncDraw* a = Add(&p);
    ASSERT_EQ(Frame(a).code, 0);
    EXPECT_EQ(p.messages, (std::vector<std::pair<int32_t, int32_t>>{{8, 1}, {8, 0}, {6, -1}}));
    EXPECT_EQ(scene.refreshed, std::vector<void*>{&layer});

    p.messages.clear();
    p.stepError = ERR_MEM;
    EXPECT_EQ(Frame(a).code, ERR_MEM);
    EXPECT_EQ(p.messages, (std::vector<std::pair<int32_t, int32_t>>{{8, 1}, {8, 0}}));
    EXPECT_EQ(scene.refreshed.size(), 1u);
    EXPECT_EQ(p.freeCalls, 0) << "an error never frees the object";
}

TEST_F(AsyncDraws, TheOutputMustBeTheDisplayOrAPicture) {
    struct Case {
        int32_t output;
        bool doubleBuffered;
        int code;
    };
    Producer& p = New();
    qvAsyncDraw* a = Add(&p);
    for (const Case& c : {Case{gfx::kTargetBrush, true, ERR_ENDDOUBLEBUFFER},
                          {gfx::kTargetAnim, false, ERR_SELECTANIM},
                          {gfx::kTargetBrush, false, ERR_SELECTBRUSH},
                          {gfx::kTargetMask, false, ERR_SELECTMASK},
                          {gfx::kTargetAlphaChannel, false, ERR_SELECTALPHACHANNEL},
                          {gfx::kTargetDisplay, true, 0}}) {
        scene.view.outputType = c.output;
        scene.view.doubleBuffered = c.doubleBuffered;
        EXPECT_EQ(Frame(a).code, c.code) << c.output;
    }
}

TEST_F(AsyncDraws, ListServices) {
    Producer& fx = New();
    Producer& anim = New();
    int picture = 0, layer = 0;
    fx.query = &picture;
    anim.query = &layer;  // only ADF_FX objects are asked
    anim.drawn = &layer;
    Add(&anim, ADF_ANIM);
    Add(&fx, ADF_FX);
    EXPECT_EQ(QueryAsyncDraws(), &picture);
    EXPECT_EQ(IsObjectUsedByAsyncDraw(&layer), 1);
    EXPECT_EQ(IsObjectUsedByAsyncDraw(&picture), 0);
    EXPECT_EQ(BroadcastAsyncDraws(1, &layer), 0);
    EXPECT_TRUE(fx.Received(1));
    EXPECT_TRUE(anim.Received(1));

    FreeAsyncDraws(L);
    EXPECT_EQ(fx.freeCalls, 1);
    EXPECT_EQ(fx.freeFlag, 0);
    EXPECT_EQ(anim.freeCalls, 1);
    EXPECT_EQ(anim.freeFlag, 0);
    EXPECT_EQ(fx.finishCalls + anim.finishCalls, 0);
    EXPECT_EQ(DisplayHasAsyncDraws(scene.Display()), 0);
    EXPECT_EQ(QueryAsyncDraws(), nullptr);
}

TEST_F(AsyncDraws, AttributesAskTheHandler) {
    Producer& p = New();
    p.current = 2;
    qvAsyncDraw* a = Add(&p, ADF_MOVEOBJECT);
    EXPECT_EQ(Call("GetAttribute", {Num(37), LightUserdata(a), Num(9)}).Number(), ADF_MOVEOBJECT);
    EXPECT_EQ(Call("GetAttribute", {Num(37), LightUserdata(a), Num(11)}).Number(), 3);
    EXPECT_EQ(Call("GetAttribute", {Num(37), LightUserdata(a), Num(12)}).Number(), 2);
    EXPECT_EQ(Call("GetAttribute", {Num(37), Nil(), Num(60)}).Number(), 1);
    EXPECT_EQ(Call("GetAttribute", {Num(37), Num(8), Num(9)}).code, ERR_FINDASYNCDRAW);
}

TEST_F(AsyncDraws, AddingWithoutMemoryFails) {
    Producer& p = New();
    AllocationFault fault(1, false);
    qvAsyncDraw* a = nullptr;
    EXPECT_EQ(AddAsyncDraw(ADF_FX, Producer::Step, 0, nullptr, nullptr, nullptr, &p, &a), ERR_MEM);
    EXPECT_EQ(a, nullptr);
}

}  // namespace
}  // namespace qv::testing
