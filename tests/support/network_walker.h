// A test stand-in for the event dispatcher's network walk: one pass over the server, client
// and UDP lists, calling the four pollers the way the dispatcher will, and counting the events
// it would raise. The walking positions live in the library, so that closing a node moves
// them.
#pragma once

#include <functional>

#include "libs/network/network_library.h"

namespace qv::testing {

struct NetworkEvents {
    int connect = 0;
    int data = 0;
    int disconnect = 0;
    int udpData = 0;
};

// onEvent runs after each event, as a script handler would (it may close nodes).
inline NetworkEvents WalkNetworkOnce(const std::function<void(qvNetObject*)>& onEvent = {}) {
    NetworkEvents events;
    auto& walk = NetworkWalk();
    const auto raise = [&](int& counter, qvNetObject* node) {
        ++counter;
        if (onEvent) onEvent(node);
    };
    for (walk.server = reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_SERVER));
         walk.server != nullptr;) {
        qvNetObject* node = walk.server;
        walk.server = reinterpret_cast<qvNetObject*>(node->header.next);
        qvNetObject* client = nullptr;
        if (PollServerAccept(node, &client)) raise(events.connect, client);
    }
    for (walk.client = reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_CLIENT));
         walk.client != nullptr;) {
        qvNetObject* node = walk.client;
        walk.client = reinterpret_cast<qvNetObject*>(node->header.next);
        if (PollConnectionData(node))
            raise(events.data, node);
        else if (PollConnectionClosed(node))
            raise(events.disconnect, node);
    }
    for (walk.udp = reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_UDPOBJECT));
         walk.udp != nullptr;) {
        qvNetObject* node = walk.udp;
        walk.udp = reinterpret_cast<qvNetObject*>(node->header.next);
        if (PollUdpData(node)) raise(events.udpData, node);
    }
    return events;
}

}  // namespace qv::testing
