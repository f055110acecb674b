// The parse fuzzer's checks (invariants::check_source: the same outcome when
// failures are kept from the start, spans inside the source, no diagnostic
// twice, an Error node for every diagnostic, every character kept, written
// text a fixed point), replayed over what the fuzzers found, the sweep's
// nestings at small sizes, and seeded soups of the tokens that open and
// close recovery's constructs.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "malformed_invariants.hpp"
#include "nesting_sweep.hpp"
#include "parse/context.hpp"

namespace quorvel {
namespace {

using invariants::Fault;

const parse::ParseContext& context() {
    static const auto built = parse::ParseContextBuilder().build().value();
    return *built;
}

std::string describe(const std::string& source, const invariants::Finding& f) {
    return std::string(invariants::to_string(f.fault)) + " (" + invariants::to_string(f.check.violation) +
           ", abort_on_error=" + (f.config.abort_on_error ? "1" : "0") +
           ", reject_unknown=" + (f.config.reject_unknown ? "1" : "0") + ")\n  source:  " + source +
           "\n  written: " + f.check.written + "\n  again:   " + f.check.rewritten;
}

std::string repeated(std::string_view piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
}

struct Regression {
    const char* name;
    std::string source;
    bool abort_on_error = false;
    bool reject_unknown = false;
};

const std::vector<Regression>& regressions() {
    static const std::vector<Regression> all = {
        // U+2019 is read as a prime and written `'`; U+00A0 is white space.
        {"right_quote_prime", "f\xE2\x80\x99(x)+g\xE2\x80\x99\xE2\x80\x99"},
        {"right_quote_after_caret", "x^\xE2\x80\x99"},
        {"right_quote_in_text", "\\text{it\xE2\x80\x99s}"},
        {"no_break_space", "a\xC2\xA0" "+\xC2\xA0" "b"},
        {"backslash_right_quote", "\\\xE2\x80\x99 x"},
        // Deep enough to run on fresh stack segments, whatever the stack.
        {"left_3000", repeated("\\left(", 3000)},
        {"frac_unclosed_3000", repeated("\\frac{", 3000)},
        {"text_math_300", repeated("\\text{$", 300) + "x" + repeated("$}", 300)},
        // A `\(` the math does not close is read as a command: what the
        // math's recovery reported goes with it.
        {"text_inline_math_dollars", "\\text{\\({$$}}"},
        {"text_inline_math_paren_math", "\\text{\\({\\(x\\)}}"},
        {"text_inline_math_end", "\\text{\\({\\(\\)}\\end}"},
        // A prime on an empty base after an Error that ends in `_`.
        {"subscript_caret_prime", "_^'"},
        {"subscript_caret_primes", "x_^{''}"},
        // A faulty text argument is taken whole by the skip of the fault
        // around it.
        {"soup_left_frac_text", "\\left(\\\\x_\\right)\\frac{}\\left(\\frac{\\)\\text{\\right)"},
        {"soup_frac_textbf_mbox", "\\frac{^^}\\left(\\textbf{\\right)\\mbox{x}{^"},
        // A space alone in a text group reads back as itself.
        {"space_alone_in_text_group", "\\text{{ }}"},
        {"spaces_alone_in_text_groups", "\\textbf{\\textit y{  }}\\text{a{ }b}"},
        // A caret and a prime with a comment between them meet: the writer
        // takes the caret away.
        {"caret_comment_prime", "^%\n'"},
        {"caret_comment_text_prime", "x^%a\n'"},
        // An Error in a bracket argument is written as it stood, never
        // braced: braced, it gained a level at every reading.
        {"error_in_bracket_argument",
         R"(\text{$\left(\text{$\mbox{${\mbox{${\sqrt[\sqrt[\text{a{\it {a\over \textbf{\text{a{\it {a\over )"
         R"(\text{$\text{a{\it \sqrt[\begin{matrix}\sqrt{\text{a{\it \frac{\sqrt{\mbox{${\text{a{\it )"
         R"(\textbf{\sqrt[z\right)]{y}}} b}}$}}}{x}} b}}\end{matrix}]{y}} b}$}}} b}}}} b}]{y}]{y}}$}}$}$}\right)$})",
         true},
        // An empty delimiter argument is the null delimiter, written `.`.
        {"genfrac_empty_delimiters", "\\genfrac{}{}{0pt}{}{a}{b}"},
        {"genfrac_space_delimiter", "\\genfrac{ }{(}{1pt}{1}{z}{a}"},
        {"genfrac_empty_delimiter_then_stray_parens", "\\genfrac{}({}({1pt}{1}{z}{a}"},
        {"genfrac_space_delimiter_nested",
         repeated("\\genfrac{(}{(}{1pt}{1}{", 4) + "\\genfrac{ }{(}{1pt}{1}{" +
             repeated("\\genfrac{(}{(}{1pt}{1}{\\begin{matrix}", 3) + "z#" + repeated("\\end{matrix}}{a}", 3) +
             "}{a}" + repeated("}{a}", 4)},
        // A `[` after `\\` that opens no dimension leaves no failure for
        // the item after it: written, the `[` stands apart and reads back
        // without one.
        {"unknown_command_after_line_break_bracket", "\\\\[\\y]", false, true},
        {"nested_brackets_after_line_break", "]\\\\[\\[\\y[\\,]]Y", false, true},
        {"line_break_bracket_then_end", "]\\\\[\\\\end{env}\\\\acos[\\\\[\\y[\\,]]", false, true},
        // Spacing before a closing brace after an unknown control symbol
        // (an Error node): a plain space, which reads back as itself; after
        // an unknown control word, a control space.
        {"error_control_symbol_then_space", "\\textbf { \\textit {\\) } } x", false, true},
        {"error_control_word_then_space", "\\textbf { \\textit {\\yy } } x", false, true},
    };
    return all;
}

class FuzzReplay : public ::testing::TestWithParam<Regression> {};

TEST_P(FuzzReplay, KeepsEveryInvariant) {
    const Regression& c = GetParam();
    parse::ParseConfig config;
    config.abort_on_error = c.abort_on_error;
    config.reject_unknown = c.reject_unknown;
    const auto finding = invariants::check_source(context(), c.source, config);
    EXPECT_EQ(finding.fault, Fault::None) << describe(c.source, finding);
    EXPECT_TRUE(invariants::diagnostics_in_error_nodes(parse::parse_source(context(), c.source, config)));
}

INSTANTIATE_TEST_SUITE_P(Found, FuzzReplay, ::testing::ValuesIn(regressions()),
                         [](const auto& info) { return std::string(info.param.name); });

// The fuzzers' seeds from the sweep, at one and three levels, each under the
// configuration the sweep gives it; in shards, each a test of its own, so
// that no one test runs long.
constexpr std::size_t kSweepShards = 3;

class FuzzReplaySweep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FuzzReplaySweep, SmallNestingsKeepEveryInvariant) {
    using namespace parse::sweep;
    const std::vector<Layer> layers = all_layers();
    const std::vector<Sweep> all = sweeps(layers);
    std::size_t failures = 0;
    std::size_t checked = 0;
    std::set<std::string> seen;
    for (const std::size_t levels : {1, 3}) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::string source = build(all[i], levels, i);
            if (!seen.insert(source).second || seen.size() % kSweepShards != GetParam()) continue;
            ++checked;
            const auto finding = invariants::check_source(context(), source, config_of(all[i].config));
            if (finding.fault != Fault::None && ++failures <= 5) ADD_FAILURE() << describe(source, finding);
        }
    }
    EXPECT_EQ(failures, 0u) << "of " << checked << " nestings";
}

