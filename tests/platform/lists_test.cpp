#include "platform/linux/lists.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

struct Node {
    Node* next = nullptr;
    char name = 0;
};

// Five nodes "abcde" chained in order; head points at the first.
struct Chain {
    Chain() {
        for (size_t i = 0; i < nodes.size(); ++i) {
            nodes[i].name = static_cast<char>('a' + i);
            *qv::ListEnd(&head) = &nodes[i];
        }
    }
    std::string Names() const {
        std::string names;
        for (const Node* n = head; n != nullptr; n = n->next) names += n->name;
        return names;
    }
    std::array<Node, 5> nodes;
    Node* head = nullptr;
};

TEST(RecordLists, TakeFromListTakesTheFirstMatchOnly) {
    struct Case {
        std::string wanted;  // names that match
        char taken;          // 0: none
        std::string left;
    };
    const Case cases[] = {
        {"a", 'a', "bcde"},  {"c", 'c', "abde"}, {"e", 'e', "abcd"},
        {"bd", 'b', "acde"}, {"x", 0, "abcde"},
    };
    for (const Case& c : cases) {
        Chain chain;
        Node* taken = qv::TakeFromList(&chain.head, [&](const Node* n) {
            return c.wanted.find(n->name) != std::string::npos;
        });
        EXPECT_EQ(taken != nullptr ? taken->name : 0, c.taken) << c.wanted;
        EXPECT_EQ(chain.Names(), c.left) << c.wanted;
    }
}

// Neighbours that both match are the case a careless walk skips.
TEST(RecordLists, ReleaseFromListReleasesEveryMatchInOrder) {
    struct Case {
        std::string wanted;
        std::string left;
    };
    const Case cases[] = {
        {"ab", "cde"}, {"bc", "ade"}, {"de", "abc"}, {"abcde", ""}, {"ace", "bd"}, {"", "abcde"},
    };
    for (const Case& c : cases) {
        Chain chain;
        std::string released;
        qv::ReleaseFromList(
            &chain.head, [&](const Node* n) { return c.wanted.find(n->name) != std::string::npos; },
            [&](Node* n) {
                n->next = nullptr;  // as a release that frees the node would leave it
                released += n->name;
            });
        EXPECT_EQ(released, c.wanted);
        EXPECT_EQ(chain.Names(), c.left) << c.wanted;
    }
}

TEST(RecordLists, DrainListLeavesTheRestInTheHeadWhileReleasing) {
    Chain chain;
    std::string seen;
    qv::DrainList(&chain.head, [&](Node* n) {
        seen += n->name;
        seen += chain.head != nullptr ? chain.head->name : '.';
        n->next = nullptr;
    });
    EXPECT_EQ(seen, "abbccddee.");
    EXPECT_EQ(chain.head, nullptr);
}

}  // namespace
