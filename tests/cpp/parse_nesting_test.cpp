// Deep nesting of arguments, groups, text math, \left...\right and
// environments with a fault or an infix at the bottom: the parse takes work
// and memory linear in the depth. Each case runs in a child process under a
// CPU limit, so a family that grows exponentially fails instead of holding
// the suite.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "child_measure.hpp"
#include "cpu_clock.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::expect_linear;
using testing::kRecoveryBound;
using testing::Measure;
using testing::repeat;

std::vector<std::string> lines_of(const char* text) {
    std::vector<std::string> out;
    std::string line;
    for (const char* c = text; *c != 0; ++c) {
        if (*c == '\n') {
            out.push_back(std::move(line));
            line.clear();
        } else {
            line.push_back(*c);
        }
    }
    return out;
}

// What the parse of a nesting n levels deep must give: a document or not,
// `per_level` diagnostics for every level and `extra` more, whose distinct
// messages begin with `messages` (sorted), and never a give-up.
struct Expect {
    bool document;
    std::size_t per_level;
    std::size_t extra;
    std::vector<std::string> messages;
};

void expect_result(const Measure& m, std::size_t n, const Expect& e) {
    SCOPED_TRACE("n = " + std::to_string(n));
    EXPECT_EQ(m.gave_up, 0u);
    EXPECT_EQ(m.document, e.document);
    EXPECT_EQ(m.diagnostics, e.per_level * n + e.extra);
    const std::vector<std::string> messages = lines_of(m.messages);
    ASSERT_EQ(messages.size(), e.messages.size()) << m.messages;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].substr(0, e.messages[i].size()), e.messages[i]);
    }
}

struct NestCase {
    const char* name;
    std::string open;
    std::string middle;
    std::string close;
    std::size_t n;
    Expect expect;
    bool memory = false;
    ParseConfig config{};
    testing::WorkLimits limits{};
};

ParseConfig rejecting_unknown(std::size_t max_group_depth = ParseConfig{}.max_group_depth) {
    ParseConfig config;
    config.reject_unknown = true;
    config.max_group_depth = max_group_depth;
    return config;
}

void PrintTo(const NestCase& c, std::ostream* os) { *os << c.open << "^n " << c.middle << " " << c.close << "^n"; }

constexpr const char* kDollar = "Unexpected $ inside a math formula";
constexpr const char* kStrayBrace = "found '}' expected something else, or end of input";

class NestedFaults : public ::testing::TestWithParam<NestCase> {};

