// The brush record and list: ids and order, lookup flags, locks, the active output brush,
// layers that keep their pixels through changes and frees, hardware copies, the conversion
// of preloaded brushes, allocation failures, and the seams other code finds brushes through.
#include <tuple>

#include "gfx/library/neighbours.h"
#include "platform/linux/blocks.h"
#include "platform/linux/testing.h"
#include "runtime/errors.h"
#include "runtime/plugin_api/service_adapters.h"
#include "runtime/runtime_state.h"
#include "tests/objects/support/object_fixture.h"

namespace qv::testing {
namespace {

using Snapshot = std::vector<std::tuple<qvBrush*, uint32_t, void*>>;

Snapshot Snap() {
    Snapshot out;
    for (qvObjectHeader* h = *BrushList(); h != nullptr; h = h->next) {
        out.emplace_back(reinterpret_cast<qvBrush*>(h), h->id, h->handle);
    }
    return out;
}

qvObjectId Id(uint32_t n) {
    return {n, nullptr};
}

std::string ErrorText(int code) {
    char text[1024];
    FormatErrorMessage(code, text, sizeof text);
    return text;
}

class Brushes : public ObjectFixture {
protected:
    // Runs op with its n-th allocation failing, for n = 1, 2, ... until it succeeds: every
    // failure is ERR_MEM and leaves the list and the live blocks as they were.
    template <typename Op>
    void ExpectCleanFailures(Op op) {
        for (uint64_t n = 1;; ++n) {
            const Snapshot before = Snap();
            const size_t blocks = GetMemoryStats().liveBlocks;
            int code;
            {
                AllocationFault fault(n, false);
                code = op();
            }
            if (code == 0) {
                EXPECT_GT(n, 1u) << "no allocation failed";
                return;
            }
            ASSERT_EQ(code, ERR_MEM) << "allocation " << n;
            EXPECT_EQ(Snap(), before) << "allocation " << n;
            EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << "allocation " << n;
        }
    }
};

TEST_F(Brushes, IdsAreUniqueAndTheListKeepsCreationOrder) {
    qvBrush* five = NewBrush(Id(5), 4, 4, 0xFF0000);
    qvBrush* automatic = NewBrush(AutomaticBrushId(), 4, 4, 0x00FF00);
    qvBrush* another = NewBrush(AutomaticBrushId(), 4, 4, 0x0000FF);
    ASSERT_TRUE(five && automatic && another);
    EXPECT_EQ(automatic->header.id, 0u);
    EXPECT_EQ(automatic->header.handle, automatic);
    EXPECT_EQ(another->header.handle, another);
    EXPECT_EQ(five->header.handle, nullptr);
    EXPECT_EQ(five->header.type, uint32_t(gfx::kTypeBrush));

    ASSERT_EQ(FreeBrushById(L, Id(5), true), 0);
    qvBrush* again = NewBrush(Id(5), 2, 2, 0);
    // A brush made again goes to the end.
    EXPECT_EQ(Snap(),
              (Snapshot{{automatic, 0, automatic}, {another, 0, another}, {again, 5, nullptr}}));
    qvBrush* found = nullptr;
    EXPECT_EQ(GetBrush(L, Id(5), &found, 0), 0);
    EXPECT_EQ(found, again);
    EXPECT_EQ(GetBrush(L, {0, another}, &found, 0), 0);
    EXPECT_EQ(found, another);
    EXPECT_EQ(CountObjectsOfType(gfx::kTypeBrush), 3);
    EXPECT_EQ(FindObjectByTypeId(gfx::kTypeBrush, {0, automatic}), &automatic->header);
}

TEST_F(Brushes, MissingBrushesAndTheirMessages) {
    NewBrush(Id(1), 2, 2, 0);
    qvBrush* found = NewBrush(Id(2), 2, 2, 0);
    EXPECT_EQ(GetBrush(L, Id(5), &found, 0), ERR_FINDBRUSH);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(ErrorText(ERR_FINDBRUSH), "Could not find brush 5!");
    EXPECT_EQ(GetBrush(L, {0, &found}, &found, 0), ERR_FINDARRAY);

    EXPECT_EQ(FreeBrushById(L, Id(7), true), ERR_FINDBRUSH);
    EXPECT_EQ(ErrorText(ERR_FINDBRUSH), "Could not find brush 7!");
    EXPECT_EQ(FreeBrushById(L, {0, &found}, true), ERR_FINDARRAY);
    // Creating under a missing id frees nothing and is no error.
    EXPECT_EQ(FreeBrushById(L, Id(8), false), 0);
    EXPECT_EQ(Snap().size(), 2u);
}

TEST_F(Brushes, LookupFlags) {
    qvBrush* vector = NewBrush(Id(1), 2, 2, 0);
    qvBrush* hardware = NewBrush(Id(2), 2, 2, 0);
    vector->type = kVectorBrush;
    hardware->hardware = 1;
    const struct {
        uint32_t id;
        int flags;
        int code;
    } cases[] = {{1, 0, 0},
                 {1, QV_BRUSH_NOVECTOR, ERR_BRUSHTYPE},
                 {2, 0, ERR_HWBRUSH},
                 {2, QV_BRUSH_HARDWARE, 0},
                 {2, QV_BRUSH_NOVECTOR | QV_BRUSH_HARDWARE, 0}};
    for (const auto& c : cases) {
        qvBrush* found = nullptr;
        EXPECT_EQ(GetBrush(L, Id(c.id), &found, c.flags), c.code) << c.id << " " << c.flags;
        EXPECT_EQ(found != nullptr, c.code == 0);
    }
}

TEST_F(Brushes, ALockedBrushCannotChangeOrGo) {
    qvBrush* brush = NewBrush(Id(3), 2, 2, 0);
    brush->lockCount = 1;
    qvBrush* found = nullptr;
    EXPECT_EQ(GetBrushToModify(L, Id(3), &found, 0), ERR_LOCKEDOBJ);
    EXPECT_EQ(FreeBrushById(L, Id(3), true), ERR_LOCKEDOBJ);
    EXPECT_EQ(GetBrush(L, Id(3), &found, 0), 0) << "reading it is fine";
    EXPECT_EQ(ErrorText(ERR_LOCKEDOBJ), "Cannot modify object while it is locked!");
    brush->lockCount = 0;
}

TEST_F(Brushes, TheActiveOutputBrushCannotChangeOrGo) {
    NewBrush(Id(3), 2, 2, 0);
    NewBrush(Id(4), 2, 2, 0);
    scene.output = Id(3);
    qvBrush* found = nullptr;
    EXPECT_EQ(GetBrushToModify(L, Id(3), &found, 0), ERR_MODIFYABR);
    EXPECT_EQ(FreeBrushById(L, Id(3), true), ERR_MODIFYABR);
    EXPECT_EQ(scene.detaches, 0) << "refused before any copy";
    EXPECT_EQ(GetBrushToModify(L, Id(4), &found, 0), 0);
    EXPECT_EQ(GetBrush(L, Id(3), &found, 0), 0);
    EXPECT_EQ(ErrorText(ERR_MODIFYABR), "Attempt to modify the active brush!");
}

TEST_F(Brushes, AFreedShownBrushStaysShownAndItsIdIsFree) {
    qvBrush* brush = NewBrush(Id(5), 3, 3, 0xFF0000);
    ASSERT_EQ(SetObjectDataEntry(L, "tag", 0, &brush->header.data), 0);
    const size_t layer = scene.Show(Id(5));

    ASSERT_EQ(FreeBrushById(L, Id(5), true), 0);
    qvBrush* found = nullptr;
    EXPECT_EQ(GetBrush(L, Id(5), &found, 0), ERR_FINDBRUSH) << "the orphan is not found by id";
    EXPECT_EQ(scene.Shown(L, layer), brush);
    EXPECT_EQ(brush->orphan, 1);
    EXPECT_EQ(PairOf(brush).handle, brush);
    EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 1, 1), Stored(0xFF0000u));

