// Commands and their arguments: slots by form and value kind, token
// collection, scalar values, the re-parse of content in true source
// positions, infix arguments and \buildrel, and deep or repeated arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "parse_work.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::repeat;
using testing::diag;
using N = syntax::SyntaxNode;
namespace sn = syntax::syntax_node;

// ---- Printing ---------------------------------------------------------------------
//
// The support printer's notation, with each command's slots after its name:
// {v} mandatory, [v] optional, [-] absent, G{v} group, D(v) / P(v) delimited
// and paired with their delimiters, * / (no*) a star, ! before a slot without
// leading space. Scalar values carry their kind: D: delimiter, N: name,
// L: dimension, I: integer, K: key-value, C: column; T: and O: mark text and
// operator-name content.

void print(std::string& out, const N& node);

void print_delimiter(std::string& out, const sn::Delimiter& d) {
    if (d.is_none()) {
        out += ".";
    } else if (const auto* c = d.as_char()) {
        utf8::append(out, c->value);
    } else {
        out += "\\" + d.as_control()->name;
    }
}

void print_value(std::string& out, const sn::ArgumentValue& value) {
    using V = sn::ArgumentValue;
    const auto& v = value.value;
    if (const auto* content = value.content()) {
        if (std::holds_alternative<V::TextContent>(v)) out += "T:";
        if (std::holds_alternative<V::OperatorNameContent>(v)) out += "O:";
        print(out, *content);
    } else if (const auto* d = std::get_if<V::Delimiter>(&v)) {
        out += "D:";
        print_delimiter(out, d->value);
    } else if (const auto* x = std::get_if<V::CSName>(&v)) {
        out += "N:" + x->value;
    } else if (const auto* x = std::get_if<V::Dimension>(&v)) {
        out += "L:" + x->value;
    } else if (const auto* x = std::get_if<V::Integer>(&v)) {
        out += "I:" + x->value;
    } else if (const auto* x = std::get_if<V::KeyVal>(&v)) {
        out += "K:" + x->value;
    } else if (const auto* x = std::get_if<V::Column>(&v)) {
        out += "C:" + x->value;
    }
}

void print_args(std::string& out, const sn::ArgumentSlots& args) {
    using K = sn::ArgumentKind;
    for (const auto& slot : args) {
        if (!slot) {
            out += "[-]";
            continue;
        }
        if (slot->no_leading_space) out += "!";
        const auto& k = slot->kind.value;
        if (const auto* b = std::get_if<sn::ArgumentValue::Boolean>(&slot->value.value)) {
            out += b->value ? "*" : "(no*)";
        } else if (std::holds_alternative<K::Optional>(k)) {
            out += "[";
            print_value(out, slot->value);
            out += "]";
        } else if (const auto* d = slot->kind.as_delimited()) {
            out += "D";
            print_delimiter(out, d->open);
            print_value(out, slot->value);
            print_delimiter(out, d->close);
        } else if (const auto* p = slot->kind.as_paired()) {
            out += "P";
            print_delimiter(out, p->open);
            print_value(out, slot->value);
            print_delimiter(out, p->close);
        } else {
            out += std::holds_alternative<K::Group>(k) ? "G{" : "{";
            print_value(out, slot->value);
            out += "}";
        }
    }
}

void print_children(std::string& out, const std::vector<N>& children) {
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) out += " ";
        print(out, children[i]);
    }
}

void print(std::string& out, const N& node) {
    if (const auto* r = node.get_if<N::Root>()) {
        out += r->mode == syntax::ContentMode::Math ? "math[" : "text[";
        print_children(out, r->children);
        out += "]";
    } else if (const auto* g = node.get_if<N::Group>()) {
        if (g->mode == syntax::ContentMode::Text) out += "T";
        const char* open = g->kind.is_implicit() ? "<" : g->kind.is_inline_math() ? "$" : "{";
        const char* close = g->kind.is_implicit() ? ">" : g->kind.is_inline_math() ? "$" : "}";
        out += open;
        print_children(out, g->children);
        out += close;
    } else if (const auto* c = node.get_if<N::Command>()) {
        out += "\\" + c->name.str() + (c->known ? "" : "?");
        print_args(out, c->args);
    } else if (const auto* d = node.get_if<N::Declarative>()) {
        out += "\\" + d->name.str() + "!decl";
        print_args(out, d->args);
    } else if (const auto* inf = node.get_if<N::Infix>()) {
        out += inf->name;
        print_args(out, inf->args);
        out += "(";
        print(out, *inf->left);
        out += "|";
        print(out, *inf->right);
        out += ")";
    } else if (const auto* s = node.get_if<N::Scripted>()) {
        print(out, *s->base);
        if (s->subscript) {
            out += "_";
            print(out, *s->subscript);
        }
        if (s->superscript) {
            out += "^";
            print(out, *s->superscript);
        }
    } else if (const auto* e = node.get_if<N::Error>()) {
        out += "!\"" + e->message.str() + "\"|\"" + e->snippet.str() + "\"!";
    } else if (const auto* t = node.get_if<N::Text>()) {
        out += "\"" + t->value.str() + "\"";
    } else if (const auto* ch = node.get_if<N::Char>()) {
        utf8::append(out, ch->value);
    } else {
        out += testing::tree(node);
    }
}

std::string tree(const syntax::document::Document& doc) {
    std::string out;
    print(out, doc.to_syntax());
    return out;
}

std::string all_spans(const syntax::document::Document& doc) {
    std::string out;
    for (const auto& entry : doc.node_spans()) {
        if (!out.empty()) out += " ";
        out += entry.id + "=" + std::to_string(entry.span.start) + ".." + std::to_string(entry.span.end);
    }
    return out;
}

std::vector<std::string> diagnostics(const ParseOutcome& out) {
    std::vector<std::string> got;
    for (const auto& d : out.diagnostics) got.push_back(diag(d));
    return got;
}

// ---- Contexts ------------------------------------------------------------------------

