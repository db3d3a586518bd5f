// GetAttribute: the dispatch over every type and attribute, the order of its checks, the
// lookup errors, event handlers by name and layers by number.
#include <map>
#include <utility>

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

// What the recording provider was asked last.
gfx::AttributeRequest asked{};
int askedCount = 0;

int RecordingProvider(const gfx::AttributeRequest& r) {
    asked = r;
    ++askedCount;
    VmPushNumber(r.L, r.type * 1000 + r.attribute);
    return 1;
}

class Attributes : public GraphicsLib {
protected:
    ~Attributes() override {
        for (int32_t type = 0; type <= gfx::kTypeUdpObject; ++type) {
            gfx::RegisterAttributeProvider(type, nullptr);
        }
        gfx::RegisterGraphicsAttributeProviders();
    }
    CallResult Get(int32_t type, const Arg& id, int32_t attribute) {
        return Call("GetAttribute", {Num(type), id, Num(attribute)});
    }
};

// Listed attributes reach the provider (but the count, which needs no lookup), unlisted ones
// give 1080 and unknown types 1055, before anything is looked up.
TEST_F(Attributes, EveryTypeAndAttribute) {
    for (int32_t type = 0; type <= gfx::kTypeUdpObject; ++type) {
        gfx::RegisterAttributeProvider(type, RecordingProvider);
    }
    int listed = 0;
    for (int32_t type = 0; type <= 60; ++type) {
        if (type == gfx::kTypeEventHandler || type == gfx::kTypeLayer) continue;
        for (int32_t attribute = 0; attribute <= gfx::ATTRHARDWARE + 1; ++attribute) {
            askedCount = 0;
            CallResult r = Get(type, Num(5), attribute);
            if (!gfx::AttributeTypeKnown(type)) {
                ASSERT_EQ(r.code, ERR_WRONGUSAGE) << type << " " << attribute;
            } else if (!gfx::AttributeListed(type, attribute)) {
                ASSERT_EQ(r.code, ERR_UNKNOWNATTR) << type << " " << attribute;
            } else if (attribute == gfx::ATTRCOUNT) {
                ASSERT_EQ(r.code, 0);
                EXPECT_EQ(askedCount, 0) << type;
                ++listed;
            } else {
                ASSERT_EQ(r.code, 0) << type << " " << attribute;
                EXPECT_EQ(r.Number(), type * 1000 + attribute);
                EXPECT_EQ(asked.id.number, 5u);
                EXPECT_FALSE(asked.hasParameter);
                ++listed;
            }
            if (r.code != 0) {
                EXPECT_EQ(askedCount, 0);
            }
        }
    }
    EXPECT_EQ(listed, 153) << "the answered pairs of every type but layers and event handlers";
    CallResult r = Call("GetAttribute", {Num(gfx::kTypeAnim), Num(2), Num(37), Num(4)});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(asked.hasParameter);
    EXPECT_EQ(asked.parameter, 4);
}

TEST_F(Attributes, TheOrderOfTheChecks) {
    struct Case {
        int32_t type, attribute;
        int code;
    };
    // A brush has no position whatever the id; an unbuilt type is not found (1041).
    for (const Case& c : {Case{gfx::kTypeBrush, gfx::ATTRXPOS, ERR_UNKNOWNATTR},
                          {gfx::kTypeBrush, gfx::ATTRWIDTH, ERR_FINDARRAY},
                          {gfx::kTypeBrush, gfx::ATTRCOUNT, 0},
                          {gfx::kTypeDisplay, gfx::ATTRMASKMODE, ERR_FINDARRAY},
                          {7, gfx::ATTRCOUNT, ERR_WRONGUSAGE},
                          {gfx::kTypeTimer, gfx::ATTRWIDTH, ERR_UNKNOWNATTR}}) {
        EXPECT_EQ(Get(c.type, Num(1), c.attribute).code, c.code) << c.type << " " << c.attribute;
    }
    EXPECT_EQ(Call("GetAttribute", {Num(3), Num(1)}).code, ERR_MISSINGPARAMTR);
}

