// Memory running out at each allocation in turn while pictures are added, copied, loaded and
// made from gradients: the command fails with ERR_MEM, the list and its ids stay as they were
// (a picture that the command would replace included), and nothing leaks (LeakSanitizer).
#include <functional>
#include <memory>
#include <tuple>

#include "runtime/objects.h"
#include "tests/platform/picture_test_support.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {
namespace {

// The list as (record, id, handle) in order.
using ListState = std::vector<std::tuple<const void*, uint32_t, const void*>>;

ListState Snapshot() {
    ListState state;
    for (const qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) {
        state.emplace_back(h, h->id, h->handle);
    }
    return state;
}

class BGPicFailures : public SceneFixture {
protected:
    // Runs setUp, then operation with the n-th allocation failing, for n = 1, 2, ... until the
    // operation succeeds; every failure must be ERR_MEM with the list unchanged. The number
    // of failures.
    int Sweep(const std::function<void()>& setUp, const std::function<int()>& operation,
              int otherCode = ERR_MEM) {
        for (uint64_t n = 1; n < 10000; ++n) {
            FreeAllBGPics(L);
            setUp();
            const ListState before = Snapshot();
            int code = 0;
            {
                AllocationFault fault(n, false);
                code = operation();
            }
            if (code == 0) return int(n - 1);
            EXPECT_TRUE(code == ERR_MEM || code == otherCode) << n << ": " << code;
            EXPECT_EQ(Snapshot(), before) << n;
        }
        ADD_FAILURE() << "the operation never succeeded";
        return 0;
    }

    // Pictures 1 (with every part a copy takes) and 5 (to be replaced).
    void TwoPictures() {
        brushes.Add(9, 2, 2, {1, 2, 3, 4});
        ASSERT_EQ(Call("CreateTexturedBGPic", {Num(1), Num(9), Num(8), Num(6)}).code, 0);
        ASSERT_EQ(Call("ScaleBGPic", {Num(1), Num(4), Num(3)}).code, 0);
        qvBGPic* picture = Find(1u);
        picture->palette = static_cast<qvARGB*>(AllocMemBlock(256 * sizeof(qvARGB), 1));
        VmPushNumber(L, 3);
        ASSERT_EQ(SetObjectDataEntry(L, "n", -1, &picture->header.data), 0);
        VmSetTop(L, -2);
        Create(5, 3, 3, 0x808080);
    }
};

TEST_F(BGPicFailures, AddingAPicture) {
    std::unique_ptr<scene::BGPicParts> parts;
    const int failures = Sweep(
        [&parts] {
            parts = std::make_unique<scene::BGPicParts>();
            parts->bitmap.reset(AllocDisplayBitMap(4, 4));
            parts->width = parts->height = 4;
        },
        [&parts] {
            qvObjectId id = scene::AutomaticId();
            qvBGPic* picture = nullptr;
            const int code = AddBGPic(&id, parts.get(), &picture);
            // A failure leaves the parts with the caller.
            EXPECT_EQ(parts->bitmap == nullptr, code == 0);
            return code;
        });
    EXPECT_EQ(failures, 1);
}

TEST_F(BGPicFailures, CopyingAPicture) {
    EXPECT_GT(Sweep([this] { TwoPictures(); },
                    [this] {
                        return Call("CopyBGPic", {Num(1), Num(5)}).code;
                    }),
              6);
    qvBGPic* copy = Find(5u);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->palette, nullptr);
    EXPECT_NE(copy->fill.texture, nullptr);
    EXPECT_NE(copy->header.data, nullptr);
    EXPECT_EQ(copy->width, 4);
}

TEST_F(BGPicFailures, LoadingAPicture) {
    const std::string file = TempDir() + "/f.png";
    ASSERT_TRUE(WritePng(file, 6, 5, PatternPixels(6, 5, false), false));
    const uint32_t key = PatternPixels(6, 5, false)[0] & 0xFFFFFF;
    EXPECT_GT(Sweep([this] { Create(5, 2, 2, 0); },
                    [&] {
                        return Call("LoadBGPic", {Num(5), Str(file),
                                                  Table({{Str("transparency"), Num(key)},
                                                         {Str("fillstyle"), Num(QV_FILL_COLOUR)},
                                                         {Str("fillcolor"), Num(0xFF)}})})
                            .code;
                    },
                    // The file layer cannot tell a failed allocation from a failed open.
                    ERR_LOADPICTURE),
              3);
    EXPECT_EQ(Find(5u)->width, 6);
}

TEST_F(BGPicFailures, MakingAGradientPicture) {
    EXPECT_GT(
        Sweep([this] { Create(5, 2, 2, 0); },
              [this] {
                  return Call("CreateGradientBGPic",
                              {Num(5), Num(qv::gfx::RADIAL), Num(0), Num(0xFFFFFF), Num(9), Num(7),
                               Nil(),
                               Table({{Str("colors"), List({Num(0), Num(0), Num(0xFF), Num(0.5),
                                                            Num(0xFF00), Num(1)})}})})
                      .code;
              }),
        1);
    EXPECT_EQ(Find(5u)->width, 9);
}

}  // namespace
}  // namespace qv::testing
