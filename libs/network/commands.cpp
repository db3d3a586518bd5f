#include "libs/network/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "libs/network/net_objects.h"
#include "platform/linux/sockets.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/objects.h"

namespace qv {
namespace {

constexpr int kNetworkConnection = 99, kNetworkUdp = 117;
constexpr int kMaxPort = 65535;
constexpr char kDefaultOnlineHost[] = "www.debian.org:80";

// Every command that needs sockets opens the library first (a one-time flag on Linux); 0 or
// ERR_OPENSOCKET.
int RequireSockets() {
    return OpenSocketLibrary() != 0 ? 0 : ERR_OPENSOCKET;
}

// The port of argument idx (def when absent) in *port; 0, or ERR_WRONGUSAGE outside
// lowest..65535.
int PortArg(qvVmState* L, int idx, int def, int lowest, int* port) {
    *port = VmGetTop(L) >= idx ? GetOptIntArg(L, idx, nullptr) : def;
    return *port >= lowest && *port <= kMaxPort ? 0 : ERR_WRONGUSAGE;
}

// The library's error for a socket call's errno status, or 0 when the call succeeded.
int SocketStatusError(int status) {
    return status != 0 ? SocketError(SocketErrnoText(status)) : 0;
}

// The interface address ("*" any, dotted, else a host name's first address) with the port.
int BindSocketToAddress(int32_t* handle, const char* iface, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    if (std::string_view(iface) != "*" && !ParseDottedAddress(iface, &address.sin_addr.s_addr)) {
        HostInfo info;
        if (const int status = ResolveName(iface, &info))
            return SocketError(ResolverErrorText(status));
        address.sin_addr.s_addr = info.addresses.front();
    }
    return SocketStatusError(BindSocket(handle, &address));
}

// Closes the script's object of this list and number, if any, and makes the node that
// replaces it; nullptr when memory is short.
qvNetObject* ReplaceNetObject(qvVmState* L, uint32_t list, const qvObjectId& id) {
    CloseNetObjectWithId(L, list, id.number);
    return NewNetObject(list);
}

// Appends a new node for a server or UDP object, or frees it and returns code when that is an
// error.
int FinishCreate(qvVmState* L, qvNetObject* node, qvSocketTimeouts* timeouts, qvObjectId id,
                 int code) {
    if (code != 0) {
        FreeNetObject(L, node);
        return code;
    }
    timeouts->operation = timeouts->overall = 0;
    AppendNetObject(node, id);
    return PushNewObjectHandle(L, node->header);
}

class StringSink : public ReceiveSink {
public:
    int Put(const uint8_t* bytes, size_t length) override {
        text.append(reinterpret_cast<const char*>(bytes), length);
        return 0;
    }
    std::string text;
};

bool FlagArg(qvVmState* L, int idx, bool def) {
    if (VmGetTop(L) < idx) return def;
    return VmType(L, idx) == VM_TBOOLEAN ? VmToBoolean(L, idx) != 0 : GetArgNumber(L, idx) != 0;
}

// The peer's or the own address of a socket in *address; 0 or error.
int LocalOrPeer(int32_t handle, bool peer, int error, sockaddr_in* address) {
    *address = {};
    socklen_t length = sizeof *address;
    auto* sa = reinterpret_cast<sockaddr*>(address);
    return (peer ? getpeername(handle, sa, &length) : getsockname(handle, sa, &length)) == 0
               ? 0
               : error;
}

int PeerAddress(qvVmState* L, sockaddr_in* address) {
    CheckArgCount(L, 1, 1);
    if (int code = RequireSockets()) return code;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, QV_OBJ_CLIENT, &node)) return code;
    return LocalOrPeer(node->connection.socket, true, ERR_PEERNAME, address);
}

int LocalAddress(qvVmState* L, sockaddr_in* address) {
    CheckArgCount(L, 1, 2);
    if (int code = RequireSockets()) return code;
    const int type = VmGetTop(L) >= 2 ? GetOptIntArg(L, 2, nullptr) : kNetworkConnection;
    const uint32_t list = type == kNetworkUdp          ? QV_OBJ_UDPOBJECT
                          : type == kNetworkConnection ? QV_OBJ_CLIENT
                                                       : QV_OBJ_SERVER;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, list, &node)) return code;
    const int32_t handle = list == QV_OBJ_UDPOBJECT ? node->udp.socket : node->connection.socket;
    return LocalOrPeer(handle, false, ERR_SOCKNAME, address);
}

// Pushes the dotted address or the port of the address that find gives; 1 or the error.
template <typename Find>
int PushIP(qvVmState* L, Find find) {
    sockaddr_in address;
    if (int code = find(L, &address)) return code;
    VmPushString(L, DottedAddress(address.sin_addr.s_addr).c_str());
    return 1;
}

template <typename Find>
int PushPort(qvVmState* L, Find find) {
    sockaddr_in address;
    if (int code = find(L, &address)) return code;
    VmPushNumber(L, ntohs(address.sin_port));
    return 1;
}

