// Sort against std::sort, with and without a comparator, and its guards against comparators
// that are no order.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

class Sorting : public SystemLib {
protected:
    // Sorts a table of the items (kept at the stack's bottom) and reads them back.
    std::vector<Value> SortItems(const std::vector<Arg>& items, const Arg* compare, int* code) {
        VmSetTop(L, 0);
        PushArg(List(items));
        VmPushString(L, "sort");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushValue(L, 1);
        if (compare != nullptr) PushArg(*compare);
        *code = VmPCall(L, compare != nullptr ? 2 : 1, 0, 0);
        std::vector<Value> out;
        for (size_t i = 0; i < items.size(); ++i) {
            VmRawGetI(L, 1, static_cast<int>(i));
            Value v;
            v.type = VmType(L, -1);
            if (v.type == VM_TNUMBER) v.number = VmToNumber(L, -1);
            if (v.type == VM_TSTRING) v.text.assign(VmToString(L, -1), VmStrLen(L, -1));
            out.push_back(v);
            VmSetTop(L, -2);
        }
        VmSetTop(L, 0);
        return out;
    }
};

TEST_F(Sorting, NumbersAndStringsFollowStdSort) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    std::uniform_int_distribution<int> few(0, 20), byte(1, 255);
    std::vector<std::vector<double>> numbers(3);
    for (int i = 0; i < 10000; ++i) numbers[0].push_back(any(rng));
    for (int i = 0; i < 3000; ++i) numbers[1].push_back(few(rng));  // duplicates
    numbers[2] = numbers[0];
    std::sort(numbers[2].begin(), numbers[2].end(), std::greater<>());               // reversed
    numbers.push_back(std::vector<double>(numbers[2].rbegin(), numbers[2].rend()));  // sorted
    Arg lessThan = Native([](qvVmState* S) {
        VmPushNumber(S, VmToNumber(S, 1) < VmToNumber(S, 2) ? 1 : 0);
        return 1;
    });
    Arg assembled = Script(R"(.function main params=2
    LT 1 r0 r1
    JMP yes
    LOADK r2 0
    RETURN r2 2
yes:
    LOADK r2 1
    RETURN r2 2
.end
)");
    for (const auto& input : numbers) {
        std::vector<Arg> items;
        for (double x : input) items.push_back(Num(x));
        std::vector<double> expected = input;
        std::sort(expected.begin(), expected.end());
        for (const Arg* compare :
             {static_cast<const Arg*>(nullptr), static_cast<const Arg*>(&lessThan),
              static_cast<const Arg*>(&assembled)}) {
            int code = -1;
            std::vector<Value> sorted = SortItems(items, compare, &code);
            ASSERT_EQ(code, 0);
            for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(sorted[i].number, expected[i]);
        }
    }
    std::vector<std::string> texts;
    for (int i = 0; i < 2000; ++i) {
        std::string s;
        for (int k = few(rng) % 6 + 1; k > 0; --k) s += static_cast<char>(byte(rng));
        texts.push_back(s);
    }
    std::vector<Arg> items;
    for (const auto& s : texts) items.push_back(Str(s));
    std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
    });
    int code = -1;
    std::vector<Value> sorted = SortItems(items, nullptr, &code);
    ASSERT_EQ(code, 0);
    for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(sorted[i].text, texts[i]) << i;
}

TEST_F(Sorting, EmptyStringEndsTheListWithoutComparator) {
    int code = -1;
    std::vector<Value> out = SortItems({Str("b"), Str(""), Str("a")}, nullptr, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out[0].text, "b");
    EXPECT_EQ(out[2].text, "a");
    out = SortItems({Num(3), Num(1), Num(2)}, nullptr, &code);
    EXPECT_EQ(out[0].number, 1);
    EXPECT_EQ(out[2].number, 3);
}

TEST_F(Sorting, AlwaysTrueComparatorFailsInsideTheRange) {
    for (int n : {4, 5, 10, 100}) {
        std::vector<Arg> items;
        for (int i = 0; i < n; ++i) items.push_back(Num(i));
        static bool sawNil;
        sawNil = false;
        Arg always = Native([](qvVmState* S) {
            if (VmType(S, 1) == VM_TNIL || VmType(S, 2) == VM_TNIL) sawNil = true;
            VmPushNumber(S, 1);
            return 1;
        });
        int code = 0;
        SortItems(items, &always, &code);
        EXPECT_EQ(code, 1362) << n;
        EXPECT_FALSE(sawNil) << "read past the last item with " << n;
    }
}

TEST_F(Sorting, AMillionItemsNeedNoDeepRecursion) {
    std::vector<Arg> items;
    std::mt19937 rng(1);
    for (int i = 0; i < (1 << 20); ++i) items.push_back(Num(static_cast<double>(rng() % 1000)));
    int code = -1;
    std::vector<Value> out = SortItems(items, nullptr, &code);
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end(),
                               [](const Value& a, const Value& b) { return a.number < b.number; }));
}

TEST_F(Sorting, ArgumentErrors) {
    EXPECT_EQ(Call("Sort", {Num(1)}).code, 1140);
    EXPECT_EQ(Call("Sort", {List({Num(1)}), Num(1)}).code, 1185);
    EXPECT_EQ(Call("Sort", {}).code, 1014);
    EXPECT_EQ(Call("Sort", {List({Num(1), Str("a")})}).code, 1130);
}

}  // namespace
}  // namespace qv::testing
