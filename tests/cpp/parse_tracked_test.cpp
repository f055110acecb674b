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

}  // namespace
