// The program's public user port, through which other programs send it texts (seen by the
// script as "OnUserMessage"). It is a public port of platform/linux/rexx_ports.h: user ports
// and ARexx ports share one name space, and a user message is one non-returning packet whose
// argument is the text. Messages wait in arrival order until the event dispatcher takes them.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Creates the program's user port under name, deleting an earlier one first: 0,
// ERR_PORTNOTAVAIL when a port of that name (also an ARexx port) is listening, or
// ERR_CREATEPORT.
int CreatePublicPort(std::string_view name);
// Sends text to the public port without waiting for an answer: 0, ERR_WRONGUSAGE for the
// program's own user port or a text above kMaxRexxArgument, ERR_FINDPORT (the port's name as
// the message's argument) when no such port listens.
int SendPortMessage(std::string_view port, std::string_view text);
// Takes the next message: a new block of the run-time allocator holding the two bytes "x" and
// NUL followed by the text (not terminated), with its size (the text's length plus 2) in
// *size; none when no message waits or memory is short.
char* GetPortMessage(size_t* size);

namespace qv {

// The descriptors that become readable when a message arrives, for waits.
std::vector<int> UserPortDescriptors();
// Deletes the port and drops every waiting message: the end of a run.
void CloseUserPort();

}  // namespace qv

namespace qv::platform::testing {

// Queues a message as another program's send would; false when memory is short.
bool PostUserMessage(std::string_view text);

}  // namespace qv::platform::testing
