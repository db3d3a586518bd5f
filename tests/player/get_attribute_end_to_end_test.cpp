// GetAttribute through the player on live objects: every attribute that a display, a
// background picture, a layer of each kind, a text object and a font object answer gives a
// value of the right kind or its error, the main ones their exact values, and missing objects
// their type's own error. The applet is generated: a fixed scene, then one probe per pair,
// each printing GetType of the value, the value and GetLastError.
#include <map>

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

using namespace gfx;

// show(type, id, attribute) prints "KIND VALUE ERROR" with errors off.
constexpr char kPreamble[] = R"(.function main
.source nil
.function show params=3
    GETGLOBAL r3 "getattribute"
    MOVE r4 r0
    MOVE r5 r1
    MOVE r6 r2
    CALL r3 4 2
    GETGLOBAL r4 "getlasterror"
    CALL r4 1 2
    GETGLOBAL r5 "debugprint"
    GETGLOBAL r6 "gettype"
    MOVE r7 r3
    CALL r6 2 2
    MOVE r7 r3
    MOVE r8 r4
    CALL r5 4 1
    RETURN r0 1
.end
    CLOSURE r0 show
    SETGLOBAL r0 "show"
    GETGLOBAL r0 "exitonerror"
    LOADBOOL r1 0 0
    CALL r0 2 1
    GETGLOBAL r0 "print"
    LOADK r1 "ab"
    CALL r0 2 1
    GETGLOBAL r0 "createbgpic"
    LOADK r1 2
    LOADK r2 32
    LOADK r3 16
    LOADK r4 0xFF
    CALL r0 5 1
    GETGLOBAL r0 "createbgpic"
    LOADNIL r1 r1
    LOADK r2 4
    LOADK r3 4
    CALL r0 4 2
    SETGLOBAL r0 "freed"
    GETGLOBAL r0 "freebgpic"
    GETGLOBAL r1 "freed"
    CALL r0 2 1
)";

// Layer 1 a box, 2 a TextOut, 3 text object 3, 4 an anim of three frames on its second frame;
// font object 4.
constexpr char kScene[] = R"(
    GETGLOBAL r0 "enablelayers"
    CALL r0 1 1
    GETGLOBAL r0 "setfillstyle"
    LOADK r1 1
    CALL r0 2 1
    GETGLOBAL r0 "box"
    LOADK r1 10
    LOADK r2 5
    LOADK r3 20
    LOADK r4 8
    LOADK r5 0xFF0000
    CALL r0 6 1
    GETGLOBAL r0 "setfont"
    LOADK r1 ":::default_sans"
    LOADK r2 20
    CALL r0 3 1
    GETGLOBAL r0 "textout"
    LOADK r1 4
    LOADK r2 30
    LOADK r3 "Hi"
    CALL r0 4 1
    GETGLOBAL r0 "createtextobject"
    LOADK r1 3
    LOADK r2 "Text"
    CALL r0 3 1
    GETGLOBAL r0 "displaytextobject"
    LOADK r1 3
    LOADK r2 40
    LOADK r3 20
    CALL r0 4 1
    GETGLOBAL r0 "createlayer"
    LOADK r1 0
    LOADK r2 0
    LOADK r3 8
    LOADK r4 8
    NEWTABLE r5 0 1
    SETTABLE r5 "frames" 3
    CALL r0 6 1
    GETGLOBAL r0 "nextframe"
    LOADK r1 4
    CALL r0 2 1
    GETGLOBAL r0 "openfont"
    LOADK r1 4
    LOADK r2 ":::default_mono"
    LOADK r3 12
    CALL r0 4 1
)";

enum Kind { kNil = 0, kNumber = 2, kString = 3, kLightUserdata = 9 };
constexpr char kAny[] = "*";
// In an exact table: an automatic id, whose handle differs from run to run.
constexpr char kHandle[] = "<handle>";

struct Answer {
    Kind kind;
    std::string value;  // kAny: any value of the kind
    int error;
};

// Probes in order with their answers; the listing and the expected lines grow together.
class Probes {
public:
    // The "freed" global: a handle whose picture is gone.
    static constexpr int32_t kFreedHandle = -1;

