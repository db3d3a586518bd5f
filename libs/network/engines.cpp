// The engines that commands and transfers share: connecting, receiving, sending and the
// progress callback. They keep the program alive: the input pump runs once per pass, and an
// idle pass waits at most one tick on the socket.
#include <poll.h>

#include <algorithm>
#include <cstring>

#include "libs/network/net_objects.h"
#include "platform/linux/files.h"
#include "platform/linux/sockets.h"
#include "runtime/errors.h"
#include "runtime/input_pump.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

int networkTimeoutMs = 10000;

bool Aborted() {
    return Runtime().abortFlag.load(std::memory_order_relaxed) != 0;
}

// Whether the idle time since lastActivity exceeds the global time-out (0: no limit).
bool IdleTimeExceeded(double lastActivity) {
    return networkTimeoutMs != 0 && (MonotonicSeconds() - lastActivity) * 1000.0 > networkTimeoutMs;
}

int ResolveHost(const char* host, uint32_t* address) {
    if (ParseDottedAddress(host, address)) return 0;
    HostInfo info;
    if (const int status = ResolveName(host, &info)) return status;
    if (info.addresses.empty()) return kHostNotFound;
    *address = info.addresses.front();
    return 0;
}

Delivery DeliverLine(const uint8_t* bytes, size_t length, ReceiveSink& sink) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(bytes, '\n', length));
    const size_t take = end != nullptr ? size_t(end - bytes) : length;
    size_t runStart = 0;
    for (size_t i = 0; i <= take; ++i) {
        if (i < take && bytes[i] != '\r') continue;
        if (const int error = sink.Put(bytes + runStart, i - runStart)) return {0, false, error};
        runStart = i + 1;
    }
    if (end == nullptr) return {length, false, 0};
    return {take + 1, true, sink.Terminate()};
}

// Pulls one buffer's worth through the receive hook when the buffer is empty.
int FillBuffer(qvConnection& c) {
    if (c.readIndex < c.fill) return 0;
    c.readIndex = c.fill = 0;
    size_t count = 0;
    const int status = c.hooks->receive(&c.socket, c.buffer, kNetBufferSize, &count, c.timeouts);
    c.fill = uint32_t(count);
    return status;
}

}  // namespace

int BufferSink::Put(const uint8_t* bytes, size_t length) {
    if (length > size_ - used_) return ERR_MEM;
    if (length > 0) std::memcpy(buffer_ + used_, bytes, length);
    used_ += length;
    return 0;
}

int BufferSink::Terminate() {
    if (used_ >= size_) return ERR_MEM;
    buffer_[used_] = 0;
    return 0;
}

int FileSink::Put(const uint8_t* bytes, size_t length) {
    if (FileWrite(file_, bytes, int64_t(length)) == int64_t(length)) return 0;
    return ErrorWithText(ERR_WRITEFILE, name_);
}

int ReceiveStatusCode(int status) {
    if (Aborted()) return ERR_USERABORT;
    switch (status) {
        case 0:
            return 0;
        case kStatusTimeout:
            return ERR_RECVTIMEOUT;
        case kStatusClosed:
            return ERR_RECVCLOSED;
        default:
            return status < 0 ? ERR_RECVUNKNOWN : SocketError(SocketErrnoText(status));
    }
}

int& NetworkTimeoutMs() {
    return networkTimeoutMs;
}

Delivery DeliverBuffered(int mode, const uint8_t* bytes, size_t length, size_t missing,
                         ReceiveSink& sink) {
    if (mode == RECEIVELINE) return DeliverLine(bytes, length, sink);
    const size_t take = mode == RECEIVEBYTES ? std::min(length, missing) : length;
    const int error = sink.Put(bytes, take);
    return {error != 0 ? 0 : take, mode == RECEIVEBYTES && take == missing, error};
}