    qvBrush* fresh = NewBrush(Id(5), 2, 2, 0x00FF00);
    EXPECT_EQ(GetBrush(L, Id(5), &found, 0), 0);
    EXPECT_EQ(found, fresh);
    EXPECT_EQ(GetBrush(L, PairOf(brush), &found, 0), ERR_FINDARRAY) << "orphans need the flag";

    FreeOrphanBrushes(L);
    EXPECT_EQ(scene.Shown(L, layer), brush) << "still shown, still kept";
    scene.layers.clear();
    FreeOrphanBrushes(L);
    EXPECT_EQ(Snap(), (Snapshot{{fresh, 5, nullptr}}));
}

TEST_F(Brushes, AChangedShownBrushLeavesTheLayerItsPixels) {
    qvBrush* brush = NewBrush(Id(5), 3, 3, 0xFF0000, true);
    ASSERT_EQ(SetObjectDataEntry(L, "tag", 0, &brush->header.data), 0);
    const size_t shown = scene.Show(Id(5));
    scene.Show(Id(6));  // another brush's layer

    qvBrush* found = nullptr;
    ASSERT_EQ(GetBrushToModify(L, Id(5), &found, 0), 0);
    ASSERT_EQ(found, brush);
    RectFill(brush->bitmap, 0, 0, 3, 3, 0x0000FF);

    qvBrush* copy = scene.Shown(L, shown);
    ASSERT_NE(copy, brush);
    EXPECT_EQ(ReadBitMapPixel(copy->bitmap, 2, 2), Stored(0xFF0000u));
    EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 2, 2), Stored(0x0000FFu));
    EXPECT_EQ(copy->orphan, 1);
    EXPECT_EQ(PairOf(copy).handle, copy);
    EXPECT_NE(copy->mask, nullptr);
    EXPECT_EQ(copy->transparentColour, kMaskWithoutKey);
    EXPECT_NE(FindObjectDataEntry(copy->header.data, "tag"), nullptr);
    EXPECT_TRUE(SamePair(scene.layers[1], Id(6)));

    // A second change finds no layer showing the script's brush: no second copy.
    ASSERT_EQ(GetBrushToModify(L, Id(5), &found, 0), 0);
    EXPECT_EQ(Snap().size(), 2u);
    // Without copy-on-write the layers keep sharing.
    scene.Show(Id(5));
    ASSERT_EQ(GetBrush(L, Id(5), &found, QV_BRUSH_MODIFY | QV_BRUSH_NODETACH), 0);
    EXPECT_EQ(Snap().size(), 2u);
}