int CloseCommand(qvVmState* L, uint32_t list) {
    CheckArgCount(L, 1, 1);
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, list, &node)) return code;
    CloseNetObject(L, node);
    return 0;
}

void PushStringArray(qvVmState* L, const char* key, const std::vector<std::string>& items) {
    VmPushString(L, key);
    VmNewTable(L);
    for (size_t i = 0; i < items.size(); ++i) {
        VmPushString(L, items[i].c_str());
        VmRawSetI(L, -2, int(i + 1));
    }
    VmRawSet(L, -3);
}

// Looks host up by address when it is dotted, else by name; 0 or ERR_SOCKET.
int LookUpHost(const char* host, HostInfo* info) {
    uint32_t address;
    const int status = ParseDottedAddress(host, &address) ? ResolveAddress(address, info)
                                                          : ResolveName(host, info);
    return status != 0 ? SocketError(ResolverErrorText(status)) : 0;
}

void PushHostTable(qvVmState* L, const HostInfo& info) {
    VmNewTable(L);
    VmPushString(L, "name");
    VmPushString(L, info.name.c_str());
    VmRawSet(L, -3);
    PushStringArray(L, "alias", info.aliases);
    std::vector<std::string> ips;
    for (uint32_t a : info.addresses) ips.push_back(DottedAddress(a));
    PushStringArray(L, "ip", ips);
}

// ToIP and ToHostName: the host's first address or its name, then the information table.
int HostLookupCommand(qvVmState* L, bool wantAddress) {
    CheckArgCount(L, 1, 1);
    if (int code = RequireSockets()) return code;
    HostInfo info;
    if (int code = LookUpHost(GetArgString(L, 1, nullptr), &info)) return code;
    if (wantAddress)
        VmPushString(L, info.addresses.empty() ? "" : DottedAddress(info.addresses[0]).c_str());
    else
        VmPushString(L, info.name.c_str());
    PushHostTable(L, info);
    return 2;
}

}  // namespace
}  // namespace qv

using namespace qv;

int OpenConnection(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    if (int code = RequireSockets()) return code;
    int wasNil = 0;
    const qvObjectId id = {uint32_t(GetOptIntArg(L, 1, &wasNil)), nullptr};
    const char* host = GetArgString(L, 2, nullptr);
    int port;
    if (int code = PortArg(L, 3, 0, 1, &port)) return code;
    CloseNetObjectWithId(L, QV_OBJ_CLIENT, id.number);
    qvNetObject* node = nullptr;
    if (int code = ConnectToHost(L, id, host, port, &node)) return code;
    return node != nullptr ? PushNewObjectHandle(L, node->header) : 0;
}

int CloseConnection(qvVmState* L) {
    return CloseCommand(L, QV_OBJ_CLIENT);
}

int CreateServer(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    if (int code = RequireSockets()) return code;
    const qvObjectId id = {uint32_t(GetOptIntArg(L, 1, nullptr)), nullptr};
    int port;
    if (int code = PortArg(L, 2, 0, 0, &port)) return code;
    const char* iface = GetOptArgString(L, 3, "*", nullptr);
    const int backlog = VmGetTop(L) >= 4 ? GetOptIntArg(L, 4, nullptr) : 32;
    qvNetObject* node = ReplaceNetObject(L, QV_OBJ_SERVER, id);
    if (node == nullptr) return ERR_MEM;
    qvConnection& c = node->connection;
    int code = SocketStatusError(CreateConnectionObject(node));
    const int one = 1;
    if (code == 0 && setsockopt(c.socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        code = ERR_SOCKOPT;
    if (code == 0) code = BindSocketToAddress(&c.socket, iface, port);
    if (code == 0) code = SocketStatusError(ListenSocket(&c.socket, backlog));
    return FinishCreate(L, node, c.timeouts, id, code);
}

int CloseServer(qvVmState* L) {
    return CloseCommand(L, QV_OBJ_SERVER);
}

int SendData(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    if (int code = RequireSockets()) return code;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, QV_OBJ_CLIENT, &node)) return code;
    size_t length = 0;
    const char* data = GetArgString(L, 2, &length);
    size_t sent = 0;
    SendBuffer(L, node, reinterpret_cast<const uint8_t*>(data), length, &sent);
    VmPushNumber(L, double(sent));
    return 1;
}

int ReceiveData(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    if (int code = RequireSockets()) return code;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, QV_OBJ_CLIENT, &node)) return code;
    const int mode = GetOptIntArg(L, 2, nullptr);
    size_t count = 0;
    bool wait = true;
    if (mode == RECEIVEBYTES) {
        const int wanted = GetOptIntArg(L, 3, nullptr);
        if (wanted < 1) return ERR_WRONGUSAGE;
        count = size_t(wanted);
    } else if (mode == RECEIVEALL) {
        wait = FlagArg(L, 3, true);
    } else if (mode != RECEIVELINE) {
        return ERR_WRONGUSAGE;
    }
    StringSink sink;
    int status = 0;
    size_t delivered = 0;
    if (int code = ReceiveIntoBuffer(L, node, mode, count, wait, sink, &status, &delivered))
        return code;
    VmPushLString(L, sink.text.data(), sink.text.size());
    VmPushNumber(L, double(sink.text.size()));
    VmPushNumber(L, mode == RECEIVEALL && status != 0 ? 0 : 1);
    return 3;
}

