#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/convert.h"
#include "engine/string_table.h"
#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

using StringTest = EngineTest;

qvString* Intern(qvVmState* L, const std::string& text) {
    return VmNewString(L, text.data(), text.size());
}

TEST_F(StringTest, HashMatchesKnownValues) {
    const struct {
        std::string text;
        uint32_t hash;
    } cases[] = {{"", 0}, {"a", 128}, {"__index", 1981674606}};
    for (const auto& c : cases) EXPECT_EQ(Intern(L, c.text)->hash, c.hash) << c.text;
}

TEST_F(StringTest, EqualBytesAreOneObject) {
    const std::string withNul("a\0b", 3);
    qvString* s = Intern(L, withNul);
    EXPECT_EQ(Intern(L, withNul), s);
    EXPECT_NE(Intern(L, "a"), s);  // a prefix up to the NUL is another string
    EXPECT_EQ(s->length, 3u);
    EXPECT_EQ(std::string(s->Data(), 3), withNul);
    EXPECT_EQ(s->Data()[3], '\0');
    EXPECT_EQ(s->reserved, 0);
    EXPECT_EQ(s->tag, VM_TSTRING);
    EXPECT_EQ(VmNewString(L, nullptr, 0), Intern(L, ""));
}

// A 40-byte string is hashed over every second byte from the end, so byte 0 is skipped.
TEST_F(StringTest, LongStringsHashSampledBytes) {
    const std::string base(40, 'q');
    std::string byte0 = base, byte1 = base;
    byte0[0] = 'r';
    byte1[1] = 'r';
    qvString* s = Intern(L, base);
    qvString* skipped = Intern(L, byte0);
    EXPECT_EQ(skipped->hash, s->hash);
    EXPECT_NE(skipped, s);
    EXPECT_EQ(Intern(L, base), s);  // found behind the newer string of the same hash
    EXPECT_EQ(std::string(skipped->Data(), skipped->length), byte0);
    EXPECT_NE(Intern(L, byte1)->hash, s->hash);
}

TEST_F(StringTest, TableDoublesWhenStringsOutnumberBuckets) {
    qvStringTable& strt = L->g->strt;
    ASSERT_EQ(strt.size, 32u);
    int n = 0;
    while (strt.nuse < 32) Intern(L, "s" + std::to_string(n++));
    EXPECT_EQ(strt.size, 32u);
    qvString* s33 = Intern(L, "thirty-third");
    EXPECT_EQ(strt.nuse, 33u);
    EXPECT_EQ(strt.size, 64u);
    // Every string is still found after the move.
    EXPECT_EQ(Intern(L, "thirty-third"), s33);
    EXPECT_EQ(Intern(L, "__index"), L->g->tmname[TM_INDEX]);
    EXPECT_EQ(strt.nuse, 33u);
}

TEST_F(StringTest, CollectionHalvesSparseTableOnce) {
    qvStringTable& strt = L->g->strt;
    for (int i = 0; strt.size < 256; ++i) Intern(L, "garbage" + std::to_string(i));
    VmCollectGarbage(L);
    EXPECT_EQ(strt.size, 128u);
    EXPECT_LT(strt.nuse, 32u);
    EXPECT_EQ(Intern(L, "__gc"), L->g->tmname[TM_GC]);
}

TEST_F(StringTest, EventNamesAreInternedFixedAndInOrder) {
    const std::vector<std::string> names = {
        "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add",    "__sub", "__mul",
        "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",     "__and", "__xor",
        "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call"};
    ASSERT_EQ(names.size(), static_cast<size_t>(TM_N));
    VmCollectGarbage(L);
    for (int e = 0; e < TM_N; ++e) {
        EXPECT_EQ(Intern(L, names[e]), L->g->tmname[e]) << names[e];
        EXPECT_TRUE(L->g->tmname[e]->marked & VM_FIXED) << names[e];
    }
}

// A fixed string outlives collections that nothing else survives, and stays the one object
// of its bytes; fixing a string already interned fixes that object.
TEST_F(StringTest, FixedStringsSurviveCollectionsAsTheInternedObject) {
    qvString* existing = Intern(L, "onkeydown");
    EXPECT_EQ(VmNewFixedString(L, "onkeydown"), existing);
    qvString* fresh = VmNewFixedString(L, "triggered");
    for (int i = 0; i < 200; ++i) Intern(L, "garbage" + std::to_string(i));
    VmCollectGarbage(L);
    VmCollectGarbage(L);
    for (qvString* s : {existing, fresh}) {
        EXPECT_TRUE(s->marked & VM_FIXED);
        EXPECT_EQ(Intern(L, std::string(s->Data(), s->length)), s);
    }
    EXPECT_EQ(std::string(fresh->Data(), fresh->length), "triggered");
}