TEST_F(Brushes, MadeBrushesHoldWhatWasAsked) {
    const struct {
        bool mask, alpha, clear, noFill;
    } cases[] = {{false, false, false, false},
                 {true, false, false, false},
                 {true, false, true, false},
                 {false, true, false, false},
                 {false, true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mask << c.alpha << c.clear << c.noFill);
        qvBrush* brush = nullptr;
        ASSERT_EQ(CreateBrushBitmaps(AutomaticBrushId(), 20, 3, 0x123456, c.mask, c.alpha, c.clear,
                                     c.noFill, &brush),
                  0);
        EXPECT_EQ(brush->width, 20);
        EXPECT_EQ(brush->rowLength, 20);
        EXPECT_EQ(brush->imageSource, nullptr);
        EXPECT_EQ(brush->transparentColour, c.mask ? kMaskWithoutKey : kNoTransparency);
        if (!c.noFill) {
            EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 19, 2), Stored(0x123456u));
        }
        ASSERT_EQ(brush->mask != nullptr, c.mask);
        ASSERT_EQ(brush->alpha != nullptr, c.alpha);
        if (c.mask) {
            EXPECT_EQ(ReadBitMapPixel(brush->mask, 19, 2), c.clear ? 0u : 1u);
        }
        if (c.alpha) {
            const uint8_t* last = brush->alpha->plane + 2 * brush->alpha->bytesPerRow + 19;
            EXPECT_EQ(*last, c.clear ? 0 : 255);
        }
    }
}

