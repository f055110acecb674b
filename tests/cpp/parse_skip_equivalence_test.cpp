// The recovery skip passes a plain group, an inert environment, a stretch
// of opening levels or a run of closing braces in one step, and goes from a
// token to where another skip from it stopped. Gone through token by token,
// the same input must give the same document, spans and diagnostics:
// compared over corpus mistakes, wrappings and random nestings, under four
// configurations. Under a small recovery budget, the two differ only where
// the token-by-token skip runs out of it.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "corpus_mistakes.hpp"
#include "parse/context.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse/grammar/recovery.hpp"
#include "parse/parse.hpp"
#include "parse_work.hpp"

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

// The openers of the picked levels, `z` and `fault`, and their closers.
template <std::size_t L>
std::string nesting(const std::array<std::array<const char*, 2>, L>& levels, const std::vector<std::size_t>& picks,
                    const char* fault) {
    std::string source;
    for (const std::size_t p : picks) source += levels[p][0];
    source += std::string("z") + fault;
    for (std::size_t i = picks.size(); i-- > 0;) source += levels[picks[i]][1];
    return source;
}

template <std::size_t L, std::size_t F>
std::vector<std::string> random_nestings(std::uint32_t seed, std::size_t count,
                                         const std::array<std::array<const char*, 2>, L>& levels,
                                         const std::array<const char*, F>& faults, std::size_t most_levels = 10) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < count; ++k) {
        std::vector<std::size_t> picks(1 + rng() % most_levels);
        for (auto& p : picks) p = rng() % levels.size();
        out.push_back(nesting(levels, picks, faults[rng() % faults.size()]));
    }
    return out;
}

std::vector<std::string> random_nestings(std::uint32_t seed, std::size_t count) {
    return random_nestings(seed, count, kLevels, kFaults);
}

// Inputs where a pass that took a group, an environment or a bracket whole
// hid what the token-by-token skip stops at.
struct SkipCase {
    const char* name;
    const char* source;
    bool document;
    std::vector<Span> diagnostics;  // in order
    ParseConfig config{};
};

void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.source; }

ParseConfig rejecting_unknown() {
    ParseConfig config;
    config.reject_unknown = true;
    return config;
}

class OneStepPasses : public ::testing::TestWithParam<SkipCase> {};

