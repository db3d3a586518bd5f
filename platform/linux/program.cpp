#include "platform/linux/program.h"

#include <unistd.h>

#include "platform/linux/paths.h"

int PlatformStartup() {
    return 0;
}

void PlatformShutdown() {
    qv::ShutdownPaths();
}

int GetProgramPath(char* out, size_t size) {
    if (size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", out, size);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return 1;
}
