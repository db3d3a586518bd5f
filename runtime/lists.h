// Doubly linked lists in the platform's shape: a header {head, tail (always nullptr),
// tail predecessor} whose first two and last two words act as the sentinel nodes, and nodes
// {successor, predecessor} that libraries put at the start of their records.
#pragma once

struct qvListNode {
    qvListNode* succ;
    qvListNode* pred;
};

// Empty: head points at the tail field, tailPred at the header itself.
struct qvList {
    qvListNode* head;
    qvListNode* tail;
    qvListNode* tailPred;
};

void NewList(qvList* list);
void AddHead(qvList* list, qvListNode* node);
void AddTail(qvList* list, qvListNode* node);
// Unlinks and returns the first node, or nullptr for an empty list.
qvListNode* RemHead(qvList* list);
void RemoveNode(qvListNode* node);
// Links node after pred; at the head when pred is nullptr.
void InsertNode(qvList* list, qvListNode* node, qvListNode* pred);

// True when the list has no nodes.
inline bool IsListEmpty(const qvList* list) {
    return list->tailPred == reinterpret_cast<const qvListNode*>(list);
}
