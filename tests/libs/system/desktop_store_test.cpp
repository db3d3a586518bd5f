// The clipboard store, icons with their tool types, and OpenURL.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "libs/system/desktop.h"
#include "libs/system/tool_types.h"
#include "platform/linux/clipboard.h"
#include "platform/linux/icons.h"
#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

using namespace std::string_literals;

std::span<const uint8_t> AsSpan(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string BE32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string Form(const std::string& type, const std::string& body) {
    return "FORM" + BE32(static_cast<uint32_t>(4 + body.size())) + type + body;
}

std::string Chunk(const std::string& id, const std::string& data) {
    return id + BE32(static_cast<uint32_t>(data.size())) + data + (data.size() % 2 ? "\0"s : "");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class Clipboard : public SystemLib {
protected:
    Clipboard() : store_("QV_CLIPBOARD", dir_ / "clip") {}
    std::string Store() const { return dir_ / "clip"; }

private:
    ScratchDir dir_;
    ScopedEnv store_;
};

TEST_F(Clipboard, TextRoundTripsWithNulsAndLatin1) {
    for (const std::string& text : {"a\0b\xE9\xFF"s, "even"s, ""s}) {
        ASSERT_EQ(Call("SetClipboard", {Num(1), Str(text)}).code, 0);
        CallResult r = Call("GetClipboard");
        ASSERT_EQ(r.results.size(), 2u);
        EXPECT_EQ(r.Number(0), 1);
        EXPECT_EQ(r.Text(1), text);
        EXPECT_EQ(ReadFile(Store()), Form("FTXT", Chunk("CHRS", text)));
    }
    ASSERT_EQ(Call("ClearClipboard").code, 0);
    EXPECT_EQ(Call("GetClipboard").Text(1), " ");
}

// Peek tells the form's type; GetClipboard reads the picture, and one without a body is
// another kind.
TEST_F(Clipboard, PeekTellsTheKindOfTheStore) {
    const struct {
        std::string bytes;
        int peeked, got;
    } cases[] = {{"", 0, 0},
                 {Form("FTXT", Chunk("CHRS", "hi")), 1, 1},
                 {Form("ILBM", Chunk("BMHD", std::string(20, '\0'))), 2, 4},
                 {Form("8SVX", Chunk("VHDR", std::string(20, '\0'))), 4, 4},
                 {"not iff at all", 0, 0},
                 {"FORM", 0, 0}};
    EXPECT_EQ(Call("PeekClipboard").Number(), 0) << "no store yet";
    for (const auto& [bytes, peeked, got] : cases) {
        WriteFile(Store(), bytes);
        EXPECT_EQ(Call("PeekClipboard").Number(), peeked);
        CallResult r = Call("GetClipboard");
        EXPECT_EQ(r.Number(0), got);
        EXPECT_EQ(r.results.size(), got == 1 ? 2u : 1u);
    }
}

TEST_F(Clipboard, KindsAndArgumentsThatCannotBeWritten) {
    EXPECT_EQ(Call("SetClipboard", {Num(3), Str("x")}).code, ERR_WRONGUSAGE);
    CallResult brush = Call("SetClipboard", {Num(2), Num(5)});
    EXPECT_EQ(brush.code, ERR_FINDBRUSH);
    EXPECT_EQ(brush.errorNumber, 5u);
    EXPECT_EQ(Call("SetClipboard", {Num(1), Table({})}).code, ERR_STREXPECTED);
    ScopedEnv nowhere("QV_CLIPBOARD", "/nonexistent-dir/clip");
    EXPECT_EQ(Call("SetClipboard", {Num(1), Str("x")}).code, ERR_CLIPOPEN);
    EXPECT_EQ(Call("PeekClipboard").Number(), 0);
}

TEST_F(Clipboard, TwoProcessesShareIt) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(WriteClipboardData("from the other player") == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Call("GetClipboard").Text(1), "from the other player");
}

TEST(FtxtReader, TrustsLengthsOnlyAsFarAsTheBytesGo) {
    const std::string two = Chunk("CHRS", "abc") + Chunk("FONS", "xy") + Chunk("CHRS", "de");
    const std::string full = Form("FTXT", two);
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {full, "abcde"},
        {full.substr(0, full.size() - 3), "abc"},             // last chunk cut short
        {"FORM" + BE32(0xFFFFFFF0) + "FTXT" + two, "abcde"},  // form longer than the file
        {"FORM" + BE32(2) + "FTXT" + two, ""},                // form shorter than its type
        {Form("FTXT", "CHRS" + BE32(0x7FFFFFFF) + "x"), ""},
        {Form("FTXT", "CHR"), ""},
        {Form("FTXT", Chunk("CHRS", "odd") + "\x01"), "odd"},
    };
    for (const Case& c : cases) {
        std::string text = "stale";
        EXPECT_TRUE(ReadFtxt(AsSpan(c.bytes), &text));
        EXPECT_EQ(text, c.text);
    }
    std::string text;
    EXPECT_FALSE(ReadFtxt(AsSpan(Form("ILBM", "")), &text));
}

