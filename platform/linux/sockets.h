// The Linux side of the socket layer: error numbers in the BSD numbering that scripts see and
// test, the resolver over getaddrinfo/getnameinfo, readiness waits with poll() (no descriptor
// limit), and the idle wait of the receive and send engines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/time.h"  // MonotonicSeconds, from which time-outs measure

namespace qv {

// The BSD number of a Linux errno value; numbers without a BSD twin stay as they are.
int BsdSocketError(int linuxErrno);
// The socket error of the last failed call, as a BSD number.
int LastSocketError();
// The system's text for a BSD error number.
const char* SocketErrorString(int bsdErrno);

// poll() on one descriptor for events (POLLIN/POLLOUT), at most timeoutMs (-1: no limit).
// Returns the ready events, 0 on a time-out, or -1 with errno set (EINTR included).
int PollDescriptor(int fd, short events, int timeoutMs);

// Waits for events on fd for at most one idle tick (20 ms), returning early when ready: the
// wait of platform/linux/wait.h, which moves the run-time's clock and presents.
void WaitIdleTick(int fd, short events);
// Test hook: the length of the idle tick in milliseconds (0 restores 20).
void SetIdleTickMs(int ms);

// Resolver: 0 success, kHostNotFound, or another status that ResolverStatusText explains.
inline constexpr int kHostNotFound = 1;
struct HostInfo {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<uint32_t> addresses;  // IPv4, network byte order
};
int ResolveName(const char* name, HostInfo* out);
int ResolveAddress(uint32_t address, HostInfo* out);
const char* ResolverStatusText(int status);
// Parses a dotted IPv4 address into network byte order; false when text is none.
bool ParseDottedAddress(const char* text, uint32_t* out);
std::string DottedAddress(uint32_t address);

}  // namespace qv