TEST_P(OneStepPasses, ReportAsTokenByToken) {
    const SkipCase& c = GetParam();
    const ParseOutcome out = parse_source(context(), c.source, c.config);
    EXPECT_EQ(difference(out, parse_stepwise(c.source, c.config)), "");
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
        SkipCase{"dollar_in_dimension", R"(\frac{{\makebox[}\makebox[{}$]}{b})", true, {{28, 29}, {15, 17}, {30, 30}}},
        SkipCase{"dollar_after_text_slot", R"(\makebox[2cm]{a $x$ b} $)", false, {{23, 24}}},
        // A bracket left open inside a group ends at the group's `}`; the
        // `\end` after the group is reported.
        SkipCase{"bracket_in_group_then_end", R"(\sqrt{{\makebox[}x\end{y}})", true, {{15, 17}, {18, 22}}},
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
                 true, {{6, 7}, {30, 36}}},
        // Braces closing the levels of a mixed stretch, with a plain group,
        // an inert environment and characters between them: the run ends
        // with the last level, and the `}` after it is a stray one.
        SkipCase{"closing_braces_past_groups_and_environments",
                 R"(#{\begin{matrix}{\begin{matrix}x}{a}\begin{matrix}y\end{matrix}b}c})", false, {{0, 1}, {66, 67}}},
        SkipCase{"closing_braces_past_the_levels", R"(\frac{#{{\begin{matrix}{x} } } }}{b})", false,
                 {{32, 33}, {32, 33}}},
        SkipCase{"closing_braces_of_nested_arguments",
                 R"(\mathbb{\begin{matrix}\mathbb{\begin{matrix}\mathbb{\begin{matrix}z} \alpha } [ })", true, {{80, 80}}},
        // A run of `}` passed at once closes no more levels than the skip
        // opened, passes the plain groups and white space between them, and
        // ends at the argument's end.
        SkipCase{"closing_run_past_levels", R"(#{{z}}}})", false, {{0, 1}, {6, 7}}},
        SkipCase{"closing_run_through_plain_groups", R"(#{{z} {a}{b} } {c}}x)", false, {{0, 1}, {18, 19}}},
        SkipCase{"closing_run_in_argument", R"(\frac{#{ {z} } }{b}})", false, {{19, 20}}},
        SkipCase{"closing_run_of_left_in_arguments", R"(\sqrt{\left({\left(\sqrt{\left(z}}}})", false,
                 {{6, 34}, {35, 36}}, rejecting_unknown()},
        SkipCase{"closing_run_of_left_through_groups", R"(\binom{\left(\binom{\left(z}{a}}{a}}})", false,
                 {{7, 31}, {35, 36}}, rejecting_unknown()},
        // A group or a faulty text argument passed whole where nothing in it
        // stops the skip; where a `\)`, `\right` or `\end` in it would, the
        // argument is taken whole too and reports its own faults.
        SkipCase{"faulty_text_arguments_nested", R"(\text{\Bbb{\(x^{\text{\Bbb{\(x^{z\)}}\)}})", true, {{5, 41}}},
        SkipCase{"math_only_command_in_text_argument", R"(\text{\mbox{\(a&\mbox{\(a&z}\)}}\)})", false, {{34, 35}}},
        SkipCase{"bracket_command_without_bracket_in_text_argument", R"(\text{\makebox{\(a&\makebox{\(a&z}\)}}\)})", false,
                 {{40, 41}}},
        SkipCase{"bracket_after_braced_slot_in_inline_math", R"(\text{\(#{\makebox{a}[\)}\)})", true, {{8, 9}, {24, 25}}},
        SkipCase{"group_holding_paren_in_inline_math", R"(\text{\(#{a\)}\)})", true, {{8, 9}, {13, 14}}},
        SkipCase{"text_argument_holding_paren_in_inline_math", R"(\text{\(#{\text{\(a\)}}\)})", true, {{8, 9}}},
        SkipCase{"right_in_faulty_text_argument", R"(\left(#\text{\(a&\right)}\right))", true,
                 {{6, 7}, {17, 23}, {17, 17}, {17, 23}}},
        SkipCase{"end_in_nested_faulty_text_argument", R"(\sqrt{#\text{\(a&\text{\(\end{x}}}})", true,
                 {{6, 7}, {33, 33}, {25, 29}}},
        // A command with a text slot in text mode alone: the math skip passes
        // it, the text skip after it takes its slot, `$` and all.
        SkipCase{"text_slot_of_one_mode", R"(\Bbb{\begin{matrix}z} \text{#\Bbb{a $x$ b}c})", true, {{20, 20}, {28, 29}}},
        // Each level's skip meets the skips of the levels below: it stops
        // where theirs stopped, or goes on from where theirs came back to
        // the levels they had, seeing there what they saw.
        SkipCase{"stop_kept_in_text_arguments",
                 R"(\text{\(\begin{matrix}\text{\(\begin{matrix}\text{\(\begin{matrix}z\)}\)}\)})", true,
                 {{69, 69}, {72, 72}, {75, 75}}},
        SkipCase{"stop_kept_past_the_end_of_an_environment",
                 R"(\text{\(\left(\text{\(\left(\text{\hphantom{\(\begin{matrix}z\end{x}\end{matrix}\)}}\)\)}\)})", true,
                 {{89, 91}, {8, 91}, {61, 68}, {68, 72}, {68, 72}}, rejecting_unknown()},
        SkipCase{"back_to_the_levels_in_text_arguments",
                 R"(\text{\hphantom{\(\begin{matrix}\text{\hphantom{\(\begin{matrix}\text{\hphantom{\(\begin{matrix}z}\end{matrix}\)}}\end{matrix}\)}}\end{matrix}\)}})",
                 false, {{145, 146}}},
        SkipCase{"back_to_the_levels_past_right",
                 R"(\text{\texttt{\(\left(\text{\texttt{\(\left(\text{\texttt{\(\left(z}\right)\)}}\right)\)}}\right)\)}})",
                 false, {{90, 96}, {100, 101}}, rejecting_unknown()},
        // A text skip passes `\)` in a run of closing braces.
        SkipCase{"closing_run_past_paren", R"(\fbox{\(\left(\fbox{\(\left(\fbox{\(\left(z\)}\)}\)})", true,
                 {{49, 51}, {8, 51}}, rejecting_unknown()},
        // A stretch of openers ends where the skip of a level below went on
        // from, and the skip goes on from where that one came back to its
        // levels, with the braces a `\right` left open.
        SkipCase{"stretch_ends_where_a_skip_went_on",
                 R"(\begin{matrix}\left(\begin{matrix}\left(\begin{matrix}\left(z\right)\right)\right))", true,
                 {{68, 68}, {75, 75}, {82, 82}}},
        SkipCase{"went_on_with_braces_left_open", R"({\left({\left({\left(z\right)\right)\right))", true,
                 {{43, 43}, {29, 35}, {36, 42}}},
        SkipCase{"went_on_with_braces_left_open_in_argument", R"(\sqrt{{\left({\left({\left(z\right)\right)\right)})", true,
                 {{5, 50}}}),
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