    void Add(int32_t type, int32_t id, int32_t attribute, Answer answer) {
        code_ += "    GETGLOBAL r0 \"show\"\n    LOADK r1 " + std::to_string(type) + "\n";
        code_ += id == kFreedHandle ? "    GETGLOBAL r2 \"freed\"\n"
                                    : "    LOADK r2 " + std::to_string(id) + "\n";
        code_ += "    LOADK r3 " + std::to_string(attribute) + "\n    CALL r0 4 1\n";
        labels_.push_back(std::to_string(type) + "/" + std::to_string(id) + "/" +
                          std::to_string(attribute));
        answers_.push_back(std::move(answer));
    }
    void Fail(int32_t type, int32_t id, int32_t attribute, int error) {
        Add(type, id, attribute, {kNil, "Nil", error});
    }
    // Every attribute the type lists: the exact values given, an error where errorOf gives
    // one, else a value of its kind.
    template <typename ErrorOf>
    void Every(int32_t type, int32_t id, const std::map<int32_t, std::string>& exact,
               ErrorOf errorOf) {
        for (int32_t a = 0; a <= ATTRHARDWARE; ++a) {
            if (!AttributeListed(type, a)) continue;
            if (const int error = errorOf(a)) {
                Fail(type, id, a, error);
                continue;
            }
            const bool text =
                a == ATTRFONTNAME || a == ATTRTEXT || a == ATTRTITLE || a == ATTRGROUP;
            const auto value = exact.find(a);
            if (value != exact.end() && value->second == kHandle) {
                Add(type, id, a, {kLightUserdata, kAny, 0});
            } else {
                Add(type, id, a,
                    {text ? kString : kNumber, value != exact.end() ? value->second : kAny, 0});
            }
        }
    }
    void Every(int32_t type, int32_t id, const std::map<int32_t, std::string>& exact) {
        Every(type, id, exact, [](int32_t) { return 0; });
    }
    void Code(const std::string& code) { code_ += code; }

    std::string Listing() const { return kPreamble + code_ + "    RETURN r0 1\n.end\n"; }
    // Each printed line against its probe's answer.
    void Check(const std::string& out) const {
        std::istringstream lines(out);
        for (size_t i = 0; i < answers_.size(); ++i) {
            std::string line;
            ASSERT_TRUE(std::getline(lines, line)) << "no line for " << labels_[i];
            // A value may hold blanks: the kind is the first word, the error the last.
            const size_t first = line.find(' '), last = line.rfind(' ');
            ASSERT_LT(first, last) << labels_[i] << ": " << line;
            const int kind = std::atoi(line.c_str());
            const int error = std::atoi(line.c_str() + last + 1);
            const std::string value = line.substr(first + 1, last - first - 1);
            const Answer& a = answers_[i];
            EXPECT_EQ(kind, a.kind) << labels_[i] << ": " << line;
            EXPECT_EQ(error, a.error) << labels_[i] << ": " << line;
            if (a.value != kAny) {
                EXPECT_EQ(value, a.value) << labels_[i] << ": " << line;
            }
        }
        std::string rest;
        EXPECT_FALSE(std::getline(lines, rest)) << "more lines than probes: " << rest;
    }

private:
    std::string code_;
    std::vector<std::string> labels_;
    std::vector<Answer> answers_;
};

class GetAttributeEndToEnd : public EndToEndTest {
protected:
    Outcome Run(const Probes& probes) {
        AssembleResult r = Assemble(probes.Listing());
        EXPECT_TRUE(r.ok());
        std::string error;
        EXPECT_EQ(RunMakeApplet(
                      {"-o", scratch / "attributes.qva", "--chunk",
                       scratch.Write("attributes.qvb", r.bytes), "--display", "1:64:48:Attributes"},
                      &error),
                  0)
            << error;
        return Player({"attributes.qva", "-QUIET"}, "", {"QV_SCREEN_SIZE=800x600"});
    }
};

bool IsFontOrText(int32_t a) {
    return (a >= ATTRFONTASCENDER && a <= ATTRFONTAA) || a == ATTRTEXT;
}