ContextItem command(std::string name, std::string argspec, knowledge::AllowedMode mode = knowledge::AllowedMode::Both) {
    CommandItem item;
    item.name = std::move(name);
    item.argspec = std::move(argspec);
    item.kind_or_body = static_cast<std::uint8_t>(knowledge::CommandKind::Prefix);
    item.allowed_mode = mode;
    return ContextItem::command(std::move(item));
}

// The default packages and one command per slot shape under test.
const ParseContext& slot_context() {
    static const std::shared_ptr<const ParseContext> context = [] {
        ParseContextBuilder b;
        for (auto [name, spec] : std::initializer_list<std::pair<const char*, const char*>>{
                 {"cs", "s m"},           {"co", "o m"},        {"cp", "r<(,)><[,]>"}, {"cpo", "d<(,)><[,]> m"},
                 {"cdo", "o:L m"},        {"cdm", "m:L"},       {"cdn", "m:L?"},       {"cint", "m:I"},
                 {"cio", "o:I? m"},       {"cg", "m{}"},        {"cgo", "g m"},        {"cbar", "r||"},
                 {"cpar", "r()"},         {"cn", "m:N"},        {"con", "o:N?"},       {"crn", "r():N"},
                 {"crl", "r():L"},        {"cri", "r():I"},     {"ck", "m:K"},         {"ckn", "m:K?"},
                 {"cko", "o:K m"},        {"crk", "r():K"},     {"ccol", "m:C"},       {"crc", "r():C"},
                 {"cdel", "m:D"},         {"cdeln", "m:D?"},    {"cdelo", "o:D m"},    {"cgd", "m{}:D"},
                 {"cnls", "!o m"},        {"ct", "m:T"},        {"cto", "o:T"},        {"cangle", "r\\langle\\rangle"},
                 {"cop", "m:O"}}) {
            b.item(command(name, spec));
        }
        ContextItem declarative = command("cdecl", "m:L");
        declarative.item.kind_or_body = static_cast<std::uint8_t>(knowledge::CommandKind::Declarative);
        b.item(std::move(declarative));
        return b.build().value();
    }();
    return *context;
}

// With recovery off the slot's failure is the parse's only diagnostic.
const ParseConfig aborting = [] {
    ParseConfig c;
    c.abort_on_error = true;
    return c;
}();

ParseConfig with(bool reject_unknown, bool abort_on_error) {
    ParseConfig c;
    c.reject_unknown = reject_unknown;
    c.abort_on_error = abort_on_error;
    return c;
}

// ---- Whole parses ---------------------------------------------------------------------

struct Case {
    const char* name;
    std::string source;
    std::string tree;  // "" when no document is expected
    std::vector<std::string> diagnostics;  // {"*"} to leave them unchecked
    ParseConfig config = {};
    std::string spans = {};  // "" to leave the spans unchecked
};

std::string case_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.source; }

void check(const ParseContext& context, const Case& c) {
    ParseOutcome out = parse_source(context, c.source, c.config);
    if (c.tree.empty()) {
        if (out.document) ADD_FAILURE() << tree(*out.document);
    } else {
        ASSERT_TRUE(out.document) << ::testing::PrintToString(diagnostics(out));
        EXPECT_EQ(tree(*out.document), c.tree);
        if (!c.spans.empty()) {
            EXPECT_EQ(all_spans(*out.document), c.spans);
        }
    }
    if (c.diagnostics != std::vector<std::string>{"*"}) {
        EXPECT_EQ(diagnostics(out), c.diagnostics);
    }
}

