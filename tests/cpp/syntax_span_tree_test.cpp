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

}  // namespace