TEST_F(GetAttributeEndToEnd, EveryAttributeOfEveryLiveObject) {
    Probes p;
    // Before layers are on, and before any anim exists.
    p.Fail(kTypeLayer, 1, ATTRWIDTH, ERR_NOLAYERS);
    p.Add(kTypeAnim, 5, ATTRCOUNT, {kNumber, "0", 0});
    p.Code(kScene);

    p.Every(
        kTypeDisplay, 1,
        {{ATTRWIDTH, "64"},       {ATTRHEIGHT, "48"},      {ATTRBGPIC, "1"},
         {ATTRLAYERS, "4"},       {ATTRCURSORX, "16"},     {ATTRCURSORY, "0"},
         {ATTRHOSTWIDTH, "800"},  {ATTRHOSTHEIGHT, "600"}, {ATTRFONTNAME, "Bitstream Vera Sans"},
         {ATTRFONTSIZE, "20"},    {ATTRFONTSCALABLE, "1"}, {ATTRFONTAA, "1"},
         {ATTRPOINTER, "0"},      {ATTRSTATE, "1"},        {ATTRMODE, "1"},
         {ATTRSCALEMODE, "0"},    {ATTRBORDERLESS, "0"},   {ATTRTITLE, "Attributes"},
         {ATTRMARGINLEFT, "0"},   {ATTRMARGINRIGHT, "63"}, {ATTROUTPUTDEVICE, "21"},
         {ATTRDOUBLEBUFFER, "0"}, {ATTRHOSTDEPTH, "32"},   {ATTRCOUNT, "1"},
         {ATTRLAYERSON, "1"},     {ATTRORIENTATION, "0"},  {ATTRKEYBOARD, "0"}});
    p.Every(kTypeBGPic, 2,
            {{ATTRWIDTH, "32"},
             {ATTRHEIGHT, "16"},
             {ATTRTRANSPARENTCOLOR, "4294967295"},
             {ATTRLAYERS, "0"},
             {ATTRTYPE, "0"},
             {ATTRHASMASK, "0"},
             {ATTRHASALPHA, "0"},
             {ATTRCLIPREGION, "-1"},
             {ATTRCOUNT, "2"}});
    // The shown picture holds the layers.
    p.Add(kTypeBGPic, 1, ATTRLAYERS, {kNumber, "4", 0});

    const auto notText = [](int32_t a) {
        if (a == ATTRCURFRAME) return int(ERR_NOANMLAYER);
        return IsFontOrText(a) ? int(ERR_NOTXTLAYER) : 0;
    };
    p.Every(kTypeLayer, 1,
            {{ATTRWIDTH, "20"},
             {ATTRHEIGHT, "8"},
             {ATTRLAYERS, "4"},
             {ATTRXPOS, "10"},
             {ATTRYPOS, "5"},
             {ATTRTYPE, "14"},
             {ATTRVISIBLE, "1"},
             {ATTRNUMFRAMES, "1"},
             {ATTRLAYERID, "0"},
             {ATTRGROUP, ""},
             {ATTRRAWXPOS, "10"},
             {ATTRRAWYPOS, "5"},
             {ATTRRAWWIDTH, "20"},
             {ATTRRAWHEIGHT, "8"}},
            notText);
    const auto onlyAnim = [](int32_t a) { return a == ATTRCURFRAME ? int(ERR_NOANMLAYER) : 0; };
    p.Every(kTypeLayer, 2,
            {{ATTRTYPE, "9"},
             {ATTRRAWXPOS, "4"},
             {ATTRRAWYPOS, "30"},
             {ATTRTEXT, "Hi"},
             {ATTRFONTNAME, "Bitstream Vera Sans"},
             {ATTRFONTSIZE, "20"}},
            onlyAnim);
    p.Every(kTypeLayer, 3,
            {{ATTRTYPE, "8"}, {ATTRLAYERID, "3"}, {ATTRTEXT, "Text"}, {ATTRFONTSIZE, "20"}},
            onlyAnim);
    p.Every(kTypeLayer, 4,
            {{ATTRWIDTH, "8"},
             {ATTRTYPE, "4"},
             {ATTRLAYERID, kHandle},
             {ATTRNUMFRAMES, "3"},
             {ATTRCURFRAME, "2"},
             {ATTRFRAMEDELAY, "0"}},
            [](int32_t a) { return IsFontOrText(a) ? int(ERR_NOTXTLAYER) : 0; });
    p.Every(kTypeTextObject, 3,
            {{ATTRTEXT, "Text"}, {ATTRFONTSIZE, "20"}, {ATTRFONTSCALABLE, "1"}, {ATTRCOUNT, "1"}});
    p.Every(kTypeFont, 4,
            {{ATTRFONTNAME, "Bitstream Vera Sans Mono"},
             {ATTRFONTSIZE, "12"},
             {ATTRFONTSCALABLE, "1"},
             {ATTRFONTAA, "1"},
             {ATTRCOUNT, "1"}});

    // Missing objects: a number gives the type's own error, a handle 1041; the types whose
    // libraries have no commands yet find nothing.
    p.Fail(kTypeDisplay, 9, ATTRWIDTH, ERR_FINDDISPLAY);
    p.Fail(kTypeBGPic, 9, ATTRWIDTH, ERR_FINDBGPIC);
    p.Fail(kTypeBGPic, Probes::kFreedHandle, ATTRWIDTH, ERR_FINDARRAY);
    p.Fail(kTypeTextObject, 9, ATTRTEXT, ERR_FINDTEXTOBJECT);
    p.Fail(kTypeFont, 9, ATTRFONTNAME, ERR_FINDFONT2);
    p.Fail(kTypeLayer, 5, ATTRWIDTH, ERR_LAYERRANGE);
    p.Fail(kTypeLayer, 0, ATTRWIDTH, ERR_LAYERRANGE);
    p.Fail(kTypeSample, 5, ATTRTYPE, ERR_FINDSAMPLE);
    p.Fail(kTypeAnim, 5, ATTRWIDTH, ERR_FINDANIM);
    p.Fail(kTypeMusic, 5, ATTRTYPE, ERR_FINDMUSIC);
    p.Fail(kTypeVideo, 5, ATTRWIDTH, ERR_FINDVIDEO);
    p.Fail(kTypeVideo, Probes::kFreedHandle, ATTRWIDTH, ERR_FINDARRAY);
    for (int32_t type : {kTypeSample, kTypeMusic, kTypeVideo}) {
        p.Add(type, 5, ATTRCOUNT, {kNumber, "0", 0});
    }

    const Outcome o = Run(p);
    EXPECT_FALSE(o.hung);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    p.Check(o.out);
}