// Arguments closed by a character (a stretch of the stream runs past their
// window) and text arguments of a command that scans a bracket slot (passed
// whole when nothing in them stops or steers the skip), nested with groups,
// environments, `\left`, brackets and inline math that cross their closings.
constexpr std::array<std::array<const char*, 2>, 18> kDelimitedLevels = {{
    {R"(\curl()", ")"}, {R"(\eval()", "|"}, {R"(\qty()", ")"}, {R"(\mmlToken{x}{)", "}"},
    {R"(\mmlToken{\x}{)", "}"}, {R"(\text{\mmlToken{x}{\()", R"(\)}})"}, {R"(\mmlToken{x}[k=v]{)", "}"},
    {"{", "}"}, {"{", ""}, {"", "}"}, {"(", ")"}, {R"(\left()", R"(\right))"},
    {R"(\begin{matrix})", R"(\end{matrix})"}, {R"(\begin{matrix})", ""}, {"x^{", "}"}, {R"(\()", R"(\))"},
    {R"(\makebox[)", "]{"}, {R"(\text{)", "}"},
}};

constexpr std::array<const char*, 14> kDelimitedFaults = {
    "}", "$", "#", R"(\right))", R"(\end{x})", "", "[", "{", ")", "|", R"(\))", "{)}", R"(\mmlToken{x}[k]{a})",
    R"(\begin{matrix})"};

class DelimitedSkipEquivalence : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(DelimitedSkipEquivalence, OneStepEqualsTokenByToken) {
    const std::vector<std::string> inputs = random_nestings(GetParam(), 1500, kDelimitedLevels, kDelimitedFaults, 8);
    EXPECT_EQ(count_differences(inputs), 0u) << "of " << inputs.size() << " inputs";
}

INSTANTIATE_TEST_SUITE_P(Seeds, DelimitedSkipEquivalence, ::testing::Values(1u, 2u));

// Text arguments holding inline math, with environments and `\left` left
// open or closed outside them, nested a few times each: a skip that stops
// inside the levels below takes the stop another level's skip kept, in
// windows that end at the argument or are cut by a retry on a prefix.
constexpr std::array<std::array<const char*, 2>, 19> kRepeatedLevels = {{
    {R"(\text{\(\begin{matrix})", R"(\)})"}, {R"(\text{\()", R"(\)})"}, {R"(\textrm{\(\begin{matrix})", R"(\)})"},
    {R"(\text{\(\left()", R"(\)})"}, {R"(\fbox{\(\left()", R"(\)})"},
    {R"(\text{\hphantom{\(\begin{matrix})", R"(\end{matrix}\)}})"}, {R"(\mbox{\(a&)", R"(}\)})"},
    {R"(\text{\(x^{)", R"(\)}})"}, {"{", "}"}, {R"(\begin{matrix})", R"(\end{matrix})"},
    {R"(\left()", R"(\right))"}, {R"(\text{)", "}"}, {R"(\makebox[)", "]{"}, {"", R"(\))"}, {"", "}"},
    {R"(\acomm{\text{\()", R"(\)}}{a})"}, {R"(\begin{matrix}\left()", R"(\right))"}, {R"({\left()", R"(\right))"},
    {R"(\left(\begin{aligned})", R"(\right))"},
}};

constexpr std::array<const char*, 10> kRepeatedFaults = {
    "}", "$", R"(\))", R"(\right))", R"(\end{matrix})", "", "{", R"(\end{x})", "#", "&"};

// Runs of one level, each repeated one to four times.
std::vector<std::string> repeated_nestings(std::uint32_t seed, std::size_t count) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < count; ++k) {
        std::vector<std::size_t> picks;
        for (std::size_t runs = 1 + rng() % 3; runs > 0; --runs) {
            const std::size_t level = rng() % kRepeatedLevels.size();
            picks.insert(picks.end(), 1 + rng() % 4, level);
        }
        out.push_back(nesting(kRepeatedLevels, picks, kRepeatedFaults[rng() % kRepeatedFaults.size()]));
    }
    return out;
}

class RepeatedSkipEquivalence : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(RepeatedSkipEquivalence, OneStepEqualsTokenByToken) {
    const std::vector<std::string> inputs = repeated_nestings(GetParam(), 1500);
    EXPECT_EQ(count_differences(inputs), 0u) << "of " << inputs.size() << " inputs";
}

INSTANTIATE_TEST_SUITE_P(Seeds, RepeatedSkipEquivalence, ::testing::Values(1u, 2u));

// Under a small recovery budget the two skips may run out in different
// windows: a stretch passed in one step, or a jump to where another skip
// stopped, counts fewer steps than walking it (the budget counts the work
// done, and a jump saves the walk; counting the walk would make the nestings
// the jumps keep linear reach the budget). So the one-step skip runs out
// later, or not at all. What holds: it runs out only on inputs where the
// token-by-token skip runs out too, and a skip that does not run out reports
// as with the full budget. The two then differ only where the token-by-token
// skip ran out.
struct SmallBudget {
    grammar::detail::RecoveryBudgetScale old;
    explicit SmallBudget(std::size_t units)
        : old(std::exchange(grammar::detail::recovery_budget_scale, grammar::detail::RecoveryBudgetScale{0, units})) {}
    ~SmallBudget() { grammar::detail::recovery_budget_scale = old; }
};

