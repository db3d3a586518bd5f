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

// Takes the nodes off the list at *head one by one, first to last, and hands each to release
// (which may free it); *head always holds the rest of the list.
template <typename Node, typename Release>
void DrainList(Node** head, Release release) {
    while (Node* node = *head) {
        *head = node->next;
        release(node);
    }
}

}  // namespace qv
