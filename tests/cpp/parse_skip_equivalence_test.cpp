// The recovery skip passes a plain group, an inert environment or a stretch
// of opening levels in one step. Gone through token by token, the same input
// must give the same document, spans and diagnostics: compared over corpus
// mistakes, wrappings and random nestings, under four configurations.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "corpus_mistakes.hpp"
#include "parse/context.hpp"
#include "parse/grammar/recovery.hpp"
#include "parse/parse.hpp"

namespace quorvel::parse {
namespace {

const ParseContext& context() {
    static const auto built = ParseContextBuilder().build().value();
    return *built;
}

// The parse with the skip going token by token; the one-step passes come
// back however the parse ends.
ParseOutcome parse_stepwise(std::string_view source, const ParseConfig& config) {
    struct Stepwise {
        Stepwise() { grammar::set_stepwise_recovery_skip(true); }
        ~Stepwise() { grammar::set_stepwise_recovery_skip(false); }
    } stepwise;
    return parse_source(context(), source, config);
}

// What differs between two outcomes, or nothing.
std::string difference(const ParseOutcome& a, const ParseOutcome& b) {
    if (a.document.has_value() != b.document.has_value()) return "document";
    if (a.diagnostics.size() != b.diagnostics.size()) return "diagnostic count";
    for (std::size_t i = 0; i < a.diagnostics.size(); ++i) {
        if (!(a.diagnostics[i] == b.diagnostics[i])) return "diagnostic " + a.diagnostics[i].message;
    }
    if (!a.document) return {};
    if (!(a.document->to_syntax() == b.document->to_syntax())) return "tree";
    if (a.document->node_spans() != b.document->node_spans()) return "spans";
    return {};
}

std::vector<ParseConfig> configurations() {
    std::vector<ParseConfig> out(4);
    out[1].reject_unknown = true;
    out[2].abort_on_error = true;
    out[3].max_group_depth = 2;
    return out;
}

// Counts the inputs on which the two ways differ, showing the first few.
std::size_t count_differences(const std::vector<std::string>& inputs) {
    const std::vector<ParseConfig> configs = configurations();
    std::size_t differ = 0;
    for (const std::string& source : inputs) {
        for (std::size_t k = 0; k < configs.size(); ++k) {
            const std::string what =
                difference(parse_source(context(), source, configs[k]), parse_stepwise(source, configs[k]));
            if (what.empty()) continue;
            if (++differ <= 5) ADD_FAILURE() << what << " differs, configuration " << k << ": " << source;
            break;
        }
    }
    return differ;
}

// Levels that nest, each with its closing half, and faults for the bottom:
// groups, arguments with text slots the skip scans, environments and
// `\left`, some of them left open or closed twice.
constexpr std::array<std::array<const char*, 2>, 19> kLevels = {{
    {R"(\frac{)", "$}{}"},
    {R"(\sqrt{)", "#}"},
    {R"(\text{${)", "}$}"},
    {R"(\mbox{${)", "}$}"},
    {R"(\frac{)", R"(\end{x}}{})"},
    {R"(\sqrt{a\over )", "}"},
    {R"(\left()", R"(\right))"},
    {R"(\begin{matrix})", R"(\end{matrix})"},
    {R"(\begin{array}{c})", R"(\end{array})"},
    {"{", "}"},
    {"{", ""},
    {"", "}"},
    {R"(\makebox[)", "]{"},
    {R"(\framebox[)", "}"},
    {R"(\begin{matrix})", ""},
    {R"(\text{)", "}"},
    {R"(#{\makebox[})", ""},
    {R"(\text{\()", "}"},
    {R"(\begin{bmatrix}\text{\()", R"(}\end{bmatrix})"},
}};

constexpr std::array<const char*, 11> kFaults = {
    "}", "$", "#", R"(\right))", R"(\end{x})", "", R"(\makebox[)", "{", "]", R"(\end{matrix})", R"(\framebox[x]{a$b})"};

std::vector<std::string> random_nestings(std::uint32_t seed, std::size_t count) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < count; ++k) {
        std::vector<std::size_t> picks(1 + rng() % 10);
        for (auto& p : picks) p = rng() % kLevels.size();
        std::string source;
        for (const std::size_t p : picks) source += kLevels[p][0];
        source += std::string("z") + kFaults[rng() % kFaults.size()];
        for (std::size_t i = picks.size(); i-- > 0;) source += kLevels[picks[i]][1];
        out.push_back(std::move(source));
    }
    return out;
}

