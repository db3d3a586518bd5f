// A file being written as a whole: a failed write or close reports ERR_WRITEFILE, and a file
// that was not finished is deleted, so that no half-written picture is left behind. Devices
// (such as /dev/full) are never deleted.
#pragma once

#include <cstddef>

#include "platform/linux/files.h"

namespace qv {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens (creates or truncates) name, which must outlive the object; 0 or ERR_WRITEFILE.
    int Open(const char* name);
    // 0, or ERR_WRITEFILE when the bytes could not all be written (and on every later call).
    int Write(const void* data, size_t size);
    // Closes the file; 0, or ERR_WRITEFILE with the partial file deleted.
    int Finish();
    // The handle, for writers that go through the file layer themselves.
    qvFile* Handle() const { return file_; }

private:
    void Discard();

    const char* name_ = nullptr;
    qvFile* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace qv
