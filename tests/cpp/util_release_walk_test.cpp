// The bottom-up walk that frees trees in destructors: every node that owns
// children is freed once and the whole tree goes, whatever its shape and
// however short the path ring is next to the tree's depth.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "util/release_walk.hpp"

namespace {

struct Node {
    std::vector<Node> children;
};

// Appends `count` children to `node` and returns the last.
Node* grow(Node& node, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) node.children.emplace_back();
    return node.children.empty() ? nullptr : &node.children.back();
}

void chain(Node& root, std::size_t depth, std::size_t leaves_per_level) {
    Node* at = &root;
    for (std::size_t d = 0; d < depth; ++d) {
        grow(*at, leaves_per_level);
        const std::size_t deep = at->children.size();
        grow(*at, 1 + leaves_per_level);  // siblings after the deep child too
        at = &at->children[deep];
    }
}

void binary(Node& node, int depth) {
    if (depth == 0) return;
    grow(node, 2);
    binary(node.children[0], depth - 1);
    binary(node.children[1], depth - 1);
}

std::size_t owners(const Node& root) {
    std::size_t count = 0;
    std::vector<const Node*> pending{&root};
    while (!pending.empty()) {
        const Node* n = pending.back();
        pending.pop_back();
        if (!n->children.empty()) ++count;
        for (const Node& c : n->children) pending.push_back(&c);
    }
    return count;
}

struct WalkCase {
    const char* name;
    std::function<void(Node&)> build;
};

const WalkCase kWalkCases[] = {
    {"single node", [](Node&) {}},
    {"flat list", [](Node& r) { grow(r, 10'000); }},
    {"chain", [](Node& r) { chain(r, 2'000, 0); }},
    {"chain with siblings", [](Node& r) { chain(r, 1'000, 2); }},
    {"binary", [](Node& r) { binary(r, 12); }},
    {"chains in a list",
     [](Node& r) {
         grow(r, 50);
         for (Node& c : r.children) chain(c, 200, 1);
     }},
};

template <std::size_t Ring>
void walk_frees_everything() {
    for (const WalkCase& c : kWalkCases) {
        SCOPED_TRACE(std::string(c.name) + ", ring " + std::to_string(Ring));
        Node root;
        c.build(root);
        const std::size_t expected = owners(root);
        std::size_t released = 0;
        std::size_t steps = 0;
        quorvel::util::release_bottom_up<Ring>(
            root,
            [&steps](Node& n) -> Node* {
                ++steps;
                while (!n.children.empty() && n.children.back().children.empty()) n.children.pop_back();
                return n.children.empty() ? nullptr : &n.children.back();
            },
            [&released](Node& n) {
                ++released;
                EXPECT_TRUE(n.children.empty());
                n.children.shrink_to_fit();
            });
        EXPECT_TRUE(root.children.empty());
        EXPECT_EQ(released, std::max<std::size_t>(expected, 1));
        // Each node is met once on the way down and once on the way up, plus
        // one path from the top per restart.
        EXPECT_LT(steps, 2 * (expected + 1) + (expected / Ring + 1) * 2'001);
    }
}

TEST(ReleaseWalk, FreesEveryShapeWithAShortRing) { walk_frees_everything<4>(); }
TEST(ReleaseWalk, FreesEveryShapeWithTheDefaultRing) { walk_frees_everything<2048>(); }

}  // namespace