TEST_F(StringTest, FailedAllocationLeavesTableIntact) {
    qvStringTable& strt = L->g->strt;
    const uint32_t before = strt.nuse;
    {
        AllocationFault fault(1, false);
        EXPECT_EQ(Protected(L, [&] { Intern(L, "unlucky"); }), ERR_MEM);
    }
    EXPECT_EQ(strt.nuse, before);
    qvString* s = Intern(L, "unlucky");
    EXPECT_EQ(strt.nuse, before + 1);
    EXPECT_EQ(Intern(L, "unlucky"), s);
}

// When the bucket array cannot grow, the new string is already interned and the table keeps
// its size; a later string retries the growth.
TEST_F(StringTest, FailedGrowthKeepsTheNewString) {
    qvStringTable& strt = L->g->strt;
    int n = 0;
    while (strt.nuse < 32) Intern(L, "s" + std::to_string(n++));
    {
        AllocationFault fault(2, false);  // the string succeeds, the bucket array fails
        EXPECT_EQ(Protected(L, [&] { Intern(L, "thirty-third"); }), ERR_MEM);
    }
    EXPECT_EQ(strt.size, 32u);
    EXPECT_EQ(strt.nuse, 33u);
    qvString* s33 = Intern(L, "thirty-third");
    EXPECT_EQ(strt.nuse, 33u);
    Intern(L, "thirty-fourth");
    EXPECT_EQ(strt.size, 64u);
    EXPECT_EQ(Intern(L, "thirty-third"), s33);
}

// Every string sits in the bucket of its hash among the spread buckets, the others are empty,
// and the count matches the chains.
void ExpectConsistentTable(const qvStringTable& strt) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < strt.size; ++i) {
        for (qvGCHeader* o = strt.hash[i]; o != nullptr; o = o->next, ++count) {
            auto* s = static_cast<qvString*>(o);
            ASSERT_EQ(s->hash & (strt.spread - 1), i);
            // The chain filter of each string covers every later one.
            for (qvGCHeader* later = o->next; later != nullptr; later = later->next) {
                ASSERT_TRUE(MayFollow(s, static_cast<qvString*>(later)->hash));
            }
        }
    }
    EXPECT_EQ(count, strt.nuse);
}

// Survivors scattered through the chains stay findable after sweeps that unlink the strings
// around them, relocate them after a doubling and halve the table.
TEST_F(StringTest, SurvivorsOfSweepsAreFound) {
    qvStringTable& strt = L->g->strt;
    auto text = [](int i) { return "sv" + std::to_string(i); };
    std::vector<qvString*> kept;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 3000; ++i) {
            qvString* s = Intern(L, text(round * 3000 + i));
            if (i % 7 == 0) {
                Anchor(L, static_cast<double>(kept.size()), StringValue(L, text(round * 3000 + i)));
                kept.push_back(s);
            }
        }
        ExpectConsistentTable(strt);
        VmCollectGarbage(L);
        ExpectConsistentTable(strt);
        for (size_t k = 0; k < kept.size(); ++k) {
            const std::string t(kept[k]->Data(), kept[k]->length);
            ASSERT_EQ(Intern(L, t), kept[k]) << t;
        }
    }
    EXPECT_LT(strt.nuse, 2000u);
}

