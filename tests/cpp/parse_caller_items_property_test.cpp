// Commands and environments a caller declares, in every argument form, inside
// input that keeps recovery busy: a fault, levels left open around the
// caller's argument (`{`, `\left(`, `\begin{matrix}`, `\text{`), closers
// inside it. No parse may crash, and a parse that finds a fault says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "caller_items.hpp"
#include "malformed_invariants.hpp"
#include "parse/parse.hpp"

namespace quorvel {
namespace {

using caller_items::line;

struct Outcome {
    parse::ParseOutcome parse;
    bool built = false;
};

Outcome parse_with_items(const std::string& items, const std::string& source, const parse::ParseConfig& config = {}) {
    auto parser = caller_items::build_parser(caller_items::decode(items).items);
    if (!parser) return {};
    return {parse::parse_source(parser->context(), source, config), true};
}

// A fault shows as an Error node or as no document at all; either way the
// caller is told.
std::string unreported_fault(const parse::ParseOutcome& out) {
    const bool faulty = !out.document || out.document->has_errors();
    if (faulty && out.diagnostics.empty())
        return out.document ? "an Error node and no diagnostic" : "no document and no diagnostic";
    if (!faulty && !out.diagnostics.empty()) return "a diagnostic and no Error node";
    return "";
}

// ---- Inputs that once read past the recovery's level stack ----------------------------

struct Replay {
    const char* name;
    std::string items;  // item lines, as the parse fuzzer reads them
    const char* source;
    bool document = true;  // false where a stray `}` ends the parse
};

void PrintTo(const Replay& r, std::ostream* os) { *os << r.source; }

const std::string kEnvText = line('E', 'm', "env", "");

const std::vector<Replay>& replays() {
    static const std::vector<Replay> all = {
        // A fence that does not balance its braces: a `}` inside it closes
        // levels opened before it.
        {"paren_fence", line('c', 'm', "cmd", "r():T"), R"(#{\left(\text{}{\cmd(}}\right)c)d\right)}})"},
        {"paired_bracket", line('c', 'm', "cmd", "r<(,)><[,]>:T"), R"(#{\left(\text{}{\cmd[}}\right)]\right))"},
        {"bar_fence", line('c', 'b', "cmd", "r||:T"), R"(&\text{}{{\left[\cmd|d}{\begin{matrix}}}$|}d)"},
        {"paired_inline_math", line('c', 'm', "cmd", "r<(,)><[,]>:T"), R"(&{\(\left[{\cmd[\(}}}}\(}\right]}})"},
        {"paired_inline_math_both", line('c', 'b', "cmd", "r<(,)><[,]>:T"), R"(&{\(\left[{\cmd[\(}}}}\(}\right]}})"},
        {"bracket_pair", line('c', 'b', "cmd", "r<[,]>:T"), R"(\\{\left(\left(\cmd[}}\)]}}])", false},
        // A text body inside a text argument that fails to read.
        {"text_body_left_text", kEnvText, R"({\left\text{\begin{env}{{\end{env}}}}})"},
        {"text_body_left_paren_text", kEnvText, R"({\left(\text{\begin{env}{{\end{env}}}}})"},
        {"text_body_left_mbox", kEnvText, R"({\left\mbox{\begin{env}{{\end{env}}}}})"},
        {"text_body_text_argument", line('E', 'm', "env", "m:T"), R"({\left\text{\begin{env}{{\end{env}}}}})"},
    };
    return all;
}

class CallerItemReplay : public ::testing::TestWithParam<Replay> {};

TEST_P(CallerItemReplay, ReturnsTheDocumentWithItsDiagnostics) {
    const Replay& r = GetParam();
    for (const bool abort_on_error : {false, true}) {
        parse::ParseConfig config;
        config.abort_on_error = abort_on_error;
        const Outcome out = parse_with_items(r.items, r.source, config);
        ASSERT_TRUE(out.built);
        EXPECT_FALSE(out.parse.diagnostics.empty());
        EXPECT_EQ(unreported_fault(out.parse), "");
        if (!abort_on_error && r.document) {
            ASSERT_TRUE(out.parse.document);
            EXPECT_TRUE(invariants::diagnostics_in_error_nodes(out.parse));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Found, CallerItemReplay, ::testing::ValuesIn(replays()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A caller's text environment in text ------------------------------------------------

// The fault in its body is reported, though the item is read where a `\(`
// would have been tried first.
struct TextBodyCase {
    const char* name;
    const char* source;
    const char* diagnostic;
};

void PrintTo(const TextBodyCase& c, std::ostream* os) { *os << c.source; }

class CallerTextBodyInText : public ::testing::TestWithParam<TextBodyCase> {};

TEST_P(CallerTextBodyInText, ReportsTheFaultInItsBody) {
    const TextBodyCase& c = GetParam();
    const Outcome out = parse_with_items(line('E', 'b', "env", ""), c.source);
    ASSERT_TRUE(out.built);
    ASSERT_TRUE(out.parse.document);
    ASSERT_EQ(out.parse.diagnostics.size(), 1u);
    EXPECT_EQ(out.parse.diagnostics[0].message, c.diagnostic);
    EXPECT_TRUE(invariants::diagnostics_in_error_nodes(out.parse));
}

INSTANTIATE_TEST_SUITE_P(
    Found, CallerTextBodyInText,
    ::testing::Values(
        TextBodyCase{"script", R"(\text{\begin{env}^\end{env}})", "Scripted syntax is not allowed in Text mode"},
        TextBodyCase{"script_in_group", R"(\text{{\begin{env}^\end{env}}})",
                     "Scripted syntax is not allowed in Text mode"},
        TextBodyCase{"nested", R"(\text{\begin{env}\begin{env}^\end{env}\end{env}})",
                     "Scripted syntax is not allowed in Text mode"},
        TextBodyCase{"left_in_mbox", R"(\mbox{\begin{env}\left(\end{env}})",
                     "Command \\left is not allowed in text mode"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
