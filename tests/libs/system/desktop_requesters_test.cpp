// The requester commands driven by the answer queue, the system language and country, and
// script catalogs.
#include <string>
#include <vector>

#include "platform/linux/requester.h"
#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

class Requesters : public SystemLib {
protected:
    Requesters() { ResetRequesterAnswers(); }
    ~Requesters() override { ResetRequesterAnswers(); }

    // Runs command with the queue set to answers; stderr is kept in shown.
    CallResult Ask(const std::string& answers, std::string_view command, std::vector<Arg> args) {
        ScopedEnv queue("QV_REQUESTER_ANSWERS", answers);
        ::testing::internal::CaptureStderr();
        CallResult r = Call(command, args);
        shown = ::testing::internal::GetCapturedStderr();
        return r;
    }
    std::string shown;
};

struct Asked {
    std::string answers;
    std::string command;
    std::vector<Arg> args;
    int code;
    std::vector<std::string> results;  // each as printed
};

std::ostream& operator<<(std::ostream& out, const Asked& c) {
    return out << c.command << " answered \"" << c.answers << "\"";
}

class RequesterCases : public Requesters, public ::testing::WithParamInterface<Asked> {};

TEST_P(RequesterCases, AnswerAsTheQueueSays) {
    const Asked& c = GetParam();
    CallResult r = Ask(c.answers, c.command, c.args);
    ASSERT_EQ(r.code, c.code);
    if (c.code != 0) return;
    std::vector<std::string> printed;
    for (const Value& v : r.results) printed.push_back((std::ostringstream() << v).str());
    EXPECT_EQ(printed, c.results);
}

const std::string kLong(2000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Queue, RequesterCases,
    ::testing::Values(
        Asked{"1", "SystemRequest", {Str("T"), Str("Body"), Str("A|B|C")}, 0, {"1"}},
        Asked{"2", "SystemRequest", {Str("T"), Str("Body"), Str("A|B|C")}, 0, {"2"}},
        Asked{"0", "SystemRequest", {Str("T"), Str("Body"), Str("A|B|C")}, 0, {"0"}},
        Asked{"c", "SystemRequest", {Str("T"), Str("Body"), Str("A|B|C")}, 0, {"0"}},
        Asked{"", "SystemRequest", {Str("T"), Str("Body"), Str("A|B|C")}, 0, {"1"}},
        Asked{"!cancel", "SystemRequest", {Str("T"), Str("B"), Str("OK|No")}, 0, {"1"}},
        Asked{"-1", "SystemRequest", {Str("T"), Str("Body"), Str("A|B")}, 1000, {}},
        Asked{"hello", "StringRequest", {Str("T"), Str("B")}, 0, {"\"hello\"", "1"}},
        Asked{"a\\;b", "StringRequest", {Str("T"), Str("B")}, 0, {"\"a;b\"", "1"}},
        Asked{"!cancel", "StringRequest", {Str("T"), Str("B"), Str("def")}, 0, {"\"def\"", "0"}},
        Asked{"", "StringRequest", {Str("T"), Str("B"), Str("def")}, 0, {"\"def\"", "0"}},
        Asked{"",
              "StringRequest",
              {Str("T"), Str("B"), Str("abcdef"), Num(0), Num(3)},
              0,
              {"\"abc\"", "0"}},
        Asked{"123456",
              "StringRequest",
              {Str("T"), Str("B"), Str(""), Num(3), Num(4)},
              0,
              {"\"1234\"", "1"}},
        Asked{kLong,
              "StringRequest",
              {Str("T"), Str("B")},
              0,
              {"\"" + std::string(1024, 'x') + "\"", "1"}},
        Asked{"", "StringRequest", {Str("T"), Str("B"), Str("12a"), Num(3)}, 1055, {}},
        Asked{"", "StringRequest", {Str("T"), Str("B"), Str("-12"), Num(3)}, 0, {"\"-12\"", "0"}},
        Asked{"", "StringRequest", {Str("T"), Str("B"), Str(""), Num(1)}, 1055, {}},
        Asked{"", "StringRequest", {Str("T"), Str("B"), Str(""), Num(0), Num(1025)}, 1055, {}},
        Asked{"", "FileRequest", {Str("T"), Str("#?"), Num(3)}, 1055, {}},
        Asked{"/d/a", "FileRequest", {Str("T"), Str("#?")}, 0, {"\"/d/a\""}},
        Asked{"!cancel", "FileRequest", {Str("T"), Str("#?")}, 0, {"\"\""}},
        Asked{"/d/a|b",
              "FileRequest",
              {Str("T"), Str("#?"), Num(1)},
              0,
              {"{1=\"/d/b\" 2=\"\" 0=\"/d/a\" }"}},
        Asked{"", "FileRequest", {Str("T"), Str("#?"), Num(1)}, 0, {"{0=\"\" }"}},
        Asked{"/d", "PathRequest", {Str("T")}, 0, {"\"/d\""}},
        Asked{"/d", "PathRequest", {Str("T"), Num(1)}, 1055, {}},
        Asked{"", "PathRequest", {Str("T"), Num(2)}, 0, {"\"\""}},
        Asked{"1",
              "ListRequest",
              {Str("T"), Str("B"), List({Str("a"), Str(""), Str("c")})},
              0,
              {"1"}},
        Asked{"3", "ListRequest", {Str("T"), Str("B"), List({Str("a"), Str("b")})}, 0, {"-1"}},
        Asked{"", "ListRequest", {Str("T"), Str("B"), List({Str("a")}), Num(9)}, 0, {"-1"}},
        Asked{"", "ListRequest", {Str("T"), Str("B"), List({})}, 1055, {}},
        Asked{"", "ColorRequest", {Str("T"), Num(0x123456)}, 0, {"-1"}},
        Asked{"$FF8000", "ColorRequest", {Str("T")}, 0, {"16744448"}},
        Asked{"red", "ColorRequest", {Str("T")}, 0, {"-1"}}),
    kCommandCaseName);

