// CallEventHandler: the message table that a handler receives, by message kind, and the call
// itself under the engine's protection.
#include <cstring>
#include <string_view>

#include "libs/arexx/arexx_library.h"
#include "libs/network/network_library.h"
#include "media/sound_events.h"
#include "platform/linux/blocks.h"
#include "runtime/attributes.h"
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

void SetBytes(qvVmState* L, MessageName key, std::string_view bytes) {
    PushMessageName(L, key);
    VmPushLString(L, bytes.data(), bytes.size());
    VmRawSet(L, -3);
}

qvObjectId IdOf(const qvObjectHeader& header) {
    return {header.id, header.handle};
}

void SetId(qvVmState* L, qvEventMessage* m, qvObjectId id) {
    m->id = id;
    m->hasId = true;
    SetMessageField(L, MessageName::kId, id);
}

void SetDisplayId(qvVmState* L, qvEventMessage* m) {
    SetId(L, m, IdOf(DisplayPrefixOf(m->display)->header));
}

// "command", "args", "rawargs" and "argc" of an ARexx or user message; ERR_MEM when the split
// cannot be made.
int SetCommandFields(qvVmState* L, const qvEventMessage& m) {
    RexxCommandText split;
    if (!CatchAllocFailure(false, [&] { return split = SplitRexxCommand(m.command), true; })) {
        return ERR_MEM;
    }
    SetBytes(L, MessageName::kCommand, split.command);
    SetBytes(L, MessageName::kArgs, split.args);
    SetBytes(L, MessageName::kRawArgs, split.rawArgs);
    SetMessageField(L, MessageName::kArgc, split.argc);
    return 0;
}

// "dropfiles" (the names under 0, 1, ...) and "numdropfiles".
void SetDropFields(qvVmState* L, const char* names) {
    PushMessageName(L, MessageName::kDropFiles);
    VmNewTable(L);
    int count = 0;
    for (const char* name = names; name != nullptr && *name != '\0';
         name += std::strlen(name) + 1) {
        VmPushString(L, name);
        VmRawSetI(L, -2, count++);
    }
    VmRawSet(L, -3);
    SetMessageField(L, MessageName::kNumDropFiles, count);
}

// The fields of the message table on top of the stack, by kind; 0 or ERR_MEM.
int FillMessageTable(qvVmState* L, qvEventMessage* m) {
    SetMessageField(L, MessageName::kAction, m->action);
    switch (m->kind) {
        case QV_MSG_BUTTON:
            PushButtonFields(L, m);
            break;
        case QV_MSG_KEY:
            SetKeyField(L, m->keyName);
            SetDisplayId(L, m);
            break;
        case QV_MSG_INPUT:
            SetDisplayId(L, m);
            break;
        case QV_MSG_SIZEWINDOW: {
            const DisplayFacts facts = Displays().Facts(m->display);
            SetMessageField(L, MessageName::kWidth, facts.width);
            SetMessageField(L, MessageName::kHeight, facts.height);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_MOVEWINDOW: {
            const DisplayFacts facts = Displays().Facts(m->display);
            SetMessageField(L, MessageName::kX, facts.x);
            SetMessageField(L, MessageName::kY, facts.y);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_MOUSEMOVE: {
            const DisplayPoint mouse = MouseInDisplay(m->display);
            SetMessageField(L, MessageName::kX, mouse.x);
            SetMessageField(L, MessageName::kY, mouse.y);
            SetDisplayId(L, m);
            break;
        }
        case QV_MSG_INTERVAL:
        case QV_MSG_TIMEOUT:
            SetId(L, m, m->objectId);
            break;
        case QV_MSG_SOUND:
            SetId(L, m, m->objectId);
            if (m->action != MessageName::kOnMusicEnd && m->action != MessageName::kOnVideoEnd) {
                SetMessageField(L, MessageName::kTime, m->time);
                SetMessageField(L, MessageName::kStarts, m->starts);
            }
            break;
        case QV_MSG_AREXX:
        case QV_MSG_USERMESSAGE:
            return SetCommandFields(L, *m);
        case QV_MSG_MODESWITCH:
            SetMessageField(
                L, MessageName::kMode,
                Displays().Facts(m->display).fullScreen ? kFullScreenMode : kWindowedMode);
            SetDisplayId(L, m);
            break;
        case QV_MSG_DROP:
            SetDisplayId(L, m);
            SetMessageField(L, MessageName::kX, m->x);
            SetMessageField(L, MessageName::kY, m->y);
            SetDropFields(L, m->dropList);
            break;
        case QV_MSG_CONNECT: {
            const qvObjectId server = IdOf(m->server->header);
            const qvObjectId client = IdOf(m->connection->header);
            SetMessageField(L, MessageName::kServerId, server);
            SetMessageField(L, MessageName::kClientId, client);
            break;
        }
        case QV_MSG_DISCONNECT:
        case QV_MSG_RECEIVE:
            SetId(L, m, IdOf(m->connection->header));
            break;
        case QV_MSG_RECEIVEUDP:
            SetId(L, m, IdOf(m->udp->header));
            break;
        case QV_MSG_ORIENTATION:
            SetDisplayId(L, m);
            SetMessageField(L, MessageName::kOrientation, Displays().Facts(m->display).orientation);
            break;
        case QV_MSG_FILLMUSIC:
            SetId(L, m, m->objectId);
            SetMessageField(L, MessageName::kSamples, m->samples);
            SetMessageField(L, MessageName::kCount, m->count);
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
    explicit CallbackScope(bool music) : music_(music) {
        EnterCallback();
        if (music_) media::SetInMusicCallback(true);
    }
    ~CallbackScope() {
        LeaveCallback();
        if (music_) media::SetInMusicCallback(false);
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

private:
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
        PushMessageName(L, MessageName::kUserData);
        VmRawGetI(L, VM_REGISTRYINDEX, message->userData);
        VmRawSet(L, -3);
    }
    if (keepNoCopy == 0) {
        VmPushValue(L, -1);
        VmInsert(L, -3);
    }
    int code = 0;
    {
        const CallbackScope scope(message->kind == QV_MSG_FILLMUSIC);
        code = VmPCall(L, 1, -1, 0);
    }
    const int firstResult = message->stackHeight + (keepNoCopy == 0 ? 2 : 1);
    if (code == 0 && message->kind == QV_MSG_AREXX && VmGetTop(L) >= firstResult) {
        code = KeepReply(L, firstResult, message);
    }
    if (qv::Runtime().abortFlag.load() != 0) return ERR_USERABORT;
    return code;
}
