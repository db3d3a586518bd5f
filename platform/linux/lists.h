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

// Takes the first node that match accepts off the list at *head; nullptr when none does.
template <typename Node, typename Match>
Node* TakeFromList(Node** head, Match match) {
    for (Node** link = head; *link != nullptr; link = &(*link)->next) {
        if (Node* node = *link; match(node)) {
            *link = node->next;
            return node;
        }
    }
    return nullptr;
}

// Takes every node that match accepts off the list at *head, in order, handing each to
// release (which may free it) as it goes.
template <typename Node, typename Match, typename Release>
void ReleaseFromList(Node** head, Match match, Release release) {
    for (Node** link = head; *link != nullptr;) {
        Node* node = *link;
        if (!match(node)) {
            link = &node->next;
            continue;
        }
        *link = node->next;
        release(node);
    }
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