// A doubling takes (and counts) the larger array at once; the strings move into it at the next
// sweep, or at once when a second doubling comes first.
TEST_F(StringTest, DoublingSpreadsStringsAtTheNextSweep) {
    qvStringTable& strt = L->g->strt;
    std::vector<qvString*> kept;
    int n = 0;
    VmResizeStringTable(L, 64);
    while (strt.nuse < 64) kept.push_back(Intern(L, "k" + std::to_string(n++)));
    ASSERT_EQ(strt.spread, 64u);
    size_t before = L->g->nblocks;
    qvString* grower = Intern(L, "sixty-fifth");
    EXPECT_EQ(strt.size, 128u);
    EXPECT_EQ(strt.spread, 64u);
    EXPECT_EQ(L->g->nblocks, before + StringSize(11) + 64 * sizeof(qvGCHeader*));
    ExpectConsistentTable(strt);
    EXPECT_EQ(Intern(L, "sixty-fifth"), grower);

    while (strt.size == 128) Intern(L, "g" + std::to_string(n++));
    EXPECT_EQ(strt.spread, 256u);  // the second doubling moved them all
    ExpectConsistentTable(strt);
    while (strt.size == 256) Intern(L, "g" + std::to_string(n++));
    EXPECT_EQ(strt.spread, 256u);

    // Only the kept strings survive; the sweep spreads them before the table halves.
    for (size_t i = 0; i < kept.size(); ++i)
        Anchor(L, static_cast<double>(i), StringValue(L, "k" + std::to_string(i)));
    VmCollectGarbage(L);
    EXPECT_EQ(strt.size, 256u);
    EXPECT_EQ(strt.spread, 256u);
    ExpectConsistentTable(strt);
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(Intern(L, "k" + std::to_string(i)), kept[i]);
}

// A collection that halves a table it finds doubled but not yet spread leaves the strings
// where they are, in the buckets of the halved table.
TEST_F(StringTest, HalvingBackADoubledTableKeepsEveryStringFindable) {
    qvStringTable& strt = L->g->strt;
    VmResizeStringTable(L, 128);
    std::vector<qvString*> kept;
    for (int n = 0; strt.size == 128; ++n) {
        const std::string text = "h" + std::to_string(n);
        qvString* s = Intern(L, text);
        if (n % 16 == 0) {
            Anchor(L, static_cast<double>(kept.size()), StringValue(L, text));
            kept.push_back(s);
        }
    }
    ASSERT_EQ(strt.spread, 128u);
    VmCollectGarbage(L);
    EXPECT_EQ(strt.size, 128u);
    EXPECT_EQ(strt.spread, 128u);
    ExpectConsistentTable(strt);
    for (qvString* s : kept) EXPECT_EQ(Intern(L, std::string(s->Data(), s->length)), s);
}

// Growth splits the chains in place, by one doubling or several at once; shrinking merges
// them into a fresh array. Every string stays findable either way.
TEST_F(StringTest, ResizeKeepsEveryStringInItsBucket) {
    qvStringTable& strt = L->g->strt;
    std::vector<qvString*> strings;
    for (int i = 0; i < 3000; ++i) strings.push_back(Intern(L, "r" + std::to_string(i)));
    ASSERT_EQ(strt.size, 4096u);
    ExpectConsistentTable(strt);
    for (uint32_t n : {16384u, 512u, 32u, 1024u}) {
        const size_t before = L->g->nblocks;
        const uint32_t old = strt.size;
        VmResizeStringTable(L, n);
        EXPECT_EQ(strt.size, n);
        EXPECT_EQ(L->g->nblocks, before + (size_t{n} - old) * sizeof(qvGCHeader*)) << n;
        ExpectConsistentTable(strt);
        for (int i = 0; i < 3000; i += 7) {
            EXPECT_EQ(Intern(L, "r" + std::to_string(i)), strings[i]) << n;
        }
    }
}

// A refused bucket array leaves the table usable with its old array, for resizes within the
// engine's cache of small blocks and through the system allocator alike (a refused halving
// has already gathered the strings into the first half).
TEST_F(StringTest, RefusedResizeLeavesTableIntact) {
    qvStringTable& strt = L->g->strt;
    auto expectRefused = [&](uint32_t n) {
        qvGCHeader** buckets = strt.hash;
        const uint32_t size = strt.size;
        {
            AllocationFault fault(1, false);
            EXPECT_EQ(Protected(L, [&] { VmResizeStringTable(L, n); }), ERR_MEM) << n;
        }
        EXPECT_EQ(strt.hash, buckets);
        EXPECT_EQ(strt.size, size);
        ExpectConsistentTable(strt);
    };
    expectRefused(64);  // 256 to 512 bytes: both small blocks
    for (int i = 0; i < 100; ++i) Intern(L, "f" + std::to_string(i));
    ASSERT_EQ(strt.size, 128u);
    expectRefused(256);
    expectRefused(1024);
    expectRefused(64);
    EXPECT_NE(Intern(L, "f99"), Intern(L, "f98"));
    EXPECT_EQ(strt.nuse, 124u);
}

