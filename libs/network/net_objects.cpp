#include "libs/network/net_objects.h"

#include <new>

#include "platform/linux/sockets.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/objects.h"

namespace qv {
namespace {

qvObjectHeader* clients = nullptr;
qvObjectHeader* servers = nullptr;
qvObjectHeader* udpObjects = nullptr;
qvNetWalk walk{};

qvNetObject* AsNode(qvObjectHeader* header) {
    return reinterpret_cast<qvNetObject*>(header);
}

qvNetObject*& WalkPosition(uint32_t type) {
    return type == QV_OBJ_CLIENT ? walk.client : type == QV_OBJ_SERVER ? walk.server : walk.udp;
}

int NotFoundCode(uint32_t type) {
    return type == QV_OBJ_CLIENT   ? ERR_FINDCLIENT
           : type == QV_OBJ_SERVER ? ERR_FINDSERVER
                                   : ERR_FINDUDPOBJECT;
}

}  // namespace

qvObjectHeader** NetworkList(uint32_t type) {
    return type == QV_OBJ_CLIENT ? &clients : type == QV_OBJ_SERVER ? &servers : &udpObjects;
}

qvNetWalk& NetworkWalk() {
    return walk;
}

qvNetObject* NewNetObject(uint32_t type) {
    auto* node = new (std::nothrow) qvNetObject{};
    if (node == nullptr) return nullptr;
    node->header.type = type;
    qvConnection& c = node->connection;
    c.socket = -1;
    c.hookBlock = {&c, SendToConnection, ReceiveFromConnection, ConnectionErrorText};
    c.hooks = &c.hookBlock;
    c.timeouts = &c.timeoutBlock;
    c.created = MonotonicSeconds();
    c.timeoutBlock = {-1.0, -1.0, c.created};
    node->udp.socket = -1;
    node->udp.timeouts = {-1.0, -1.0, c.created};
    return node;
}

int CreateConnectionObject(qvNetObject* node) {
    if (const int status = NewSocket(&node->connection.socket, AF_INET, SOCK_STREAM, 0))
        return status;
    return SetSocketNonBlocking(&node->connection.socket);
}

void FreeNetObject(qvVmState* L, qvNetObject* node) {
    if (node == nullptr) return;
    CloseSocketHandle(&node->connection.socket);
    CloseSocketHandle(&node->udp.socket);
    FreeRefList(L, node->header.data);
    delete node;
}

void AppendNetObject(qvNetObject* node, qvObjectId id) {
    node->header.id = id.number;
    node->header.handle = id.number == 0 ? node : nullptr;
    AppendObject(NetworkList(node->header.type), &node->header);
}

void CloseNetObject(qvVmState* L, qvNetObject* node) {
    qvNetObject*& position = WalkPosition(node->header.type);
    if (position == node) position = AsNode(node->header.next);
    UnlinkObject(NetworkList(node->header.type), &node->header);
    FreeNetObject(L, node);
}

void CloseNetObjectWithId(qvVmState* L, uint32_t type, uint32_t id) {
    if (id == 0) return;
    if (qvObjectHeader* h = FindObjectInList(*NetworkList(type), {id, nullptr}))
        CloseNetObject(L, AsNode(h));
}

int FindNetObjectArg(qvVmState* L, int idx, uint32_t type, qvNetObject** node) {
    return FindObjectArg(L, idx, *NetworkList(type), NotFoundCode(type), node);
}

int SocketError(const char* text) {
    return ErrorWithText(ERR_SOCKET, text);
}

}  // namespace qv
