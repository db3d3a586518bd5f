#include "runtime/attributes.h"

#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/runtime_state.h"

struct qvAttrHandlerNode {
    qvAttrHandlerNode* next;
    qvSetAttrHandler set;
    qvGetAttrHandler get;
};

namespace qv {
namespace {

int AppendHandler(qvAttrHandlerNode** chain, qvSetAttrHandler set, qvGetAttrHandler get) {
    auto* node = static_cast<qvAttrHandlerNode*>(AllocMemBlock(sizeof(qvAttrHandlerNode), 1));
    if (node == nullptr) return ERR_MEM;
    node->set = set;
    node->get = get;
    *ListEnd(chain) = node;
    return 0;
}

// The core's own tags; false for every other tag.
bool SetCoreAttr(RuntimeState& rt, uint32_t tag, int32_t value) {
    switch (tag) {
        case QV_ATTR_EVENTTIMEOUT:
            rt.eventTimeout = value;
            return true;
        case QV_ATTR_QUIET:
            rt.quiet = static_cast<uint32_t>(value);
            return true;
        case QV_ATTR_PRELOADING:
            rt.preloading = static_cast<uint32_t>(value);
            return true;
        case QV_ATTR_NESTEDCALLS:
            if (value != 0) {
                EnterCallback();
            } else {
                LeaveCallback();
            }
            return true;
        case QV_ATTR_EXITONERROR:
            rt.error.exitOnError = static_cast<uint32_t>(value);
            return true;
        case QV_ATTR_REPORTLOCATIONS:
            rt.error.reportLocations = static_cast<uint32_t>(value);
            return true;
        default:
            return false;
    }
}

bool GetCoreAttr(const RuntimeState& rt, uint32_t tag, int32_t* value) {
    switch (tag) {
        case QV_ATTR_EVENTTIMEOUT:
            *value = rt.eventTimeout;
            return true;
        case QV_ATTR_QUIET:
            *value = static_cast<int32_t>(rt.quiet);
            return true;
        case QV_ATTR_PRELOADING:
            *value = static_cast<int32_t>(rt.preloading);
            return true;
        case QV_ATTR_NESTEDCALLS:
            *value = rt.error.nestedCalls;
            return true;
        default:
            return false;
    }
}

}  // namespace

void EnterCallback() {
    ++Runtime().error.nestedCalls;
}

void LeaveCallback() {
    // Never below 0: one leave too many must not stop the error hook from telling the script
    // level from a callback.
    int32_t& depth = Runtime().error.nestedCalls;
    if (depth > 0) --depth;
}

void FreeAttrHandlers() {
    DrainList(&Runtime().setHandlers, FreeMemBlock);
    DrainList(&Runtime().getHandlers, FreeMemBlock);
}

}  // namespace qv

int SetGlobalAttrs(qvVmState* L, const qvAttrSet* tags) {
    qv::RuntimeState& rt = qv::Runtime();
    int processed = 0;
    for (; tags->tag != QV_ATTR_END; ++tags, ++processed) {
        if (qv::SetCoreAttr(rt, tags->tag, tags->value)) continue;
        for (qvAttrHandlerNode* h = rt.setHandlers; h != nullptr; h = h->next) {
            if (h->set(L, tags->tag, tags->value) != 0) break;
        }
    }
    return processed;
}

int GetGlobalAttrs(qvVmState* L, const qvAttrGet* tags) {
    qv::RuntimeState& rt = qv::Runtime();
    int processed = 0;
    for (; tags->tag != QV_ATTR_END; ++tags, ++processed) {
        if (qv::GetCoreAttr(rt, tags->tag, tags->value)) continue;
        for (qvAttrHandlerNode* h = rt.getHandlers; h != nullptr; h = h->next) {
            if (h->get(L, tags->tag, tags->value) != 0) break;
        }
    }
    return processed;
}

int AddSetAttrHandler(qvSetAttrHandler handler) {
    return qv::AppendHandler(&qv::Runtime().setHandlers, handler, nullptr);
}

int AddGetAttrHandler(qvGetAttrHandler handler) {
    return qv::AppendHandler(&qv::Runtime().getHandlers, nullptr, handler);
}
