// The library fixture with the dos library registered, a scratch directory for the files
// of a test, and helpers that open files the way scripts do.
#pragma once

#include <string>

#include "libs/dos/dos_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

class DosLib : public LibFixture {
protected:
    DosLib() : LibFixture(OpenLibraries<RegisterDosLibrary>) { TempDir(); }
    ~DosLib() override {
        Call("SetIOMode", {Num(QV_IO_BUFFERED)});
        FreeDosObjects(L);
    }

    // A file of the scratch directory with these bytes; its path.
    std::string MakeFile(const std::string& name, const std::string& bytes) {
        return scratch.Write(name, ToBytes(bytes));
    }
    std::string FileText(const std::string& path) {
        Bytes b = ReadBytes(path);
        return std::string(b.begin(), b.end());
    }
    // OpenFile(id, path, mode); expects success.
    void Open(double id, const std::string& path, double mode = QV_MODE_READ) {
        ASSERT_EQ(Call("OpenFile", {Num(id), Str(path), Num(mode)}).code, 0) << path;
    }

    ScratchDir scratch;
};

}  // namespace qv::testing
