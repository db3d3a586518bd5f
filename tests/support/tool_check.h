// The check for outside programs that tests use as oracles, shared by every test tree.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qv::test {

// Whether a program is on the path (or, named by its path, present and executable).
inline bool ToolAvailable(const std::string& name) {
    return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

inline bool UnderCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

}  // namespace qv::test

// An outside tool that a test needs: skipped without it, but failed under CI=true, where
// every oracle must be installed.
#define QV_REQUIRE_TOOL(name)                                                     \
    do {                                                                          \
        if (!qv::test::ToolAvailable(name)) {                                     \
            if (qv::test::UnderCI()) FAIL() << "oracle " << (name) << " missing"; \
            GTEST_SKIP() << "oracle " << (name) << " missing";                    \
        }                                                                         \
    } while (0)
