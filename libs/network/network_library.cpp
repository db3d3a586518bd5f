#include "libs/network/network_library.h"

#include "libs/network/commands.h"
#include "libs/network/net_objects.h"
#include "runtime/exports.h"

namespace qv {
namespace {

constexpr qvCommandEntry kNetworkCommands[] = {
    {"OpenConnection", OpenConnection},
    {"CloseConnection", CloseConnection},
    {"CreateServer", CreateServer},
    {"CloseServer", CloseServer},
    {"SendData", SendData},
    {"ReceiveData", ReceiveData},
    {"GetConnectionIP", GetConnectionIP},
    {"GetConnectionPort", GetConnectionPort},
    {"GetLocalIP", GetLocalIP},
    {"GetLocalPort", GetLocalPort},
    {"GetHostName", GetHostName},
    {"ToIP", ToIP},
    {"ToHostName", ToHostName},
    {"SetNetworkTimeout", SetNetworkTimeout},
    {"CreateUDPObject", CreateUDPObject},
    {"CloseUDPObject", CloseUDPObject},
    {"SendUDPData", SendUDPData},
    {"ReceiveUDPData", ReceiveUDPData},
    {"IsOnline", IsOnline},
    {"DownloadFile", DownloadFile},
    {"UploadFile", UploadFile},
    {nullptr, nullptr},
};

constexpr qvConstant kNetworkConstants[] = {
    {"RECEIVEALL", nullptr, RECEIVEALL},
    {"RECEIVEBYTES", nullptr, RECEIVEBYTES},
    {"RECEIVELINE", nullptr, RECEIVELINE},
    {"FTPASCII", nullptr, 97},
    {"FTPBINARY", nullptr, 105},
    {"DOWNLOADFILE_STATUS", nullptr, 0},
    {"UPLOADFILE_STATUS", nullptr, 0},
    {"NETWORKCONNECTION", nullptr, 99},
    {"NETWORKSERVER", nullptr, 115},
    {"NETWORKUDP", nullptr, 117},
    {nullptr, nullptr, 0},
};

constexpr uint32_t kListTypes[] = {QV_OBJ_SERVER, QV_OBJ_CLIENT, QV_OBJ_UDPOBJECT};

// The pollers never wait: a zero operation time-out answers at once.
constexpr qvSocketTimeouts kNoWait = {0, 0, 0};

}  // namespace
}  // namespace qv

using namespace qv;

int RegisterNetworkLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kNetworkCommands, 0);
    RegisterConstants(L, kNetworkConstants, 0);
    VmSetTop(L, -2);
    for (uint32_t type : kListTypes) {
        if (const int code = RegisterObjectList(NetworkList(type))) return code;
    }
    return RegisterCommandTable(kNetworkCommands, "network");
}

void ShutdownNetwork(qvVmState* L) {
    for (uint32_t type : {QV_OBJ_CLIENT, QV_OBJ_SERVER, QV_OBJ_UDPOBJECT}) {
        while (qvObjectHeader* head = *NetworkList(type))
            CloseNetObject(L, reinterpret_cast<qvNetObject*>(head));
    }
    NetworkWalk() = {};
    CloseSocketLibrary();
}

int PollServerAccept(qvNetObject* server, qvNetObject** client) {
    *client = nullptr;
    int32_t fd = -1;
    if (AcceptClient(&server->connection.socket, &fd, nullptr, &kNoWait) != 0) return 0;
    qvNetObject* node = NewNetObject(QV_OBJ_CLIENT);
    if (node == nullptr) {
        CloseSocketHandle(&fd);
        return 0;
    }
    node->connection.socket = fd;
    node->connection.timeouts->operation = node->connection.timeouts->overall = 0;
    AppendNetObject(node, {0, nullptr});
    *client = node;
    return 1;
}

int PollConnectionData(qvNetObject* client) {
    if (client->dataReported || client->closeReported) return 0;
    const qvConnection& c = client->connection;
    if (c.readIndex >= c.fill &&
        PollSocketReadable(&client->connection.socket, &kNoWait, false) != 0)
        return 0;
    client->dataReported = true;
    return 1;
}

int PollConnectionClosed(qvNetObject* client) {
    if (client->closeReported) return 0;
    if (PollSocketReadable(&client->connection.socket, &kNoWait, false) != kStatusClosed) return 0;
    client->closeReported = true;
    return 1;
}

int PollUdpData(qvNetObject* udp) {
    if (udp->dataReported) return 0;
    if (PollSocketReadable(&udp->udp.socket, &kNoWait, true) != 0) return 0;
    udp->dataReported = true;
    return 1;
}
