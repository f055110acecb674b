#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse/grammar/tracked.hpp"

namespace {

using quorvel::parse::ParseFailure;
using quorvel::parse::Span;
using quorvel::parse::grammar::FailureList;

FailureList failures(const std::vector<std::string>& messages) {
    FailureList out;
    for (const std::string& m : messages) out.push_back(ParseFailure::custom(Span{0, 1}, m));
    return out;
}

std::vector<std::string> messages(FailureList list) {
    std::vector<std::string> out;
    for (const ParseFailure& f : std::move(list).take()) out.push_back(f.display());
    return out;
}

std::vector<std::string> numbered(std::size_t from, std::size_t to) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < to; ++i) out.push_back("m" + std::to_string(i));
    return out;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct AppendCase {
    std::string name;
    std::vector<std::string> into;
    std::vector<std::string> more;
    std::vector<std::string> expected;
};

class FailureListAppend : public ::testing::TestWithParam<AppendCase> {};

TEST_P(FailureListAppend, TakesInOrderWithoutRepeatsAndEmptiesTheSource) {
    const AppendCase& c = GetParam();
    FailureList into = failures(c.into);
    FailureList more = failures(c.more);
    into.append(std::move(more));
    EXPECT_EQ(messages(std::move(into)), c.expected);
    EXPECT_TRUE(more.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lists, FailureListAppend,
    ::testing::Values(AppendCase{"both_empty", {}, {}, {}},
                      AppendCase{"nothing_to_add", {"a"}, {}, {"a"}},
                      AppendCase{"one_into_empty", {}, {"a"}, {"a"}},
                      AppendCase{"repeats_within_the_source", {}, {"a", "b", "a"}, {"a", "b"}},
                      AppendCase{"repeats_of_the_target", {"a", "b"}, {"b", "c", "a"}, {"a", "b", "c"}},
                      // Past the pairwise limit the match runs through a hash index.
                      AppendCase{"many", numbered(0, 30), concat(numbered(20, 50), numbered(45, 55)),
                                 numbered(0, 55)}),
    [](const auto& info) { return info.param.name; });

// A copy shares the failures: what is added to one list later is not seen by
// the other, however the two were joined before.
TEST(FailureListSharing, CopiesDoNotSeeLaterAdditions) {
    FailureList base = failures({"a", "b"});
    FailureList copy = base;
    base.push_back(ParseFailure::custom(Span{0, 1}, "c"));
    copy.append(failures({"d"}));
    FailureList joined = base;
    joined.append(FailureList(copy));
    joined.push_back(ParseFailure::custom(Span{0, 1}, "e"));
    EXPECT_EQ(messages(base), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(messages(copy), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(messages(joined), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

// Lists joined hundreds of thousands of levels deep, as nested arguments
// join them, are taken and freed without recursion.
TEST(FailureListSharing, DeepJoinsTakeAndFree) {
    constexpr std::size_t kLevels = 300'000;
    constexpr std::size_t kMarkEvery = 1'000;
    const FailureList shared = failures({"a"});
    FailureList left_deep;
    FailureList right_deep;
    FailureList kept;
    std::vector<std::string> marks{"a"};
    std::vector<std::string> kept_marks;
    for (std::size_t i = 0; i < kLevels; ++i) {
        left_deep.append(FailureList(shared));
        if (i % kMarkEvery == 0) {
            marks.push_back("m" + std::to_string(i));
            left_deep.push_back(ParseFailure::custom(Span{0, 1}, marks.back()));
        }
        FailureList outer(shared);
        outer.append(std::move(right_deep));
        right_deep = std::move(outer);
        if (i == kLevels / 2) {
            kept = left_deep;
            kept_marks = marks;
        }
    }
    left_deep.push_back(ParseFailure::custom(Span{0, 1}, "b"));
    marks.push_back("b");
    EXPECT_EQ(messages(std::move(left_deep)), marks);
    EXPECT_EQ(messages(std::move(right_deep)), (std::vector<std::string>{"a"}));
    // Taking and freeing the longer list leaves the half it shared whole,
    // without what was added after the copy.
    EXPECT_EQ(messages(std::move(kept)), kept_marks);
}

// Long lists go on in blocks; every way of taking the items out gives them
// all, in order, each with its own span.
using quorvel::parse::grammar::DecomposedChildren;
using quorvel::parse::grammar::TrackedNode;
using quorvel::syntax::SyntaxNode;

DecomposedChildren items(std::size_t from, std::size_t to) {
    DecomposedChildren out;
    for (std::size_t i = from; i < to; ++i) out.push(TrackedNode::leaf(SyntaxNode::Prime{i}, Span{i, i + 1}));
    return out;
}

// The items' numbers in order, checked against their spans.
std::vector<std::size_t> numbers(std::vector<quorvel::syntax::ParsedBlock> blocks) {
    std::vector<std::size_t> out;
    for (const auto& b : blocks) {
        EXPECT_EQ(b.nodes.size(), b.spans.size());
        for (std::size_t i = 0; i < b.nodes.size(); ++i) {
            const std::size_t n = b.nodes[i].get_if<SyntaxNode::Prime>()->count;
            EXPECT_EQ(b.spans[i].span, (Span{n, n + 1}));
            out.push_back(n);
        }
    }
    return out;
}

TEST(DecomposedChildren, LongListsKeepEveryItemInOrder) {
    struct Case {
        const char* name;
        std::size_t first;   // items pushed first
        std::size_t second;  // items appended from another list
        bool flatten;
        std::size_t min_blocks;
    };
    const std::size_t block = std::size_t{1} << 16;
    const Case cases[] = {
        {"short", 10, 0, false, 1},
        {"one full block", block, 0, false, 1},
        {"just past a block", block + 1, 0, false, 2},
        {"several blocks", 5 * block + 7, 0, false, 3},
        {"several blocks flattened", 5 * block + 7, 0, true, 1},
        {"short list appended to a long one", 2 * block, 3, false, 2},
        {"long list appended to a short one", 3, 2 * block, false, 2},
        {"two long lists", block + 5, block + 9, true, 1},
        {"into an empty list", 0, block + 1, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecomposedChildren list = items(0, c.first);
        list.append(items(c.first, c.first + c.second));
        const std::size_t total = c.first + c.second;
        ASSERT_EQ(list.size(), total);
        EXPECT_EQ(list.extent(Span{9, 9}), (Span{0, total}));
        if (c.flatten) {
            list.flatten();
            EXPECT_EQ(list.nodes.size(), total);
        }
        quorvel::syntax::ParsedRoot root;
        std::move(list).take_blocks(root);
        std::vector<quorvel::syntax::ParsedBlock> blocks = std::move(root.blocks);
        blocks.push_back(std::move(root.last));
        EXPECT_GE(blocks.size(), c.min_blocks);
        EXPECT_TRUE(list.empty());
        std::vector<std::size_t> want(total);
        for (std::size_t i = 0; i < total; ++i) want[i] = i;
        EXPECT_EQ(numbers(std::move(blocks)), want);
    }
}

}  // namespace