TEST_F(Brushes, HardwareCopies) {
    platform::testing::GrantCompositing(kCompositeHardwareBrush, true);
    qvBrush* masked = NewBrush(Id(1), 4, 2, 0x336699, true);
    FillMaskRect(masked->mask, 0, 0, 2, 2, 1);  // left half hidden
    qvBrush* copy = nullptr;
    ASSERT_EQ(CopyBrushEx(L, masked, Id(2), true, &copy), 0);
    // Only pixels of four bytes have room for the mask.
    const bool merges = copy->bitmap->bytesPerPixel == 4;
    EXPECT_EQ(copy->hardware, 1);
    EXPECT_EQ(copy->mergedPlanes, kMergedMask);
    EXPECT_EQ(copy->mask == nullptr, merges) << "merged into the bitmap and freed";
    EXPECT_NE(QueryBitMapAttr(copy->bitmap, 25), 0u);
    EXPECT_EQ(QueryBitMapAttr(copy->bitmap, 26) != 0, merges);
    BlockPtr<qvARGB> argb(ReadBitMapARGB(copy->bitmap, 4, 2));
    if (copy->bitmap->format == QV_FMT_A8R8G8B8) {
        EXPECT_EQ(argb.get()[0] >> 24, 0u);
        EXPECT_EQ(argb.get()[3] >> 24, 255u);
    }

    // A copy of a hardware brush keeps what it had merged.
    qvBrush* second = nullptr;
    ASSERT_EQ(CopyBrushEx(L, copy, Id(3), true, &second), 0);
    EXPECT_EQ(second->hardware, 1);
    EXPECT_EQ(second->mergedPlanes, kMergedMask);
    EXPECT_EQ(QueryBitMapAttr(second->bitmap, 26) != 0, merges);

    // A hardware copy of a vector brush is a plain bitmap brush.
    qvImageHandle* source = NewImageHandle(4, 2);
    qvBrush* vector = NewBrush(Id(4), 4, 2, 0);
    vector->type = kVectorBrush;
    vector->imageSource = source;
    qvBrush* flat = nullptr;
    ASSERT_EQ(CopyBrushEx(L, vector, Id(5), true, &flat), 0);
    EXPECT_EQ(flat->type, kBitmapBrush);
    EXPECT_EQ(flat->imageSource, nullptr);
    EXPECT_EQ(source->refCount, 1u);
    qvBrush* plain = nullptr;
    ASSERT_EQ(CopyBrushEx(L, vector, Id(6), false, &plain), 0);
    EXPECT_EQ(plain->type, kVectorBrush);
    EXPECT_EQ(plain->imageSource, source);
    EXPECT_EQ(source->refCount, 2u);

    // No grant or the back end's veto: plain copies.
    SetScreenFriendVeto(true);
    ASSERT_EQ(CopyBrushEx(L, masked, Id(7), true, &plain), 0);
    EXPECT_EQ(plain->hardware, 0);
    EXPECT_NE(plain->mask, nullptr);
    SetScreenFriendVeto(false);
    platform::testing::GrantCompositing(0, false);
    ASSERT_EQ(CopyBrushEx(L, masked, Id(8), true, &plain), 0);
    EXPECT_EQ(plain->hardware, 0);
}

TEST_F(Brushes, CopiesFailCleanly) {
    qvBrush* source = NewBrush(Id(1), 16, 8, 0xABCDEF, false, true);
    ASSERT_EQ(SetObjectDataEntry(L, "tag", 0, &source->header.data), 0);
    ExpectCleanFailures([&] { return CopyBrushEx(L, source, AutomaticBrushId(), false); });
    ExpectCleanFailures(
        [&] { return CreateBrushBitmaps(Id(9), 8, 8, 0, true, true, false, false); });
    EXPECT_EQ(Snap().size(), 3u);
}

