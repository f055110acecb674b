#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "syntax/span_tree.hpp"

namespace {

using quorvel::syntax::Span;
using quorvel::syntax::SpanTree;

// A tree and the path (child indices) to one of its nodes.
struct Shape {
    SpanTree tree;
    std::vector<std::size_t> path;
};

SpanTree* follow(SpanTree& t, const std::vector<std::size_t>& path) {
    SpanTree* at = &t;
    for (std::size_t i : path) at = &at->children[i];
    return at;
}

// A chain `depth` deep; every link also holds `side` leaves, and when
// `keep_capacity` the deepest node has reserved but empty children.
Shape chain(std::size_t depth, std::size_t side, bool keep_capacity) {
    Shape s{SpanTree(Span{0, depth}), {}};
    SpanTree* at = &s.tree;
    for (std::size_t i = 0; i < depth; ++i) {
        at->children.reserve(side + 1);
        for (std::size_t k = 0; k < side; ++k) at->children.emplace_back(Span{i, i});
        at->children.emplace_back(Span{i, i + 1});
        s.path.push_back(side);
        at = &at->children.back();
    }
    if (keep_capacity) at->children.reserve(4);
    return s;
}

Shape wide(std::size_t n) {
    std::vector<SpanTree> kids;
    for (std::size_t i = 0; i < n; ++i) kids.emplace_back(Span{i, i + 1}, std::vector<SpanTree>{SpanTree(Span{i, i})});
    return Shape{SpanTree(Span{0, n}, std::move(kids)), {n / 2}};
}

struct ShapeCase {
    std::string name;
    std::function<Shape()> build;
    std::size_t keep;  // how far down `path` the assigned-from node lies
};

class SpanTreeShapes : public ::testing::TestWithParam<ShapeCase> {};

// Copies compare equal; assigning a tree from one of its own descendants
// keeps exactly that subtree; everything is freed without recursion (the
// sanitizer build reports leaks and stale reads).
TEST_P(SpanTreeShapes, CopyAndAssignFromOwnDescendant) {
    const ShapeCase& c = GetParam();
    Shape s = c.build();
    const SpanTree copy = s.tree;
    EXPECT_TRUE(copy == s.tree);

    const std::vector<std::size_t> down(s.path.begin(), s.path.begin() + static_cast<std::ptrdiff_t>(c.keep));
    const SpanTree expected = *follow(s.tree, down);
    s.tree = std::move(*follow(s.tree, down));
    EXPECT_TRUE(s.tree == expected);

    // Built from children it may not take.
    EXPECT_TRUE(SpanTree(copy.span, copy.children) == copy);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SpanTreeShapes,
    ::testing::Values(ShapeCase{"leaf", [] { return Shape{SpanTree(Span{0, 1}), {}}; }, 0},
                      ShapeCase{"wide", [] { return wide(1000); }, 1},
                      ShapeCase{"deep_chain", [] { return chain(200'000, 0, false); }, 3},
                      ShapeCase{"deep_chain_with_sides", [] { return chain(50'000, 2, true); }, 40'000},
                      ShapeCase{"reserved_leaf_at_bottom", [] { return chain(3, 0, true); }, 3}),
    [](const auto& info) { return info.param.name; });

// Freeing without a work list (as a tree dies when memory is exhausted)
// leaves no storage behind, also below the walk's frames.
TEST(SpanTree, ReleaseInPlaceFreesEveryShape) {
    const ShapeCase cases[] = {
        {"leaf", [] { return Shape{SpanTree(Span{0, 1}), {}}; }, 0},
        {"wide", [] { return wide(1000); }, 0},
        {"deep_chain", [] { return chain(3'000, 0, false); }, 0},
        {"deep_chain_with_sides", [] { return chain(2'000, 2, true); }, 0},
        {"reserved_leaf_at_bottom", [] { return chain(3, 0, true); }, 0},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Shape s = c.build();
        s.tree.release_in_place();
        EXPECT_EQ(s.tree.children.data(), nullptr);
        EXPECT_EQ(s.tree.children.size(), 0u);
    }
}

// The children list: every step keeps the entries in order with their own
// children, and leaves nothing behind (the sanitizer build reports leaks and
// stale reads).
TEST(SpanList, StepsKeepEntriesInOrder) {
    using quorvel::syntax::SpanList;
    auto fill = [](SpanList& list, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            list.emplace_back(Span{i, i + 1}, std::vector<SpanTree>{SpanTree(Span{i, i})});
        }
    };
    auto starts = [](const SpanList& list) {
        std::vector<std::size_t> out;
        for (const SpanTree& t : list) {
            EXPECT_EQ(t.children.size(), 1u);
            out.push_back(t.span.start);
        }
        return out;
    };
    struct Case {
        const char* name;
        std::function<void(SpanList&)> step;
        std::vector<std::size_t> want;
    };
    const std::vector<Case> cases = {
        {"grows one by one", [&](SpanList& l) { fill(l, 5); }, {0, 1, 2, 3, 4}},
        {"reserved first", [&](SpanList& l) { l.reserve(3); fill(l, 5); }, {0, 1, 2, 3, 4}},
        {"shrunk", [&](SpanList& l) { fill(l, 5); l.shrink_to_fit(); fill(l, 1); }, {0, 1, 2, 3, 4, 0}},
        {"cleared and refilled", [&](SpanList& l) { fill(l, 5); l.clear(); fill(l, 2); }, {0, 1}},
        {"reset", [&](SpanList& l) { fill(l, 3); l.reset(); }, {}},
        // A full list given one of its own entries: the entry is taken before the room moves.
        {"own entry pushed when full", [&](SpanList& l) { fill(l, 4); l.emplace_back(l[1]); }, {0, 1, 2, 3, 1}},
        {"copied", [&](SpanList& l) { SpanList other; fill(other, 3); l = other; fill(other, 1); }, {0, 1, 2}},
        {"moved", [&](SpanList& l) { SpanList other; fill(other, 3); l = std::move(other); }, {0, 1, 2}},
        {"from a vector", [&](SpanList& l) {
             std::vector<SpanTree> v;
             v.emplace_back(Span{7, 8}, std::vector<SpanTree>{SpanTree(Span{7, 7})});
             l = SpanList(std::move(v));
         }, {7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpanList list;
        c.step(list);
        EXPECT_EQ(starts(list), c.want);
        EXPECT_EQ(list.empty(), c.want.empty());
    }
}

}  // namespace
