// Commands and environments a caller declares, in every argument form, inside
// input that keeps recovery busy: a fault, levels left open around the
// caller's argument (`{`, `\left(`, `\begin{matrix}`, `\text{`), closers
// inside it. No parse may crash, and a parse that finds a fault says so.
#include <gtest/gtest.h>

#include <cstdint>
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
        // A fence inside a text argument whose delimiters pair past that
        // argument's end: not an argument the skip enters. Each has a stray
        // closer, which ends the parse.
        {"crossed_fence", line('c', 'm', "cmd", "r():T"), R"(#\text{\cmd(}}))", false},
        {"crossed_angle_fence", line('c', 'm', "cmd", "r\\langle\\rangle:T"), R"(#\text{\cmd\langle}}\rangle)", false},
        {"crossed_mbox_fence", line('c', 'm', "cmd", "r\\langle\\rangle:T"), R"(#\mbox{\cmd\langle}}\rangle)", false},
        {"crossed_reversed_fence", line('c', 'b', "cmd", "r)(:T"), R"(&#\left\text{\cmd))\)x}(}\over[\left()", false},
        {"crossed_starred_fence", line('c', 'b', "cmd", "s r<[,]><\\{,\\}>:T"),
         R"(&\text{\mbox{\cmd*\{})#\right)\}#\over)", false},
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

// ---- Seeded soups around caller items --------------------------------------------------

// Every argument form a caller can declare, with the fences of its first
// argument; each form is also taken text-valued, and after a star.
struct Form {
    const char* argspec;
    const char* open;
    const char* close;
};

constexpr Form kCommandForms[] = {
    {"m", "{", "}"},        {"m{}", "{", "}"},      {"o", "[", "]"},
    {"O{x}", "[", "]"},     {"g", "{", "}"},        {"G{x}", "{", "}"},
    {"r()", "(", ")"},      {"r||", "|", "|"},      {"r{}", "{", "}"},
    {"r$$", "$", "$"},      {"r)(", ")", "("},      {"r\\langle\\rangle", "\\langle", "\\rangle"},
    {"r<(,)><[,]>", "[", "]"}, {"r<(,)><[,]>", "(", ")"}, {"r<[,]><\\{,\\}>", "\\{", "\\}"},
    {"d()", "(", ")"},      {"D<[,]>{x}", "[", "]"}, {"R||{x}", "|", "|"},
    {"!o", "[", "]"},       {"m o", "{", "}"},      {"r() m", "(", ")"},
};
constexpr const char* kEnvironmentForms[] = {"", "m", "o", "r()", "r||", "r<(,)><[,]>", "g"};
constexpr char kModes[] = {'m', 't', 'b'};

TEST(CallerItemSoup, EveryFormIsDeclared) {
    for (const Form& form : kCommandForms) {
        for (const char* kind : {"", ":T"}) {
            EXPECT_TRUE(knowledge::parse_arg_specs(std::string(form.argspec) + kind, "test")) << form.argspec << kind;
        }
    }
    for (const char* form : kEnvironmentForms) EXPECT_TRUE(knowledge::parse_arg_specs(form, "test")) << form;
}

// A fault that sends recovery skipping, levels left open before the
// caller's item, what stands inside its argument or body (closers of those
// levels among it), and the pieces that follow.
constexpr const char* kFaults[] = {"#", "&", "\\\\", "^^", "_", "\\left", "}", "\\right)"};
constexpr const char* kOpeners[] = {
    "{", "{", "\\left(", "\\left", "\\left[", "\\begin{matrix}", "\\text{", "\\mbox{", "\\(", "$",
    "\\frac{", "x^{", "\\text{}", "x", "#",
};
constexpr const char* kInside[] = {
    "}", "}", "}", "\\right)", "\\right]", "\\end{matrix}", "\\)", "$", "{", "x", "#", "\\(", "\\text{",
    "\\begin{matrix}", "\\left(", "&", "]", ")", "|",
};
constexpr const char* kPieces[] = {
    "{", "}", "}", "\\text{", "\\left(", "\\right)", "\\right]", "\\begin{matrix}", "\\end{matrix}", "\\(",
    "\\)", "$", "#", "&", "\\\\", "^", "x", "}{", "\\over", "(", ")", "[", "]", "|", "\\cmd", "\\end{env}",
};

// splitmix64: the same soups from every standard library.
std::uint64_t next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

template <class T, std::size_t N>
const T& draw(std::uint64_t& state, const T (&from)[N]) {
    return from[next(state) % N];
}

template <std::size_t N>
void append(std::string& out, std::uint64_t& state, const char* const (&from)[N], std::size_t most) {
    for (std::size_t n = next(state) % (most + 1); n > 0; --n) out += draw(state, from);
}

struct Declared {
    std::string items;  // a command and an environment
    Form form;          // of the command
};

Declared declare(std::uint64_t& state) {
    const Form& form = draw(state, kCommandForms);
    std::string command = form.argspec;
    if (next(state) % 2 != 0) command += ":T";
    if (next(state) % 4 == 0) command = "s " + command;
    std::string environment = draw(state, kEnvironmentForms);
    if (!environment.empty() && next(state) % 2 != 0) environment += ":T";
    const char body = next(state) % 2 != 0 ? 'E' : 'e';
    return {line('c', draw(state, kModes), "cmd", command) + line(body, draw(state, kModes), "env", environment),
            form};
}

// Maybe a fault, open levels, the command on a fenced argument or the
// environment, then anything.
std::string soup(std::uint64_t& state, const Form& form) {
    std::string out;
    if (next(state) % 2 != 0) out += draw(state, kFaults);
    append(out, state, kOpeners, 4);
    if (next(state) % 3 != 0) {
        out += next(state) % 4 == 0 ? "\\cmd*" : "\\cmd";
        out += form.open;
        append(out, state, kInside, 4);
        if (next(state) % 4 != 0) out += form.close;
    } else {
        out += "\\begin{env}";
        append(out, state, kInside, 4);
        out += "\\end{env}";
    }
    append(out, state, kPieces, 6);
    return out;
}

constexpr std::size_t kParsers = 240;
constexpr std::size_t kSoupsPerParser = 60;
constexpr std::size_t kShards = 4;

class CallerItemSoup : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CallerItemSoup, EveryFaultIsReported) {
    std::uint64_t state = 53 + GetParam();
    std::size_t failures = 0;
    for (std::size_t p = 0; p < kParsers / kShards; ++p) {
        const Declared declared = declare(state);
        auto parser = caller_items::build_parser(caller_items::decode(declared.items).items);
        ASSERT_TRUE(parser) << declared.items;
        for (std::size_t i = 0; i < kSoupsPerParser; ++i) {
            const std::string source = soup(state, declared.form);
            for (const bool abort_on_error : {false, true}) {
                parse::ParseConfig config;
                config.abort_on_error = abort_on_error;
                const auto out = parse::parse_source(parser->context(), source, config);
                const std::string fault = unreported_fault(out);
                if (!fault.empty() && ++failures <= 10)
                    ADD_FAILURE() << fault << "\n  items: " << declared.items << "  source: " << source;
            }
        }
    }
    EXPECT_EQ(failures, 0u);
}

INSTANTIATE_TEST_SUITE_P(Shards, CallerItemSoup, ::testing::Range<std::size_t>(0, kShards));

}  // namespace
}  // namespace quorvel
