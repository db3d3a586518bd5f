#include "runtime/lists.h"

#include <cstddef>

static_assert(offsetof(qvList, head) == offsetof(qvListNode, succ));
static_assert(offsetof(qvList, tail) - offsetof(qvList, head) == offsetof(qvListNode, pred));

namespace {

// The header's head field doubles as the head sentinel {succ = head, pred = tail}, its tail
// field as the tail sentinel {succ = tail, pred = tailPred}.
qvListNode* HeadSentinel(qvList* list) {
    return reinterpret_cast<qvListNode*>(&list->head);
}

qvListNode* TailSentinel(qvList* list) {
    return reinterpret_cast<qvListNode*>(&list->tail);
}

void LinkAfter(qvListNode* pred, qvListNode* node) {
    node->succ = pred->succ;
    node->pred = pred;
    pred->succ->pred = node;
    pred->succ = node;
}

}  // namespace

void NewList(qvList* list) {
    list->head = TailSentinel(list);
    list->tail = nullptr;
    list->tailPred = HeadSentinel(list);
}

void AddHead(qvList* list, qvListNode* node) {
    LinkAfter(HeadSentinel(list), node);
}

void AddTail(qvList* list, qvListNode* node) {
    LinkAfter(list->tailPred, node);
}

qvListNode* RemHead(qvList* list) {
    if (IsListEmpty(list)) return nullptr;
    qvListNode* node = list->head;
    RemoveNode(node);
    return node;
}

void RemoveNode(qvListNode* node) {
    node->pred->succ = node->succ;
    node->succ->pred = node->pred;
}

void InsertNode(qvList* list, qvListNode* node, qvListNode* pred) {
    LinkAfter(pred != nullptr ? pred : HeadSentinel(list), node);
}
