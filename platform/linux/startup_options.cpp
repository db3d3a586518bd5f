#include "platform/linux/startup_options.h"

#include <cstring>

#include "engine/error_codes.h"

namespace qv {
namespace {

char pubScreenName[kPubScreenNameSize] = "";
int softwareRendering = 0;

}  // namespace

const char* DefaultPubScreenName() {
    return pubScreenName;
}

int SoftwareRenderingMode() {
    return softwareRendering;
}

void ResetStartupOptionSeams() {
    pubScreenName[0] = '\0';
    softwareRendering = 0;
}

}  // namespace qv

int LockDefaultPubScreen(const char* name) {
    size_t length = std::strlen(name);
    if (length >= sizeof qv::pubScreenName) return ERR_PUBSCREEN;
    std::memcpy(qv::pubScreenName, name, length + 1);
    return 0;
}

void SetSoftwareRendering(int value) {
    qv::softwareRendering = value;
}