TEST_F(Attributes, MissingObjectsGiveTheirTypesError) {
    struct Case {
        int32_t type;
        int code;
    };
    for (const Case& c : {Case{gfx::kTypeClipRegion, ERR_FINDCLIPREGION},
                          {gfx::kTypePointer, ERR_FINDPOINTER},
                          {gfx::kTypeAsyncDraw, ERR_FINDASYNCDRAW}}) {
        const int32_t attribute = c.type == gfx::kTypeClipRegion ? gfx::ATTRWIDTH : gfx::ATTRTYPE;
        CallResult r = Get(c.type, Num(7), attribute);
        EXPECT_EQ(r.code, c.code) << c.type;
        EXPECT_EQ(r.errorNumber, 7u) << "the id is the message's number";
        int handle = 0;
        EXPECT_EQ(Get(c.type, LightUserdata(&handle), attribute).code, ERR_FINDARRAY);
    }
}

TEST_F(Attributes, DisplaysDelegateTheDrawingSettings) {
    gfx::RegisterAttributeProvider(gfx::kTypeDisplay, [](const gfx::AttributeRequest& r) {
        return gfx::PushDrawingAttribute(r.L, r.attribute);
    });
    gfx::Graphics().maskMode = 4;
    gfx::Graphics().alphaIntensity = 200;
    EXPECT_EQ(Get(gfx::kTypeDisplay, Num(1), gfx::ATTRMASKMODE).Number(), 4);
    EXPECT_EQ(Get(gfx::kTypeDisplay, Num(1), gfx::ATTRALPHAINTENSITY).Number(), 200);
}

TEST_F(Attributes, EventHandlersByName) {
    for (const char* name : {"onkeydown", "OnKeyDown", "ONARexx", "fillmusicbuffer"}) {
        for (int32_t attribute : {gfx::ATTRFUNCTION, gfx::ATTRUSERDATA}) {
            CallResult r = Get(gfx::kTypeEventHandler, Str(name), attribute);
            ASSERT_EQ(r.code, 0) << name;
            EXPECT_EQ(r.Number(), 0) << name << ": nothing installed";
        }
    }
    CallResult unknown = Get(gfx::kTypeEventHandler, Str("onkeydownx"), gfx::ATTRFUNCTION);
    EXPECT_EQ(unknown.code, ERR_UNKNOWNTAG);
    EXPECT_EQ(unknown.errorText, "onkeydownx");
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("onkeydown"), gfx::ATTRCOUNT).code, ERR_UNKNOWNATTR);

    VmPushString(L, "handler");
    const int function = MakeRef(L, VM_REGISTRYINDEX);
    VmPushNumber(L, 42);
    const int data = MakeRef(L, VM_REGISTRYINDEX);
    scene.displaySlots.assign(gfx::kDisplayEventCount, {-1, -1});
    scene.globalSlots.assign(gfx::kGlobalEventCount, {-1, -1});
    scene.displaySlots[11] = {function, data};  // onmouseup
    scene.globalSlots[3] = {function, -1};      // onarexx
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("OnMouseUp"), gfx::ATTRFUNCTION).Text(), "handler");
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("onmouseup"), gfx::ATTRUSERDATA).Number(), 42);
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("onmousedown"), gfx::ATTRFUNCTION).Number(), 0);
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("onarexx"), gfx::ATTRFUNCTION).Text(), "handler");
    EXPECT_EQ(Get(gfx::kTypeEventHandler, Str("onarexx"), gfx::ATTRUSERDATA).Number(), 0);
}

TEST_F(Attributes, LayersByNumber) {
    gfx::RegisterAttributeProvider(gfx::kTypeLayer, RecordingProvider);
    EXPECT_EQ(Get(gfx::kTypeLayer, Num(0), gfx::ATTRWIDTH).code, ERR_NOLAYERS);
    scene.view.layersEnabled = true;
    scene.layerCount = 2;
    // Layers count from 1 at the bottom, as the layer list numbers them.
    for (double position : {-1.0, 0.0, 3.0}) {
        EXPECT_EQ(Get(gfx::kTypeLayer, Num(position), gfx::ATTRWIDTH).code, ERR_LAYERRANGE)
            << position;
    }
    EXPECT_EQ(Get(gfx::kTypeLayer, Str("title"), gfx::ATTRWIDTH).code, ERR_FINDLAYER);
    ASSERT_EQ(Get(gfx::kTypeLayer, Num(2), gfx::ATTRCURFRAME).code, 0);
    EXPECT_EQ(asked.layer, 2);
    EXPECT_EQ(Get(gfx::kTypeLayer, Num(1), gfx::ATTRCOUNT).code, ERR_UNKNOWNATTR);
}

}  // namespace
}  // namespace qv::testing