TEST_F(Requesters, TheyShowTheirTextsOnStandardError) {
    Ask("", "SystemRequest", {Str("The title"), Str("The body"), Str("Yes|No")});
    EXPECT_NE(shown.find("The title"), std::string::npos) << shown;
    EXPECT_NE(shown.find("The body"), std::string::npos) << shown;
    Ask("", "ListRequest", {Str("Pick"), Str("one"), List({Str(""), Str("second")})});
    EXPECT_NE(shown.find("0:  \n"), std::string::npos) << "an empty choice shows as a space";
    EXPECT_NE(shown.find("1: second"), std::string::npos) << shown;
}

TEST_F(Requesters, FileAndPathRequestersOfferTheLastChoice) {
    ASSERT_EQ(Ask("/data/pics/a.png", "FileRequest", {Str("T"), Str("#?")}).Text(),
              "/data/pics/a.png");
    Ask("", "FileRequest", {Str("T"), Str("#?")});
    EXPECT_NE(shown.find("drawer \"/data/pics\", file \"a.png\""), std::string::npos) << shown;
    Ask("", "FileRequest", {Str("T"), Str("#?"), Num(0), Str("/other")});
    EXPECT_EQ(shown.find("a.png"), std::string::npos) << "a given path wins: " << shown;

    ASSERT_EQ(Ask("/music", "PathRequest", {Str("T")}).Text(), "/music");
    Ask("", "PathRequest", {Str("T")});
    EXPECT_NE(shown.find("drawer \"/music\""), std::string::npos) << shown;
}

TEST_F(Requesters, FontRequestStartsFromTheGivenFont) {
    for (const std::string& answers : {std::string(""), std::string("Vera Sans/14")}) {
        CallResult r = Ask(answers, "FontRequest", {Str("T"), Str("Mono"), Num(9)});
        ASSERT_EQ(r.code, 0);
        const Value& font = r.results[0];
        bool chosen = !answers.empty();
        EXPECT_EQ(font.Field("name")->text, chosen ? "Vera Sans" : "Mono");
        EXPECT_EQ(font.Field("family")->text, font.Field("name")->text);
        EXPECT_EQ(font.Field("size")->number, chosen ? 14 : 9);
        EXPECT_EQ(font.Field("weight")->number, 80);
        for (const char* zero : {"slant", "underline", "strikeout", "bold", "italic"}) {
            EXPECT_EQ(font.Field(zero)->number, 0) << zero;
        }
    }
}

// --- Language, country and catalogs ---

struct LocaleCase {
    std::optional<std::string> lcAll, lcMessages, lang, forced;
    int language, country;
};

class Locale : public SystemLib, public ::testing::WithParamInterface<LocaleCase> {};

TEST_P(Locale, GivesTheLanguageAndCountryConstants) {
    const LocaleCase& c = GetParam();
    ScopedEnv all("LC_ALL", c.lcAll), messages("LC_MESSAGES", c.lcMessages);
    ScopedEnv lang("LANG", c.lang), forced("QV_LANGUAGE", c.forced);
    EXPECT_EQ(Call("GetSystemLanguage").Number(), c.language);
    EXPECT_EQ(Call("GetSystemCountry").Number(), c.country);
}

const auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(Variables, Locale,
                         ::testing::Values(LocaleCase{none, none, "de_DE.UTF-8", none, 1, 9},
                                           LocaleCase{none, none, "en_GB", none, 0, 0},
                                           LocaleCase{none, none, "en_US.UTF-8", none, 0, 1},
                                           LocaleCase{none, none, "fr_CA.UTF-8@x", none, 4, 6},
                                           LocaleCase{none, none, "pt_BR", none, 6, 5},
                                           LocaleCase{none, none, "nb_NO.UTF-8", none, 10, 21},
                                           LocaleCase{none, none, "uk_UA", none, 18, 37},
                                           LocaleCase{none, none, "ja_JP", none, 18, 38},
                                           LocaleCase{none, none, "C", none, 18, 38},
                                           LocaleCase{none, none, none, none, 18, 38},
                                           LocaleCase{"it_IT", "de_DE", "fr_FR", none, 3, 13},
                                           LocaleCase{"", "de_DE", "fr_FR", none, 1, 9},
                                           LocaleCase{none, none, "fr_FR", "deutsch", 1, 11},
                                           LocaleCase{none, none, "fr_FR", "sv", 7, 11}),
                         [](const ::testing::TestParamInfo<LocaleCase>& info) {
                             const LocaleCase& c = info.param;
                             return CaseName(
                                 info.index,
                                 c.forced.value_or(c.lcAll.value_or(c.lang.value_or("none"))));
                         });

// A catalog as the catalog tools write it, made by Python's struct.
const char* kMakeCatalog = R"(
import struct, sys
def chunk(name, data):
    return name + struct.pack('>I', len(data)) + data + (b'\0' if len(data) % 2 else b'')
def strings(items):
    out = b''
    for ident, text in items:
        data = text.encode('latin-1') + b'\0'
        out += struct.pack('>II', ident, len(data)) + data + b'\0' * (-len(data) % 4)
    return out
body = b'CTLG' + chunk(b'FVER', b'$VER: app.catalog 2.3 (1.1.2025)\0')
body += chunk(b'LANG', b'deutsch\0') + chunk(b'STRS', strings([(1, 'Hallo'), (7, 'Größe')]))
sys.stdout.buffer.write(b'FORM' + struct.pack('>I', len(body)) + body)
)";

TEST_F(SystemLib, CatalogsTranslateInTheLocalesLanguage) {
    QV_REQUIRE_TOOL("python3");
    ToolRun made = RunPython(kMakeCatalog, "");
    ASSERT_EQ(made.status, 0);
    ScratchDir dir;
    dir.MakeDir("Catalogs");
    dir.MakeDir("Catalogs/Deutsch");
    dir.Write("Catalogs/Deutsch/app.catalog", Bytes(made.output.begin(), made.output.end()));
    ScopedAssigns assigns("PROGDIR:=" + dir.path());
    ScopedEnv all("LC_ALL", std::nullopt), messages("LC_MESSAGES", std::nullopt);
    ScopedEnv lang("LANG", "de_DE.UTF-8"), forced("QV_LANGUAGE", std::nullopt);

    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hello") << "none open";
    ASSERT_EQ(Call("OpenCatalog", {Str("app.catalog")}).code, 0);
    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hallo");
    EXPECT_EQ(Call("GetCatalogString", {Num(7), Str("Size")}).Text(),
              "Gr\xF6\xDF"
              "e");
    EXPECT_EQ(Call("GetCatalogString", {Num(2), Str("Other")}).Text(), "Other");

    ASSERT_EQ(Call("OpenCatalog", {Str("app.catalog"), Num(3)}).code, 0) << "too new: no error";
    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hello");
    ASSERT_EQ(Call("OpenCatalog", {Str("app.catalog"), Num(2)}).code, 0);
    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hallo");
    ASSERT_EQ(Call("OpenCatalog", {Str("missing.catalog")}).code, 0);
    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hello");

    ASSERT_EQ(Call("OpenCatalog", {Str("app.catalog")}).code, 0);
    ASSERT_EQ(Call("CloseCatalog").code, 0);
    EXPECT_EQ(Call("GetCatalogString", {Num(1), Str("Hello")}).Text(), "Hello");
    ASSERT_EQ(Call("OpenCatalog", {Str("app.catalog")}).code, 0);  // closed at shutdown
}

}  // namespace
}  // namespace qv::testing
