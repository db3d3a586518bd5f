// The command and constant reference: the signature file's form, what the writer refuses and
// how it lays the tables out, and docs/reference.md against what the player registers now.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/qvref/reference.h"

namespace {

using qv::reference::Constant;
using qv::reference::Library;
using qv::reference::ParseSignatures;
using qv::reference::Registry;
using qv::reference::Signatures;
using qv::reference::WriteReference;

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(Signatures, MalformedLinesAreRefusedWithTheirNumber) {
    struct Case {
        const char* text;
        const char* problem;
    };
    const Case cases[] = {
        {"Abs(x) -> number: a\n", "line 1: a command before the first \"[library]\""},
        {"[math\nAbs(x): a\n",
         "line 1: expected \"[library]\"\nline 2: a command before the first \"[library]\""},
        {"[]\n", "line 1: expected \"[library]\""},
        {"[math]\nAbs x: a\n", "line 2: expected \"Name(arguments) -> results: description\""},
        {"[math]\nAbs Value(x): a\n",
         "line 2: expected \"Name(arguments) -> results: description\""},
        {"[math]\n# c\n\nAbs(x) -> number\n", "line 4: no \": \" and description after the call"},
        {"[math]\nAbs(x): \n", "line 2: no \": \" and description after the call"},
        {"[math]\nAbs(x): a\nAbs(y): b\n", "line 3: Abs was given on line 2"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> problems;
        ParseSignatures(c.text, &problems);
        EXPECT_EQ(Joined(problems), std::string(c.problem) + "\n") << c.text;
    }
}

TEST(Signatures, ACallEndsAtTheFirstColonAfterItsParenthesis) {
    std::vector<std::string> problems;
    const Signatures s = ParseSignatures(
        "# comment\n\n[math]\nMin(a, b, ...) -> number: the least: a or b\n[string]\nChr(c): x",
        &problems);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
    ASSERT_EQ(s.count("math"), 1u);
    const qv::reference::Signature& min = s.at("math").at("Min");
    EXPECT_EQ(min.call, "Min(a, b, ...) -> number");
    EXPECT_EQ(min.description, "the least: a or b");
    EXPECT_EQ(min.line, 4);
    EXPECT_EQ(s.at("string").at("Chr").description, "x");
}

// A player with two libraries: math (two commands, three constants) and an empty stub.
Registry TwoLibraries() {
    Registry r;
    r.libraries.push_back({"math",
                           {"Sqrt", "Abs"},
                           {{"BIG", false, "", 100000},
                            {"PI", false, "", 3.141592653589793},
                            {"SANS", true, ":::default|sans", 0}}});
    r.libraries.push_back(
        {"anim", {}, {{"NONE", false, "", -1}, {"UNSIGNED", false, "", 4294967295.0}}});
    return r;
}

constexpr const char* kMath = "[math]\nAbs(x) -> number: |x|\nSqrt(x) -> number: the root\n";

TEST(Reference, LinesThatDoNotMatchTheTablesAreProblems) {
    struct Case {
        const char* extra;  // lines after kMath's
        const char* problem;
    };
    const Case cases[] = {
        {"Cube(x): x^3\n", "line 4: the library \"math\" registers no command Cube\n"},
        {"[sound]\nPlay(id): plays\n", "line 5: no library \"sound\" is registered\n"},
        {"[anim]\nLoadAnim(id, #ANIM): loads\n",
         "line 5: the library \"anim\" registers no command LoadAnim\n"
         "line 5: #ANIM is no registered constant\n"},
        {"[math]\nRnd(n[, max=#pi]): #NOPE and #big, # alone\n",
         "line 5: the library \"math\" registers no command Rnd\n"
         "line 5: #NOPE is no registered constant\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> problems;
        const Signatures s = ParseSignatures(std::string(kMath) + c.extra, &problems);
        ASSERT_TRUE(problems.empty()) << Joined(problems);
        WriteReference(TwoLibraries(), s, &problems);
        EXPECT_EQ(Joined(problems), c.problem) << c.extra;
    }
}

TEST(Reference, ACommandWithoutALineIsAProblem) {
    std::vector<std::string> problems;
    const Signatures s = ParseSignatures("[math]\nAbs(x) -> number: |x|\n", &problems);
    WriteReference(TwoLibraries(), s, &problems);
    EXPECT_EQ(Joined(problems),
              "tools/qvref/signatures.txt has no line for Sqrt of the library \"math\"\n");
}

TEST(Reference, CommandsFollowTheTableAndConstantsShowTheirValues) {
    std::vector<std::string> problems;
    const std::string text =
        WriteReference(TwoLibraries(), ParseSignatures(kMath, &problems), &problems);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
    const std::string expected =
        "\n## math\n\n"
        "| command | what it does |\n| --- | --- |\n"
        "| `Sqrt(x) -> number` | the root |\n"
        "| `Abs(x) -> number` | \\|x\\| |\n"
        "\nConstants of math:\n\n| constant | value |\n| --- | --- |\n"
        "| `#BIG` | 100000 |\n"
        "| `#PI` | 3.141592653589793 |\n"
        "| `#SANS` | `\":::default\\|sans\"` |\n"
        "\n## anim\n\n"
        "No commands: the player registers the library's name only.\n"
        "\nConstants of anim:\n\n| constant | value |\n| --- | --- |\n"
        "| `#NONE` | -1 |\n"
        "| `#UNSIGNED` | 4294967295 |\n";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first line where two texts part, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::istringstream ia(a), ib(b);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(ia, la));
        const bool moreB = static_cast<bool>(std::getline(ib, lb));
        if (!moreA && !moreB) return "";
        if (la != lb || moreA != moreB) {
            return "line " + std::to_string(line) + ":\n  committed: " + (moreA ? la : "(end)") +
                   "\n  generated: " + (moreB ? lb : "(end)");
        }
    }
}

TEST(Reference, TheCommittedReferenceIsWhatThePlayerRegisters) {
    const std::string root = QV_SOURCE_DIR;
    std::vector<std::string> problems;
    const Signatures s = ParseSignatures(ReadFile(root + "/tools/qvref/signatures.txt"), &problems);
    Registry registry;
    std::string error;
    ASSERT_TRUE(qv::reference::ReadPlayerRegistry(&registry, &error)) << error;
    const std::string generated = WriteReference(registry, s, &problems);
    EXPECT_TRUE(problems.empty()) << "tools/qvref/signatures.txt:\n" << Joined(problems);

    // What the player registers and the reference lacks, named before the whole text is
    // compared.
    const std::string committed = ReadFile(root + "/docs/reference.md");
    std::vector<std::string> missing;
    for (const Library& library : registry.libraries) {
        if (committed.find("\n## " + library.name + "\n") == std::string::npos) {
            missing.push_back("the library " + library.name);
        }
        for (const std::string& command : library.commands) {
            if (committed.find("| `" + command + "(") == std::string::npos) {
                missing.push_back(command);
            }
        }
        for (const Constant& c : library.constants) {
            if (committed.find("| `#" + c.name + "` |") == std::string::npos) {
                missing.push_back("#" + c.name);
            }
        }
    }
    const char* regenerate =
        "\nRegenerate it from the source directory: build/debug/bin/qvref "
        "tools/qvref/signatures.txt -o docs/reference.md";
    EXPECT_TRUE(missing.empty()) << missing.size() << " registered names are missing from "
                                 << "docs/reference.md:\n"
                                 << Joined({missing.begin(),
                                            missing.begin() + std::min<size_t>(missing.size(), 20)})
                                 << regenerate;
    EXPECT_TRUE(committed == generated) << "docs/reference.md is not what qvref writes now, from "
                                        << FirstDifference(committed, generated) << regenerate;
}

}  // namespace