// What the objects hold after they changed: a hidden, scaled and anchored layer answers its
// painted size and place apart from the ones it was given; a scaled text object its new size.
TEST_F(GetAttributeEndToEnd, AnswersFollowChanges) {
    Probes p;
    p.Code(kScene);
    p.Add(kTypeTextObject, 3, ATTRWIDTH, {kNumber, "31", 0});
    p.Code(R"(
    GETGLOBAL r0 "hidelayer"
    LOADK r1 1
    CALL r0 2 1
    GETGLOBAL r0 "scalelayer"
    LOADK r1 1
    LOADK r2 40
    LOADK r3 16
    CALL r0 4 1
    GETGLOBAL r0 "setlayeranchor"
    LOADK r1 2
    LOADK r2 0.5
    LOADK r3 1
    CALL r0 4 1
    GETGLOBAL r0 "scaletextobject"
    LOADK r1 3
    LOADK r2 "200%"
    LOADK r3 "200%"
    CALL r0 4 1
)");
    const struct {
        int32_t type, id, attribute;
        const char* value;
    } kAfter[] = {
        {kTypeLayer, 1, ATTRVISIBLE, "0"},
        {kTypeLayer, 1, ATTRWIDTH, "40"},
        {kTypeLayer, 1, ATTRHEIGHT, "16"},
        {kTypeLayer, 1, ATTRRAWWIDTH, "20"},
        {kTypeLayer, 1, ATTRRAWHEIGHT, "8"},
        {kTypeLayer, 1, ATTRXPOS, "10"},
        {kTypeLayer, 1, ATTRRAWXPOS, "10"},
        {kTypeLayer, 2, ATTRRAWXPOS, "4"},
        {kTypeLayer, 2, ATTRRAWYPOS, "30"},
        // Anchored at the middle of its bottom edge: 16 x 21 painted at (4, 30) before.
        {kTypeLayer, 2, ATTRXPOS, "-4"},
        {kTypeLayer, 2, ATTRYPOS, "9"},
        {kTypeLayer, 2, ATTRWIDTH, "16"},
        {kTypeTextObject, 3, ATTRWIDTH, "62"},
    };
    for (const auto& a : kAfter) p.Add(a.type, a.id, a.attribute, {kNumber, a.value, 0});

    const Outcome o = Run(p);
    EXPECT_FALSE(o.hung);
    EXPECT_EQ(o.status, 0) << o.err;
    p.Check(o.out);
}

}  // namespace
}  // namespace qv::testing
