// The message argument: how it is inserted, and that no text, however hostile, is ever used
// as a printf format or overruns a store; where an error of the engine itself is placed.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/runtime_state.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::ErrorText;
using qv::testing::RuntimeTest;

class Errors : public RuntimeTest {};

std::string Fill(const char* message, const char* text, uint32_t number) {
    char out[256];
    qv::FillMessage(message, text, number, out, sizeof out);
    return out;
}

TEST(FillMessage, SubstitutesOnePlaceholderAndCopiesEveryOtherPercent) {
    struct Case {
        const char* message;
        const char* text;
        uint32_t number;
        const char* expected;
    };
    const Case cases[] = {
        {"Cannot read file %s !", "a.txt", 0, "Cannot read file a.txt !"},
        {"Could not find brush %ld!", "", 7, "Could not find brush 7!"},
        {"Brush %d", "", 0xFFFFFFFF, "Brush -1"},
        {"%s then %d", "x", 5, "x then %d"},  // the text wins over the number
        {"%d and %ld", "", 3, "3 and %ld"},
        {"%n%s%s%x", "A", 1, "%nA%s%x"},
        {"100%% sure %s", "yes", 0, "100% sure yes"},
        {"ends with %", "", 0, "ends with %"},
        {"%%s is %s", "t", 0, "%s is t"},
        {"no placeholders", "x", 1, "no placeholders"},
        {"%s", "%s%n%d", 2, "%s%n%d"},  // the argument is data
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Fill(c.message, c.text, c.number), c.expected) << c.message;
    }
}

TEST(FillMessage, StaysWithinTheBuffer) {
    char out[8];
    qv::FillMessage("abc %s def", "0123456789", 0, out, sizeof out);
    EXPECT_STREQ(out, "abc 012");
    char one[1];
    qv::FillMessage("%s", "x", 0, one, sizeof one);
    EXPECT_STREQ(one, "");
}

TEST(FileParts, NamesInsidePaths) {
    struct Case {
        const char* path;
        const char* filePart;
        const char* platformPart;
    };
    const Case cases[] = {
        {"dir/sub/pic.png", "pic.png", "pic.png"},
        {"dir\\pic.png", "pic.png", "pic.png"},
        {"Work:pic.png", "pic.png", "pic.png"},
        {"Work:", "", ""},
        {"Work:dir/", "", ""},
        {"a:b:c", "b:c", "c"},
        {"/abs/name", "name", "name"},
        {"//name", "name", "name"},
        {"plain", "plain", "plain"},
        {":::chunk8:4*inner.txt/data/app.qva", "inner.txt", "app.qva"},
        {":::chunk8:4*", "::chunk8:4*", "4*"},  // malformed: a plain name
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(FilePartEx(c.path), c.filePart) << c.path;
        EXPECT_STREQ(PathFilePart(c.path), c.platformPart) << c.path;
    }
}

TEST_F(Errors, FileArgumentsShowTheirFilePart) {
    struct Case {
        int code;
        const char* argument;
        const char* expected;
    };
    const Case cases[] = {
        {ERR_READFILE, ":::chunk100:4000*pic.png/data/app.qva", "Cannot read file pic.png !"},
        {ERR_FILEEXIST, ":::chunkS0:16*notes.txt/7f00aa", "File notes.txt does not exist!"},
        {ERR_LOADPICTURE, "dir/sub/pic.png", "Cannot load picture pic.png!"},
        {ERR_IMAGEERROR, "dir\\pic.iff", "Cannot load image pic.iff!"},
        {ERR_LOADPICTURE, "Work:pic.png", "Cannot load picture pic.png!"},
        {ERR_FILEEXIST, "dir/sub/pic.png", "File dir/sub/pic.png does not exist!"},
    };
    for (const Case& c : cases) {
        SetErrorString(c.argument);
        EXPECT_EQ(ErrorText(c.code), c.expected) << c.argument;
    }
}

TEST_F(Errors, AVirtualPathArgumentIsRewrittenToItsFileName) {
    SetErrorString(":::chunk100:4000*pic.png/data/app.qva");
    ErrorText(ERR_READFILE);
    EXPECT_STREQ(qv::Runtime().error.text, "pic.png");
}

// Also for the codes that show only a path's file part: such a text is no path to cut.
TEST_F(Errors, MalformedVirtualPathsStayAsTheyAre) {
    for (const char* argument : {":::chunkX", ":::chunk1:2*name", ":::chunk1:2/name*"}) {
        SetErrorString(argument);
        EXPECT_EQ(ErrorText(ERR_FILEEXIST), std::string("File ") + argument + " does not exist!");
        EXPECT_EQ(ErrorText(ERR_READFILE), std::string("Cannot read file ") + argument + " !");
        EXPECT_STREQ(qv::Runtime().error.text, argument);
    }
}

TEST_F(Errors, NumbersFillPercentD) {
    SetErrorNumber(3);
    EXPECT_EQ(ErrorText(ERR_NUMEXPECTED), "Number expected in argument 3!");
    SetErrorNumber(42);
    EXPECT_EQ(ErrorText(ERR_FINDBRUSH), "Could not find brush 42!");
}

TEST_F(Errors, RegisteredTextsAreNoFormats) {
    int code = RegisterErrorText("%n%s%s%x");
    SetErrorString("A");
    EXPECT_EQ(ErrorText(code), "%nA%s%x");
}

TEST_F(Errors, ErrorAndFontTextsAreShownVerbatim) {
    SetErrorString("50%s %d");
    SetErrorNumber(9);
    EXPECT_EQ(ErrorText(ERR_ERRORCALLED), "50%s %d");
    EXPECT_EQ(ErrorText(ERR_OPENFONT), "50%s %d");
}

TEST_F(Errors, LongArgumentsAreCutTo511Bytes) {
    std::string path(2000, 'p');
    SetErrorString(path.c_str());
    EXPECT_EQ(std::string(qv::Runtime().error.text), path.substr(0, 511));
    std::string text = ErrorText(ERR_FILEEXIST);
    EXPECT_EQ(text, "File " + path.substr(0, 511) + " does not exist!");
    char small[16];
    FormatErrorMessage(ERR_FILEEXIST, small, sizeof small);
    EXPECT_STREQ(small, "File pppppppppp");
}

// Memory that the engine's own allocator cannot get is reported where the script stood, as
// the same error returned by a command is.
TEST_F(Errors, OutOfMemoryInTheEngineNamesTheScriptsPlace) {
    PushChunk(
        ".function main\n.source \"app.qva\"\n.line 7\n    NEWTABLE r0 0 0\n    LOADK r1 0\n"
        ".line 9\nloop:\n    ADD r1 r1 1\n    SETTABLE r0 r1 r1\n    JMP loop\n    RETURN r0 "
        "1\n.end\n");
    qv::SetMemoryCap(qv::GetMemoryStats().liveBytes + (1 << 20));
    int status = VmPCall(L, 0, 0, 0);
    qv::SetMemoryCap(0);
    EXPECT_EQ(status, ERR_MEM);
    EXPECT_EQ(qv::Runtime().error.line, 9);
    EXPECT_STREQ(qv::Runtime().error.sourceName, "app.qva");
    EXPECT_STREQ(qv::Runtime().error.command, "<<unnamed>>");
}

}  // namespace
