#include "libs/network/socket_layer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/linux/sockets.h"
#include "platform/linux/wait.h"
#include "runtime/input_pump.h"

namespace qv {
namespace {

constexpr int kInterrupted = 4, kWouldBlock = 35, kInProgress = 36, kBrokenPipe = 32,
              kConnAborted = 53;
constexpr int kConnectPollMs = 10;

bool socketLibraryOpen = false;

int SetBlockingMode(int32_t* handle, bool blocking) {
    if (*handle == -1) return kStatusClosed;
    const int flags = fcntl(*handle, F_GETFL);
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return flags < 0 || fcntl(*handle, F_SETFL, wanted) < 0 ? LastSocketError() : 0;
}

// Runs call in blocking mode, as binding and listening are done.
template <typename Call>
int WhileBlocking(int32_t* handle, Call call) {
    if (*handle == -1) return kStatusClosed;
    SetBlockingMode(handle, true);
    const int status = call() < 0 ? LastSocketError() : 0;
    SetBlockingMode(handle, false);
    return status;
}

// The shared pattern of the data calls: call returns a count (or handle) >= 0 or -1 with
// errno. A zero count is "closed" unless zeroIsData.
template <typename Call>
int NonBlockingCall(int32_t* handle, int waitMode, const qvSocketTimeouts* timeouts,
                    bool zeroIsData, bool waitOnAbort, Call call) {
    if (*handle == -1) return kStatusClosed;
    for (;;) {
        const ssize_t result = call();
        if (result > 0 || (result == 0 && zeroIsData)) return 0;
        if (result == 0) return kStatusClosed;
        const int error = LastSocketError();
        if (error == kBrokenPipe && waitMode == kWaitWrite) return kStatusClosed;
        if (error == kInterrupted) continue;
        if (error != kWouldBlock && !(waitOnAbort && error == kConnAborted)) return error;
        if (const int wait = WaitSocketReady(handle, waitMode, timeouts); wait != 0) return wait;
    }
}

// The outcome of a non-blocking connect once the socket is ready.
int PendingConnectResult(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return LastSocketError();
    return BsdSocketError(error);
}

// Starts a connect: 0 connected, kInProgress pending, else an error.
int StartConnect(int32_t* handle, const sockaddr_in* address) {
    if (*handle == -1) return kStatusClosed;
    for (;;) {
        if (connect(*handle, reinterpret_cast<const sockaddr*>(address), sizeof *address) == 0)
            return 0;
        const int error = LastSocketError();
        if (error == kInterrupted) continue;
        return error == kWouldBlock ? kInProgress : error;
    }
}

}  // namespace
}  // namespace qv

using namespace qv;

int OpenSocketLibrary() {
    socketLibraryOpen = true;
    return 1;
}

int CloseSocketLibrary() {
    socketLibraryOpen = false;
    return 1;
}

int NewSocket(int32_t* handle, int domain, int type, int protocol) {
    *handle = socket(domain, type | SOCK_CLOEXEC, protocol);
    return *handle < 0 ? (*handle = -1, LastSocketError()) : 0;
}

int SetSocketNonBlocking(int32_t* handle) {
    return SetBlockingMode(handle, false);
}

int SetSocketBlocking(int32_t* handle) {
    return SetBlockingMode(handle, true);
}

int BindSocket(int32_t* handle, const sockaddr_in* address) {
    return WhileBlocking(handle, [&] {
        return bind(*handle, reinterpret_cast<const sockaddr*>(address), sizeof *address);
    });
}

int ListenSocket(int32_t* handle, int backlog) {
    return WhileBlocking(handle, [&] { return listen(*handle, backlog); });
}

int ShutdownSocket(int32_t* handle, int how) {
    return WhileBlocking(handle, [&] { return shutdown(*handle, how); });
}

void CloseSocketHandle(int32_t* handle) {
    if (*handle == -1) return;
    SetBlockingMode(handle, true);
    close(*handle);
    *handle = -1;
}

double GetRemainingTimeout(const qvSocketTimeouts* t) {
    if (t->operation < 0 && t->overall < 0) return -1.0;
    const double elapsed = MonotonicSeconds() - t->start;
    const double overallLeft = std::max(0.0, t->overall - elapsed);
    if (t->operation < 0) return overallLeft;
    // With both set, the operation time-out is deliberately not reduced by the elapsed time.
    if (t->overall >= 0) return std::min(t->operation, overallLeft);
    return std::max(0.0, t->operation - elapsed);
}

int WaitSocketReady(int32_t* handle, int mode, const qvSocketTimeouts* timeouts) {
    if (*handle == -1) return kStatusClosed;
    if (timeouts->operation == 0) return kStatusTimeout;
    const short events = short((mode & kWaitRead ? POLLIN : 0) | (mode & kWaitWrite ? POLLOUT : 0));
    for (;;) {
        const double left = GetRemainingTimeout(timeouts);
        const int ms = left < 0 ? -1 : int(std::ceil(left * 1000.0));
        const int ready = PollDescriptor(*handle, events, ms);
        if (ready == 0) return kStatusTimeout;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return LastSocketError();
        }
        return mode == kWaitBoth && (ready & POLLIN) != 0 ? kStatusClosed : 0;
    }
}

