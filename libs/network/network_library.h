// The "network" command library: TCP clients and servers, UDP objects, name resolution, the
// receive and send engines, and the pollers through which the event dispatcher raises
// "OnConnect", "OnReceiveData", "OnDisconnect" and "OnReceiveUDPData".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/vm.h"
#include "libs/network/socket_layer.h"
#include "runtime/objects.h"

struct qvFile;

inline constexpr size_t kNetBufferSize = 8192;

enum : uint32_t { QV_OBJ_CLIENT = 54, QV_OBJ_SERVER = 55, QV_OBJ_UDPOBJECT = 56 };
enum : int { RECEIVEALL = 0, RECEIVEBYTES = 1, RECEIVELINE = 2 };

struct qvConnectionHooks {
    void* self;
    int (*send)(int32_t*, const void*, size_t, size_t*, const qvSocketTimeouts*);
    int (*receive)(int32_t*, void*, size_t, size_t*, const qvSocketTimeouts*);
    const char* (*errorText)(int);
};

struct qvConnection {
    int32_t socket;
    qvConnectionHooks hookBlock;
    double created;
    uint32_t bytesSent;
    uint32_t bytesReceived;
    qvConnectionHooks* hooks;
    qvSocketTimeouts* timeouts;
    uint32_t readIndex;
    uint32_t fill;
    uint8_t buffer[kNetBufferSize];
    qvSocketTimeouts timeoutBlock;
};

struct qvUDPObject {
    int32_t socket;
    qvSocketTimeouts timeouts;
    uint8_t buffer[kNetBufferSize];
};

// A list node; CLIENT and SERVER nodes use connection, UDP nodes udp.
struct qvNetObject {
    qvObjectHeader header;
    qvConnection connection;
    qvUDPObject udp;
    bool dataReported;
    bool closeReported;
    bool progress;
    uint64_t progressCount;
    uint64_t progressTotal;
    bool hasUserData;
};

// The dispatcher's walking positions over the three lists (the next node to poll); removing
// a node that a position points at moves it to the next node.
struct qvNetWalk {
    qvNetObject* server;
    qvNetObject* client;
    qvNetObject* udp;
};

int RegisterNetworkLibrary(qvVmState* L);
void ShutdownNetwork(qvVmState* L);

// Engines shared with the transfer commands. Statuses are socket-layer statuses; ConnectToHost
// returns 0, ERR_SOCKET (text stored) or ERR_MEM, and 0 when the abort flag ended it.
int ConnectToHost(qvVmState* L, qvObjectId id, const char* host, int port, qvNetObject** out);
int SendBuffer(qvVmState* L, qvNetObject* node, const uint8_t* data, size_t length, size_t* sent);
int CallTransferCallback(qvVmState* L, qvNetObject* node, int action);

// The pollers: 1 when the event is to be raised.
int PollServerAccept(qvNetObject* server, qvNetObject** client);
int PollConnectionData(qvNetObject* client);
int PollConnectionClosed(qvNetObject* client);
int PollUdpData(qvNetObject* udp);

namespace qv {

// Where the receive engine delivers: a script string, a caller buffer or a file.
class ReceiveSink {
public:
    virtual ~ReceiveSink() = default;
    // 0, or an error code (ERR_MEM when a caller buffer would overflow).
    virtual int Put(const uint8_t* bytes, size_t length) = 0;
    // Room for a line's terminating zero.
    virtual int Terminate() { return 0; }
};

// A caller's buffer of fixed size: a delivery that would overflow it is ERR_MEM; a line also
// needs room for its terminating zero.
class BufferSink final : public ReceiveSink {
public:
    BufferSink(uint8_t* buffer, size_t size) : buffer_(buffer), size_(size) {}
    int Put(const uint8_t* bytes, size_t length) override;
    int Terminate() override;
    size_t used() const { return used_; }

private:
    uint8_t* buffer_;
    size_t size_;
    size_t used_ = 0;
};

// An open file of the file layer; a failed write is ERR_WRITEFILE with the file's name.
class FileSink final : public ReceiveSink {
public:
    FileSink(qvFile* file, const char* name) : file_(file), name_(name) {}
    int Put(const uint8_t* bytes, size_t length) override;

private:
    qvFile* file_;
    const char* name_;
};

// One delivery step from buffered bytes: how many bytes were consumed, and whether the
// request is complete. missing is the count still wanted in RECEIVEBYTES.
struct Delivery {
    size_t consumed;
    bool done;
    int error;
};
Delivery DeliverBuffered(int mode, const uint8_t* bytes, size_t length, size_t missing,
                         ReceiveSink& sink);

// The receive engine: the status ends in *status, the bytes delivered in *delivered; the
// result is 0 or an error code of the sink or callback.
int ReceiveIntoBuffer(qvVmState* L, qvNetObject* node, int mode, size_t count, bool wait,
                      ReceiveSink& sink, int* status, size_t* delivered);

// The receive engine's outcome for a caller buffer or a file: 0 on success; the abort flag
// gives ERR_USERABORT, a time-out ERR_RECVTIMEOUT, a close ERR_RECVCLOSED, other negative
// statuses ERR_RECVUNKNOWN, and a socket error ERR_SOCKET with its text (an error number
// must never reach the engine as a result count).
int ReceiveStatusCode(int status);

// The heads of the three lists and the walking positions, for the dispatcher.
qvObjectHeader** NetworkList(uint32_t type);
qvNetWalk& NetworkWalk();

// Global network time-out in milliseconds (default 10000).
int& NetworkTimeoutMs();

}  // namespace qv