// A number's text comes with its string hash and with the hash of a short join behind any
// prefix (finished with the prefix's bytes), for counters of every digit count (hashed digit by
// digit) and for other numbers alike.
TEST_F(StringTest, FormattedNumbersComeWithTheirHashes) {
    const std::vector<std::string> prefixes = {"", "k", "key.", std::string(25, 'p'),
                                               std::string(31, 'q')};
    std::vector<double> values = {0.0, 99999.0, 4294967295.0, -0.0, -3.0, 0.25, 1e100};
    for (double v = 7; v < 4294967295.0; v = v * 10 + 3) values.push_back(v);  // 7, 73, 733...
    for (double v : values) {
        for (const std::string& prefix : prefixes) {
            char text[kNumberTextSize];
            uint32_t hashes[2];
            const auto n = static_cast<uint32_t>(
                FormatNumberHashed(v, text, static_cast<uint32_t>(prefix.size()), hashes));
            EXPECT_EQ(hashes[0], Intern(L, text)->hash) << text;
            const std::string joined = prefix + text;
            if (!IsShortJoin(static_cast<uint32_t>(prefix.size()), n)) {
                EXPECT_GE(joined.size(), 32u);
                continue;
            }
            EXPECT_EQ(MixStringHash(hashes[1], prefix.data(), static_cast<uint32_t>(prefix.size())),
                      Intern(L, joined)->hash)
                << joined;
        }
    }
}

// A text and a number: the number's register holds its text afterwards, and the result is the
// interned string, for short results (hashed and looked up from their pieces) and long ones,
// made the first time and found the second.
TEST_F(StringTest, TextAndNumberConcatenateThroughTheirRegisters) {
    const struct {
        std::string text;
        double number;
        const char* numberText;
    } cases[] = {
        {"k", 99999, "99999"},          {"", -0.5, "-0.5"},
        {"key", 1e100, "1e+100"},       {std::string(30, 'x'), 12, "12"},  // 32 bytes joined
        {std::string(40, 'y'), 7, "7"},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            L->top = L->base;
            SetString(L->top++, Intern(L, c.text));
            SetNumber(L->top++, c.number);
            const uint32_t strings = L->g->strt.nuse;
            VmConcatValues(L, 2, 1);
            const std::string joined = c.text + c.numberText;
            EXPECT_EQ(L->g->strt.nuse, pass == 0 ? strings + 2 - c.text.empty() : strings);
            EXPECT_EQ(StringOf(&L->base[0]), Intern(L, joined)) << joined;
            ASSERT_TRUE(IsString(&L->base[1])) << joined;
            EXPECT_EQ(StringOf(&L->base[1]), Intern(L, c.numberText));
        }
    }
    L->top = L->base;
}

// Two texts: a short join is hashed and looked up from its pieces, an empty right one leaves
// the left one as the result, and a long join is gathered as a general concatenation is.
TEST_F(StringTest, TwoTextsConcatenate) {
    const struct {
        std::string left, right;
    } cases[] = {
        {"abcde", "fghij"},
        {"", "x"},
        {"x", ""},
        {std::string("a\0b", 3), "c"},
        {std::string(31, 'p'), "q"},  // 32 bytes joined
        {"", ""},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            const std::string joined = c.left + c.right;
            L->top = L->base;
            SetString(L->top++, Intern(L, c.left));
            SetString(L->top++, Intern(L, c.right));
            const bool made = pass == 0 && !c.left.empty() && !c.right.empty();
            const uint32_t strings = L->g->strt.nuse;
            VmConcatValues(L, 2, 1);
            EXPECT_EQ(L->g->strt.nuse, strings + made) << joined;
            EXPECT_EQ(StringOf(&L->base[0]), Intern(L, joined)) << joined;
            EXPECT_EQ(StringOf(&L->base[1]), Intern(L, c.right)) << joined;
        }
    }
    L->top = L->base;
}