// A preloaded brush: the image source's pixels, their size as the brush's, and the crop.
struct Preload {
    int32_t x, y, width, height;  // the crop; 0 x 0 is the whole source
    uint32_t key;
    bool alpha, hardware, vector;
};

class Rebuild : public Brushes {
protected:
    static constexpr int32_t kWidth = 6, kHeight = 5;

    // Pixel (x, y) of the source: a colour that tells where it came from; column 4 holds the
    // key colour.
    static uint32_t SourcePixel(int32_t x, int32_t y) {
        return x == 4 ? 0xFF00FF00u : 0xFF000000u | uint32_t(x) << 20 | uint32_t(y) << 12 | 0x80;
    }

    qvBrush* Preloaded(const Preload& p, qvImageHandle** source) {
        *source = NewImageHandle(kWidth, kHeight);
        uint32_t* pixels = GetImageHandlePixels(*source);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) pixels[y * kWidth + x] = SourcePixel(x, y);
        qvPlaneBitMap* alpha = nullptr;
        if (p.alpha) {
            alpha = AllocAlphaBitMap(kWidth, kHeight, 1);
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x)
                    alpha->plane[y * alpha->bytesPerRow + x] = uint8_t(10 * x + y);
        }
        qvBrush* brush = nullptr;
        EXPECT_EQ(AddBrush(AutomaticBrushId(), p.vector ? kVectorBrush : kBitmapBrush, kWidth,
                           kHeight, kWidth, 0, *source, nullptr, p.key, nullptr, alpha, &brush),
                  0);
        brush->cropX = p.x, brush->cropY = p.y, brush->cropWidth = p.width;
        brush->cropHeight = p.height;
        brush->hardware = p.hardware;
        return brush;
    }
};

TEST_F(Rebuild, ConvertsCropsAndKeys) {
    const Preload cases[] = {
        {0, 0, 0, 0, kNoTransparency, false, false, false},
        {0, 0, kWidth, kHeight, 0x00FF00, false, false, false},
        {1, 2, 4, 3, 0x00FF00, true, false, false},
        {2, 1, 3, 2, kNoTransparency, false, false, true},
        {0, 0, 0, 0, kNoTransparency, false, false, true},
    };
    for (const Preload& p : cases) {
        SCOPED_TRACE(::testing::Message() << p.x << "," << p.y << " " << p.width << "x" << p.height
                                          << " vector " << p.vector);
        FreeAllBrushes(L);
        qvImageHandle* source = nullptr;
        qvBrush* brush = Preloaded(p, &source);
        AddImageHandleRef(source);  // the test's own count
        ASSERT_EQ(RebuildBrushes(L, false), 0);
        const bool cropped = p.width != 0 && (p.x != 0 || p.y != 0 || p.width != kWidth);
        const int32_t width = p.width != 0 ? p.width : kWidth;
        const int32_t height = p.height != 0 ? p.height : kHeight;
        EXPECT_EQ(brush->width, width);
        EXPECT_EQ(brush->height, height);
        EXPECT_EQ(brush->rowLength, cropped ? width : kWidth);
        // Only an uncropped vector brush keeps its source.
        const bool kept = p.vector && !cropped;
        EXPECT_EQ(brush->imageSource, kept ? source : nullptr);
        EXPECT_EQ(source->refCount, kept ? 2u : 1u);
        ReleaseImageHandle(source);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t expected = SourcePixel(x + p.x, y + p.y);
                EXPECT_EQ(ReadBitMapPixel(brush->bitmap, x, y), Stored(expected & 0xFFFFFF));
                if (p.key != kNoTransparency) {
                    EXPECT_EQ(ReadBitMapPixel(brush->mask, x, y), x + p.x == 4 ? 0u : 1u);
                }
                if (p.alpha) {
                    EXPECT_EQ(brush->alpha->plane[y * brush->alpha->bytesPerRow + x],
                              10 * (x + p.x) + y + p.y);
                }
            }
        }
        if (p.key == kNoTransparency) {
            EXPECT_EQ(brush->mask, nullptr);
        }
    }
}

