// Helpers of the grammar tests: a shared default parse context, a harness
// that runs one grammar over a source, and compact printers of trees, span
// trees and diagnostics that keep the test tables readable.
//
// Tree notation: a character as itself; "text" for Text; 'n for a Prime of n;
// ~ for ActiveSpace; {a b} explicit group, <a b> implicit, $a b$ inline math
// (a T before a group marks text mode); \name for a known command, \name? for
// an unknown one; over(L|R) for an infix; B_S^P for a script (absent parts
// left out); !"message"|"snippet"! for an Error; math[...] / text[...] roots.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "parse/config.hpp"
#include "parse/context.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/lexer.hpp"
#include "parse/parse.hpp"
#include "parse/parser_state.hpp"
#include "parse/utf8.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::parse::testing {

// `unit` written `times` times: the openings and closings of deep inputs.
inline std::string repeat(std::string_view unit, std::size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

inline const ParseContext& default_context() {
    static const std::shared_ptr<const ParseContext> context = [] {
        auto built = ParseContextBuilder().build();
        return built.value();
    }();
    return *context;
}

// Lowers the stack segment budget of this thread to one segment for the
// scope's lifetime: deep-nesting tests reach the end of the budget, and the
// nesting diagnostic, without nesting a gigabyte deep.
class OneStackSegment {
public:
    OneStackSegment() : old_(grammar::detail::exchange_segment_budget(std::size_t{64} * 1024 * 1024)) {}
    ~OneStackSegment() { grammar::detail::exchange_segment_budget(old_); }
    OneStackSegment(const OneStackSegment&) = delete;
    OneStackSegment& operator=(const OneStackSegment&) = delete;

private:
    std::size_t old_;
};

inline void print_node(std::string& out, const syntax::SyntaxNode& node);

inline void print_children(std::string& out, const std::vector<syntax::SyntaxNode>& children) {
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) out.push_back(' ');
        print_node(out, children[i]);
    }
}

inline void print_node(std::string& out, const syntax::SyntaxNode& node) {
    using N = syntax::SyntaxNode;
    if (const auto* root = node.get_if<N::Root>()) {
        out += root->mode == syntax::ContentMode::Math ? "math[" : "text[";
        print_children(out, root->children);
        out += "]";
    } else if (const auto* g = node.get_if<N::Group>()) {
        if (g->mode == syntax::ContentMode::Text) out += "T";
        const char* open = "{";
        const char* close = "}";
        if (g->kind.is_implicit()) {
            open = "<";
            close = ">";
        } else if (g->kind.is_inline_math()) {
            open = "$";
            close = "$";
        } else if (g->kind.as_delimited()) {
            open = "L(";
            close = ")R";
        }
        out += open;
        print_children(out, g->children);
        out += close;
    } else if (const auto* c = node.get_if<N::Command>()) {
        out += "\\" + c->name.str() + (c->known ? "" : "?");
    } else if (const auto* inf = node.get_if<N::Infix>()) {
        out += inf->name.str() + "(";
        print_node(out, *inf->left);
        out += "|";
        print_node(out, *inf->right);
        out += ")";
    } else if (const auto* d = node.get_if<N::Declarative>()) {
        out += "\\" + d->name.str() + "!decl";
    } else if (const auto* s = node.get_if<N::Scripted>()) {
        print_node(out, *s->base);
        if (s->subscript) {
            out += "_";
            print_node(out, *s->subscript);
        }
        if (s->superscript) {
            out += "^";
            print_node(out, *s->superscript);
        }
    } else if (const auto* e = node.get_if<N::Error>()) {
        out += "!\"" + e->message.str() + "\"|\"" + e->snippet.str() + "\"!";
    } else if (const auto* p = node.get_if<N::Prime>()) {
        out += "'" + std::to_string(p->count);
    } else if (const auto* t = node.get_if<N::Text>()) {
        out += "\"" + t->value.str() + "\"";
    } else if (const auto* ch = node.get_if<N::Char>()) {
        utf8::append(out, ch->value);
    } else if (node.is<N::ActiveSpace>()) {
        out += "~";
    } else {
        out += "?env";
    }
}

inline std::string tree(const syntax::SyntaxNode& node) {
    std::string out;
    print_node(out, node);
    return out;
}

inline void print_spans(std::string& out, const syntax::SpanTree& t) {
    out += std::to_string(t.span.start) + ".." + std::to_string(t.span.end);
    if (t.children.empty()) return;
    out += "[";
    for (std::size_t i = 0; i < t.children.size(); ++i) {
        if (i > 0) out += " ";
        print_spans(out, t.children[i]);
    }
    out += "]";
}

inline std::string spans(const syntax::SpanTree& t) {
    std::string out;
    print_spans(out, t);
    return out;
}

inline std::string spans(const grammar::TrackedNode& t) {
    return spans(syntax::SpanTree(t.span, t.spans));
}

inline std::string diag(const ParseDiagnostic& d) {
    std::string out = d.kind ? std::string(parse_diagnostic_kind_name(*d.kind)) : "-";
    out += " " + std::to_string(d.span.start) + ".." + std::to_string(d.span.end) + " " + d.message;
    return out;
}

// One grammar over one source, for driving single rules.
class Harness {
public:
    explicit Harness(std::string source, ParseConfig config = {}, const ParseContext& context = default_context())
        : source_(std::move(source)),
          config_(config),
          stream_(std::get<TokenStream>(build_token_stream(source_))),
          state_(context, config_, source_),
          input_(stream_),
          grammar_(state_, input_) {}

    grammar::Grammar& g() { return grammar_; }
    grammar::Input& in() { return input_; }
    ParserState& state() { return state_; }
    const TokenStream& stream() const { return stream_; }
    std::string failure_text() {
        if (!input_.alt()) return "<none>";
        return input_.display(input_.alt()->failure);
    }

private:
    std::string source_;
    ParseConfig config_;
    TokenStream stream_;
    ParserState state_;
    grammar::Input input_;
    grammar::Grammar grammar_;
};

}  // namespace quorvel::parse::testing
