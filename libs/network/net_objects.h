// The network objects: creating connection records, the three object lists and the lookup
// and removal of their nodes.
#pragma once

#include "libs/network/network_library.h"

namespace qv {

// A zero-filled node with the hooks and time-outs of its connection set (stream socket,
// non-blocking, no time-outs, start now); nullptr when out of memory.
qvNetObject* NewNetObject(uint32_t type);
// Opens the node's TCP socket; 0 or the socket error.
int CreateConnectionObject(qvNetObject* node);
void FreeNetObject(qvVmState* L, qvNetObject* node);

// Appends the node to its list, with the handle set for an automatic id.
void AppendNetObject(qvNetObject* node, qvObjectId id);
// Unlinks, closes and frees a node (moving a walking position that pointed at it).
void CloseNetObject(qvVmState* L, qvNetObject* node);
// Closes the node with that numeric id (not 0) when the list has one.
void CloseNetObjectWithId(qvVmState* L, uint32_t type, uint32_t id);

// The node of argument idx in the list of type, in *node: 0, or the lookup error (ERR_FINDARRAY
// for a handle, else the list's own error with the number), which commands return.
int FindNetObjectArg(qvVmState* L, int idx, uint32_t type, qvNetObject** node);

// Stores text as the error argument and returns ERR_SOCKET.
int SocketError(const char* text);

}  // namespace qv