TEST_F(Rebuild, HardwareBrushesNeedTheGrantAndNoVeto) {
    const struct {
        uint32_t grant;
        bool noHardware, vector, stays;
    } cases[] = {{kCompositeHardwareBrush, false, false, true},
                 {kCompositeHardwareBrush, true, false, false},
                 {0, false, false, false},
                 {kCompositeHardwareBrush, false, true, true}};
    for (const auto& c : cases) {
        FreeAllBrushes(L);
        platform::testing::GrantCompositing(c.grant, true);
        qvImageHandle* source = nullptr;
        qvBrush* brush = Preloaded({0, 0, 0, 0, 0x00FF00, false, true, c.vector}, &source);
        ASSERT_EQ(RebuildBrushes(L, c.noHardware), 0);
        EXPECT_EQ(brush->hardware, c.stays ? 1 : 0);
        EXPECT_EQ(brush->type, c.vector && !c.stays ? kVectorBrush : kBitmapBrush);
        EXPECT_EQ(brush->mergedPlanes, c.stays ? kMergedMask : 0u);
        EXPECT_EQ(brush->mask == nullptr, c.stays && brush->bitmap->bytesPerPixel == 4);
        EXPECT_EQ(QueryBitMapAttr(brush->bitmap, 25) != 0, c.stays);
    }
    platform::testing::GrantCompositing(0, false);
}

TEST_F(Rebuild, AFailedConversionLeavesTheBrushAsItWas) {
    qvImageHandle* source = nullptr;
    qvBrush* brush = Preloaded({1, 1, 3, 3, 0x00FF00, true, false, false}, &source);
    qvPlaneBitMap* alpha = brush->alpha;
    ExpectCleanFailures([&] {
        const int code = RebuildBrushes(L, false);
        if (code != 0) {
            EXPECT_EQ(brush->bitmap, nullptr);
            EXPECT_EQ(brush->imageSource, source);
            EXPECT_EQ(brush->alpha, alpha);
            EXPECT_EQ(brush->width, kWidth);
        }
        return code;
    });
    EXPECT_EQ(brush->width, 3);
}

TEST_F(Brushes, PicturesFindTheSourceOfAVectorBrush) {
    NewBrush(Id(1), 4, 2, 0);
    qvBrush* vector = NewBrush(Id(2), 4, 2, 0);
    vector->type = kVectorBrush;
    vector->imageSource = NewImageHandle(4, 2);
    bool transformed = true;
    EXPECT_EQ(gfx::Neighbour().BrushVectorSource(Id(2), &transformed), vector->imageSource);
    EXPECT_FALSE(transformed);
    vector->transformedVector = 1;
    EXPECT_EQ(gfx::Neighbour().BrushVectorSource(Id(2), &transformed), vector->imageSource);
    EXPECT_TRUE(transformed);
    EXPECT_EQ(gfx::Neighbour().BrushVectorSource(Id(1), &transformed), nullptr);
    EXPECT_EQ(gfx::Neighbour().BrushVectorSource(Id(9), &transformed), nullptr);
}