// Inputs where a pass that took a group, an environment or a bracket whole
// hid what the token-by-token skip stops at.
struct SkipCase {
    const char* name;
    const char* source;
    bool document;
    std::vector<Span> diagnostics;  // in order
};

void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.source; }

class OneStepPasses : public ::testing::TestWithParam<SkipCase> {};

TEST_P(OneStepPasses, ReportAsTokenByToken) {
    const SkipCase& c = GetParam();
    const ParseOutcome out = parse_source(context(), c.source, {});
    EXPECT_EQ(difference(out, parse_stepwise(c.source, {})), "");
    EXPECT_EQ(out.document.has_value(), c.document);
    std::vector<Span> spans;
    for (const auto& d : out.diagnostics) spans.push_back(d.span);
    EXPECT_EQ(spans, c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Skip, OneStepPasses,
    ::testing::Values(
        // A failed bracket scan inside a group stops the later scans, so the
        // second bracket does not hide the `\end`.
        SkipCase{"bracket_scan_in_group", R"(\begin{\makebox[}\framebox[\end])", false, {{7, 15}, {27, 31}}},
        // The same within one skip: past the group, the text slot is not
        // taken whole and its `$` stops the skip.
        SkipCase{"bracket_scan_in_group_then_text", R"(#{\makebox[}\framebox[x]{$})", false, {{25, 26}, {0, 1}}},
        SkipCase{"bracket_scan_in_group_then_text_in_argument", R"(\sqrt{#{\makebox[}\framebox[x]{a$b}})", true,
                 {{32, 33}, {6, 7}}},
        // A closed bracket that is not text does not hide a `$`.
        SkipCase{"dollar_in_dimension", R"(\frac{{\makebox[}\makebox[{}$]}{b})", true, {{28, 29}, {16, 16}, {30, 30}}},
        SkipCase{"dollar_after_text_slot", R"(\makebox[2cm]{a $x$ b} $)", false, {{23, 24}}},
        // A bracket left open inside a group ends at the group's `}`; the
        // `\end` after the group is reported.
        SkipCase{"bracket_in_group_then_end", R"(\sqrt{{\makebox[}x\end{y}})", true, {{16, 16}, {18, 22}}},
        // A stretch that opens `\left`, environments and braces in turn,
        // then closings that reach into it: a `\right` its innermost level,
        // an `\end` past a brace that stays open, a `}` past the rest.
        SkipCase{"mixed_stretch_closed_in_turn", R"(#\left(\begin{matrix}{\left(x\right)\end{matrix}\right))", true,
                 {{0, 1}}},
        SkipCase{"mixed_stretch_closed_in_turn_in_argument", R"(\sqrt{#\left(\begin{matrix}{\left(x\right)\end{matrix}\right)})",
                 true, {{5, 62}}},
        SkipCase{"mixed_stretch_end_keeps_brace", R"(#\begin{cases}{\left(x\end{cases}}\right))", false, {{0, 1}, {34, 40}}},
        SkipCase{"mixed_stretch_brace_closes_left", R"(#{\left(\begin{matrix}x}\right)\end{matrix})", false,
                 {{0, 1}, {24, 30}}},
        SkipCase{"mixed_stretch_brace_closes_left_in_argument", R"(\frac{#{\left(\begin{matrix}x}\right)\end{matrix}}{y})",
                 true, {{6, 7}, {30, 36}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PropertyCase {
    const char* name;
    std::size_t line_stride;  // corpus lines: every n-th
};

class SkipEquivalence : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(SkipEquivalence, OneStepEqualsTokenByToken) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < lines->size(); i += GetParam().line_stride) sample.push_back((*lines)[i]);
    std::vector<std::string> inputs = mistakes::corpus_mistakes(sample, 1);
    const std::vector<std::string> wrapped = mistakes::corpus_wrappings(sample, 1);
    inputs.insert(inputs.end(), wrapped.begin(), wrapped.end());
    const std::vector<std::string> nested = random_nestings(GetParam().line_stride, 3000);
    inputs.insert(inputs.end(), nested.begin(), nested.end());
    EXPECT_EQ(count_differences(inputs), 0u) << "of " << inputs.size() << " inputs";
}

INSTANTIATE_TEST_SUITE_P(Corpus, SkipEquivalence, ::testing::Values(PropertyCase{"every_eighth_line", 8}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::parse