class SlotForms : public ::testing::TestWithParam<Case> {};
TEST_P(SlotForms, ReadBySpec) { check(slot_context(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Forms, SlotForms,
    ::testing::Values(
        Case{"star_absent", "\\cs x", "math[\\cs(no*){x}]", {}},
        Case{"star_present", "\\cs*x", "math[\\cs*{x}]", {}},
        Case{"star_after_space", "\\cs *x", "math[\\cs*{x}]", {}},
        Case{"optional_absent_before_brace", "\\co{a}", "math[\\co[-]{<a>}]", {}},
        Case{"optional_filled", "\\co[a]{b}", "math[\\co[<a>]{<b>}]", {}},
        Case{"no_leading_space_sees_space", "\\cnls [a]{b}", "math[\\cnls[-]{[} a ] {b}]", {}},
        Case{"no_leading_space_flag_copied", "\\cnls[a]{b}", "math[\\cnls![<a>]{<b>}]", {}},
        Case{"paired_takes_second_pair", "\\cp[a]", "math[\\cpP[<a>]]", {}},
        Case{"paired_first_pair", "\\cp(a)", "math[\\cpP(<a>)]", {}},
        Case{"paired_missing", "\\cp x", "math[!\"missing required paired argument\"|\"\\cp x\"!]",
             {"argument-validation 4..4 missing required paired argument"}},
        Case{"paired_optional_absent", "\\cpo x", "math[\\cpo[-]{x}]", {}},
        Case{"group_filled", "\\cg{x}", "math[\\cgG{<x>}]", {}},
        Case{"group_missing", "\\cg x", "math[!\"missing required braced group argument\"|\"\\cg x\"!]",
             {"argument-validation 4..4 missing required braced group argument"}},
        Case{"group_optional_absent", "\\cgo x", "math[\\cgo[-]{x}]", {}},
        Case{"delimited_same_delimiters", "\\cbar|a|b|", "math[\\cbarD|<a>| b |]", {}},
        Case{"delimited_nested", "\\cpar(a(b)c)", "math[\\cparD(<a ( b ) c>)]", {}},
        // The window ends before `)`: the `{` inside is unclosed there.
        Case{"delimited_ignores_braces", "\\cpar(a{)",
             "math[\\cparD(<a !\"found end of input expected something else, or '}'\"|\"{\"!>)]",
             {"raw-expected-found 8..8 Unclosed { ... } group"}},
        Case{"delimited_control_words", "\\cangle\\langle x\\rangle", "math[\\cangleD\\langle<x>\\rangle]", {}},
        Case{"delimited_missing", "\\cpar x", "math[!\"missing required delimited argument\"|\"\\cpar x\"!]",
             {"argument-validation 6..6 missing required delimited argument"}},
        Case{"text_slot_unbraced", "\\ct x", "math[\\ct{T:\"x\"}]", {}},
        Case{"text_slot_optional", "\\cto[a b]", "math[\\cto[T:T<\"a b\">]]", {}},
        Case{"operator_name", "\\cop{sin}", "math[\\cop{O:<s i n>}]", {}}),
    case_name);

class ScalarValues : public ::testing::TestWithParam<Case> {};
TEST_P(ScalarValues, ReadByKind) { check(slot_context(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Values, ScalarValues,
    ::testing::Values(
        Case{"dimension_braced", "\\cdm{1pt}", "math[\\cdm{L:1pt}]", {}},
        Case{"dimension_spaced", "\\cdm{ -1.5 em }", "math[\\cdm{L:-1.5em}]", {}},
        Case{"dimension_bare", "\\cdm.5cm x", "math[\\cdm{L:.5cm} x]", {}},
        Case{"dimension_no_digits", "\\cdm{pt}", "", {"argument-validation 5..7 invalid dimension"}, aborting},
        Case{"dimension_no_unit", "\\cdm 1",
             "math[!\"unsupported dimension unit\"|\"\\cdm 1\"!]",
             {"argument-validation 5..6 unsupported dimension unit"}},
        Case{"dimension_nullable_empty", "\\cdn{}", "math[\\cdn{L:}]", {}},
        Case{"dimension_optional_not_a_dimension", "\\cdo[abc]x", "math[\\cdo[-]{[} a b c ] x]", {}},
        Case{"dimension_optional", "\\cdo[ 2mm ]x", "math[\\cdo[L:2mm]{x}]", {}},
        Case{"dimension_delimited_invalid", "\\crl(1xy)",
             "math[!\"invalid dimension argument\"|\"\\crl(1xy)\"!]",
             {"argument-validation 9..9 invalid dimension argument"}},
        Case{"dimension_delimited", "\\crl( 3 pt )", "math[\\crlD(L:3pt)]", {}},
        Case{"integer_empty_before_letter", "\\cint x", "math[\\cint{I:} x]", {}},
        Case{"integer_nullable_optional_empty", "\\cio[]x", "math[\\cio[I:]{x}]", {}},
        Case{"integer_delimited_invalid", "\\cri(1.5)",
             "math[!\"invalid integer argument\"|\"\\cri(1.5)\"!]",
             {"argument-validation 9..9 invalid integer argument"}},
        Case{"keyval", "\\ck{ a=1, b={2,3} }", "math[\\ck{K:a=1, b={2,3}}]", {}},
        Case{"keyval_trailing_comma", "\\ck{a=1,}", "", {"argument-validation 3..9 keyval missing value"}, aborting},
        Case{"keyval_not_braced", "\\ck x",
             "math[!\"found 'x' expected expected keyval argument in command argument at 4..4\"|\"\\ck x\"!]",
             {"argument-validation 4..4 found 'x' expected expected keyval argument in command argument at 4..4"}},
        Case{"keyval_nullable_blank", "\\ckn{  }", "math[\\ckn{K:}]", {}},
        Case{"keyval_blank_not_nullable", "\\ck{  }", "", {"argument-validation 3..7 keyval missing value"}, aborting},
        Case{"keyval_unbalanced", "\\crk(a=})", "", {"argument-validation 9..9 unbalanced brace in keyval"}, aborting},
        Case{"keyval_optional", "\\cko[a = b]x", "math[\\cko[K:a = b]{x}]", {}},
        Case{"column", "\\ccol{ c|l }", "math[\\ccol{C:c|l}]", {}},
        Case{"column_bracketed_where_braced", "\\ccol[cc]",
             "math[!\"found '[' expected expected column argument in command argument at 5..5\"|\"\\ccol[cc]\"!]",
             {"argument-validation 5..5 found '[' expected expected column argument in command argument at 5..5"}},
        Case{"column_rejected", "\\ccol{cq}", "", {"argument-validation 5..9 Illegal pream-token (q)"}, aborting},
        Case{"column_delimited_rejected", "\\crc(q)",
             "math[!\"Illegal pream-token (q)\"|\"\\crc(q)\"!]",
             {"argument-validation 7..7 Illegal pream-token (q)"}},
        Case{"cs_name_braced", "\\cn{foo}", "math[\\cn{N:foo}]", {}},
        Case{"cs_name_single_token", "\\cn x", "math[\\cn{N:x}]", {}},
        Case{"cs_name_escape", "\\cn{\\foo}",
             "",
             {"argument-validation 9..9 escape sequence should not appear in CSName"},
             aborting},
        Case{"cs_name_control_token", "\\cn\\alpha",
             "math[!\"escape sequence should not appear in CSName\"|\"\\cn\\alpha\"!]",
             {"argument-validation 9..9 escape sequence should not appear in CSName"}},
        Case{"cs_name_end_of_input", "\\cn",
             "math[!\"missing required CSName argument\"|\"\\cn\"!]",
             {"argument-validation 3..3 missing required CSName argument"}},
        Case{"cs_name_nullable_blank", "\\con[ ]", "math[\\con[N:]]", {}},
        Case{"cs_name_delimited_escape", "\\crn(\\foo)",
             "math[!\"escape sequence should not appear in CSName\"|\"\\crn(\\foo)\"!]",
             {"argument-validation 10..10 escape sequence should not appear in CSName"}},
        Case{"delimiter_bare", "\\cdel(", "math[\\cdel{D:(}]", {}},
        Case{"delimiter_braced_control", "\\cdel{ \\langle }", "math[\\cdel{D:\\langle}]", {}},
        Case{"delimiter_dot_is_none", "\\cdel.", "math[\\cdel{D:.}]", {}},
        Case{"delimiter_refused", "\\cdel x",
             "math[!\"found 'x' expected '{', or delimiter in command argument at 6..6\"|\"\\cdel x\"!]",
             {"argument-validation 6..7 found 'x' expected '{', or delimiter in command argument at 6..6"}},
        Case{"delimiter_nullable_empty", "\\cdeln{}", "math[\\cdeln{D:.}]", {}},
        Case{"delimiter_optional_not_a_delimiter", "\\cdelo[x]y", "math[\\cdelo[-]{[} x ] y]", {}},
        Case{"delimiter_optional", "\\cdelo[|]y", "math[\\cdelo[D:|]{y}]", {}},
        Case{"delimiter_group_form", "\\cgd{ < }", "math[\\cgdG{D:<}]", {}},
        Case{"delimiter_group_form_invalid", "\\cgd{<<}",
             "",
             {"argument-validation 8..8 invalid delimiter argument"},
             aborting}),
    case_name);


ParseConfig max_depth(std::size_t depth) {
    ParseConfig c;
    c.max_group_depth = depth;
    return c;
}

class ContentArguments : public ::testing::TestWithParam<Case> {};
TEST_P(ContentArguments, ReparsedInPlace) { check(default_context(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Content, ContentArguments,
    ::testing::Values(
        Case{"braced", "\\frac{a}{b}",
             "math[\\frac{<a>}{<b>}]",
             {},
             {},
             "root=0..11 root.child.0=0..11 root.child.0.arg.0.content=6..7 root.child.0.arg.0.content.child.0=6..7 r"
             "oot.child.0.arg.1.content=9..10 root.child.0.arg.1.content.child.0=9..10"},
        Case{"space_before_first", "\\frac {a}{b}", "math[\\frac{<a>}{<b>}]", {}},
        Case{"space_between", "\\frac{a} {b}", "math[\\frac{<a>}{<b>}]", {}},
        Case{"unbraced_digits", "\\frac12",
             "math[\\frac{1}{2}]",
             {},
             {},
             "root=0..7 root.child.0=0..7 root.child.0.arg.0.content=5..6 root.child.0.arg.1.content=6..7"},
        Case{"unbraced_scripted", "\\sqrt ^2 x", "math[\\sqrt[-]{<>^2} x]", {}},
        Case{"unbraced_refuses_infix", "\\sqrt\\over x",
             "math[!\"found '\\over' expected mandatory argument in command argument at 5..5\"|\"\\sqrt\\over x\"!]",
             {"argument-validation 5..10 found '\\over' expected mandatory argument in command argument at 5..5"}},
        Case{"missing_unbraced", "\\frac a",
             "math[!\"found end of input expected mandatory argument in command argument at 7..7\"|\"\\frac a\"!]",
             {"argument-validation 7..7 found end of input expected mandatory argument in command argument at 7..7"},
             {},
             "root=0..7 root.child.0=0..7"},
        Case{"missing_after_braced", "\\frac{a}",
             "math[!\"found end of input expected mandatory argument in command argument at 8..8\"|\"\\frac{a}\"!]",
             {"argument-validation 8..8 found end of input expected mandatory argument in command argument at 8..8"}},
        Case{"nested_unbraced", "\\sqrt\\frac a",
             "math[!\"found end of input expected mandatory argument in command argument at 12..12 in mandatory argum"
             "ent at 5..10\"|\"\\sqrt\\frac a\"!]",
             {"argument-validation 12..12 found end of input expected mandatory argument in command argument at "
              "12..12 in mandatory argument at 5..10"}},
        Case{"failure_inside_brace", "abcde\\sqrt{#}",
             "math[a b c d e \\sqrt[-]{<!\"expected atom or script marker\"|\"#\"!>}]",
             {"- 11..12 expected atom or script marker"}},
        Case{"depth_restarts_in_argument", "\\sqrt{{x}}", "math[\\sqrt[-]{<{x}>}]", {}, max_depth(1)},
        Case{"depth_counts_in_groups", "{{x}}",
             "math[{!\"max group depth (1) exceeded\"|\"{x}\"!}]",
             {"max-group-depth-exceeded 1..4 max group depth (1) exceeded"},
             max_depth(1)},
        Case{"folded_white_space", "\\frac{a  b}{c}",
             "math[\\frac{<a b>}{<c>}]",
             {},
             {},
             "root=0..14 root.child.0=0..14 root.child.0.arg.0.content=6..10 root.child.0.arg.0.content.child.0=6..7 "
             "root.child.0.arg.0.content.child.1=9..10 root.child.0.arg.1.content=12..13 root.child.0.arg.1.content.c"
             "hild.0=12..13"},
        Case{"comment", "\\frac{a %c\nb}{c}",
             "math[\\frac{<a b>}{<c>}]",
             {},
             {},
             "root=0..16 root.child.0=0..16 root.child.0.arg.0.content=6..12 root.child.0.arg.0.content.child.0=6..7 "
             "root.child.0.arg.0.content.child.1=11..12 root.child.0.arg.1.content=14..15 root.child.0.arg.1.content."
             "child.0=14..15"},
        Case{"nested_message_positions", "\\sqrt{\\frac a}",
             "math[\\sqrt[-]{<!\"found end of input expected mandatory argument in command argument at 13..13\"|\"\\f"
             "rac a\"!>}]",
             {"argument-validation 13..13 found end of input expected mandatory argument in command argument at "
              "13..13"}},
        Case{"comment_does_not_join_words", "\\frac{\\alpha%c\nx}{}", "math[\\frac{<\\alpha x>}{<>}]", {}},
        Case{"backslash_before_line_feed", "\\frac{a\\\nb}{}", "math[\\frac{<a \\ b>}{<>}]", {}},
        Case{"primes_split_by_comment", "\\frac{x'%c\n'}{}", "math[\\frac{<x^<'1 '1>>}{<>}]", {}},
        Case{"empty", "\\frac{}{ }",
             "math[\\frac{<>}{<>}]",
             {},
             {},
             "root=0..10 root.child.0=0..10 root.child.0.arg.0.content=6..6 root.child.0.arg.1.content=8..9"},
        // The rest the prefix could not read stays, as an Error node.
        Case{"dollar_in_math_argument", "\\frac{a$}{b}",
             "math[\\frac{<a !\"found '$' expected something else, or end of input\"|\"$\"!>}{<b>}]",
             {"unexpected-math-shift 7..8 Unexpected $ inside a math formula"}},
        // The Error node spans the window and keeps the argument's text.
        Case{"unparsable_becomes_error", "\\frac{x ^ %c\n}{y}",
             "math[\\frac{!\"Missing superscript content\"|\"x ^ \"!}{<y>}]", {"*"}, aborting,
             "root=0..17 root.child.0=0..17 root.child.0.arg.0.content=6..13 root.child.0.arg.1.content=15..16 "
             "root.child.0.arg.1.content.child.0=15..16"},
        Case{"unparsable_fails_when_rejecting", "\\frac{\\foo}{y}",
             "",
             {"unknown-command 6..10 Unknown command: \\foo"},
             with(true, true)},
        Case{"unknown_recovered_inside", "\\frac{a\\foo}{y}",
             "math[\\frac{<a !\"Unknown command: \\foo\"|\"\\foo\"!>}{<y>}]",
             {"unknown-command 7..11 Unknown command: \\foo"},
             with(true, false)},
        Case{"buildrel_sees_only_its_argument", "\\buildrel a \\sqrt{b \\over c d} \\over =",
             "math[over(<\\buildrel{a} \\sqrt[-]{<over(b|<c d>)>}>|=)]",
             {}},
        Case{"buildrel_in_same_content", "\\buildrel a \\over b c", "math[over(\\buildrel{a}|b) c]", {}},
        Case{"buildrel_tail_with_infix", "\\buildrel a \\over b c \\over d",
             "math[over(\\buildrel{a}|b) over(c|d)]",
             {}},
        // A run of constructions: each tail holds the next construction, and
        // every node lands in the one list of the content.
        Case{"buildrel_run", "\\buildrel a \\over b \\buildrel c \\over d e ",
             "math[over(\\buildrel{a}|b) over(\\buildrel{c}|d) e]",
             {},
             {},
             "root=0..42 root.child.0=0..19 root.child.0.left=0..11 root.child.0.left.arg.0.content=10..11 "
             "root.child.0.right=18..19 root.child.1=20..39 root.child.1.left=20..31 "
             "root.child.1.left.arg.0.content=30..31 root.child.1.right=38..39 root.child.2=40..41"},
        // A failure in the last tail fails the whole run's content.
        Case{"buildrel_run_fails_whole", "{\\buildrel a \\over b \\buildrel c \\over d \\buildrel e \\over}",
             "math[!\"expected atom or script marker\"|\"{\\buildrel a \\over b \\buildrel c \\over d \\buildrel e \\over}\"!]",
             {"- 58..59 expected atom or script marker"}},
        Case{"buildrel_run_ambiguous_tail", "{\\buildrel a \\over b \\buildrel c \\over d e \\over f \\atop g}",
             "math[!\"Ambiguous use of \\atop\"|\"{\\buildrel a \\over b \\buildrel c \\over d e \\over f \\atop g}\"!]",
             {"ambiguous-infix 51..51 Ambiguous use of \\atop"}},
        // The snippet of content that cannot be read is rebuilt from its
        // tokens, and a control word stays apart from the letter after it.
        Case{"unreadable_snippet_keeps_control_word", "\\sqrt{\\alpha%c\nb \\over b \\atop c}",
             "math[\\sqrt[-]{!\"Ambiguous use of \\atop\"|\"\\alpha b \\over b \\atop c\"!}]",
             {"ambiguous-infix 25..25 Ambiguous use of \\atop"}},
        Case{"buildrel_needs_one_item", "{\\buildrel x \\over}",
             "math[!\"expected atom or script marker\"|\"{\\buildrel x \\over}\"!]",
             {"- 18..19 expected atom or script marker"}},
        // The `\over` after a `\buildrel`'s braced argument is its own, an
        // infix inside those braces a fraction; with nothing after it, it
        // fails as when the argument has no braces.
        Case{"buildrel_braced_infix_argument", "\\buildrel {a \\over b} \\over c {\\it}",
             "math[over(\\buildrel{<over(a|b)>}|c) {\\it!decl}]", {}},
        Case{"buildrel_braced_infix_needs_one_item", "{\\buildrel {a \\over b} \\over}",
             "math[!\"expected atom or script marker\"|\"{\\buildrel {a \\over b} \\over}\"!]",
             {"- 28..29 expected atom or script marker"}},
        Case{"buildrel_braced_needs_one_item", "{\\buildrel {\\frac ab} \\over}",
             "math[!\"expected atom or script marker\"|\"{\\buildrel {\\frac ab} \\over}\"!]",
             {"- 27..28 expected atom or script marker"}},
        // A cell end taken for the relation is held in the group its braces
        // give, as it is written.
        Case{"buildrel_cell_end_relation", "\\buildrel x \\over \\\\ y",
             "math[over(\\buildrel{x}|<\\\\!(no*)[-]>) y]", {}},
        Case{"infix_dimension", "a \\above 2pt b", "math[above{L:2pt}(a|b)]", {}},
        Case{"infix_dimension_missing", "a \\above b", "", {"argument-validation 9..10 invalid dimension"}},
        Case{"infix_delimiters", "a \\abovewithdelims ( ] 1pt b", "math[abovewithdelims{D:(}{D:]}{L:1pt}(a|b)]", {}}),
    case_name);

class TextArguments : public ::testing::TestWithParam<Case> {};
TEST_P(TextArguments, ReadInTextMode) { check(default_context(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Text, TextArguments,
    ::testing::Values(
        Case{"only_space", "\\text{ }",
             "math[\\text{T:\" \"}]",
             {},
             {},
             "root=0..8 root.child.0=0..8 root.child.0.arg.0.content=6..7"},
        Case{"math_command", "\\text{\\frac{a}{b}}",
             "math[\\text{T:T<!\"Command \\frac is not allowed in text mode\"|\"\\frac{a}{b}\"!>}]",
             {"command-mode-error 6..11 Command \\frac is not allowed in text mode"}},
        Case{"unknown_rejected", "\\text{\\foo}",
             "math[\\text{T:T<!\"Unknown command: \\foo\"|\"\\foo\"!>}]",
             {"unknown-command 6..10 Unknown command: \\foo"},
             with(true, false)},
        Case{"known_prefix_missing_argument", "\\text{\\textbf}",
             "math[\\text{T:T<!\"found end of input expected mandatory argument in command argument at 13..13\"|\"\\t"
             "extbf\"!>}]",
             {"argument-validation 13..13 found end of input expected mandatory argument in command argument at "
              "13..13"}},
        Case{"known_prefix", "\\text{\\textbf{x} y}", "math[\\text{T:T<\\textbf{T:T<\"x\">} \" y\">}]", {}},
        Case{"declarative", "\\text{\\bf x}", "math[\\text{T:T<\\bf!decl \" x\">}]", {}},
        Case{"inline_math", "\\text{a $x^2$ b}", "math[\\text{T:T<\"a \" $x^2$ \" b\">}]", {}},
        // White space before the closing brace is a space TeX sets, unless
        // it ends a control word's name.
        Case{"space_after_command", "\\textbf{ \\textit{b} }",
             "math[\\textbf{T:T<\" \" \\textit{T:T<\"b\">} \" \">}]", {}},
        Case{"space_after_control_symbol", "\\text{5\\% }", "math[\\text{T:T<\"5\" % \" \">}]", {}},
        Case{"space_after_inline_math", "\\text{$x$ }", "math[\\text{T:T<$x$ \" \">}]", {}},
        Case{"space_after_control_word", "\\text{a\\bf }", "math[\\text{T:T<\"a\" \\bf!decl>}]", {}},
        Case{"space_after_control_space", "\\text{a\\  }", "math[\\text{T:T<\"a\" \\ >}]", {}},
        Case{"unbraced_item", "\\text x", "math[\\text{T:\"x\"}]", {}},
        // Without braces the argument is one token; what follows is math.
        Case{"unbraced_token", "\\text xy", "math[\\text{T:\"x\"} y]", {}},
        Case{"unbraced_token_before_space", "\\text x y", "math[\\text{T:\"x\"} y]", {}}),
    case_name);


// ---- Contexts of slot failures ---------------------------------------------------------

struct ContextCase {
    const char* name;
    std::string source;
    std::string first;  // the first diagnostic's kind, message and contexts
};

void PrintTo(const ContextCase& c, std::ostream* os) { *os << c.source; }

class SlotFailureContexts : public ::testing::TestWithParam<ContextCase> {};

TEST_P(SlotFailureContexts, CarryTheCallersLabel) {
    const ContextCase& c = GetParam();
    ParseOutcome out = parse_source(slot_context(), c.source, aborting);
    ASSERT_FALSE(out.diagnostics.empty());
    const ParseDiagnostic& d = out.diagnostics.front();
    std::string got = diag(d);
    for (const auto& ctx : d.contexts) {
        got += " | " + ctx.label + " " + std::to_string(ctx.span.start) + ".." + std::to_string(ctx.span.end);
    }
    EXPECT_EQ(got, c.first);
}

INSTANTIATE_TEST_SUITE_P(
    Contexts, SlotFailureContexts,
    ::testing::Values(
        // Key-value rejections span the argument and name its value.
        ContextCase{"keyval", "\\ck{a=1,}",
                    "argument-validation 3..9 keyval missing value | argument value 3..9 | command argument 3..9"},
        ContextCase{"column", "\\ccol{cq}", "argument-validation 5..9 Illegal pream-token (q) | command argument 5..9"},
        ContextCase{"infix", "a \\above b",
                    "argument-validation 9..10 invalid dimension | infix command argument 9..10"},
        ContextCase{"declarative", "\\cdecl x",
                    "argument-validation 7..8 invalid dimension | declarative command argument 7..8"},
        // A failure at the slot's start reads as a missing mandatory argument.
        ContextCase{"missing_mandatory", "\\frac{a}",
                    "argument-validation 8..8 Command \\frac has an unclosed argument | command argument 8..8"},
        // The inner command's label is kept once; the outer slot adds its own.
        ContextCase{"nested", "\\sqrt{\\frac{a}}",
                    "argument-validation 14..14 Command \\frac has an unclosed argument | command argument 14..14"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Collection and values, rule by rule ---------------------------------------------------

// The window a collector took, as its rebuilt text and byte range, or its failure.
std::string collect(std::string source, const char* how) {
    testing::Harness h(std::move(source), {}, slot_context());
    grammar::Collected c;
    grammar::Failure failure;
    bool ok = false;
    const std::string_view mode = how;
    if (mode == "braced") {
        ok = grammar::collect_braced_tokens(h.g(), c, failure);
    } else if (mode == "bracketed") {
        const auto got = grammar::collect_optional_bracketed_tokens(h.g(), c, failure);
        if (got == grammar::Bracketed::Absent) return "absent";
        ok = got == grammar::Bracketed::Collected;
    } else {
        const auto open = knowledge::DelimiterToken::character(static_cast<unsigned char>(mode[0]));
        const auto close = knowledge::DelimiterToken::character(static_cast<unsigned char>(mode[1]));
        ok = grammar::collect_delimited_tokens(h.g(), open, close, c, failure);
    }
    if (!ok) {
        return h.in().display(failure) + " " + std::to_string(failure.span.start) + ".." +
               std::to_string(failure.span.end);
    }
    const std::string rest = h.in().peek() ? std::to_string(h.in().peek()->span.start) : "end";
    return grammar::tokens_to_string(grammar::window_tokens(h.in(), c)) + " " + std::to_string(c.start) + ".." +
           std::to_string(c.end) + " next " + rest;
}

struct CollectCase {
    const char* name;
    std::string source;
    const char* how;  // braced, bracketed, or the two delimiter characters
    std::string expected;
};

void PrintTo(const CollectCase& c, std::ostream* os) { *os << c.source; }

class Collection : public ::testing::TestWithParam<CollectCase> {};
TEST_P(Collection, TakesTheArgumentsTokens) {
    EXPECT_EQ(collect(GetParam().source, GetParam().how), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Collectors, Collection,
    ::testing::Values(
        CollectCase{"nested_braces", "{a{b}c}x", "braced", "a{b}c 1..6 next 7"},
        CollectCase{"empty_braces", "{}", "braced", " 1..1 next end"},
        CollectCase{"unclosed_brace", "{a{b}", "braced", "unclosed brace argument 0..5"},
        CollectCase{"brace_hides_bracket", "[a{]}b]", "bracketed", "a{]}b 1..6 next end"},
        CollectCase{"brackets_do_not_nest", "[a[b]c]", "bracketed", "a[b 1..4 next 5"},
        CollectCase{"unbalanced_brace_in_brackets", "[a}]", "bracketed", "unbalanced brace in bracket argument 0..3"},
        CollectCase{"unclosed_bracket", "[a{]}", "bracketed", "unclosed bracket argument 0..5"},
        CollectCase{"no_bracket", "a[b]", "bracketed", "absent"},
        CollectCase{"same_delimiters", "|a|b|", "||", "a 1..2 next 3"},
        CollectCase{"nesting_delimiters", "(a(b)c)", "()", "a(b)c 1..6 next end"},
        CollectCase{"delimiters_ignore_braces", "(a{)})", "()", "a{ 1..3 next 4"},
        CollectCase{"missing_opening", "x(a)", "()", "missing opening delimiter 0..1"},
        CollectCase{"unclosed_delimited", "(a(b)", "()", "unclosed delimited argument 0..5"},
        // The rebuilt text folds white space and drops comments; the window
        // keeps the true bytes.
        CollectCase{"rebuilt_text", "{x^{2}   y}", "braced", "x^{2} y 1..10 next end"},
        CollectCase{"comment_dropped", "{a %c\n b}", "braced", "a  b 1..8 next end"},
        // A control word and a letter that a comment kept apart stay apart.
        CollectCase{"control_word_then_letter", "{\\alpha%c\nb\\,%c\nb\\beta%c\n1}", "braced",
                    "\\alpha b\\,b\\beta1 1..26 next end"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DimensionCase {
    std::string source;
    std::string expected;  // the value, or the failure's message
};

class Dimensions : public ::testing::TestWithParam<DimensionCase> {};

TEST_P(Dimensions, ReadOverCharacters) {
    testing::Harness h(GetParam().source);
    std::string value;
    if (grammar::read_dimension(h.in(), value)) {
        EXPECT_EQ(value, GetParam().expected);
    } else {
        EXPECT_EQ(h.failure_text(), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, Dimensions,
                         ::testing::Values(DimensionCase{"1pt", "1pt"}, DimensionCase{"-1.5 em", "-1.5em"},
                                           DimensionCase{"+.5cm", "+.5cm"}, DimensionCase{"1,5mm", "1,5mm"},
                                           DimensionCase{"1.pt", "1.pt"}, DimensionCase{"12mu", "12mu"},
                                           DimensionCase{"pt", "invalid dimension"},
                                           DimensionCase{".pt", "invalid dimension"},
                                           DimensionCase{"-", "invalid dimension"},
                                           DimensionCase{"1PT", "unsupported dimension unit"},
                                           DimensionCase{"1", "unsupported dimension unit"},
                                           DimensionCase{"1ptx", "unsupported dimension unit"}));

struct KeyvalCase {
    std::string text;
    std::string expected;  // "ok" or the reason
};

class Keyvals : public ::testing::TestWithParam<KeyvalCase> {};

TEST_P(Keyvals, Validate) {
    const auto reason = grammar::validate_keyval(GetParam().text);
    EXPECT_EQ(reason ? std::string(*reason) : "ok", GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Keyvals,
    ::testing::Values(KeyvalCase{"a=1,b=2", "ok"}, KeyvalCase{"a={1,2}", "ok"}, KeyvalCase{"a=b=c", "ok"},
                      KeyvalCase{"a=\\,", "ok"}, KeyvalCase{"\\=x=1", "ok"}, KeyvalCase{"a", "keyval missing value"},
                      KeyvalCase{"a=1,", "keyval missing value"}, KeyvalCase{"", "keyval missing value"},
                      KeyvalCase{"a= \xe3\x80\x80", "keyval missing value"}, KeyvalCase{",a=1", "keyval missing value"},
                      KeyvalCase{"=1", "keyval missing key"}, KeyvalCase{" =1", "keyval missing key"},
                      KeyvalCase{"a=}", "unbalanced brace in keyval"},
                      KeyvalCase{"a={1", "unbalanced brace in keyval"}));

TEST(TrimWhiteSpace, UsesTheUnicodeList) {
    EXPECT_EQ(grammar::trim_white_space(" \t a b \n"), "a b");
    EXPECT_EQ(grammar::trim_white_space("\xe3\x80\x80x\xc2\xa0"), "x");  // U+3000, U+00A0
    EXPECT_EQ(grammar::trim_white_space("\xe2\x80\x8bx"), "\xe2\x80\x8bx");  // U+200B is no white space
    EXPECT_EQ(grammar::trim_white_space("   "), "");
}

// ---- Deep and repeated arguments ------------------------------------------------------------

// Ends with a document or with the one nesting diagnostic, within the work
// of a linear parse; with one stack segment, the end of the budget is
// reached in every build.
void expect_orderly_and_linear(const std::string& source, ParseConfig config = {}) {
    testing::OneStackSegment budget;
    ParseOutcome out = parse_source(default_context(), source, config);
    if (!out.document) {
        ASSERT_EQ(out.diagnostics.size(), 1u) << diag(out.diagnostics.front());
        EXPECT_EQ(out.diagnostics[0].kind, ParseDiagnosticKind::MaxGroupDepthExceeded);
    }
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
}

constexpr std::size_t kDeep = 100000;

TEST(DeepArguments, StayOrderlyAndLinear) {
    for (const std::string& source : {repeat("\\sqrt{", kDeep) + "x" + repeat("}", kDeep), repeat("\\sqrt", kDeep) + "x",
                                      "x^" + repeat("\\sqrt", kDeep) + "x",
                                      repeat("\\frac{", kDeep) + "x" + repeat("}{}", kDeep),
                                      repeat("\\text{$", kDeep) + "x" + repeat("$}", kDeep)}) {
        SCOPED_TRACE(source.substr(0, 20));
        expect_orderly_and_linear(source);
    }
}

// A failing argument nested in failing arguments is read again by each
// enclosing retry; every window is still parsed a bounded number of times.
TEST(RepeatedArguments, FailingNestingIsNotExponential) {
    ParseOutcome out = parse_source(default_context(), repeat("\\frac{", 40) + "\\foo" + repeat("}{}", 40), with(true, true));
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
    ASSERT_FALSE(out.document);
    EXPECT_EQ(diagnostics(out), std::vector<std::string>{"unknown-command 240..244 Unknown command: \\foo"});
}

TEST(RepeatedArguments, RetriesAtEveryLevelAreNotExponential) {
    // Every level's content stops at its `$`, fails the end of input and is
    // retried on the prefix before it, which holds the next level.
    ParseOutcome out = parse_source(default_context(), repeat("\\frac{", 60) + "x" + repeat("$}{}", 60), {});
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
    ASSERT_TRUE(out.document);
    EXPECT_EQ(out.diagnostics.size(), 60u);
}

// Eight times the input costs at most twelve times the work units.
TEST(RepeatedArguments, GrowLinearly) {
    struct Case {
        const char* name;
        bool faulty;
        std::string (*source)(std::size_t n);
    };
    const Case cases[] = {
        {"many siblings", false, [](std::size_t n) { return repeat("\\frac{a}{b}+\\sqrt[3]{\\text{c}}", n); }},
        // A `\text$` deep inside nested `\text{$...$}` fails every level above
        // it, and each retries on its prefix, which holds every level below.
        {"deep text math with a fault", true,
         [](std::size_t n) {
             return repeat("\\text{$", n) + "\\text${" + repeat("\\text{$", n) + "x" + repeat("$}", 2 * n + 1);
         }},
    };
    for (const Case& c : cases) {
        testing::Work work[2];
        for (std::size_t i : {0, 1}) {
            const ParseOutcome out = parse_source(default_context(), c.source(i == 0 ? 250 : 2000), {});
            EXPECT_TRUE(out.document) << c.name;
            EXPECT_EQ(out.diagnostics.empty(), !c.faulty) << c.name;
            work[i] = testing::last_work();
        }
        EXPECT_EQ(testing::work_fault(work[0], work[1]), "") << c.name;
    }
}


// ---- The command head ----------------------------------------------------------------------

struct HeadCase {
    const char* name;
    std::string source;
    knowledge::CommandKind kind;
    syntax::ContentMode mode;
    bool reject_unknown;
    std::string expected;  // the name read, or the failure's text, kind and softness
};

void PrintTo(const HeadCase& c, std::ostream* os) { *os << c.source; }

class CommandHead : public ::testing::TestWithParam<HeadCase> {};

TEST_P(CommandHead, ChecksKindAndMode) {
    const HeadCase& c = GetParam();
    testing::Harness h(c.source, with(c.reject_unknown, false));
    grammar::Grammar::CommandHead head;
    if (h.g().command_head(c.kind, c.mode, head)) {
        EXPECT_EQ(std::string(head.name), c.expected);
        return;
    }
    ASSERT_TRUE(h.in().alt());
    const grammar::Failure& f = h.in().alt()->failure;
    std::string got = h.failure_text();
    if (f.kind) got += " [" + std::string(parse_diagnostic_kind_name(*f.kind)) + "]";
    if (f.soft) got += " (soft)";
    EXPECT_EQ(got, c.expected);
}

using CK = knowledge::CommandKind;
using CM = syntax::ContentMode;

INSTANTIATE_TEST_SUITE_P(
    Heads, CommandHead,
    ::testing::Values(
        HeadCase{"prefix_in_math", "\\frac", CK::Prefix, CM::Math, false, "frac"},
        HeadCase{"not_a_command", "x", CK::Prefix, CM::Math, false, "found 'x' expected not a command"},
        HeadCase{"end_of_input", "", CK::Prefix, CM::Math, false, "found end of input expected not a command"},
        // The head's own refusal; in a text atom a known prefix command never meets it.
        HeadCase{"not_declarative", "\\textbf", CK::Declarative, CM::Text, false, "not declarative"},
        HeadCase{"not_prefix", "\\bf", CK::Prefix, CM::Text, false, "not prefix"},
        HeadCase{"other_mode", "\\frac", CK::Prefix, CM::Text, false,
                 "Command \\frac is not allowed in text mode [command-mode-error]"},
        HeadCase{"unknown", "\\foo", CK::Prefix, CM::Math, false, "unknown (soft)"},
        HeadCase{"unknown_rejected", "\\foo", CK::Prefix, CM::Math, true, "Unknown command: \\foo [unknown-command]"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::parse

namespace quorvel::parse {
namespace {

// Braces have a pairing table of their own; it must pair exactly as the
// table every other delimiter pair uses.
TEST(ArgumentSessionBraces, PairLikeTheGeneralTable) {
    const knowledge::DelimiterToken open = knowledge::DelimiterToken::character(U'{');
    const knowledge::DelimiterToken close = knowledge::DelimiterToken::character(U'}');
    const char* const kFixed[] = {"", "{", "}", "{}", "}{", "{{}", "{}}", "{a{b}c}d}", "{{{", "}}}{{{}", "x"};
    std::vector<std::string> sources(std::begin(kFixed), std::end(kFixed));
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        std::string s;
        const std::size_t length = rng() % 24;
        for (std::size_t j = 0; j < length; ++j) s += "{}a"[rng() % 3];
        sources.push_back(s);
    }
    for (const std::string& source : sources) {
        const auto lexed = build_token_stream(source);
        const TokenStream& tokens = std::get<TokenStream>(lexed);
        grammar::Input input(tokens);
        grammar::ArgumentSession braces(input);
        grammar::ArgumentSession general(input);
        for (std::size_t i = 0; i <= tokens.tokens.size(); ++i) {
            EXPECT_EQ(braces.brace_match(i), general.pair_match(open, close, i)) << source << " at " << i;
        }
    }
}

}  // namespace
}  // namespace quorvel::parse