int ReceiveFromConnection(int32_t* handle, void* buffer, size_t length, size_t* count,
                          const qvSocketTimeouts* timeouts) {
    *count = 0;
    return NonBlockingCall(handle, kWaitRead, timeouts, false, false, [&] {
        const ssize_t n = recv(*handle, buffer, length, 0);
        if (n > 0) *count = size_t(n);
        return n;
    });
}

int SendToConnection(int32_t* handle, const void* buffer, size_t length, size_t* count,
                     const qvSocketTimeouts* timeouts) {
    *count = 0;
    // MSG_NOSIGNAL: a peer that reset the connection gives an error, never SIGPIPE.
    return NonBlockingCall(handle, kWaitWrite, timeouts, false, false, [&] {
        const ssize_t n = send(*handle, buffer, length, MSG_NOSIGNAL);
        if (n > 0) *count = size_t(n);
        return n;
    });
}

// Datagrams: an empty datagram is data, not a close.
int ReceiveFromSocket(int32_t* handle, void* buffer, size_t length, size_t* count,
                      sockaddr_in* from, const qvSocketTimeouts* timeouts) {
    *count = 0;
    return NonBlockingCall(handle, kWaitRead, timeouts, true, false, [&] {
        socklen_t fromLength = sizeof *from;
        const ssize_t n =
            recvfrom(*handle, buffer, length, 0, reinterpret_cast<sockaddr*>(from), &fromLength);
        if (n > 0) *count = size_t(n);
        return n;
    });
}

int SendToSocket(int32_t* handle, const void* buffer, size_t length, size_t* count,
                 const sockaddr_in* to, const qvSocketTimeouts* timeouts) {
    *count = 0;
    return NonBlockingCall(handle, kWaitWrite, timeouts, false, false, [&] {
        const ssize_t n = sendto(*handle, buffer, length, MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(to), sizeof *to);
        if (n > 0) *count = size_t(n);
        return n;
    });
}

int PollSocketReadable(int32_t* handle, const qvSocketTimeouts* timeouts, bool datagram) {
    uint8_t scratch;
    return NonBlockingCall(handle, kWaitRead, timeouts, datagram, false,
                           [&] { return recv(*handle, &scratch, 1, MSG_PEEK); });
}

int AcceptClient(int32_t* listening, int32_t* client, sockaddr_in* address,
                 const qvSocketTimeouts* timeouts) {
    sockaddr_in own;
    sockaddr_in* peer = address != nullptr ? address : &own;
    *client = -1;
    return NonBlockingCall(listening, kWaitRead, timeouts, true, true, [&] {
        socklen_t length = sizeof *peer;
        const int fd = accept4(*listening, reinterpret_cast<sockaddr*>(peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) *client = fd;
        return ssize_t(fd < 0 ? -1 : 0);
    });
}

int ConnectWithTimeout(qvVmState* L, int32_t* handle, const sockaddr_in* address, int timeoutMs,
                       int* pumpStatus) {
    *pumpStatus = 0;
    const int started = StartConnect(handle, address);
    if (started != kInProgress) return started;
    const double start = MonotonicSeconds();
    for (;;) {
        if (RunInputPump(L)) {
            *pumpStatus = 1;
            return kStatusTimeout;
        }
        const int ready = WaitOnDescriptor(*handle, POLLIN | POLLOUT, kConnectPollMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return LastSocketError();
        }
        if (ready > 0) return PendingConnectResult(*handle);
        if ((MonotonicSeconds() - start) * 1000.0 > timeoutMs || timeoutMs == 0)
            return kStatusTimeout;
    }
}

int ConnectBlockingWithTimeout(int32_t* handle, const sockaddr_in* address,
                               const qvSocketTimeouts* timeouts) {
    const int started = StartConnect(handle, address);
    if (started != kInProgress) return started;
    if (timeouts->operation == 0) return kStatusTimeout;
    const int wait = WaitSocketReady(handle, kWaitWrite, timeouts);
    return wait != 0 ? wait : PendingConnectResult(*handle);
}

const char* SocketErrorText(int status) {
    switch (status) {
        case 0:
            return "";
        case kStatusTimeout:
            return "timeout";
        case kStatusClosed:
            return "closed";
        default:
            return "unknown error";
    }
}

const char* SocketErrnoText(int status) {
    switch (status) {
        case 13:
            return "permission denied";
        case 48:
            return "address already in use";
        case 53:
        case 54:
            return "closed";
        case 56:
            return "already connected";
        case 60:
            return "timeout";
        case 61:
            return "connection refused";
        default:
            return status <= 0 ? SocketErrorText(status) : SocketErrorString(status);
    }
}

const char* ConnectionErrorText(int status) {
    return SocketErrnoText(status);
}

const char* ResolverErrorText(int status) {
    return status <= 0 ? SocketErrorText(status) : ResolverStatusText(status);
}
