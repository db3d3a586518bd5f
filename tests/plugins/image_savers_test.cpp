// Picture formats beyond the built-in five go to the first saver plugin of their code: the
// test plugin's "PNG2" (code 10) fails every save, which must come back as ERR_SAVEIMAGE;
// codes no plugin declares give ERR_UNKNOWNIMGOUT.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/save_picture.h"
#include "runtime/files.h"
#include "tests/plugins/plugin_test_support.h"

namespace {

using qv::testing::CopyInto;
using qv::testing::FdCapture;
using qv::testing::ScopedAssigns;
using qv::testing::ScratchDir;
using qv::testing::TestPluginPath;

class ImageSavers : public qv::testing::PluginTest {};

TEST_F(ImageSavers, DispatchByDeclaredFormatCode) {
    // Registered as at start-up, from the program's directory.
    ScratchDir plugins, libs;
    CopyInto(TestPluginPath(), plugins.path(), "qvtest.qvp");
    {
        ScopedAssigns assigns("LIBS:=" + libs.path());
        qvStartupOptions options{};
        qv::CopyText(options.programPath, sizeof options.programPath,
                     (plugins.path() + "/quorvella").c_str());
        FdCapture out(1);
        ASSERT_EQ(RegisterPlugins(L, &options), 0);
    }
    ASSERT_EQ(CountPlugins(), 1);
    const std::vector<qvARGB> pixels(6, 0x80123456);
    const std::string file = plugins.path() + "/out.pic";
    const struct {
        int32_t format;
        int alpha;
        int error;
    } cases[] = {{10, 0, ERR_SAVEIMAGE},
                 {10, 1, ERR_SAVEIMAGE},
                 {7, 0, ERR_UNKNOWNIMGOUT},
                 {-1, 0, ERR_UNKNOWNIMGOUT},
                 {11, 1, ERR_UNKNOWNIMGOUT}};
    for (const auto& c : cases) {
        EXPECT_EQ(SavePicture(c.format, pixels.data(), 3, 2, file.c_str(), QV_NOCOLOR, c.alpha, 90,
                              256, 0),
                  c.error)
            << c.format;
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}

}  // namespace
