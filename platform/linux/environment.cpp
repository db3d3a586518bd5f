#include "platform/linux/environment.h"

#include <cstdlib>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"

namespace {

// POSIX leaves setenv undefined for such names; the C library would refuse them anyway.
bool ValidName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '=') == nullptr;
}

}  // namespace

char* GetEnvVar(const char* name) {
    if (!ValidName(name)) return nullptr;
    const char* value = std::getenv(name);
    if (value == nullptr) return nullptr;
    size_t n = std::strlen(value) + 1;
    auto* copy = static_cast<char*>(AllocMemBlock(n, 0));
    if (copy != nullptr) std::memcpy(copy, value, n);
    return copy;
}

int SetEnvVar(const char* name, const char* value) {
    return ValidName(name) && setenv(name, value, 1) == 0 ? 0 : ERR_SETENV;
}

int DeleteEnvVar(const char* name) {
    return ValidName(name) && unsetenv(name) == 0 ? 0 : ERR_UNSETENV;
}