TEST_F(Brushes, CropPixelArrayCutsPixelsAndAlpha) {
    uint32_t pixels[4 * 3];
    for (int i = 0; i < 12; ++i) pixels[i] = 0xFF000000u | uint32_t(i);
    OwnedPlane alpha(AllocAlphaBitMap(4, 3, 1));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) alpha->plane[y * alpha->bytesPerRow + x] = uint8_t(y * 4 + x);
    uint32_t* cut = nullptr;
    qvPlaneBitMap* cutAlpha = nullptr;
    ASSERT_EQ(CropPixelArray(pixels, 4, alpha.get(), 1, 1, 2, 2, &cut, &cutAlpha), 0);
    const BlockPtr<uint32_t> heldPixels(cut);
    const OwnedPlane heldAlpha(cutAlpha);
    EXPECT_EQ(std::vector<uint32_t>(cut, cut + 4),
              (std::vector<uint32_t>{0xFF000005, 0xFF000006, 0xFF000009, 0xFF00000A}));
    EXPECT_EQ(cutAlpha->plane[0], 5);
    EXPECT_EQ(cutAlpha->plane[cutAlpha->bytesPerRow + 1], 10);
    {
        AllocationFault fault(2, false);
        EXPECT_EQ(CropPixelArray(pixels, 4, alpha.get(), 0, 0, 1, 1, &cut, &cutAlpha), ERR_MEM);
    }
    EXPECT_EQ(cut, nullptr);
}

TEST_F(Brushes, OtherCodeFindsBrushesThroughItsSeams) {
    qvBrush* plain = NewBrush(Id(1), 5, 4, 0x102030, true);
    qvBrush* hardware = NewBrush(Id(2), 5, 4, 0);
    hardware->hardware = 1;
    hardware->mergedPlanes = kMergedAlpha;

    gfx::PictureView view{};
    ASSERT_EQ(gfx::Neighbour().GetBrush(L, Id(1), &view), 0);
    EXPECT_EQ(view.bitmap, plain->bitmap);
    EXPECT_EQ(view.mask, plain->mask);
    EXPECT_EQ(view.width, 5);
    EXPECT_EQ(gfx::Neighbour().GetBrush(L, Id(9), &view), ERR_FINDBRUSH);

    BrushView seen{};
    ASSERT_NE(ServiceHooks().findBrush, nullptr);
    EXPECT_TRUE(ServiceHooks().findBrush(Id(1), &seen));
    EXPECT_EQ(seen.bitmap, plain->bitmap);
    EXPECT_EQ(seen.height, 4);
    EXPECT_FALSE(ServiceHooks().findBrush(Id(2), &seen)) << "hardware brushes are not lent";

    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    EXPECT_EQ(GetBrushInfo(Id(1), &bitmap, &mask, &alpha), 1);
    EXPECT_EQ(mask, plain->mask);
    EXPECT_EQ(GetBrushInfo(Id(2), &bitmap, &mask, &alpha), 0);
    EXPECT_EQ(GetBrushInfo(Id(77), &bitmap, &mask, &alpha), 0);
    EXPECT_EQ(Runtime().error.number, 77u);

    const struct {
        uint32_t id;
        int attribute;
        double value;
    } attributes[] = {{1, 0, 5},
                      {1, 1, 4},
                      {1, 5, double(kNoTransparency)},  // a mask, but no colour key
                      {1, 9, 0},
                      {1, 16, 1},
                      {1, 17, 0},
                      {1, 73, 0},
                      {2, 17, 1},
                      {2, 16, 0},
                      {2, 73, 1},
                      {2, 5, double(kNoTransparency)}};
    for (const auto& a : attributes) {
        CallResult r = Call("GetAttribute", {Num(3), Num(a.id), Num(a.attribute)});
        EXPECT_EQ(r.code, 0) << a.id << " " << a.attribute;
        EXPECT_EQ(r.Number(), a.value) << a.id << " " << a.attribute;
    }
    EXPECT_EQ(Call("GetAttribute", {Num(3), Num(1), Num(7)}).code, ERR_UNKNOWNATTR);
    EXPECT_EQ(Call("GetAttribute", {Num(3), Num(6), Num(0)}).code, ERR_FINDBRUSH);
    EXPECT_EQ(Call("GetAttribute", {Num(3), Num(0), Num(60)}).Number(), 2);
}

}  // namespace
}  // namespace qv::testing
