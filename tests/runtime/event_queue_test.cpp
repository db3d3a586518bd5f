// The event queue: order, capacity, removal and expiry with an injected clock, ownership of
// the entries' extra blocks (every one freed exactly once), and posts from other threads.
#include "runtime/event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/memory.h"
#include "runtime/attributes.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"

namespace {

using Tags = std::vector<uint32_t>;

// The injected monotonic clock, in microseconds.
std::atomic<uint64_t> clockMicros{0};

int64_t TestMicros() {
    return static_cast<int64_t>(clockMicros.load());
}

// Only the monotonic clock matters to the queue.
constexpr qv::SystemClock kTestClock = {TestMicros, TestMicros, [](int64_t) {}};

class EventQueue : public ::testing::Test {
protected:
    void SetUp() override {
        qv::ResetRuntimeState();
        before_ = qv::GetMemoryStats().liveBlocks;
        clockMicros = 1000000;
        qv::SetSystemClock(&kTestClock);
        ASSERT_EQ(InitSupport(), 0);
    }
    void TearDown() override {
        FreeSupport();
        qv::SetSystemClock(nullptr);
        // Every extra block handed to the queue was freed, and only once.
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before_);
        qv::ResetRuntimeState();
    }

    // A block of the run-time allocator that names itself.
    static void* Block(uint32_t tag) {
        auto* block = static_cast<uint32_t*>(AllocMemBlock(sizeof(uint32_t), 0));
        *block = tag;
        return block;
    }
    static uint32_t TagOf(const void* block) {
        return block != nullptr ? *static_cast<const uint32_t*>(block) : 0;
    }

    static int Post(uint32_t tag, qvDisplay* display = nullptr, uint32_t type = 7) {
        void* extra = Block(tag);
        int queued = PostEvent(display, type, tag, 0, 0, extra);
        if (queued == 0) FreeMemBlock(extra);
        return queued;
    }

    // The tags of the queued entries' extra blocks in queue order.
    static std::vector<uint32_t> QueuedTags() {
        std::vector<uint32_t> tags;
        qvInputEvent e{};
        for (int i = 0; GetEvent(nullptr, i, &e, 0) != 0; ++i) tags.push_back(TagOf(e.extra));
        return tags;
    }

    size_t before_ = 0;
};

TEST_F(EventQueue, TheEventBeyond256IsLostAndStaysWithThePoster) {
    for (uint32_t i = 1; i <= kEventQueueSize; ++i) ASSERT_EQ(Post(i), 1);
    EXPECT_EQ(Post(257), 0);
    Tags tags = QueuedTags();
    ASSERT_EQ(tags.size(), 256u);
    EXPECT_EQ(tags.front(), 1u);
    EXPECT_EQ(tags.back(), 256u);
    qvInputEvent e{};
    EXPECT_EQ(GetEvent(nullptr, 255, &e, 0), 256);
    EXPECT_EQ(GetEvent(nullptr, 256, &e, 0), 0);
    EXPECT_EQ(GetEvent(nullptr, -1, &e, 0), 0);
}

// Posts after removals reuse the room at the front: the queue holds 256 again, in order.
TEST_F(EventQueue, AQueueRefilledAfterRemovalsKeepsOrderAndCapacity) {
    for (uint32_t i = 1; i <= kEventQueueSize; ++i) ASSERT_EQ(Post(i), 1);
    RemoveEvents(nullptr, 99, 1);
    for (uint32_t i = 257; i <= 356; ++i) ASSERT_EQ(Post(i), 1) << i;
    EXPECT_EQ(Post(357), 0);
    Tags expected;
    for (uint32_t i = 101; i <= 356; ++i) expected.push_back(i);
    EXPECT_EQ(QueuedTags(), expected);
    qvInputEvent e{};
    ASSERT_TRUE(qv::TakeFirstEvent(&e));
    EXPECT_EQ(TagOf(e.extra), 101u);
    FreeMemBlock(e.extra);
    EXPECT_EQ(Post(357), 1);
    EXPECT_EQ(QueuedTags().back(), 357u);
}

