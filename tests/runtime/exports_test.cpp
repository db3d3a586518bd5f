// The export lists byte for byte, their failures, and the small shared services: case-blind
// comparison and the random generator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/random.h"
#include "runtime/strings.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::ReadBytes;
using qv::testing::RuntimeTest;
using qv::testing::ScratchDir;

int Nothing(qvVmState*) {
    return 0;
}

const qvCommandEntry kString[] = {{"StrLen", Nothing}, {"MidStr", Nothing}, {nullptr, nullptr}};
const qvCommandEntry kMath[] = {{"Abs", Nothing}, {nullptr, nullptr}};

std::string Text(const std::string& path) {
    qv::testing::Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class Exports : public RuntimeTest {
protected:
    ScratchDir dir_;
};

TEST_F(Exports, CommandListHasOneBlockPerTable) {
    ASSERT_EQ(RegisterCommandTable(kString, "string"), 0);
    ASSERT_EQ(RegisterCommandTable(kMath, "math"), 0);
    std::string path = dir_ / "commands.txt";
    ASSERT_EQ(ExportCommands(path.c_str()), 0);
    EXPECT_EQ(Text(path), "::string\n2\nStrLen\nMidStr\n::math\n1\nAbs\n::end\n");
    EXPECT_STREQ(qv::FindCommandSpelling("STRLEN"), "StrLen");
    EXPECT_STREQ(qv::FindCommandSpelling("abs"), "Abs");
    EXPECT_EQ(qv::FindCommandSpelling("nothing"), nullptr);
}

TEST_F(Exports, ConstantListHoldsTheLowerCasedNames) {
    const qvConstant rows[] = {{"ERR_MEM", nullptr, 1000}, {nullptr, nullptr, 0}};
    RegisterConstants(L, rows, 0);
    std::string path = dir_ / "constants.txt";
    ASSERT_EQ(ExportConstants(L, path.c_str()), 0);
    EXPECT_EQ(Text(path), "err_mem\n");
    EXPECT_EQ(VmGetTop(L), 0);
}

// Two plugins: a picture loader, and a script library with a name.
class FakePlugins : public qv::PluginListView {
public:
    size_t Count() const override { return 2; }
    qv::PluginExportInfo At(size_t index) const override {
        if (index == 0) {
            return {1,       2,
                    0x10,    {"Picture loader", "loader", nullptr, "Me", "", "", "", "end"},
                    nullptr, nullptr,
                    nullptr};
        }
        return {5,      0,         0x12,      {"Library", "lib", "", "", "", "", "", ""},
                "xlib", kCommands, kConstants};
    }

private:
    static constexpr qvCommandEntry kCommands[] = {{"DoIt", Nothing}, {nullptr, nullptr}};
    static constexpr qvConstant kConstants[] = {{"#XLIB_ONE", nullptr, 1}, {nullptr, nullptr, 0}};
};

TEST_F(Exports, PluginListShowsLibrariesOfPluginsThatHaveOne) {
    std::string path = dir_ / "plugins.txt";
    ASSERT_EQ(ExportPluginInfo(path.c_str(), FakePlugins()), 0);
    EXPECT_EQ(Text(path),
              "::plugin\n1.2\n0x00000010\nPicture loader\nloader\n\nMe\n\n\n\nend\n"
              "::plugin\n5.0\n0x00000012\nLibrary\nlib\n\n\n\n\n\n\n"
              "::commands\nxlib.DoIt\n::constants\n#XLIB_ONE\n::end\n");
}

TEST_F(Exports, UnwritableTargetsReportTheFile) {
    std::string missing = dir_ / "no/such/dir/list.txt";
    const std::string targets[] = {missing, dir_.path(), "/dev/full"};
    ASSERT_EQ(RegisterCommandTable(kString, "string"), 0);
    const qvConstant rows[] = {{"ERR_MEM", nullptr, 1000}, {nullptr, nullptr, 0}};
    RegisterConstants(L, rows, 0);
    for (const std::string& target : targets) {
        EXPECT_EQ(ExportCommands(target.c_str()), ERR_WRITEFILE) << target;
        EXPECT_EQ(ExportConstants(L, target.c_str()), ERR_WRITEFILE) << target;
        EXPECT_EQ(ExportPluginInfo(target.c_str(), FakePlugins()), ERR_WRITEFILE) << target;
        char text[1024];
        FormatErrorMessage(ERR_WRITEFILE, text, sizeof text);
        EXPECT_EQ(std::string(text), "Cannot write to file " + target + " !");
    }
}

TEST(CaseTables, Latin1LettersCompareWithoutCase) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"\xE9t\xE9", "\xC9T\xC9", 0},  // é and É
        {"\xFF", "\xDF", 1},            // ÿ and ß have no capitals
        {"\xD7", "\xF7", -1},           // × and ÷ map to themselves
        {"LoadBrush", "loadbrush", 0},
        {"a", "b", -1},
        {"abc", "ab", 1},
        {"\x80", "a", 1},  // bytes compare as 0-255
    };
    for (const Case& c : cases) {
        int d = StrICmp(c.a, c.b);
        EXPECT_EQ((d > 0) - (d < 0), c.sign) << c.a << " " << c.b;
    }
    EXPECT_EQ(StrNICmp("LoadBrush", "LOADbrushX", 9), 0);
    EXPECT_LT(StrNICmp("LoadBrush", "LOADbrushX", 10), 0);
    EXPECT_EQ(StrNICmp("ab", "AB", 10), 0);
    EXPECT_EQ(StrNICmp("x", "y", 0), 0);
    char name[] = "\xC9L\xC0N \xD7\xDE";
    ToLowerStr(name);
    EXPECT_STREQ(name, "\xE9l\xE0n \xD7\xDE");  // 0xDE stays: 0xFE lies outside the mapped range
}

class Random : public RuntimeTest {};

TEST_F(Random, MatchesTheCLibrary) {
    for (uint32_t seed : {0u, 12345u, 0xFFFFFFFFu}) {
        SeedRandom48(seed);
        srand48(static_cast<long>(seed));
        for (int i = 0; i < 1000; ++i) {
            double expected = drand48();
            ASSERT_EQ(GetRandom48(), expected) << "seed " << seed << " draw " << i;
        }
    }
}

TEST_F(Random, AResetStartsFromSeedZero) {
    qv::ResetRuntimeState();
    srand48(0);
    EXPECT_EQ(GetRandom48(), drand48());
}

}  // namespace
