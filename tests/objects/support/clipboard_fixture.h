// The object fixture with a clipboard store of its own, and the bytes of ILBM pictures.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "tests/objects/support/object_fixture.h"
#include "tests/platform/file_test_support.h"

namespace qv::testing {

class ClipboardFixture : public ObjectFixture {
protected:
    ClipboardFixture() : store_("QV_CLIPBOARD", Store()) {}

    std::string Store() const { return dir_ / "clip"; }
    std::string Scratch(const std::string& name) const { return dir_ / name; }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // GetClipboard's kind and, for a picture, the brush it made (none otherwise).
    int Get(qvBrush** brush) {
        *brush = nullptr;
        const CallResult r = Call("GetClipboard");
        EXPECT_EQ(r.code, 0);
        if (r.results.size() == 2 && r.results[1].type == VM_TLIGHTUSERDATA) {
            const void* handle = r.results[1].pointer;
            EXPECT_EQ(GetBrush(L, {0, const_cast<void*>(handle)}, brush, 0), 0);
        }
        return r.results.empty() ? -1 : int(r.Number(0));
    }

private:
    ScratchDir dir_;
    ScopedEnv store_;
};

}  // namespace qv::testing
