// Allocation failure at every step of commands that build results: each call ends with its
// result or ERR_MEM (blocks left behind would be reported by the leak checker of the
// sanitizer build when the engine closes).
#include <string>
#include <vector>

#include "platform/linux/memory.h"
#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

TEST_F(StringLib, AllocationFailuresGiveErrMem) {
    const std::string text(3000, 'x');
    struct Case {
        const char* command;
        std::vector<Arg> args;
    };
    const Case cases[] = {
        {"ReplaceStr", {Str(text), Str("x"), Str("yz")}},
        {"RepeatStr", {Str("abc"), Num(2000)}},
        {"PatternReplaceStr", {Str(text), Str("(x)"), Str("%1%1")}},
        {"FormatStr", {Str("%s|%99.99f|%d"), Str(text), Num(1e300), Num(7)}},
        {"Eval",
         {Str("a * 2"), Table({{Str("variables"), List({Table({{Str("name"), Str("a")},
                                                               {Str("value"), Num(21)}})})}})}},
        {"SplitStr", {Str("a,b,c,d,e,f"), Str(",")}},
        {"UpperStr", {Str(text)}},
    };
    for (const Case& c : cases) {
        const CallResult expected = Call(c.command, c.args);
        ASSERT_EQ(expected.code, 0) << c.command;
        bool succeeded = false;
        for (uint64_t n = 1; n < 200 && !succeeded; ++n) {
            CallResult r;
            {
                AllocationFault fault(n, false);
                r = Call(c.command, c.args);
            }
            ASSERT_TRUE(r.code == 0 || r.code == ERR_MEM) << c.command << " at " << n;
            succeeded = r.code == 0;
            if (succeeded) {
                EXPECT_EQ(r.Text(), expected.Text()) << c.command;
            }
        }
        EXPECT_TRUE(succeeded) << c.command;
    }
}

}  // namespace
}  // namespace qv::testing
