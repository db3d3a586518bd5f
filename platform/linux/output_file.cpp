#include "platform/linux/output_file.h"

#include <sys/stat.h>

#include "engine/error_codes.h"
#include "platform/linux/paths.h"

namespace qv {
namespace {

bool IsRegularFile(const char* name) {
    char path[kPathBufferSize];
    struct stat info;
    return MakeAbsolutePath(name, path) == 0 && stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

int OutputFile::Open(const char* name) {
    Discard();
    name_ = name;
    file_ = FileOpen(name, QV_FILE_WRITE);
    failed_ = false;
    return file_ != nullptr ? 0 : ERR_WRITEFILE;
}

int OutputFile::Write(const void* data, size_t size) {
    if (file_ == nullptr || failed_) return ERR_WRITEFILE;
    if (size > 0 && FileWrite(file_, data, int64_t(size)) != int64_t(size)) failed_ = true;
    return failed_ ? ERR_WRITEFILE : 0;
}

int OutputFile::Finish() {
    if (file_ == nullptr) return ERR_WRITEFILE;
    if (failed_) {
        Discard();
        return ERR_WRITEFILE;
    }
    const int closed = FileClose(file_);
    file_ = nullptr;
    if (closed == 0) return 0;
    if (IsRegularFile(name_)) DeleteFilePath(name_);
    return ERR_WRITEFILE;
}

void OutputFile::Discard() {
    if (file_ == nullptr) return;
    FileClose(file_);
    file_ = nullptr;
    if (IsRegularFile(name_)) DeleteFilePath(name_);
}

}  // namespace qv
