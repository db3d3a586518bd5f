// DecodeUtf8: leads of 2 to 5 bytes, every malformed form falling back to bytes, and the
// caller's buffer used whenever 4 x length bytes fit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/fonts/utf8.h"
#include "platform/linux/memory.h"

namespace {

struct Utf8Case {
    const char* name;
    std::string text;
    int flag;
    std::vector<uint32_t> codes;  // empty with ok false: refused
    bool ok;
};

const Utf8Case kCases[] = {
    {"ascii", "Ab", 1, {0x41, 0x62}, true},
    {"empty", "", 1, {}, true},
    {"two bytes", "\xC3\xA9", 1, {0xE9}, true},
    {"three bytes", "\xE2\x82\xAC!", 1, {0x20AC, 0x21}, true},
    {"four bytes", "\xF0\x9F\x98\x80", 1, {0x1F600}, true},
    {"five bytes", "\xF8\x88\x80\x80\x80", 1, {0x200000}, true},
    {"flag off", "Ab", 0, {}, false},
    {"continuation as lead",
     "\x80"
     "A",
     1,
     {},
     false},
    {"lead 1111110x", "\xFC\x84\x80\x80\x80\x80", 1, {}, false},
    {"lead 1111111x", "\xFE", 1, {}, false},
    {"continuation below 0x80", "\xC3\x41", 1, {}, false},
    {"continuation that is a lead", "\xC3\xC3", 1, {0xC3}, true},  // only below 128 breaks
    {"cut by the end", "A\xE2\x82", 1, {}, false},
    {"lead alone at the end", "\xC3", 1, {}, false},
};

class DecodeUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(DecodeUtf8Test, DecodesOrRefuses) {
    const Utf8Case& c = GetParam();
    const size_t live = qv::GetMemoryStats().liveBlocks;
    uint32_t buffer[16];
    uint32_t* codes = nullptr;
    int32_t count = -1;
    int allocated = -1;
    int result = DecodeUtf8(c.text.data(), int32_t(c.text.size()), c.flag, buffer, sizeof buffer,
                            &codes, &count, &allocated);
    if (!c.ok) {
        EXPECT_EQ(result, kUtf8Failed);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
        // The text then counts one character per byte.
        qv::TextCodes fallback(c.text.data(), int32_t(c.text.size()), c.flag);
        ASSERT_EQ(fallback.size(), int32_t(c.text.size()));
        for (size_t i = 0; i < c.text.size(); ++i)
            EXPECT_EQ(fallback[int32_t(i)], uint32_t(static_cast<unsigned char>(c.text[i])));
        return;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(codes, buffer);
    EXPECT_EQ(std::vector<uint32_t>(codes, codes + count), c.codes);
}

INSTANTIATE_TEST_SUITE_P(Texts, DecodeUtf8Test, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name) ch = std::isalnum(ch) ? ch : '_';
    return name;
});

TEST(DecodeUtf8, AllocatesWhenTheBufferIsTooSmall) {
    const std::string text = "\xC3\xA9t\xC3\xA9";  // 5 bytes need 20 bytes of room
    uint32_t buffer[4];
    uint32_t* codes = nullptr;
    int32_t count = 0;
    int allocated = 0;
    ASSERT_EQ(DecodeUtf8(text.data(), 5, 1, buffer, sizeof buffer, &codes, &count, &allocated), 0);
    EXPECT_EQ(allocated, 1);
    EXPECT_NE(codes, buffer);
    EXPECT_EQ(std::vector<uint32_t>(codes, codes + count),
              (std::vector<uint32_t>{0xE9, 't', 0xE9}));
    FreeCodePoints(codes, allocated);
    // Exactly 4 x length bytes fit.
    uint32_t exact[5];
    ASSERT_EQ(DecodeUtf8(text.data(), 5, 1, exact, sizeof exact, &codes, &count, &allocated), 0);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(codes, exact);
    // Without memory the text falls back to bytes.
    qv::AllocationFault fault(1, false);
    EXPECT_EQ(DecodeUtf8(text.data(), 5, 1, buffer, sizeof buffer, &codes, &count, &allocated),
              kUtf8Failed);
}

}  // namespace