// --- Icons ---

TEST(ToolTypes, ParseAsTheDesktopReadsThem) {
    struct Case {
        std::string entry;
        bool read;
        std::string key, value;
        bool enabled;
    };
    const Case cases[] = {
        {"(Key = some value )", true, "Key", "some value", false},
        {"NOWAIT", true, "NOWAIT", "", true},
        {"  (DONOTWAIT)", true, "DONOTWAIT", "", false},
        {"PUBSCREEN = \"My Screen ) x\" tail", true, "PUBSCREEN", "My Screen ) x", true},
        {"OPEN=\"unterminated", true, "OPEN", "unterminated", true},
        {"A B = c", true, "AB", "c", true},
        {"KEY=", true, "KEY", "", true},
        {"WORD rest", true, "WORD", "", true},
        {"   ", false, "", "", true},
        {"", false, "", "", true},
    };
    for (const Case& c : cases) {
        ToolType t;
        ASSERT_EQ(ParseToolType(c.entry, &t), c.read) << c.entry;
        if (!c.read) continue;
        EXPECT_EQ(t.key, c.key) << c.entry;
        EXPECT_EQ(t.value, c.value) << c.entry;
        EXPECT_EQ(t.enabled, c.enabled) << c.entry;
    }
}

class Icons : public SystemLib {
protected:
    Icons() : assigns_("ICONS:=" + dir_.path()) {}
    std::string Path() const { return dir_ / "Prog.info"; }
    void Write(const std::string& text) const { WriteFile(Path(), text); }
    ScratchDir dir_;

private:
    ScopedAssigns assigns_;
};

TEST_F(Icons, GetIconPropertiesReadsTypeToolTypesAndDefaultTool) {
    Write(
        "QVICON 1\n# made by hand\ntype project\ntool /usr/bin/viewer\n"
        "tooltype (Key = some value )\ntooltype \ntooltype NOWAIT\n");
    for (const char* name : {"ICONS:Prog", "ICONS:prog.INFO"}) {
        CallResult r = Call("GetIconProperties", {Str(name)});
        ASSERT_EQ(r.code, 0) << name;
        EXPECT_EQ(r.Number(0), 4);
        const Value& types = r.results[1];
        ASSERT_EQ(types.entries.size(), 2u) << "the empty entry is skipped";
        EXPECT_EQ(types.At(0)->Field("key")->text, "Key");
        EXPECT_EQ(types.At(0)->Field("value")->text, "some value");
        EXPECT_EQ(types.At(0)->Field("enabled")->number, 0);
        EXPECT_EQ(types.At(1)->Field("key")->text, "NOWAIT");
        EXPECT_EQ(types.At(1)->Field("enabled")->number, 1);
        EXPECT_EQ(r.Text(2), "/usr/bin/viewer");
    }
    Write("QVICON 1\ntype tool\ntool /usr/bin/viewer\n");
    EXPECT_EQ(Call("GetIconProperties", {Str("ICONS:Prog")}).Text(2), "") << "project only";
}

TEST_F(Icons, MissingAndMalformedIconsAreReadErrors) {
    const std::string malformed[] = {"",
                                     "QVICON 2\ntype tool\n",
                                     "QVICON 1\n",
                                     "QVICON 1\ntype printer\n",
                                     "QVICON 1\ntype tool\nicon x\n",
                                     "QVICON 1\ntype tool\ntype disk\n"};
    CallResult missing = Call("GetIconProperties", {Str("ICONS:Nothing")});
    EXPECT_EQ(missing.code, ERR_READFILE);
    EXPECT_EQ(missing.errorText, "ICONS:Nothing");
    for (const std::string& text : malformed) {
        Write(text);
        EXPECT_EQ(Call("GetIconProperties", {Str("ICONS:Prog")}).code, ERR_READFILE) << text;
    }
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Nothing"), Num(3)}).code, ERR_READFILE);
    EXPECT_FALSE(std::ifstream(dir_ / "Nothing.info").good()) << "never created";
}

Arg ToolTypeArg(const std::string& key, std::optional<std::string> value, std::optional<int> on) {
    std::vector<std::pair<Arg, Arg>> fields{{Str("key"), Str(key)}};
    if (value) fields.push_back({Str("value"), Str(*value)});
    if (on) fields.push_back({Str("enabled"), Num(*on)});
    return Table(fields);
}

