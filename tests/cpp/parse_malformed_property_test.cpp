// Over every corpus formula and mistakes made from them: a document that
// comes with a diagnostic holds an Error node, its written text keeps every
// content character of the source, and written text reads back to itself.
//
// The sanitized suite checks a one- and a two-edit mistake for every second
// corpus line (about 33,500); `bench/malformed_census` runs the same checks
// over four mistakes for every line. No written text is excused from reading
// back to itself, not even one whose Error leaves a brace open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus_mistakes.hpp"
#include "malformed_invariants.hpp"
#include "parse/context.hpp"

namespace quorvel {
namespace {

const parse::ParseContext& context() {
    static const auto built = parse::ParseContextBuilder().build().value();
    return *built;
}

struct PropertyCase {
    const char* name;
    std::size_t mistakes_per_line;  // 0: the corpus lines themselves
    std::size_t line_stride;        // every n-th line
};

class MalformedProperty : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(MalformedProperty, KeepsTheSource) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    const PropertyCase& c = GetParam();
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < lines->size(); i += c.line_stride) sample.push_back((*lines)[i]);
    const std::vector<std::string> inputs =
        c.mistakes_per_line == 0 ? sample : mistakes::corpus_mistakes(sample, c.mistakes_per_line);

    std::size_t failures = 0;
    for (const auto& source : inputs) {
        const auto outcome = parse::parse_source(context(), source, {});
        const auto check = invariants::check_parse(context(), source, outcome);
        if (check.violation == invariants::Violation::None) continue;
        // A few examples say more than thousands of lines.
        if (++failures <= 5) {
            ADD_FAILURE() << "violation " << static_cast<int>(check.violation) << "\n  source:  " << source
                          << "\n  written: " << check.written << "\n  again:   " << check.rewritten;
        }
    }
    EXPECT_EQ(failures, 0u) << "of " << inputs.size() << " inputs";
}

INSTANTIATE_TEST_SUITE_P(Corpus, MalformedProperty,
                         ::testing::Values(PropertyCase{"corpus", 0, 1}, PropertyCase{"mistakes", 2, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