TEST_P(NestedFaults, ParsesInLinearTime) {
    const NestCase& c = GetParam();
    const auto measures =
        expect_linear([&](std::size_t n) { return repeat(c.open, n) + c.middle + repeat(c.close, n); }, c.n, c.memory,
                      c.config, c.limits);
    if (!measures) return;
    expect_result(measures->first, c.n, c.expect);
    expect_result(measures->second, 8 * c.n, c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Families, NestedFaults,
    ::testing::Values(
        // A stray `}` at the bottom of text math inside text arguments: every
        // level's recovery reads the levels below it again.
        NestCase{"text_math_group", R"(\text{${)", "x}", "}$}", 64, {false, 0, 1, {kDollar}}, false, {},
                 kRecoveryBound},
        NestCase{"group_text_math", R"({\text{$)", "x}", "$}}", 64,
                 {false, 0, 2, {kDollar, "found '$' expected something else, or '}'"}}, false, {}, kRecoveryBound},
        NestCase{"mbox_math_group", R"(\mbox{${)", "x}", "}$}", 64, {false, 0, 1, {kDollar}}, false, {},
                 kRecoveryBound},
        NestCase{"array_text_math_group", R"(\begin{array}{c}\text{${)", "x}", R"(}$}\end{array})", 64,
                 {false, 0, 2, {R"(Environment array missing closing \end{array})", kDollar}}, false, {},
                 kRecoveryBound},
        // A fault at the bottom of arguments nested in arguments.
        NestCase{"frac_dollar", R"(\frac{)", "x", "$}{}", 250, {true, 1, 0, {kDollar}}, true},
        NestCase{"sqrt_dollar", R"(\sqrt{)", "x", "$}", 250, {true, 1, 0, {kDollar}}},
        NestCase{"sqrt_dollar_after", R"(\sqrt{)", "x", "}$", 250, {false, 0, 1, {kDollar}}},
        NestCase{"frac_right", R"(\frac{)", "x", R"(\right)}{})", 250,
                 {true, 1, 0, {R"(found '\right' expected something else, or end of input)"}}},
        NestCase{"frac_end", R"(\frac{)", "x", R"(\end{x}}{})", 250,
                 {true, 1, 0, {R"(found '\end' expected something else, or end of input)"}}},
        NestCase{"mathrm_dollar", R"(\mathrm{)", "x", "$}", 250, {true, 1, 0, {kDollar}}},
        NestCase{"sqrt_parameter", R"(\sqrt{)", "x", "#}", 250, {true, 1, 0, {"expected atom or script marker"}}},
        NestCase{"frac_missing_argument", R"(\frac{)", "x", "}", 250,
                 {true, 0, 1, {"found end of input expected mandatory argument in command argument at "}}},
        // Valid: an infix command inside nested arguments.
        NestCase{"infix_before", R"(\sqrt{a\over )", "x", "}", 250, {true, 0, 0, {}}},
        NestCase{"infix_after", R"(\sqrt{)", "x", R"(\over a})", 250, {true, 0, 0, {}}},
        // A fault at the bottom of levels that open `\left`, braces and
        // environments in turn: each failed level's recovery passes the
        // levels below it, which open levels of more than one kind.
        NestCase{"cases_left_dollar", R"(\begin{cases}\left()", "z$", R"(\right)\end{cases})", 200,
                 {false, 1, 1, {kDollar, R"(missing \right for \left-delimited group)"}}, true},
        NestCase{"matrix_left_dollar", R"(\begin{matrix}\left()", "z$", R"(\right)\end{matrix})", 200,
                 {false, 1, 1, {kDollar, R"(missing \right for \left-delimited group)"}}},
        NestCase{"pmatrix_subscript_right", R"(\begin{pmatrix}x_{)", R"(z\right))", R"(}\end{pmatrix})", 250,
                 {false, 0, 3,
                  {R"(Environment pmatrix missing closing \end{pmatrix})", R"(found '\right' expected something else, or '}')",
                   R"(found '\right' expected something else, or end of input)"}},
                 false, rejecting_unknown(1 << 20)},
        NestCase{"aligned_superscript_dollar", R"(\begin{aligned}x^{)", "z$", R"(}\end{aligned})", 250,
                 {false, 0, 3,
                  {R"(Environment aligned missing closing \end{aligned})", kDollar,
                   "found '$' expected something else, or '}'"}},
                 false, rejecting_unknown(1 << 20)},
        NestCase{"mathbb_left_dollar", R"(\mathbb{\left()", "z$", R"(\right)})", 250,
                 {false, 0, 2, {kDollar, R"(missing \right for \left-delimited group)"}}, false, rejecting_unknown()},
        // An environment left open in an argument at every level: each
        // level's recovery passes the levels below it and then their closing
        // braces, with a plain group between them or not.
        NestCase{"mathbb_matrix", R"(\mathbb{\begin{matrix})", "z", "}", 200,
                 {true, 0, 1, {R"(Environment matrix missing closing \end{matrix})"}}},
        NestCase{"frac_matrix", R"(\frac{\begin{matrix})", "z", "}{a}", 200,
                 {true, 0, 1, {R"(Environment matrix missing closing \end{matrix})"}}, false, rejecting_unknown()},
        // The same under a command whose text slot is in its text-mode record
        // alone: the math skip passes it as any command.
        NestCase{"bbb_matrix", R"(\Bbb{\begin{matrix})", "z", "}", 200,
                 {true, 0, 1, {R"(Environment matrix missing closing \end{matrix})"}}},
        // A `\left` left open in an argument at every level: with unknown
        // commands rejected the argument fails, and each level's recovery
        // passes the levels below it, then their closing braces, with the
        // groups of the later arguments between them.
        NestCase{"sqrt_left_open", R"(\sqrt{\left()", "z", "}", 250,
                 {true, 0, 1, {R"(missing \right for \left-delimited group)"}}, false, rejecting_unknown()},
        NestCase{"binom_left_open", R"(\binom{\left()", "z", "}{a}", 250,
                 {true, 0, 1, {R"(missing \right for \left-delimited group)"}}, false, rejecting_unknown()},
        NestCase{"mathchoice_left_open", R"(\mathchoice{\left()", "z", "} {a}{a} {a}", 250,
                 {true, 0, 1, {R"(missing \right for \left-delimited group)"}}, false, rejecting_unknown()},
        // Text math inside a text argument, an opener left open in the math:
        // every failed level's skip goes into the faulty text arguments of
        // the levels below it, or through a group that holds them.
        NestCase{"text_math_superscript", R"(\text{\Bbb{\(x^{)", "z", R"(\)}})", 64,
                 {true, 0, 1, {"unclosed brace argument"}}},
        // Text math inside a text argument, an environment or `\left` left
        // open in the math at every level, or closed outside it: every
        // level's skip stops where the skip of the level below stopped, or
        // goes on from where that one came back to its levels.
        NestCase{"text_math_matrix", R"(\text{\(\begin{matrix})", "z", R"(\)})", 64,
                 {true, 1, 0, {R"(Environment matrix missing closing \end{matrix})"}}, true},
        // Each level takes the faulty text arguments below it whole and
        // reads them again: the recovery budget keeps that linear.
        NestCase{"text_math_matrix_closed_outside", R"(\text{\hphantom{\(\begin{matrix})", "z}",
                 R"(\end{matrix}\)}})", 64, {false, 0, 1, {kStrayBrace}}, true, {}, kRecoveryBound},
        NestCase{"text_math_left_closed_outside", R"(\text{\texttt{\(\left()", "z}", R"(\right)\)}})", 64,
                 {false, 0, 2, {R"(Command \right is not allowed in text mode)", kStrayBrace}}, false,
                 rejecting_unknown()},
        NestCase{"fbox_math_left", R"(\fbox{\(\left()", "z", R"(\)})", 64,
                 {true, 0, 2, {R"(Unknown command: \))", R"(missing \right for \left-delimited group)"}}, false,
                 rejecting_unknown()},
        NestCase{"acomm_text_math", R"(\acomm{\text{\()", "z}", R"(\)}}{a})", 64,
                 {false, 0, 2, {"found '}' expected mandatory argument in command argument at ", kStrayBrace}}},
        NestCase{"text_math_subscript", R"(\text{\textbf{\(x_{)", "z", R"(\)}})", 64,
                 {true, 0, 1, {"unclosed brace argument"}}, false, rejecting_unknown()},
        NestCase{"text_group_math", R"(\text{\Bbb{{\()", "z", R"(\)}})", 64, {true, 0, 1, {"unclosed brace argument"}}},
        NestCase{"text_math_alignment", R"(\text{\Bbb{\(a&)", "z", R"(}\)}})", 64, {false, 0, 1, {kStrayBrace}}},
        NestCase{"mbox_math_alignment", R"(\mbox{\(a&)", "z", R"(}\)})", 64, {false, 0, 1, {kStrayBrace}}},
        NestCase{"makebox_math_alignment", R"(\makebox{\(a&)", "z", R"(}\)})", 64, {false, 0, 1, {kStrayBrace}}, false,
                 rejecting_unknown()},
        NestCase{"hbox_math_newline", R"(\hbox{\(a\\)", "z", R"(}\)})", 64, {false, 0, 1, {kStrayBrace}}, false,
                 rejecting_unknown()},
        NestCase{"qq_math_superscript_bottom", R"(\qq{\(x^{)", "z}", R"(}\)})", 64,
                 {false, 0, 2, {R"(Unknown command: \))", kStrayBrace}}, false, rejecting_unknown()},
        NestCase{"vphantom_left_open", R"(\vphantom{\left()", "z", "}", 250,
                 {true, 0, 1, {R"(missing \right for \left-delimited group)"}}, false, rejecting_unknown()}),
    [](const auto& info) { return info.param.name; });

// A stray `}` halfway down nested environments: each failed level's
// recovery passes the levels below it.
// The skip counts its steps, not the levels it passes, so the fault itself
// is reported, not the nesting.
TEST(NestedEnvironments, StrayBraceParsesInLinearTime) {
    const auto build = [](std::size_t n) {
        return repeat(R"(\begin{matrix})", n) + "a" + repeat(R"(\end{matrix})", n / 2) + "}" +
               repeat(R"(\end{matrix})", n - n / 2);
    };
    const auto measures = expect_linear(build, 250);
    if (measures) {
        const Expect expect{false,
                            0,
                            2,
                            {R"(Environment matrix missing closing \end{matrix})",
                             "found '}' expected something else, or end of input"}};
        expect_result(measures->first, 250, expect);
        expect_result(measures->second, 2000, expect);
    }
    const ParseOutcome out = parse_source(default_context(), build(2000), ParseConfig{});
    ASSERT_FALSE(out.diagnostics.empty());
    EXPECT_EQ(out.diagnostics.front().message, R"(Environment matrix missing closing \end{matrix})");
}

// Nestings drawn at random from the levels above and from valid ones
// (arguments, text math, \left...\right, environments), with one more fault
// token at the bottom: the first n levels against all 8n of the same draw.
struct Layer {
    const char* open;
    const char* close;
};

constexpr std::array<Layer, 13> kLayers = {{
    {R"(\frac{)", "$}{}"},
    {R"(\sqrt{)", "#}"},
    {R"(\text{${)", "}$}"},
    {R"({\text{$)", "$}}"},
    {R"(\mbox{${)", "}$}"},
    {R"(\frac{)", R"(\right)}{})"},
    {R"(\frac{)", R"(\end{x}}{})"},
    {R"(\sqrt{a\over )", "}"},
    {R"(\sqrt{)", R"(\over a})"},
    {R"(\frac{)", "}{x}"},
    {R"(\text{$)", "$}"},
    {R"(\left()", R"(\right))"},
    {R"(\begin{matrix})", R"(\end{matrix})"},
}};

constexpr std::array<const char*, 6> kFaults = {"}", "$", "#", R"(\right))", R"(\end{x})", ""};

class RandomNesting : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(RandomNesting, ParsesInLinearTime) {
    constexpr std::size_t kLevels = 250;
    std::mt19937 rng(GetParam());
    std::vector<const Layer*> layers(8 * kLevels);
    for (auto& layer : layers) layer = &kLayers[rng() % kLayers.size()];
    const std::string fault = kFaults[rng() % kFaults.size()];
    const auto measures = expect_linear(
        [&](std::size_t n) {
            std::string source;
            for (std::size_t i = 0; i < n; ++i) source += layers[i]->open;
            source += "z" + fault;
            for (std::size_t i = n; i-- > 0;) source += layers[i]->close;
            return source;
        },
        kLevels);
    if (!measures) return;
    // Faulty levels are drawn at every depth: each draw reports, and none
    // gives up.
    for (const Measure& m : {measures->first, measures->second}) {
        EXPECT_EQ(m.gave_up, 0u) << m.messages;
        EXPECT_GT(m.diagnostics, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomNesting, ::testing::Range<std::uint32_t>(1, 9));

// `\(` left open in text: each is read as inline math up to the end of its
// text, then as a command. Nested in text arguments, every level read the
// argument below it twice, in the parse that keeps no failures too; in a
// run, every `\(` read the rest of the run. The input is valid (an open `\(`
// in text is a command), so nothing may give up on it.
ParseConfig with_abort() {
    ParseConfig config;
    config.abort_on_error = true;
    return config;
}

ParseConfig with_depth(std::size_t depth) {
    ParseConfig config;
    config.max_group_depth = depth;
    return config;
}

std::string nested(const char* open, const char* middle, const char* close, std::size_t n) {
    return repeat(open, n) + middle + repeat(close, n);
}

constexpr const char* kMissingSuperscript = "Missing superscript content";
constexpr const char* kOpenParenAtEnd = "found end of input expected something else, or )";

struct OpenParenCase {
    const char* name;
    std::string (*build)(std::size_t n);
    std::size_t n;
    ParseConfig config;
    // The diagnostics the parse of 8n reports.
    std::size_t diagnostics = 0;
    bool document = true;
    // The message of the first of them, when given.
    const char* message = nullptr;
};

void PrintTo(const OpenParenCase& c, std::ostream* os) { *os << c.build(2); }

class OpenParenInText : public ::testing::TestWithParam<OpenParenCase> {};

TEST_P(OpenParenInText, ParsesInLinearTimeAndMemory) {
    const OpenParenCase& c = GetParam();
    expect_linear(c.build, c.n, true, c.config);
    const ParseOutcome out = parse_source(default_context(), c.build(8 * c.n), c.config);
    EXPECT_EQ(out.document.has_value(), c.document);
    ASSERT_EQ(out.diagnostics.size(), c.diagnostics);
    if (c.message != nullptr) {
        EXPECT_EQ(out.diagnostics.front().message, c.message);
    }
    for (const ParseDiagnostic& d : out.diagnostics) {
        EXPECT_EQ(d.message.find("too complex"), std::string::npos) << d.message;
        EXPECT_EQ(d.message.find("max nesting depth exceeded"), std::string::npos) << d.message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Families, OpenParenInText,
    ::testing::Values(
        OpenParenCase{"textbf", [](std::size_t n) { return nested(R"(\textbf{\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"textit", [](std::size_t n) { return nested(R"(\textit{\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"textrm", [](std::size_t n) { return nested(R"(\textrm{\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"texttt", [](std::size_t n) { return nested(R"(\texttt{\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"textsf", [](std::size_t n) { return nested(R"(\textsf{\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"textnormal", [](std::size_t n) { return nested(R"(\textnormal{\()", "z", "}", n); }, 200,
                      {}},
        OpenParenCase{"group_textbf", [](std::size_t n) { return nested(R"({\textbf{\()", "z", "}}", n); }, 200, {}},
        OpenParenCase{"textbf_closed_first",
                      [](std::size_t n) { return nested(R"(\textbf{\(x\)\()", "z", "}", n); }, 200, {}},
        OpenParenCase{"textbf_abort", [](std::size_t n) { return nested(R"(\textbf{\()", "z", "}", n); }, 200,
                      with_abort()},
        OpenParenCase{"textbf_depth_4", [](std::size_t n) { return nested(R"(\textbf{\()", "z", "}", n); }, 200,
                      with_depth(4)},
        // A fault at the bottom: the parse that keeps failures shares the
        // arguments; the open `\(` and the missing superscript are reported.
        OpenParenCase{"textbf_fault", [](std::size_t n) { return nested(R"(\textbf{\()", "z^", "}", n); }, 200, {},
                      1},
        OpenParenCase{"run", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}"; }, 500, {}},
        OpenParenCase{"run_spaced", [](std::size_t n) { return R"(\text{)" + repeat(R"( \( )", n) + "}"; }, 500,
                      {}},
        OpenParenCase{"run_abort", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}"; }, 500,
                      with_abort()},
        OpenParenCase{"run_depth_4", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}"; }, 500,
                      with_depth(4)},
        OpenParenCase{"run_fault", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}^"; }, 500, {},
                      1},
        // The parse that keeps failures reads the math of each `\(` once too,
        // and takes what it left in the kept failure again.
        OpenParenCase{"run_fault_abort", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + "}^"; }, 500,
                      with_abort(), 1, false, kMissingSuperscript},
        OpenParenCase{"run_spaced_fault", [](std::size_t n) { return R"(\text{)" + repeat(R"( \( )", n) + "}^"; },
                      500, {}, 1, true, kMissingSuperscript},
        OpenParenCase{"run_spaced_fault_abort",
                      [](std::size_t n) { return R"(\text{)" + repeat(R"( \( )", n) + "}^"; }, 500, with_abort(), 1,
                      false, kMissingSuperscript},
        OpenParenCase{"run_items_fault_abort",
                      [](std::size_t n) { return R"(\text{)" + repeat(R"(\(a)", n) + "}^"; }, 500, with_abort(), 1,
                      false, kMissingSuperscript},
        // The content of every `\(` ends after an infix command, at the end
        // of input, where the text argument misses its brace.
        OpenParenCase{"run_infix", [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + R"(a\over b})"; },
                      500, {}, 1, true, kOpenParenAtEnd},
        OpenParenCase{"run_infix_abort",
                      [](std::size_t n) { return R"(\text{)" + repeat(R"(\()", n) + R"(a\over b})"; }, 500,
                      with_abort(), 1, true, kOpenParenAtEnd}),
    [](const auto& info) { return info.param.name; });

// A script marker without operand before every closing brace: each level's
// Error node covers the levels below it, so its text must not be copied per
// level. Peak memory as well as time stays linear, and every diagnostic is
// the missing operand itself.
ParseConfig deep_groups() {
    ParseConfig config;
    config.max_group_depth = 1 << 20;
    return config;
}

bool gives_up(const ParseOutcome& out) {
    return std::any_of(out.diagnostics.begin(), out.diagnostics.end(), [](const ParseDiagnostic& d) {
        return d.kind == ParseDiagnosticKind::MaxGroupDepthExceeded ||
               d.message.find("too complex") != std::string::npos;
    });
}

struct MissingOperandCase {
    const char* name;
    std::string open;
    std::string close;
    bool deep = false;  // plain groups nest past the default depth limit
};

void PrintTo(const MissingOperandCase& c, std::ostream* os) { *os << c.open << "^n z " << c.close << "^n"; }

class MissingOperandAtEveryLevel : public ::testing::TestWithParam<MissingOperandCase> {};

TEST_P(MissingOperandAtEveryLevel, KeepsPeakMemoryLinear) {
    const MissingOperandCase& c = GetParam();
    const ParseConfig config = c.deep ? deep_groups() : ParseConfig{};
    const auto build = [&](std::size_t n) { return repeat(c.open, n) + "z" + repeat(c.close, n); };
    expect_linear(build, 1000, true, config);
    const ParseOutcome out = parse_source(default_context(), build(300), config);
    ASSERT_TRUE(out.document.has_value());
    ASSERT_FALSE(out.diagnostics.empty());
    for (const ParseDiagnostic& d : out.diagnostics) {
        EXPECT_TRUE(d.message == "Missing subscript content" || d.message == "Missing superscript content")
            << d.message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layers, MissingOperandAtEveryLevel,
    ::testing::Values(MissingOperandCase{"frac_subscript", R"(\frac{)", "_}{y}"},
                      MissingOperandCase{"mathbf_superscript", R"(\mathbf{)", "^}"},
                      MissingOperandCase{"sqrt_superscript", R"(\sqrt{)", "^}"},
                      MissingOperandCase{"overset_subscript", R"(\overset{)", "_}{=}"},
                      MissingOperandCase{"boxed_superscript", R"(\boxed{)", "^}"},
                      MissingOperandCase{"text_math_superscript", R"(\text{$)", "^$}"},
                      MissingOperandCase{"plain_group_superscript", "{", "^}", true}),
    [](const auto& info) { return info.param.name; });

// Unclosed script groups inside nested environments closed halfway: every
// failed environment's recovery passes the run of `\end` headers after it.
TEST(NestedAlignedScripts, ParsesInLinearTime) {
    const auto build = [](std::size_t n) {
        return repeat(R"(\begin{aligned})", n) + repeat("x^{", n) + repeat(R"(\end{aligned})", n / 2);
    };
    expect_linear(build, 250, true);
    const ParseOutcome out = parse_source(default_context(), build(1000), ParseConfig{});
    ASSERT_TRUE(out.document.has_value());
    EXPECT_FALSE(gives_up(out));
    ASSERT_FALSE(out.diagnostics.empty());
    EXPECT_EQ(out.diagnostics.front().message, R"(Environment aligned missing closing \end{aligned})");
}

// A bad token after an environment at every level of nested arguments: each
// level reports its own fault, without indexing the environments of every
// level below it.
TEST(NestedRootMatrices, ReportsEveryLevel) {
    const auto build = [](std::size_t n) {
        return repeat(R"(\sqrt{\begin{matrix})", n) + " z " + repeat(R"(\end{matrix}#})", n);
    };
    expect_linear(build, 250, true);
    constexpr std::size_t kLevels = 1000;
    const ParseOutcome out = parse_source(default_context(), build(kLevels), ParseConfig{});
    ASSERT_TRUE(out.document.has_value());
    EXPECT_FALSE(gives_up(out));
    EXPECT_EQ(out.diagnostics.size(), kLevels);
    for (const ParseDiagnostic& d : out.diagnostics) EXPECT_EQ(d.message, "expected atom or script marker");
}

// Unclosed groups nested deeper than the default limit, with the limit
// raised: no recovery scans every level below it, and nothing gives up.
struct DeepGroupCase {
    const char* name;
    std::string open;
    std::string middle;
    std::string close_each;  // after each level, none for unclosed groups
    std::string close;
    bool document;  // whether the formula has a document (a top-level `$` has none)
};

void PrintTo(const DeepGroupCase& c, std::ostream* os) {
    *os << c.open << " {^n " << c.middle << " " << c.close_each << "^n " << c.close;
}

class DeepUnclosedGroups : public ::testing::TestWithParam<DeepGroupCase> {};

TEST_P(DeepUnclosedGroups, ParseInLinearTimeWithoutGivingUp) {
    const DeepGroupCase& c = GetParam();
    const auto build = [&](std::size_t n) {
        return c.open + repeat("{", n) + c.middle + repeat(c.close_each, n) + c.close;
    };
    expect_linear(build, 2000, true, deep_groups());
    const ParseOutcome out = parse_source(default_context(), build(16000), deep_groups());
    EXPECT_EQ(out.document.has_value(), c.document);
    EXPECT_FALSE(out.diagnostics.empty());
    EXPECT_FALSE(gives_up(out));
}

INSTANTIATE_TEST_SUITE_P(
    Families, DeepUnclosedGroups,
    ::testing::Values(DeepGroupCase{"left_right", R"(\left()", "", "", R"(\right))", true},
                      DeepGroupCase{"left_right_in_matrix", R"(\begin{matrix}\left()", "", "",
                                    R"(\right)\end{matrix})", true},
                      DeepGroupCase{"dollar_in_groups", "", "x$", "}", "", false}),
    [](const auto& info) { return info.param.name; });

// An argument whose closing delimiter is a character, or a faulty text
// argument, nested with a fault at every level: every failed level's
// recovery passes the levels below it, which must not cost a step per level.
constexpr const char* kBraceAtEnd = "found end of input expected something else, or '}'";

INSTANTIATE_TEST_SUITE_P(
    DelimitedArguments, NestedFaults,
    ::testing::Values(
        NestCase{"curl_superscript", R"(\curl(x^{)", "z", ")", 250, {true, 0, 1, {kBraceAtEnd}}},
        NestCase{"qty_group", R"(\qty({)", "z", ")", 250, {true, 0, 1, {kBraceAtEnd}}},
        NestCase{"eval_subscript", R"(\eval(x_{)", "z", "|", 250, {true, 0, 1, {kBraceAtEnd}}},
        NestCase{"grad_subscript_deep", R"(\grad(x_{)", "z", ")", 250, {true, 0, 1, {kBraceAtEnd}}, false,
                 deep_groups()},
        NestCase{"mmltoken_name", R"(\mmlToken{\x}{)", "z", "}", 250,
                 {true, 0, 1, {"escape sequence should not appear in CSName"}}, true, deep_groups()},
        NestCase{"mmltoken_text_math_column", R"(\mmlToken{x}{\(a&)", "z", R"(}\)})", 200,
                 {false, 0, 1, {"found '}' expected something else, or end of input"}}, false, deep_groups()},
        NestCase{"text_mmltoken_superscript", R"(\text{\mmlToken{x}{\(x^{)", "z", R"(\)}})", 200,
                 {true, 0, 1, {"unclosed brace argument"}}, false, deep_groups()},
        NestCase{"text_mmltoken_math_unknown", R"(\text{\mmlToken{x}{\()", "z", "}}", 200,
                 {true, 0, 1, {"found end of input expected something else, or )"}}, false,
                 rejecting_unknown(1 << 20)}),
    [](const auto& info) { return info.param.name; });

// Inline math left open in a text argument at every level: each level's
// recovery meets the levels below it, which it passes in one step once one
// skip has closed them. The work units (deterministic) grow with the depth,
// and the result is the real fault, never a give-up.
struct TextMathCase {
    const char* name;
    std::string open_each;
    std::string close_each;
    bool reject_unknown;
    std::size_t max_group_depth;  // 0 for the default
    const char* message;          // the one diagnostic's
};

void PrintTo(const TextMathCase& c, std::ostream* os) { *os << c.open_each << "^n z " << c.close_each << "^n"; }

class TextMathLeftOpen : public ::testing::TestWithParam<TextMathCase> {};

TEST_P(TextMathLeftOpen, WorkGrowsLinearlyWithTheRealFault) {
    const TextMathCase& c = GetParam();
    ParseConfig config;
    config.reject_unknown = c.reject_unknown;
    if (c.max_group_depth > 0) config.max_group_depth = c.max_group_depth;
    testing::Work work[2];
    const std::size_t levels[2] = {24, 192};
    for (int i = 0; i < 2; ++i) {
        const std::string source = repeat(c.open_each, levels[i]) + "z" + repeat(c.close_each, levels[i]);
        const ParseOutcome out = parse_source(default_context(), source, config);
        work[i] = testing::last_work();
        ASSERT_TRUE(out.document.has_value());
        ASSERT_EQ(out.diagnostics.size(), 1u) << levels[i] << " levels";
        EXPECT_EQ(out.diagnostics.front().message, c.message) << levels[i] << " levels";
    }
    EXPECT_EQ(testing::work_fault(work[0], work[1]), "");
}

constexpr const char* kNoCloseParen = "found end of input expected something else, or )";

INSTANTIATE_TEST_SUITE_P(
    Families, TextMathLeftOpen,
    ::testing::Values(
        TextMathCase{"bmatrix", R"(\begin{bmatrix}\text{\()", R"(}\end{bmatrix})", false, 0,
                     "Environment bmatrix is not allowed in text mode"},
        TextMathCase{"align_star", R"(\begin{align*}\text{\()", R"(}\end{align*})", true, 0, kNoCloseParen},
        TextMathCase{"framebox", R"(\framebox{\()", "}", false, 0, kNoCloseParen},
        TextMathCase{"makebox_deep", R"(\makebox{\()", "}", false, 4096, kNoCloseParen},
        TextMathCase{"textbf", R"(\textbf{\()", "}", true, 0, kNoCloseParen},
        TextMathCase{"mathbb_text_deep", R"(\mathbb{\text{\()", R"(}\)})", false, 4096, kNoCloseParen},
        TextMathCase{"llap_text", R"(\llap{\text{\()", "}}", true, 0, kNoCloseParen}),
    [](const auto& info) { return info.param.name; });

// A construct left open at every level around a `\left...\right` that
// closes, or inside one: each level's skip passes the levels below it,
// which must not cost it a step per level. The work units (deterministic),
// the skips' steps and lookups among them, grow linearly and stay under a
// hundred per token, and every level's fault is reported, with no give-up.
struct OpenAroundCase {
    const char* name;
    std::string open_each;
    std::string close_each;
    ParseConfig config;
    Expect expect;
};

void PrintTo(const OpenAroundCase& c, std::ostream* os) { *os << c.open_each << "^n z " << c.close_each << "^n"; }

class OpenAroundClosedLeft : public ::testing::TestWithParam<OpenAroundCase> {};

TEST_P(OpenAroundClosedLeft, WorkGrowsLinearlyWithEveryFault) {
    const OpenAroundCase& c = GetParam();
    const testing::WorkLimits limits{96, 0};
    const std::size_t levels[2] = {128, 1024};
    testing::Work work[2];
    for (int i = 0; i < 2; ++i) {
        const std::string source = repeat(c.open_each, levels[i]) + "z" + repeat(c.close_each, levels[i]);
        const Measure m = testing::measure(source, c.config, default_context());
        expect_result(m, levels[i], c.expect);
        work[i] = m.work;
    }
    EXPECT_EQ(testing::work_fault(work[0], work[1], limits), "");
}

Expect missing_end(const char* name) {
    return {true, 1, 0, {"Environment " + std::string(name) + " missing closing \\end{" + name + "}"}};
}

INSTANTIATE_TEST_SUITE_P(
    Families, OpenAroundClosedLeft,
    ::testing::Values(
        OpenAroundCase{"matrix", R"(\begin{matrix}\left()", R"(\right))", {}, missing_end("matrix")},
        OpenAroundCase{"aligned", R"(\begin{aligned}\left()", R"(\right))", {}, missing_end("aligned")},
        OpenAroundCase{"array", R"(\begin{array}{c}\left()", R"(\right))", {}, missing_end("array")},
        OpenAroundCase{"cases", R"(\begin{cases}\left()", R"(\right))", {}, missing_end("cases")},
        OpenAroundCase{"smallmatrix", R"(\begin{smallmatrix}\left()", R"(\right))", {}, missing_end("smallmatrix")},
        OpenAroundCase{"inside_left", R"(\left(\begin{aligned})", R"(\right))", {}, missing_end("aligned")},
        // A `\right` leaves the braces opened inside its `\left` open.
        OpenAroundCase{"group_deep",
                       R"({\left()",
                       R"(\right))",
                       deep_groups(),
                       {true,
                        1,
                        0,
                        {R"(found '\right' expected something else, or '}')",
                         "found end of input expected something else, or '}'"}}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel::parse