bool ran_out() { return (testing::last_work().reached & grammar::detail::kRecoveryBudget) != 0; }

class SmallBudgetSkipEquivalence : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SmallBudgetSkipEquivalence, OneStepRunsOutOnlyWhereTokenByTokenDoes) {
    std::vector<std::string> inputs = random_nestings(3, 600);
    const std::vector<std::string> repeated = repeated_nestings(3, 400);
    inputs.insert(inputs.end(), repeated.begin(), repeated.end());
    const std::vector<ParseConfig> configs = configurations();
    std::size_t failures = 0;
    std::size_t walk_alone = 0;  // parses where only the token-by-token skip ran out
    for (const std::string& source : inputs) {
        for (std::size_t k = 0; k < configs.size(); ++k) {
            const ParseOutcome full = parse_source(context(), source, configs[k]);
            const SmallBudget small(GetParam());
            const ParseOutcome one_step = parse_source(context(), source, configs[k]);
            const bool one_step_ran_out = ran_out();
            const ParseOutcome stepwise = parse_stepwise(source, configs[k]);
            const bool stepwise_ran_out = ran_out();
            walk_alone += stepwise_ran_out && !one_step_ran_out;
            std::string fault;
            if (one_step_ran_out && !stepwise_ran_out) fault = "only the one-step skip ran out";
            // Without running out, each reports as with the full budget.
            const std::string one_step_differs = one_step_ran_out ? "" : difference(one_step, full);
            const std::string stepwise_differs = stepwise_ran_out ? "" : difference(stepwise, full);
            if (!one_step_differs.empty()) fault = "one-step skip: " + one_step_differs;
            if (!stepwise_differs.empty()) fault = "token-by-token skip: " + stepwise_differs;
            if (!fault.empty() && ++failures <= 5) ADD_FAILURE() << fault << ", configuration " << k << ": " << source;
        }
    }
    EXPECT_EQ(failures, 0u);
    // The larger budget is still small enough that walking runs out where
    // jumping does not; at the smallest both run out on nearly every fault.
    if (GetParam() >= 64) {
        EXPECT_GT(walk_alone, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Budgets, SmallBudgetSkipEquivalence, ::testing::Values(2u, 64u));

// Where the skips of the levels below are short, going to where one stopped
// or was back counts the steps it took, as walking there does: the one-step
// skip runs out of a small budget where the token-by-token skip does, with
// the same outcome. Counted as one step, it would read on.
struct ShortKeptCase {
    const char* name;
    const char* source;
    std::size_t budget;
};

void PrintTo(const ShortKeptCase& c, std::ostream* os) { *os << c.source << " (budget " << c.budget << ")"; }

class ShortKeptSkips : public ::testing::TestWithParam<ShortKeptCase> {};

TEST_P(ShortKeptSkips, RunOutWhereTokenByTokenDoes) {
    const ShortKeptCase& c = GetParam();
    const SmallBudget small(c.budget);
    const ParseOutcome one_step = parse_source(context(), c.source, {});
    EXPECT_TRUE(ran_out());
    const ParseOutcome stepwise = parse_stepwise(c.source, {});
    EXPECT_TRUE(ran_out());
    EXPECT_EQ(difference(one_step, stepwise), "");
}

INSTANTIATE_TEST_SUITE_P(
    Nestings, ShortKeptSkips,
    ::testing::Values(
        ShortKeptCase{"text_math_scripts", R"(\text{\(x^{\text{\(x^{\text{\(x^{z\)}}\)}}\)}})", 32},
        ShortKeptCase{"scripts_around_left_aligned", R"(\text{\(x^{\text{\(x^{\left(\begin{aligned}z\)\right)\)}}\)}})",
                      32},
        ShortKeptCase{"text_math_around_matrix_left",
                      R"(\text{\(\text{\(\text{\(\begin{matrix}\left(\begin{matrix}\left(\begin{matrix}\left(z\right)\right)\right)\right)\)}\)}\)})",
                      64},
        ShortKeptCase{"fbox_left_matrix_left",
                      R"(\fbox{\(\left(\begin{matrix}\left(\begin{matrix}\left(\begin{matrix}\left(\left(z&\right)\right)\right)\right)\)})",
                      64},
        ShortKeptCase{"scripts_around_text_dollar",
                      R"(\text{\(x^{\text{\(x^{\text{\(x^{\text{\(x^{\text{\text{z$}}\)}}\)}}\)}}\)}})", 128}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::parse