// A short join is not gathered in the scratch buffer, but the buffer grows as for any other
// concatenation, so that the bytes in use (and with them the collector's schedule) are those
// the gathering would leave.
TEST(StringJoin, ShortJoinsGrowTheScratchBuffer) {
    for (bool number : {true, false}) {
        qvVmState* L = VmOpen();
        ASSERT_EQ(L->g->buff.size, 0u);
        SetString(&L->base[0], VmNewString(L, "k", 1));
        if (number) {
            SetNumber(&L->base[1], 12345);
        } else {
            SetString(&L->base[1], VmNewString(L, "12345", 5));
        }
        L->top = L->base + 2;
        const size_t before = L->g->nblocks;
        VmConcatValues(L, 2, 1);
        EXPECT_EQ(std::string(StringOf(&L->base[0])->Data()), "k12345");
        EXPECT_EQ(L->g->buff.size, 32u);
        EXPECT_EQ(L->g->nblocks, before + 32 + StringSize(6) + (number ? StringSize(5) : 0));
        VmClose(L);
    }
}

// Two pieces compare and copy as their join would, wherever the join is split.
TEST(StringJoin, PiecesActAsTheirJoin) {
    const std::string text = "name_1234567890abcdefghij";
    for (size_t split = 0; split <= text.size(); ++split) {
        const JoinedBytes joined{{text.data(), static_cast<uint32_t>(split)},
                                 {text.data() + split, static_cast<uint32_t>(text.size() - split)}};
        ASSERT_EQ(joined.Length(), text.size());
        std::string copy(text.size(), '#');
        joined.CopyTo(copy.data());
        EXPECT_EQ(copy, text) << split;
        EXPECT_TRUE(joined.Equals(text.data())) << split;
        for (size_t i = 0; i < text.size(); ++i) {
            std::string other = text;
            other[i] = '!';
            EXPECT_FALSE(joined.Equals(other.data())) << split << " at " << i;
        }
    }
}

// A sweep gives back the count and the bytes of the strings it frees.
TEST_F(StringTest, SweepCountsWhatItFrees) {
    VmResizeStringTable(L, 64);  // a table of 64 buckets is never halved
    VmCollectGarbage(L);
    const qvStringTable& strt = L->g->strt;
    const size_t bytes = L->g->nblocks;
    const uint32_t strings = strt.nuse;
    ASSERT_LE(strings + 20, strt.size);
    for (int i = 0; i < 20; ++i) Intern(L, "dead" + std::string(i, 'x'));
    EXPECT_EQ(strt.nuse, strings + 20);
    VmCollectGarbage(L);
    EXPECT_EQ(strt.nuse, strings);
    EXPECT_EQ(L->g->nblocks, bytes);
    ExpectConsistentTable(strt);
}

// The in-line copy and comparison cover every length, with their overlapping words, and see a
// difference at any position.
TEST(StringBytes, CopyAndCompareEveryShortLength) {
    for (size_t n = 0; n <= 40; ++n) {
        std::string from(n, '\0'), to(n + 2, '#');
        for (size_t i = 0; i < n; ++i) from[i] = static_cast<char>('a' + i);
        CopyBytes(to.data() + 1, from.data(), n);
        EXPECT_EQ(to.substr(1, n), from) << n;
        EXPECT_EQ(to.front(), '#');
        EXPECT_EQ(to.back(), '#') << n;
        EXPECT_TRUE(EqualBytes(from.data(), to.data() + 1, n)) << n;
        for (size_t i = 0; i < n; ++i) {
            std::string other = from;
            other[i] = '!';
            EXPECT_FALSE(EqualBytes(from.data(), other.data(), n)) << n << " at " << i;
        }
    }
}

TEST_F(StringTest, UserdataIsAlignedAndLinked) {
    for (size_t size : {0u, 1u, 17u, 1000u}) {
        qvUserdata* u = VmNewUserdataBlock(L, size);
        EXPECT_EQ(L->g->rootudata, u);
        EXPECT_EQ(u->tag, VM_TUSERDATA);
        EXPECT_EQ(u->marked, 0);
        EXPECT_EQ(u->length, size);
        EXPECT_EQ(u->metatable, TableOf(&L->g->defaultMeta));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(u->Data()) % 16, 0u);
    }
}

TEST_F(StringTest, OversizedObjectsRaiseOutOfMemory) {
    const size_t huge = size_t{1} << 33;
    EXPECT_EQ(Protected(L, [&] { VmNewUserdataBlock(L, huge); }), ERR_MEM);
    // The length is checked before the bytes are read.
    EXPECT_EQ(Protected(L, [&] { VmNewString(L, "", huge); }), ERR_MEM);
}

}  // namespace
}  // namespace qv::testing
