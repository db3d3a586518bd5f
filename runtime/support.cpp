#include "runtime/support.h"

#include <cstring>

#include "platform/linux/memory.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/exports.h"
#include "runtime/objects.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

char* textBuffer = nullptr;

}  // namespace

char* SupportTextBuffer() {
    return textBuffer;
}

}  // namespace qv

int InitSupport() {
    if (qv::textBuffer == nullptr) {
        qv::textBuffer = static_cast<char*>(AllocMemBlock(qv::kSupportTextSize, 1));
        if (qv::textBuffer == nullptr) return ERR_MEM;
    }
    std::strcpy(qv::Runtime().error.sourceName, "?");
    return qv::OpenEventQueue();
}

void FreeSupport() {
    qv::FreeAttrHandlers();
    qv::FreeCommandTables();
    qv::FreeErrorTexts();
    qv::FreeObjectRegistry();
    qv::CloseEventQueue();
    FreeMemBlock(qv::textBuffer);
    qv::textBuffer = nullptr;
}
