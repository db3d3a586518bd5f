#include "runtime/stubs/sound_stub.h"

#include "runtime/stubs/stub_library.h"

namespace qv {
namespace {

enum : uint32_t { kAttrNoSound = 3, kAttrMasterVolume = 4 };

struct SoundState {
    int32_t noSound = 0;
    int32_t masterVolume = 30;
};

SoundState sound;

}  // namespace
}  // namespace qv

int RegisterSoundLibrary(qvVmState* L) {
    qv::sound = {};
    return qv::RegisterStubLibrary(L, "sound");
}

int SoundSetAttr(qvVmState*, uint32_t tag, int32_t value) {
    switch (tag) {
        case qv::kAttrNoSound:
            qv::sound.noSound = value;
            return 1;
        case qv::kAttrMasterVolume:
            qv::sound.masterVolume = value;
            return 1;
        default:
            return 0;
    }
}

int SoundGetAttr(qvVmState*, uint32_t tag, int32_t* value) {
    switch (tag) {
        case qv::kAttrNoSound:
            *value = qv::sound.noSound;
            return 1;
        case qv::kAttrMasterVolume:
            *value = qv::sound.masterVolume;
            return 1;
        default:
            return 0;
    }
}