INSTANTIATE_TEST_SUITE_P(Shards, FuzzReplaySweep, ::testing::Range<std::size_t>(0, kSweepShards));

// ---- Token soups ----------------------------------------------------------------

// The pieces of the soups: openings and closings of the constructs recovery
// reads again, and the items that end or split them.
constexpr const char* kPieces[] = {
    "\\text{", "\\(", "\\)", "{", "}", "$", "$$", "\\end", "\\begin{matrix}", "\\left(", "\\right)", "\\frac{",
    "}{", "^", "_", "'", "&", "\\\\",
};

// splitmix64: the same soups from every standard library.
std::uint64_t next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

std::string soup(std::uint64_t& state) {
    constexpr std::size_t kCount = sizeof(kPieces) / sizeof(kPieces[0]);
    const std::size_t pieces = 3 + next(state) % 10;
    std::string out;
    for (std::size_t i = 0; i < pieces; ++i) out += kPieces[next(state) % kCount];
    return out;
}

// Taken in shards of the same sequence, each a test of its own.
constexpr std::size_t kSoups = 60000;
constexpr std::size_t kSoupShards = 4;

class FuzzReplaySoup : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FuzzReplaySoup, SoupsKeepEveryInvariant) {
    const std::size_t from = GetParam() * kSoups / kSoupShards;
    const std::size_t to = (GetParam() + 1) * kSoups / kSoupShards;
    std::uint64_t state = 3;
    for (std::size_t i = 0; i < from; ++i) (void)soup(state);
    std::size_t failures = 0;
    for (std::size_t i = from; i < to; ++i) {
        const std::string source = soup(state);
        for (const bool abort_on_error : {false, true}) {
            parse::ParseConfig config;
            config.abort_on_error = abort_on_error;
            const auto finding = invariants::check_source(context(), source, config);
            if (finding.fault != Fault::None) {
                if (++failures <= 10) ADD_FAILURE() << describe(source, finding);
            } else if (!invariants::diagnostics_in_error_nodes(parse::parse_source(context(), source, config))) {
                if (++failures <= 10) ADD_FAILURE() << source << ": a diagnostic outside every Error node";
            }
        }
    }
    EXPECT_EQ(failures, 0u) << "of " << 2 * (to - from) << " parses";
}

INSTANTIATE_TEST_SUITE_P(Shards, FuzzReplaySoup, ::testing::Range<std::size_t>(0, kSoupShards));

}  // namespace
}  // namespace quorvel
