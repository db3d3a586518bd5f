// vectorgraphics.qvp as the run-time finds it: loaded by the plugin host from "LIBS:Quorvella"
// with every entry point resolved, found by the library's first command that needs it, and
// kept for the rest of the run.
#include <string>

#include "runtime/plugins/plugin_host.h"
#include "tests/objects/vector/vector_test_support.h"

namespace qv::testing {
namespace {

class VectorPlugin : public VectorLib {
protected:
    ~VectorPlugin() override {
        FreeAllPaths(L);
        UnloadPlugins();
    }
};

TEST_F(VectorPlugin, TheLibraryFindsTheBackEndThePluginHostLoaded) {
    Start(1);
    ASSERT_EQ(Call("AddBoxToPath", {Num(1), Num(5), Num(7), Num(10), Num(12)}).code, 0);
    EXPECT_EQ(Call("GetPathExtents", {Num(1)}).code, ERR_VECGFXPLUGIN);
    EXPECT_FALSE(VectorBackendFound());

    ScanPluginDir(QV_TEST_PLUGIN_DIR);
    const qvPluginRecord* plugin = VectorGraphicsPlugin();
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(plugin->functions.info.name, "vectorgraphics");
    EXPECT_EQ(plugin->capabilities & QV_PLUGIN_VECTORGRAPHICS, QV_PLUGIN_VECTORGRAPHICS);
    for (int e = kGetPathExtents; e <= kCloseFont; ++e) {
        EXPECT_NE(plugin->functions.entries[e], nullptr) << e;
    }

    neighbours.draw.fillStyle = kFillColour;
    const CallResult extents = Call("GetPathExtents", {Num(1)});
    ASSERT_EQ(extents.code, 0);
    EXPECT_EQ(extents.Number(0), 5);
    EXPECT_EQ(extents.Number(1), 7);
    EXPECT_EQ(extents.Number(2), 15);
    EXPECT_EQ(extents.Number(3), 19);
    EXPECT_TRUE(VectorBackendFound());
    ASSERT_EQ(Call("TranslatePath", {Num(1), Num(-5), Num(1)}).code, 0);
    const CallResult point = Call("GetCurrentPoint", {Num(1)});
    EXPECT_EQ(point.Number(0), 0);
    EXPECT_EQ(point.Number(1), 8);
    // Rendered through the back end; without a display nothing is shown.
    EXPECT_EQ(Call("DrawPath", {Num(1), Num(0), Num(0)}).code, 0);
    // Shutdown forgets the back end with the paths.
    FreeAllPaths(L);
    EXPECT_FALSE(VectorBackendFound());
}

}  // namespace
}  // namespace qv::testing