TEST_F(EventQueue, RemovingMovesTheRestWithTheirOwnBlocks) {
    struct Case {
        int last;
        Tags kept;
    };
    const Case cases[] = {
        {0, {2, 3}}, {1, {3}}, {2, {}},          {5, {}},
        {255, {}},   {-1, {}}, {256, {1, 2, 3}}, {-2, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        RemoveEvents(nullptr, -1, 1);
        for (uint32_t tag : {1u, 2u, 3u}) ASSERT_EQ(Post(tag), 1);
        RemoveEvents(nullptr, c.last, 1);
        EXPECT_EQ(QueuedTags(), c.kept) << c.last;
    }
}

// After a removal the vacated entries hold no block: a later post without a block and the
// final free must not free a moved block a second time (AddressSanitizer would stop here).
TEST_F(EventQueue, VacatedEntriesForgetTheirBlocks) {
    for (uint32_t tag : {1u, 2u, 3u}) ASSERT_EQ(Post(tag), 1);
    RemoveEvents(nullptr, 0, 0);
    ASSERT_EQ(PostEvent(nullptr, 7, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(QueuedTags(), (Tags{2, 3, 0}));
    RemoveEvents(nullptr, 255, 0);
    EXPECT_EQ(QueuedTags(), Tags{});
}

TEST_F(EventQueue, GetEventCopiesTheDataOfItsType) {
    struct Case {
        uint32_t type;
        uint32_t x, y, down, keyDown, keyQualifiers, keyCode;
    };
    constexpr uint32_t u = 0xEEEE;  // untouched
    const Case cases[] = {
        {QV_EVENT_LEFTMOUSE, 10, 20, 1, u, u, u}, {QV_EVENT_RIGHTMOUSE, 10, 20, 1, u, u, u},
        {QV_EVENT_MIDMOUSE, 10, 20, 1, u, u, u},  {QV_EVENT_DROPFILES, 10, 20, u, u, u, u},
        {QV_EVENT_KEY, u, u, u, 10, 20, 1},       {7, u, u, u, u, u, u},
    };
    qvDisplayPrefix display{};
    for (const Case& c : cases) {
        RemoveEvents(nullptr, -1, 1);
        ASSERT_EQ(PostEvent(qv::DisplayOfPrefix(&display), c.type, 10, 20, 1, nullptr), 1);
        qvInputEvent e{nullptr, 0, u, u, u, u, u, u, nullptr};
        ASSERT_EQ(GetEvent(nullptr, 0, &e, 0), 1);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.display, qv::DisplayOfPrefix(&display));
        EXPECT_EQ((std::vector<uint32_t>{e.x, e.y, e.down, e.keyDown, e.keyQualifiers, e.keyCode}),
                  (std::vector<uint32_t>{c.x, c.y, c.down, c.keyDown, c.keyQualifiers, c.keyCode}))
            << c.type;
    }
}

TEST_F(EventQueue, TakingTheExtraBlockMovesItsOwnership) {
    ASSERT_EQ(Post(5), 1);
    qvInputEvent e{};
    ASSERT_EQ(GetEvent(nullptr, 0, &e, 1), 1);
    EXPECT_EQ(TagOf(e.extra), 5u);
    RemoveEvents(nullptr, 0, 1);  // frees nothing now
    FreeMemBlock(e.extra);
}

TEST_F(EventQueue, OldEntriesExpireWithEverythingBeforeThem) {
    ASSERT_EQ(Post(1), 1);  // t = 0
    clockMicros += 500000;
    ASSERT_EQ(Post(2), 1);  // 0.5 s
    clockMicros += 500000;
    ASSERT_EQ(Post(3), 1);  // 1.0 s
    clockMicros += 600000;  // now 1.6 s: entry 2 is 1.1 s old, entry 1 1.6 s
    ExpireEvents(nullptr);
    EXPECT_EQ(QueuedTags(), (Tags{2, 3}));
    clockMicros += 400000;  // entry 2 is exactly 1.5 s old: kept
    ExpireEvents(nullptr);
    EXPECT_EQ(QueuedTags(), (Tags{2, 3}));
    clockMicros += 1000;  // ages count in whole milliseconds
    ExpireEvents(nullptr);
    EXPECT_EQ(QueuedTags(), (Tags{3}));
    const qvAttrSet timeout[] = {{QV_ATTR_EVENTTIMEOUT, 100}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(nullptr, timeout);
    ExpireEvents(nullptr);
    EXPECT_EQ(QueuedTags(), Tags{});
}

// The dispatcher's take drops the expired entries first, then hands over the oldest one left
// with its block; an empty queue gives nothing.
TEST_F(EventQueue, TakingSkipsExpiredEntriesAndMovesTheBlock) {
    qvInputEvent e{};
    EXPECT_FALSE(qv::TakeFirstEvent(&e));
    ASSERT_EQ(Post(1), 1);  // t = 0
    clockMicros += 1000000;
    ASSERT_EQ(Post(2), 1);  // 1.0 s
    ASSERT_EQ(PostEvent(nullptr, QV_EVENT_KEY, 1, 2, 'a', nullptr), 1);
    clockMicros += 600000;  // entry 1 is 1.6 s old
    ASSERT_TRUE(qv::TakeFirstEvent(&e));
    EXPECT_EQ(TagOf(e.extra), 2u);
    FreeMemBlock(e.extra);
    EXPECT_EQ(QueuedTags(), Tags{0});
    ASSERT_TRUE(qv::TakeFirstEvent(&e));
    EXPECT_EQ((std::vector<uint32_t>{e.type, e.keyDown, e.keyQualifiers, e.keyCode}),
              (std::vector<uint32_t>{QV_EVENT_KEY, 1, 2, 'a'}));
    EXPECT_EQ(e.extra, nullptr);
    EXPECT_FALSE(qv::TakeFirstEvent(&e));
    ASSERT_EQ(Post(3), 1);
    clockMicros += 1501000;
    EXPECT_FALSE(qv::TakeFirstEvent(&e));
    EXPECT_EQ(QueuedTags(), Tags{});
}

TEST_F(EventQueue, AClosedDisplaysEventsStayWithoutADisplay) {
    qvDisplayPrefix closing{};
    qvDisplayPrefix open{};
    qvDisplay* a = qv::DisplayOfPrefix(&closing);
    qvDisplay* b = qv::DisplayOfPrefix(&open);
    ASSERT_EQ(Post(1, a), 1);
    ASSERT_EQ(Post(2, b), 1);
    ASSERT_EQ(Post(3, a), 1);
    DropDisplayEvents(a);
    std::vector<qvDisplay*> displays;
    qvInputEvent e{};
    for (int i = 0; GetEvent(nullptr, i, &e, 0) != 0; ++i) displays.push_back(e.display);
    EXPECT_EQ(displays, (std::vector<qvDisplay*>{nullptr, b, nullptr}));
    EXPECT_EQ(QueuedTags(), (Tags{1, 2, 3}));
}

TEST_F(EventQueue, SizeEventsAreHeldBackWhileADisplaySuppressesThem) {
    qvDisplayPrefix prefix{};
    qvDisplay* display = qv::DisplayOfPrefix(&prefix);
    struct Case {
        uint32_t flags[2];
        uint32_t type;
        int queued;
    };
    const Case cases[] = {
        {{0, 0}, QV_EVENT_SIZEWINDOW, 1},
        {{1, 0}, QV_EVENT_SIZEWINDOW, 0},
        {{0, 1}, QV_EVENT_SIZEWINDOW, 0},
        {{1, 1}, QV_EVENT_LEFTMOUSE, 1},
    };
    for (const Case& c : cases) {
        prefix.eventSuppression[0] = c.flags[0];
        prefix.eventSuppression[1] = c.flags[1];
        EXPECT_EQ(Post(9, display, c.type), c.queued);
    }
    // No display suppresses nothing.
    EXPECT_EQ(Post(9, nullptr, QV_EVENT_SIZEWINDOW), 1);
}

TEST(EventQueueLifecycle, ClosedQueueTakesNothing) {
    qv::ResetRuntimeState();
    int block;
    EXPECT_EQ(PostEvent(nullptr, 1, 0, 0, 0, &block), 0);
    qvInputEvent e{};
    EXPECT_EQ(GetEvent(nullptr, 0, &e, 0), 0);
    RemoveEvents(nullptr, -1, 1);
    ExpireEvents(nullptr);
    DropDisplayEvents(nullptr);
    EXPECT_FALSE(qv::TakeFirstEvent(&e));
    { qv::EventQueueLock lock; }
}

TEST(EventQueueLifecycle, InitSupportFailuresFreeEverything) {
    qv::ResetRuntimeState();
    size_t before = qv::GetMemoryStats().liveBlocks;
    std::vector<int> codes;
    for (uint64_t n = 1;; ++n) {
        int code;
        {
            qv::AllocationFault fault(n, false);
            code = InitSupport();
        }
        FreeSupport();
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before) << n;
        if (code == 0) break;
        codes.push_back(code);
    }
    EXPECT_EQ(codes, (std::vector<int>{ERR_MEM, ERR_SEMAPHORE, ERR_MEM}));
    EXPECT_EQ(qv::SupportTextBuffer(), nullptr);
    ASSERT_EQ(InitSupport(), 0);
    EXPECT_STREQ(qv::Runtime().error.sourceName, "?");
    EXPECT_NE(qv::SupportTextBuffer(), nullptr);
    FreeSupport();
    FreeSupport();
}

// Two threads post while the main thread reads, takes, removes and expires. Each poster's
// events arrive in its order, and every block ends freed exactly once.
TEST_F(EventQueue, PostersAndTheReaderRunConcurrently) {
    qv::SetSystemClock(nullptr);
    const qvAttrSet timeout[] = {{QV_ATTR_EVENTTIMEOUT, 2}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(nullptr, timeout);
    constexpr uint32_t kPerPoster = 20000;
    std::atomic<int> running{2};
    auto poster = [&](uint32_t id) {
        for (uint32_t seq = 1; seq <= kPerPoster; ++seq) {
            void* extra = Block(seq);
            if (PostEvent(nullptr, QV_EVENT_DROPFILES, id, seq, 0, extra) == 0) {
                FreeMemBlock(extra);
            }
        }
        running.fetch_sub(1);
    };
    std::thread first(poster, 0);
    std::thread second(poster, 1);
    uint32_t lastSeen[2] = {0, 0};
    bool ordered = true;
    int seen = 0;
    for (uint64_t pass = 0;; ++pass) {
        bool finished = running.load() == 0;
        int take = static_cast<int>(pass % 2);
        int last = pass % 3 == 0 ? 3 : 0;
        // Read the entries about to be removed: they leave in posting order.
        qvInputEvent e{};
        int n = 0;
        for (; n <= last && GetEvent(nullptr, n, &e, take) != 0; ++n) {
            ordered = ordered && e.y > lastSeen[e.x] && TagOf(e.extra) == e.y;
            lastSeen[e.x] = e.y;
            if (take != 0) FreeMemBlock(e.extra);
            ++seen;
        }
        if (n > 0) RemoveEvents(nullptr, n - 1, 1);
        if (pass % 7 == 0) ExpireEvents(nullptr);
        if (finished && n == 0 && GetEvent(nullptr, 0, &e, 0) == 0) break;
    }
    first.join();
    second.join();
    EXPECT_TRUE(ordered);
    EXPECT_GT(seen, 0);
}

// A thread posts more events than the queue holds, waiting while it is full, and the main
// thread takes them one at a time: every event arrives once, in posting order, with its block.
TEST_F(EventQueue, TakingReceivesEveryEventOfAnotherThreadInOrder) {
    constexpr uint32_t kEvents = 50000;
    std::thread poster([] {
        for (uint32_t seq = 1; seq <= kEvents; ++seq) {
            void* extra = Block(seq);
            while (PostEvent(nullptr, QV_EVENT_DROPFILES, seq, 0, 0, extra) == 0) {
                std::this_thread::yield();
            }
        }
    });
    uint32_t received = 0;
    bool ordered = true;
    while (received < kEvents) {
        qvInputEvent e{};
        if (!qv::TakeFirstEvent(&e)) continue;
        ++received;
        ordered = ordered && e.x == received && TagOf(e.extra) == received;
        FreeMemBlock(e.extra);
    }
    poster.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(QueuedTags(), Tags{});
}

}  // namespace
