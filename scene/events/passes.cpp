#include "scene/events/passes.h"

namespace qv::events {

bool ButtonClickPass(qvVmState*, qvDisplay*, const qvInputEvent&, qvEventMessage*) {
    return false;
}

bool ButtonHoverPass(qvVmState*, qvDisplay*, int32_t, int32_t, bool, qvEventMessage*) {
    return false;
}

void PushButtonFields(qvVmState*, qvEventMessage*) {}

bool LegacyLabelsExist() {
    return false;
}

int LegacyLabelPass(qvVmState*, qvEventMessage*) {
    return 0;
}

int LegacyHoverCheck(qvVmState*, qvEventMessage*) {
    return 0;
}

}  // namespace qv::events
