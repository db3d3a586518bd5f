// CallEventHandler: the message table that a handler receives, by message kind, and the call
// itself under the engine's protection.
#include <cstring>
#include <string_view>

#include "libs/arexx/arexx_library.h"
#include "libs/network/network_library.h"
#include "media/sound_events.h"
#include "platform/linux/blocks.h"
#include "runtime/attributes.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_displays.h"
#include "scene/events/passes.h"

namespace qv::events {
namespace {

constexpr int32_t kWindowedMode = 1, kFullScreenMode = 2;
// Room for the message table's fields and those WaitEvent adds, so that filling it never
// grows it (2^3 nodes).
constexpr int kMessageTableNodes = 3;

void PushMessageTable(qvVmState* L) {
    qvValue table{};
    table.tag = VM_TTABLE;
    table.value.gc = VmTableNew(L, 0, kMessageTableNodes);
    VmPushObject(L, &table);
}

void SetBytes(qvVmState* L, const char* key, std::string_view bytes) {
    VmPushString(L, key);
    VmPushLString(L, bytes.data(), bytes.size());
    VmRawSet(L, -3);
}

qvObjectId IdOf(const qvObjectHeader& header) {
    return {header.id, header.handle};
}

void SetId(qvVmState* L, qvEventMessage* m, const char* key, qvObjectId id) {
    m->id = id;
    m->hasId = true;
    SetTableFieldId(L, key, &id);
}

void SetDisplayId(qvVmState* L, qvEventMessage* m) {
    SetId(L, m, "id", IdOf(DisplayPrefixOf(m->display)->header));
}

// "command", "args", "rawargs" and "argc" of an ARexx or user message; ERR_MEM when the split
// cannot be made.
int SetCommandFields(qvVmState* L, const qvEventMessage& m) {
    RexxCommandText split;
    if (!CatchAllocFailure(false, [&] { return split = SplitRexxCommand(m.command), true; })) {
        return ERR_MEM;
    }
    SetBytes(L, "command", split.command);
    SetBytes(L, "args", split.args);
    SetBytes(L, "rawargs", split.rawArgs);
    SetTableFieldInt(L, "argc", split.argc);
    return 0;
}

// "dropfiles" (the names under 0, 1, ...) and "numdropfiles".
void SetDropFields(qvVmState* L, const char* names) {
    VmPushString(L, "dropfiles");
    VmNewTable(L);
    int count = 0;
    for (const char* name = names; name != nullptr && *name != '\0';
         name += std::strlen(name) + 1) {
        VmPushString(L, name);
        VmRawSetI(L, -2, count++);
    }
    VmRawSet(L, -3);
    SetTableFieldInt(L, "numdropfiles", count);
}

// The fields of the message table on top of the stack, by kind; 0 or ERR_MEM.
int FillMessageTable(qvVmState* L, qvEventMessage* m) {
    SetTableFieldString(L, "action", m->action);
    switch (m->kind) {
        case QV_MSG_BUTTON:
            PushButtonFields(L, m);
            break;
        case QV_MSG_KEY:
            SetTableFieldString(L, "key", m->keyName);
            SetDisplayId(L, m);
            break;
        case QV_MSG_INPUT:
            SetDisplayId(L, m);
            break;
        case QV_MSG_SIZEWINDOW: {
            const DisplayFacts facts = Displays().Facts(m->display);
            SetTableFieldInt(L, "width", facts.width);
            SetTableFieldInt(L, "height", facts.height);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_MOVEWINDOW: {
            const DisplayFacts facts = Displays().Facts(m->display);
            SetTableFieldInt(L, "x", facts.x);
            SetTableFieldInt(L, "y", facts.y);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_MOUSEMOVE: {
            const DisplayPoint mouse = MouseInDisplay(m->display);
            SetTableFieldInt(L, "x", mouse.x);
            SetTableFieldInt(L, "y", mouse.y);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_INTERVAL:
        case QV_MSG_TIMEOUT:
            SetId(L, m, "id", m->objectId);
            break;
        case QV_MSG_SOUND:
            SetId(L, m, "id", m->objectId);
            if (std::strcmp(m->action, "OnMusicEnd") != 0 &&
                std::strcmp(m->action, "OnVideoEnd") != 0) {
                SetTableFieldInt(L, "time", m->time);
                SetTableFieldInt(L, "starts", m->starts);
            }
            break;
        case QV_MSG_AREXX:
        case QV_MSG_USERMESSAGE:
            return SetCommandFields(L, *m);
        case QV_MSG_MODESWITCH:
            SetTableFieldInt(
                L, "mode",
                Displays().Facts(m->display).fullScreen ? kFullScreenMode : kWindowedMode);
            SetDisplayId(L, m);
            break;
        case QV_MSG_DROP:
            SetDisplayId(L, m);
            SetTableFieldInt(L, "x", m->x);
            SetTableFieldInt(L, "y", m->y);
            SetDropFields(L, m->dropList);
            break;
        case QV_MSG_CONNECT: {
            const qvObjectId server = IdOf(m->server->header);
            const qvObjectId client = IdOf(m->connection->header);
            SetTableFieldId(L, "serverid", &server);
            SetTableFieldId(L, "clientid", &client);
            break;
        }
        case QV_MSG_DISCONNECT:
        case QV_MSG_RECEIVE:
            SetId(L, m, "id", IdOf(m->connection->header));
            break;
        case QV_MSG_RECEIVEUDP:
            SetId(L, m, "id", IdOf(m->udp->header));
            break;
        case QV_MSG_ORIENTATION:
            SetDisplayId(L, m);
            SetTableFieldInt(L, "orientation", Displays().Facts(m->display).orientation);
            break;
        case QV_MSG_FILLMUSIC:
            SetId(L, m, "id", m->objectId);
            SetTableFieldInt(L, "samples", m->samples);
            SetTableFieldInt(L, "count", m->count);
            break;
        default:
            break;
    }
    return 0;
}

// One level of the run-time's callback depth (attribute 11) for the call, and the music flag
// for a music-buffer handler.
class CallbackScope {
public:
    CallbackScope(qvVmState* L, bool music) : L_(L), music_(music) {
        Depth(1);
        if (music_) media::SetInMusicCallback(true);
    }
    ~CallbackScope() {
        Depth(0);
        if (music_) media::SetInMusicCallback(false);
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

private:
    void Depth(int32_t enter) {
        const qvAttrSet tags[] = {{QV_ATTR_NESTEDCALLS, enter}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(L_, tags);
    }
    qvVmState* L_;
    bool music_;
};

// The first result of an ARexx handler as the reply text: an allocated copy.
int KeepReply(qvVmState* L, int idx, qvEventMessage* m) {
    size_t length = 0;
    int error = 0;
    const char* text = GetCallbackString(L, idx, &length, &error);
    if (error != 0 || text == nullptr) return 0;
    auto* copy = static_cast<char*>(AllocMemBlock(length + 1, 0));
    if (copy == nullptr) return ERR_MEM;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    m->reply.reset(copy);
    m->replyLength = length;
    return 0;
}

}  // namespace
}  // namespace qv::events

int CallEventHandler(qvVmState* L, qvEventMessage* message, int keepNoCopy) {
    using namespace qv::events;
    message->stackHeight = VmGetTop(L);
    message->hasId = false;
    VmRawGetI(L, VM_REGISTRYINDEX, message->function);
    PushMessageTable(L);
    if (const int code = FillMessageTable(L, message)) {
        VmSetTop(L, message->stackHeight);
        return code;
    }
    if (message->userData != -1) {
        VmPushString(L, "userdata");
        VmRawGetI(L, VM_REGISTRYINDEX, message->userData);
        VmRawSet(L, -3);
    }
    if (keepNoCopy == 0) {
        VmPushValue(L, -1);
        VmInsert(L, -3);
    }
    int code = 0;
    {
        const CallbackScope scope(L, message->kind == QV_MSG_FILLMUSIC);
        code = VmPCall(L, 1, -1, 0);
    }
    const int firstResult = message->stackHeight + (keepNoCopy == 0 ? 2 : 1);
    if (code == 0 && message->kind == QV_MSG_AREXX && VmGetTop(L) >= firstResult) {
        code = KeepReply(L, firstResult, message);
    }
    if (qv::Runtime().abortFlag.load() != 0) return ERR_USERABORT;
    return code;
}
