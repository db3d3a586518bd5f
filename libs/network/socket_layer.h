// The socket layer: every socket stays non-blocking, and waits are bounded by the record's
// time-outs, so that scripts see time-outs instead of a blocked program. Statuses: 0 success,
// -1 time-out, -2 closed (peer closed, zero-length read or no socket), a positive value the
// BSD error number.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"

// Seconds; operation and overall below 0 = no limit, operation 0 = do not wait at all. The
// start is on the monotonic clock.
struct qvSocketTimeouts {
    double operation;
    double overall;
    double start;
};

inline constexpr int kStatusTimeout = -1;
inline constexpr int kStatusClosed = -2;
inline constexpr int kWaitRead = 1, kWaitWrite = 2, kWaitBoth = 3;

// Opening the socket library cannot fail on Linux; the flag records that it was opened.
int OpenSocketLibrary();
int CloseSocketLibrary();

int NewSocket(int32_t* handle, int domain, int type, int protocol);
int SetSocketNonBlocking(int32_t* handle);
int SetSocketBlocking(int32_t* handle);
int BindSocket(int32_t* handle, const sockaddr_in* address);
int ListenSocket(int32_t* handle, int backlog);
int ShutdownSocket(int32_t* handle, int how);
void CloseSocketHandle(int32_t* handle);

double GetRemainingTimeout(const qvSocketTimeouts* timeouts);
int WaitSocketReady(int32_t* handle, int mode, const qvSocketTimeouts* timeouts);

int ReceiveFromConnection(int32_t* handle, void* buffer, size_t length, size_t* count,
                          const qvSocketTimeouts* timeouts);
int SendToConnection(int32_t* handle, const void* buffer, size_t length, size_t* count,
                     const qvSocketTimeouts* timeouts);
int ReceiveFromSocket(int32_t* handle, void* buffer, size_t length, size_t* count,
                      sockaddr_in* from, const qvSocketTimeouts* timeouts);
int SendToSocket(int32_t* handle, const void* buffer, size_t length, size_t* count,
                 const sockaddr_in* to, const qvSocketTimeouts* timeouts);
// 0 when data (for datagram sockets: a datagram, even an empty one) waits; -2 when the peer
// closed; -1 time-out; else the error number. The data stay queued.
int PollSocketReadable(int32_t* handle, const qvSocketTimeouts* timeouts, bool datagram);
int AcceptClient(int32_t* listening, int32_t* client, sockaddr_in* address,
                 const qvSocketTimeouts* timeouts);

// Connects with the input pump running between 10 ms waits; -1 also when the pump asks to
// stop (*pumpStatus then non-zero).
int ConnectWithTimeout(qvVmState* L, int32_t* handle, const sockaddr_in* address, int timeoutMs,
                       int* pumpStatus);
int ConnectBlockingWithTimeout(int32_t* handle, const sockaddr_in* address,
                               const qvSocketTimeouts* timeouts);

const char* SocketErrorText(int status);
const char* SocketErrnoText(int status);
const char* ConnectionErrorText(int status);
const char* ResolverErrorText(int status);
