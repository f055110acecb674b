// Helpers of the environment, recovery and diagnostics tests: a tree printer
// that also shows environments, `\left` delimiters and arguments, and a full
// diagnostic printer.
//
// Tree notation: as in parse_grammar_support.hpp, plus \begin{name} (with ?
// when unknown) followed by its arguments and its body group; \left( ...
// \right) for a delimited group; command arguments as {...} for content,
// {=value} for other values and - for an absent optional slot.
#pragma once

#include <string>

#include "parse_grammar_support.hpp"

namespace quorvel::parse::testing {

inline void show_node(std::string& out, const syntax::SyntaxNode& node);

inline void show_delimiter(std::string& out, const syntax::syntax_node::Delimiter& d) {
    using D = syntax::syntax_node::Delimiter;
    if (const auto* c = std::get_if<D::Char>(&d.value)) {
        utf8::append(out, c->value);
    } else if (const auto* n = std::get_if<D::Control>(&d.value)) {
        out += "\\" + n->name;
    } else {
        out += ".";
    }
}

inline void show_args(std::string& out, const syntax::syntax_node::ArgumentSlots& args) {
    for (const auto& slot : args) {
        if (!slot) {
            out += "-";
            continue;
        }
        out += "{";
        if (const auto* content = slot->value.content()) {
            show_node(out, *content);
        } else if (const auto* d = std::get_if<syntax::syntax_node::ArgumentValue::Delimiter>(&slot->value.value)) {
            out += "=";
            show_delimiter(out, d->value);
        } else {
            std::visit(
                [&](const auto& v) {
                    if constexpr (requires { v.value.size(); }) out += "=" + std::string(v.value);
                },
                slot->value.value);
        }
        out += "}";
    }
}

inline void show_children(std::string& out, const std::vector<syntax::SyntaxNode>& children) {
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) out.push_back(' ');
        show_node(out, children[i]);
    }
}

inline void show_node(std::string& out, const syntax::SyntaxNode& node) {
    using N = syntax::SyntaxNode;
    if (const auto* root = node.get_if<N::Root>()) {
        out += root->mode == syntax::ContentMode::Math ? "math[" : "text[";
        show_children(out, root->children);
        out += "]";
    } else if (const auto* g = node.get_if<N::Group>()) {
        if (g->mode == syntax::ContentMode::Text) out += "T";
        if (const auto* d = g->kind.as_delimited()) {
            out += "\\left";
            show_delimiter(out, d->left);
            out += " ";
            show_children(out, g->children);
            out += " \\right";
            show_delimiter(out, d->right);
            return;
        }
        const bool implicit = g->kind.is_implicit();
        const bool inline_math = g->kind.is_inline_math();
        out += implicit ? "<" : inline_math ? "$" : "{";
        show_children(out, g->children);
        out += implicit ? ">" : inline_math ? "$" : "}";
    } else if (const auto* c = node.get_if<N::Command>()) {
        out += "\\" + c->name.str() + (c->known ? "" : "?");
        show_args(out, c->args);
    } else if (const auto* e = node.get_if<N::Environment>()) {
        out += "\\begin{" + e->name.str() + "}" + (e->known ? "" : "?");
        show_args(out, e->args);
        show_node(out, *e->body);
    } else if (const auto* inf = node.get_if<N::Infix>()) {
        out += inf->name.str() + "(";
        show_node(out, *inf->left);
        out += "|";
        show_node(out, *inf->right);
        out += ")";
    } else if (const auto* d = node.get_if<N::Declarative>()) {
        out += "\\" + d->name.str() + "!decl";
        show_args(out, d->args);
    } else if (const auto* s = node.get_if<N::Scripted>()) {
        show_node(out, *s->base);
        if (s->subscript) {
            out += "_";
            show_node(out, *s->subscript);
        }
        if (s->superscript) {
            out += "^";
            show_node(out, *s->superscript);
        }
    } else if (const auto* err = node.get_if<N::Error>()) {
        out += "!\"" + err->message.str() + "\"|\"" + err->snippet.str() + "\"!";
    } else if (const auto* p = node.get_if<N::Prime>()) {
        out += "'" + std::to_string(p->count);
    } else if (const auto* t = node.get_if<N::Text>()) {
        out += "\"" + t->value.str() + "\"";
    } else if (const auto* ch = node.get_if<N::Char>()) {
        utf8::append(out, ch->value);
    } else if (node.is<N::ActiveSpace>()) {
        out += "~";
    }
}

inline std::string show(const syntax::SyntaxNode& node) {
    std::string out;
    show_node(out, node);
    return out;
}

// kind span message [expected] found {contexts}
inline std::string diag_full(const ParseDiagnostic& d) {
    std::string out = diag(d);
    out += " [";
    for (std::size_t i = 0; i < d.expected.size(); ++i) out += (i > 0 ? ", " : "") + d.expected[i];
    out += "] " + (d.found ? *d.found : std::string("-")) + " {";
    for (std::size_t i = 0; i < d.contexts.size(); ++i) {
        out += (i > 0 ? ", " : "") + d.contexts[i].label + "@" + std::to_string(d.contexts[i].span.start) + ".." +
               std::to_string(d.contexts[i].span.end);
    }
    out += "}";
    return out;
}

// Parses with the default context unless another is given.
struct Parsed {
    std::string tree;  // empty when there is no document
    std::vector<std::string> diagnostics;
};

inline Parsed parse_and_show(std::string_view source, ParseConfig config = {},
                             const ParseContext& context = default_context()) {
    ParseOutcome out = parse_source(context, source, config);
    Parsed p;
    if (out.document) p.tree = show(out.document->to_syntax());
    for (const auto& d : out.diagnostics) p.diagnostics.push_back(diag(d));
    return p;
}

}  // namespace quorvel::parse::testing