int ReceiveIntoBuffer(qvVmState* L, qvNetObject* node, int mode, size_t count, bool wait,
                      ReceiveSink& sink, int* status, size_t* delivered) {
    qvConnection& c = node->connection;
    c.timeouts->start = MonotonicSeconds();
    double lastActivity = c.timeouts->start;
    *status = 0;
    *delivered = 0;
    node->dataReported = false;
    for (;;) {
        if (RunInputPump(L)) {
            *status = 0;
            break;
        }
        *status = FillBuffer(c);
        if (c.readIndex < c.fill) {
            const Delivery d = DeliverBuffered(mode, c.buffer + c.readIndex, c.fill - c.readIndex,
                                               count - *delivered, sink);
            if (d.error != 0) return d.error;
            c.readIndex += uint32_t(d.consumed);
            c.bytesReceived += uint32_t(d.consumed);
            *delivered += d.consumed;
            lastActivity = MonotonicSeconds();
            if (node->progress && d.consumed > 0) {
                node->progressCount += d.consumed;
                if (const int result = CallTransferCallback(L, node, 0)) return result;
            }
            if (d.done) break;
            continue;
        }
        if (*status != kStatusTimeout || !wait || IdleTimeExceeded(lastActivity)) break;
        WaitIdleTick(c.socket, POLLIN);
    }
    if (mode == RECEIVEALL && *status == kStatusClosed && *delivered > 0) *status = 0;
    return 0;
}

}  // namespace qv

using namespace qv;

int SendBuffer(qvVmState* L, qvNetObject* node, const uint8_t* data, size_t length, size_t* sent) {
    qvConnection& c = node->connection;
    double lastActivity = MonotonicSeconds();
    int status = 0;
    *sent = 0;
    for (;;) {
        size_t pass = 0;
        bool stop = false;
        while (status == 0 && *sent + pass < length) {
            if ((stop = RunInputPump(L))) break;
            size_t count = 0;
            const size_t chunk = std::min(kNetBufferSize, length - *sent - pass);
            status = c.hooks->send(&c.socket, data + *sent + pass, chunk, &count, c.timeouts);
            pass += count;
            if (node->progress && count > 0) {
                node->progressCount += count;
                status = CallTransferCallback(L, node, 0);
            }
        }
        c.bytesSent += uint32_t(pass);
        *sent += pass;
        if (pass > 0) lastActivity = MonotonicSeconds();
        if (stop || status != kStatusTimeout) return status;
        if (pass == 0 && IdleTimeExceeded(lastActivity)) return status;
        WaitIdleTick(c.socket, POLLOUT);
        status = 0;
    }
}

int CallTransferCallback(qvVmState* L, qvNetObject* node, int action) {
    const int top = VmGetTop(L);
    VmPushValue(L, 3);
    VmNewTable(L);
    const auto setNumber = [L](const char* key, double value) {
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmRawSet(L, -3);
    };
    setNumber("action", action);
    setNumber("count", double(node->progressCount));
    setNumber("total", double(node->progressTotal));
    if (node->hasUserData) {
        VmPushString(L, "userdata");
        VmPushValue(L, 4);
        VmRawSet(L, -3);
    }
    ++Runtime().error.nestedCalls;
    const int error = VmPCall(L, 1, 1, 0);
    --Runtime().error.nestedCalls;
    int result = error;
    if (error == 0) {
        result = VmType(L, -1) != VM_TNUMBER           ? ERR_NUMCALLBACK
                 : VmToNumber(L, -1) == 1 || Aborted() ? ERR_USERABORT
                                                       : 0;
    }
    VmSetTop(L, top);
    return result;
}

int ConnectToHost(qvVmState* L, qvObjectId id, const char* host, int port, qvNetObject** out) {
    *out = nullptr;
    qvNetObject* node = NewNetObject(QV_OBJ_CLIENT);
    if (node == nullptr) return ERR_MEM;
    qvConnection& c = node->connection;
    int status = CreateConnectionObject(node);
    if (status != 0) {
        FreeNetObject(L, node);
        return SocketError(SocketErrnoText(status));
    }
    c.timeouts->start = MonotonicSeconds();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    if (const int resolved = ResolveHost(host, &address.sin_addr.s_addr)) {
        FreeNetObject(L, node);
        return SocketError(ResolverErrorText(resolved));
    }
    int pumpStatus = 0;
    status = ConnectWithTimeout(L, &c.socket, &address, networkTimeoutMs, &pumpStatus);
    if (status != 0) {
        FreeNetObject(L, node);
        return Aborted() ? 0 : SocketError(SocketErrnoText(status));
    }
    c.timeouts->operation = 0;
    c.timeouts->overall = 0;
    AppendNetObject(node, id);
    *out = node;
    return 0;
}
