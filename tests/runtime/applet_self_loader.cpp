// A small program that links the run-time and loads the applet appended to itself, as the
// player does: tests append applets to it with qvmkapplet and read what it prints.
#include <cstdio>

#include "platform/linux/files.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "runtime/applet_loader.h"
#include "runtime/files.h"
#include "tests/runtime/loader_records.h"

namespace {

void PrintLinkedFiles(qvVmState* L, const qvScriptHeader* header) {
    for (const qvLinkedFile* f = header->linkedFiles; f != nullptr; f = f->next) {
        std::string path = ResolveAppletFile(L, f->name, 0, nullptr);
        std::printf("file %s:", f->name);
        if (qvFile* file = FileOpen(path.c_str(), QV_FILE_READ)) {
            for (int c; (c = FileReadChar(file)) >= 0;) std::putchar(c);
            FileClose(file);
        }
        std::putchar('\n');
    }
}

}  // namespace

int main() {
    uint32_t offset = qv::LinkOffsetOf(qv::ReadAppletLink());
    if (offset == qv::kNoLinkedApplet) {
        std::puts("no applet linked");
        return 0;
    }
    qvVmState* L = VmOpen();
    {
        qv::testing::LoaderRecords records(L);
        qv::Runtime().quiet = 1;
        qv::Runtime().appletLinked = 1;
        qv::Runtime().linkOffset = offset;
        GetProgramPath(records.options->appletPath, sizeof records.options->appletPath);
        int result = LoadApplet(L, records.options, records.header);
        std::printf("result %d\n", result);
        if (result == 0) {
            std::printf("chunk %.*s\n", static_cast<int>(records.header->programChunkSize),
                        reinterpret_cast<const char*>(records.header->programChunk));
            PrintLinkedFiles(L, records.header);
        }
        for (qvTempFile* t = qv::Runtime().tempFiles; t != nullptr; t = t->next) {
            DeleteFilePath(t->path);
        }
    }
    VmClose(L);
    qv::ResetRuntimeState();
    PlatformShutdown();
    return 0;
}