TEST_F(Icons, SetIconPropertiesRoundTrips) {
    Write("QVICON 1\ntype tool\ntooltype OLD\n");
    Arg types = List({ToolTypeArg("NOWAIT", std::nullopt, std::nullopt),
                      ToolTypeArg("Key", "some value", 0), ToolTypeArg("EMPTY", "", 1)});
    ASSERT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(4), types, Str("/bin/ed")}).code,
              0);
    EXPECT_EQ(ReadFile(Path()),
              "QVICON 1\ntype project\ntool /bin/ed\ntooltype NOWAIT\n"
              "tooltype (Key=some value)\ntooltype EMPTY\n");
    CallResult r = Call("GetIconProperties", {Str("ICONS:Prog")});
    EXPECT_EQ(r.results[1].At(1)->Field("value")->text, "some value");
    EXPECT_EQ(r.Text(2), "/bin/ed");

    ASSERT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(4)}).code, 0);
    EXPECT_EQ(ReadFile(Path()), "QVICON 1\ntype project\ntool /bin/ed\n") << "tools kept, no types";
    ASSERT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(4), List({}), Str("")}).code, 0);
    EXPECT_EQ(ReadFile(Path()), "QVICON 1\ntype project\n") << "an empty tool is none";
}

// Only a project icon takes a default tool; any other type keeps the one it has.
TEST_F(Icons, SetIconPropertiesKeepsTheToolOfOtherTypes) {
    for (int type : {1, 2, 3}) {
        Write("QVICON 1\ntype project\ntool /usr/bin/viewer\n");
        ASSERT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(type)}).code, 0) << type;
        EXPECT_NE(ReadFile(Path()).find("tool /usr/bin/viewer\n"), std::string::npos) << type;
        ASSERT_EQ(
            Call("SetIconProperties", {Str("ICONS:Prog"), Num(type), List({}), Str("/bin/ed")})
                .code,
            0);
        EXPECT_NE(ReadFile(Path()).find("tool /usr/bin/viewer\n"), std::string::npos) << type;
    }
}

TEST_F(Icons, ToolTypesBeyondTheLimitsWriteNothing) {
    const std::string before = "QVICON 1\ntype tool\ntooltype KEEP\n";
    Write(before);
    std::vector<Arg> many;
    for (int i = 0; i < 256; ++i) many.push_back(ToolTypeArg("T" + std::to_string(i), "", 1));
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(3), List(many)}).code,
              ERR_INTERNAL);
    many.pop_back();
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(3), List(many)}).code, 0);
    Write(before);
    Arg huge = List({ToolTypeArg("BIG", std::string(40000, 'a'), 1),
                     ToolTypeArg("BIGGER", std::string(40000, 'b'), 1)});
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(3), huge}).code, ERR_INTERNAL);
    Arg badKey = List({Table({{Str("key"), Num(1)}})});
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(3), badKey}).code, ERR_WRONGUSAGE);
    Arg lineBreak = List({ToolTypeArg("A\nB", "", 1)});
    EXPECT_EQ(Call("SetIconProperties", {Str("ICONS:Prog"), Num(3), lineBreak}).code,
              ERR_WRONGUSAGE);
    EXPECT_EQ(ReadFile(Path()), before);
}

TEST_F(SystemLib, SetWBIconDropsTheInfoSuffix) {
    ASSERT_EQ(Call("SetWBIcon", {Str("PROGDIR:Demo.INFO")}).code, 0);
    EXPECT_EQ(DesktopIconName(), "PROGDIR:Demo");
    ASSERT_EQ(Call("SetWBIcon", {Str("Other")}).code, 0);
    EXPECT_EQ(DesktopIconName(), "Other");
}

// --- URLs ---

TEST_F(SystemLib, OpenURLPassesTheURLAsOneArgument) {
    ScratchDir dir;
    const std::string record = dir / "record";
    const std::string opener = dir / "opener";
    WriteFile(opener, "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" + record + ".tmp\"\nmv \"" +
                          record + ".tmp\" \"" + record + "\"\n");
    chmod(opener.c_str(), 0700);
    ScopedEnv env("QV_URL_OPENER", opener);
    const std::string url = "http://h/a b?x='1'&y=\"2\";$(touch " + dir.path() + "/owned)`id`";
    ASSERT_EQ(Call("OpenURL", {Str(url)}).code, 0);
    for (int i = 0; i < 1000 && !std::ifstream(record).good(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(record), "1|" + url);
    EXPECT_FALSE(std::ifstream(dir / "owned").good()) << "no shell ran the URL";
}

TEST_F(SystemLib, OpenURLWithoutAnOpenerFails) {
    ScopedEnv env("QV_URL_OPENER", "/nonexistent/opener");
    CallResult r = Call("OpenURL", {Str("http://example.invalid/")});
    EXPECT_EQ(r.code, ERR_OPENLIB);
    EXPECT_EQ(r.errorText, "/nonexistent/opener");
    ScopedEnv path("PATH", "/nonexistent");
    ScopedEnv none("QV_URL_OPENER", std::nullopt);
    CallResult r2 = Call("OpenURL", {Str("http://example.invalid/")});
    EXPECT_EQ(r2.code, ERR_OPENLIB);
    EXPECT_EQ(r2.errorText, "xdg-open");
}

}  // namespace
}  // namespace qv::testing
