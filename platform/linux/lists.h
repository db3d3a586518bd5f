// The singly linked lists of records chained through their next field, which keep the order
// in which their nodes were added.
#pragma once

namespace qv {

// The null link at the end of the list that starts at *link: where a new node goes.
template <typename Node>
Node** ListEnd(Node** link) {
    while (*link != nullptr) link = &(*link)->next;
    return link;
}

}  // namespace qv
