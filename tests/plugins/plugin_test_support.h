// Helpers for tests of the plugin host: the built test plugin and its variants and a
// run-time fixture that unloads what a test loaded.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/files.h"
#include "runtime/plugins/plugin_host.h"
#include "tests/platform/picture_test_support.h"
#include "tests/runtime/runtime_test_support.h"

namespace qv::testing {

// qvtest.qvp lives in QV_TEST_PLUGIN_DIR, the variants in QV_PLUGIN_VARIANT_DIR.
inline std::string TestPluginPath() {
    return std::string(QV_TEST_PLUGIN_DIR) + "/qvtest.qvp";
}

inline std::string VariantPath(const std::string& name) {
    return std::string(QV_PLUGIN_VARIANT_DIR) + "/" + name + ".qvp";
}

// Copies file into directory under name.
inline std::string CopyInto(const std::string& file, const std::string& directory,
                            const std::string& name) {
    std::string target = directory + "/" + name;
    WriteBytes(target, ReadBytes(file));
    return target;
}

// A run-time with an engine whose plugins are unloaded after the engine closed, as at
// shutdown.
class PluginTest : public RuntimeTest {
protected:
    void TearDown() override {
        VmClose(L);
        L = nullptr;
        UnloadPlugins();
        ResetRuntimeState();
    }

    int CountPlugins() const { return static_cast<int>(LoadedPlugins().Count()); }
};

}  // namespace qv::testing