int GetConnectionIP(qvVmState* L) {
    return PushIP(L, PeerAddress);
}

int GetConnectionPort(qvVmState* L) {
    return PushPort(L, PeerAddress);
}

int GetLocalIP(qvVmState* L) {
    return PushIP(L, LocalAddress);
}

int GetLocalPort(qvVmState* L) {
    return PushPort(L, LocalAddress);
}

int GetHostName(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    if (int code = RequireSockets()) return code;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return ERR_HOSTNAME;
    VmPushString(L, name);
    return 1;
}

int ToIP(qvVmState* L) {
    return HostLookupCommand(L, true);
}

int ToHostName(qvVmState* L) {
    return HostLookupCommand(L, false);
}

int SetNetworkTimeout(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const int ms = GetOptIntArg(L, 1, nullptr);
    if (ms < 0) return ERR_WRONGUSAGE;
    NetworkTimeoutMs() = ms;
    return 0;
}

int CreateUDPObject(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    if (int code = RequireSockets()) return code;
    const qvObjectId id = {uint32_t(GetOptIntArg(L, 1, nullptr)), nullptr};
    int port;
    if (int code = PortArg(L, 2, 0, 0, &port)) return code;
    const char* iface = GetOptArgString(L, 3, "*", nullptr);
    qvNetObject* node = ReplaceNetObject(L, QV_OBJ_UDPOBJECT, id);
    if (node == nullptr) return ERR_MEM;
    qvUDPObject& u = node->udp;
    int status = NewSocket(&u.socket, AF_INET, SOCK_DGRAM, 0);
    if (status == 0) status = SetSocketNonBlocking(&u.socket);
    int code = SocketStatusError(status);
    if (code == 0) code = BindSocketToAddress(&u.socket, iface, port);
    return FinishCreate(L, node, &u.timeouts, id, code);
}

int CloseUDPObject(qvVmState* L) {
    return CloseCommand(L, QV_OBJ_UDPOBJECT);
}

int SendUDPData(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    if (int code = RequireSockets()) return code;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, QV_OBJ_UDPOBJECT, &node)) return code;
    size_t length = 0;
    const char* data = GetArgString(L, 2, &length);
    const char* host = GetArgString(L, 3, nullptr);
    int port;
    if (int code = PortArg(L, 4, 0, 1, &port)) return code;
    if (length == 0) return ERR_WRONGUSAGE;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    if (!ParseDottedAddress(host, &to.sin_addr.s_addr)) return ERR_BADIP;
    size_t sent = 0;
    const int status =
        SendToSocket(&node->udp.socket, data, length, &sent, &to, &node->udp.timeouts);
    if (int code = SocketStatusError(status)) return code;
    VmPushNumber(L, double(sent));
    return 1;
}

// An empty datagram is data: "", the sender and its port. Nothing waiting gives "", "", 0.
int ReceiveUDPData(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    if (int code = RequireSockets()) return code;
    qvNetObject* node;
    if (int code = FindNetObjectArg(L, 1, QV_OBJ_UDPOBJECT, &node)) return code;
    const int maximum = VmGetTop(L) >= 2 ? GetOptIntArg(L, 2, nullptr) : int(kNetBufferSize);
    if (maximum < 1) return ERR_WRONGUSAGE;
    qvUDPObject& u = node->udp;
    node->dataReported = false;
    size_t count = 0;
    sockaddr_in from{};
    const size_t room = std::min(size_t(maximum), kNetBufferSize);
    const int status = ReceiveFromSocket(&u.socket, u.buffer, room, &count, &from, &u.timeouts);
    if (status == kStatusTimeout) {
        VmPushString(L, "");
        VmPushString(L, "");
        VmPushNumber(L, 0);
        return 3;
    }
    if (int code = SocketStatusError(status)) return code;
    VmPushLString(L, reinterpret_cast<const char*>(u.buffer), count);
    VmPushString(L, DottedAddress(from.sin_addr.s_addr).c_str());
    VmPushNumber(L, ntohs(from.sin_port));
    return 3;
}

// Connects to QV_ONLINE_HOST ("host:port") or the default web server; any failure is false.
int IsOnline(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const char* configured = std::getenv("QV_ONLINE_HOST");
    std::string target =
        configured != nullptr && *configured != '\0' ? configured : kDefaultOnlineHost;
    int port = 80;
    if (const size_t colon = target.rfind(':'); colon != std::string::npos) {
        port = std::atoi(target.c_str() + colon + 1);
        target.resize(colon);
    }
    qvNetObject* node = nullptr;
    const bool online = OpenSocketLibrary() != 0 && port >= 1 && port <= kMaxPort &&
                        ConnectToHost(L, {0, nullptr}, target.c_str(), port, &node) == 0 &&
                        node != nullptr;
    if (node != nullptr) CloseNetObject(L, node);
    VmPushBoolean(L, online ? 1 : 0);
    return 1;
}
