#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parse/grammar/tracked.hpp"

namespace {

using quorvel::parse::ParseFailure;
using quorvel::parse::Span;
using quorvel::parse::grammar::extend_unique_diagnostics;
using quorvel::parse::grammar::FailureList;

FailureList failures(const std::vector<std::string>& messages) {
    FailureList out;
    for (const std::string& m : messages) out.push_back(ParseFailure::custom(Span{0, 1}, m));
    return out;
}

std::vector<std::string> messages(const FailureList& list) {
    std::vector<std::string> out;
    for (const ParseFailure& f : list) out.push_back(f.display());
    return out;
}

std::vector<std::string> numbered(std::size_t from, std::size_t to) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < to; ++i) out.push_back("m" + std::to_string(i));
    return out;
}

struct ExtendCase {
    std::string name;
    std::vector<std::string> into;
    std::vector<std::string> more;
    std::vector<std::string> expected;
};

class ExtendUnique : public ::testing::TestWithParam<ExtendCase> {};

TEST_P(ExtendUnique, AppendsUnmatchedInOrderAndEmptiesTheSource) {
    const ExtendCase& c = GetParam();
    FailureList into = failures(c.into);
    FailureList more = failures(c.more);
    extend_unique_diagnostics(into, std::move(more));
    EXPECT_EQ(messages(into), c.expected);
    EXPECT_TRUE(more.empty());
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ExtendUnique,
    ::testing::Values(ExtendCase{"both_empty", {}, {}, {}},
                      ExtendCase{"nothing_to_add", {"a"}, {}, {"a"}},
                      ExtendCase{"one_into_empty", {}, {"a"}, {"a"}},
                      ExtendCase{"duplicates_within_the_source", {}, {"a", "b", "a"}, {"a", "b"}},
                      ExtendCase{"duplicates_of_the_target", {"a", "b"}, {"b", "c", "a"}, {"a", "b", "c"}},
                      // Past the pairwise limit the match runs through a hash index.
                      ExtendCase{"many", numbered(0, 30), concat(numbered(20, 50), numbered(45, 55)),
                                 numbered(0, 55)}),
    [](const auto& info) { return info.param.name; });

// Lists merged item by item keep the hashes of their failures across merges;
// a failure changed in place is matched by what it holds now, and a list that
// kept hashes brings them along when it is merged.
TEST(ExtendUnique, KeptHashesFollowTheFailures) {
    auto merged_one_by_one = [](std::size_t from, std::size_t to) {
        FailureList out;
        for (const std::string& m : numbered(from, to)) extend_unique_diagnostics(out, failures({m, m}));
        return out;
    };
    FailureList into = merged_one_by_one(0, 40);
    EXPECT_EQ(messages(into), numbered(0, 40));
    into[5] = ParseFailure::custom(Span{0, 1}, "changed");
    extend_unique_diagnostics(into, failures({"changed", "m5", "m6"}));
    std::vector<std::string> expected = numbered(0, 40);
    expected[5] = "changed";
    expected.push_back("m5");
    EXPECT_EQ(messages(into), expected);
    extend_unique_diagnostics(into, merged_one_by_one(35, 80));
    expected = concat(expected, numbered(40, 80));
    EXPECT_EQ(messages(into), expected);
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
