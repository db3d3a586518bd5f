// The program's public user port, through which other programs send it texts (seen by the
// script as "OnUserMessage"). Messages wait here in arrival order until the event dispatcher
// takes them; until the port can be created by name, only tests post into it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Takes the next message: a new block of the run-time allocator holding the two bytes "x" and
// NUL followed by the text (not terminated), with its size (the text's length plus 2) in
// *size; none when no message waits or memory is short.
char* GetPortMessage(size_t* size);

namespace qv {

// The descriptors that become readable when a message arrives, for waits.
std::vector<int> UserPortDescriptors();
// Drops every waiting message: the end of a run.
void CloseUserPort();

}  // namespace qv

namespace qv::platform::testing {

// Queues a message as another program's send would; false when memory is short.
bool PostUserMessage(std::string_view text);

}  // namespace qv::platform::testing
