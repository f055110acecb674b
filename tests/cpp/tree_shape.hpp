// The shape of a tree as a reader of its text sees it: each character,
// command name and delimiter in order, each in the command, environment or
// script slot it stands in, and the braces of every group. Two trees that a
// normalisation and a reading of its output give must have the same shape,
// so only what the text cannot tell apart is left out: whether a group was
// made by the parser (implicit) or read from braces (explicit), both written
// braced; a group that fills a script or argument slot, whose braces are the
// slot's own (`x^2` is written `x ^ { 2 }`), or that follows a prime in its
// superscript; the braces that fence a scripted base; whether a prime stands
// after its base or is its superscript (`'` always attaches to the atom
// before it); the order of scripts; white space in text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "syntax/ast.hpp"
#include "util/utf8.hpp"

namespace quorvel::testing {

namespace tree_shape_detail {

using syntax::Ast;
using syntax::ast::Node;
using syntax::ast::NodeId;

// `\vert` is the bar's own name: the writer spells a bar so where `|` would
// end the argument around it.
inline void append_delimiter(std::string& out, const syntax::ast::Delimiter& d) {
    if (const auto* c = d.as_char()) {
        util::utf8::append(out, c->value);
    } else if (const auto* cs = d.as_control()) {
        if (cs->name == "vert") {
            out += '|';
        } else {
            out += '\\';
            out += cs->name;
        }
    } else {
        out += '.';
    }
}

// A group written in braces: an explicit or implicit one.
inline bool is_braced(const Node& n) {
    const auto* g = n.get_if<Node::Group>();
    return g != nullptr && !g->kind.as_delimited() && !g->kind.is_inline_math();
}

// A superscript of a prime and more is written `'^ { more }`, which reads
// back as the prime and a group holding the rest: the prime and that group,
// whose braces the shape looks through.
inline std::optional<std::pair<NodeId, NodeId>> after_prime(const Ast& ast, NodeId superscript) {
    const auto* g = ast.node(superscript).get_if<Node::Group>();
    if (g == nullptr || !is_braced(ast.node(superscript)) || g->children.size() != 2) return std::nullopt;
    const NodeId prime = g->children.span()[0];
    const NodeId rest = g->children.span()[1];
    if (!ast.node(prime).is<Node::Prime>() || !is_braced(ast.node(rest))) return std::nullopt;
    return std::pair{prime, rest};
}

// One step of the walk: a node to write, or a literal to append. A node
// that fills a slot writes a plain group without its braces.
struct Step {
    NodeId node{};
    std::string literal;
    bool is_literal = false;
    bool fills_slot = false;
};

}  // namespace tree_shape_detail

// Iterative: trees tens of thousands of levels deep cost heap only.
inline std::string tree_shape(const syntax::Ast& ast) {
    using namespace tree_shape_detail;
    using V = syntax::ast::ArgumentValue;
    std::string out;
    std::vector<Step> stack;
    auto push_node = [&](NodeId id, bool fills_slot = false) { stack.push_back(Step{id, {}, false, fills_slot}); };
    auto push_literal = [&](std::string text) { stack.push_back(Step{{}, std::move(text), true}); };
    // Pushed in reverse, so that they are written in order.
    auto push_nodes = [&](std::span<const NodeId> ids) {
        for (auto it = ids.rbegin(); it != ids.rend(); ++it) push_node(*it);
    };
    auto push_slots = [&](const syntax::ast::ArgumentSlots& args, std::vector<Step>& later) {
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (!args[i]) continue;
            const auto& arg = *args[i];
            std::string open = "<" + std::to_string(i) + ":";
            if (const auto* b = std::get_if<V::Boolean>(&arg.value.value)) {
                later.push_back(Step{{}, open + (b->value ? "*>" : ">"), true});
            } else if (const auto content = arg.value.content()) {
                later.push_back(Step{{}, open, true});
                later.push_back(Step{*content, {}, false, true});
                later.push_back(Step{{}, ">", true});
            } else {
                std::string text = open;
                if (const auto* d = std::get_if<V::Delimiter>(&arg.value.value)) {
                    append_delimiter(text, d->value);
                } else {
                    std::visit(
                        [&](const auto& v) {
                            if constexpr (requires { v.value.size(); }) text += std::string_view(v.value);
                        },
                        arg.value.value);
                }
                later.push_back(Step{{}, text + ">", true});
            }
        }
    };
    const auto* root = ast.node(ast.root()).get_if<Node::Root>();
    if (root == nullptr) return out;
    push_nodes(root->children.span());
    std::vector<Step> later;
    while (!stack.empty()) {
        Step step = std::move(stack.back());
        stack.pop_back();
        if (step.is_literal) {
            out += step.literal;
            continue;
        }
        const Node& node = ast.node(step.node);
        later.clear();
        if (const auto* g = node.get_if<Node::Group>()) {
            if (const auto* d = g->kind.as_delimited()) {
                std::string left = "\\left";
                append_delimiter(left, d->left);
                std::string right = "\\right";
                append_delimiter(right, d->right);
                out += left + ' ';
                push_literal(right + ' ');
            } else if (g->kind.is_inline_math()) {
                out += '$';
                push_literal("$");
            } else if (!step.fills_slot) {
                out += "{ ";
                push_literal("} ");
            }
            push_nodes(g->children.span());
        } else if (const auto* s = node.get_if<Node::Scripted>()) {
            // Subscript first, as the writer puts it.
            if (s->superscript && ast.node(*s->superscript).is<Node::Prime>()) {
                push_node(*s->superscript);
            } else if (s->superscript) {
                push_literal("} ");
                if (const auto rest = after_prime(ast, *s->superscript)) {
                    push_node(rest->second, true);
                    push_node(rest->first);
                } else {
                    push_node(*s->superscript, true);
                }
                push_literal("^{ ");
            }
            if (s->subscript) {
                push_literal("} ");
                push_node(*s->subscript, true);
                push_literal("_{ ");
            }
            // A scripted base is written in braces, which read back as a
            // group holding it.
            if (ast.node(s->base).is<Node::Scripted>()) {
                push_literal("} ");
                push_node(s->base);
                push_literal("{ ");
            } else {
                push_node(s->base);
            }
        } else if (const auto* p = node.get_if<Node::Prime>()) {
            out.append(p->count, '\'');
        } else if (const auto* c = node.get_if<Node::Char>()) {
            util::utf8::append(out, c->value);
        } else if (const auto* t = node.get_if<Node::Text>()) {
            // White space is no character: the space that ends a control
            // word before text is written, and read back as text.
            for (const char c : std::string_view(t->value))
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r') out += c;
        } else if (node.is<Node::ActiveSpace>()) {
            out += '~';
        } else if (const auto* e = node.get_if<Node::Error>()) {
            out += "<error:" + std::string(std::string_view(e->snippet)) + ">";
        } else if (const auto* env = node.get_if<Node::Environment>()) {
            const std::string name(std::string_view(env->name));
            out += "\\begin{" + name + "}";
            push_slots(env->args, later);
            later.push_back(Step{{}, "<body:", true});
            later.push_back(Step{env->body, {}, false});
            later.push_back(Step{{}, ">\\end{" + name + "} ", true});
        } else if (const auto* infix = node.get_if<Node::Infix>()) {
            out += "\\" + std::string(std::string_view(infix->name));
            push_slots(infix->args, later);
            later.push_back(Step{{}, "<left:", true});
            later.push_back(Step{infix->left, {}, false});
            later.push_back(Step{{}, "><right:", true});
            later.push_back(Step{infix->right, {}, false});
            later.push_back(Step{{}, "> ", true});
        } else if (const auto* name = node.name()) {
            // `\vert` alone is the bar, as it is as a delimiter.
            if (std::string_view(*name) == "vert" && node.args()->empty()) {
                out += '|';
            } else {
                out += "\\" + std::string(std::string_view(*name));
                push_slots(*node.args(), later);
                later.push_back(Step{{}, " ", true});
            }
        }
        for (auto it = later.rbegin(); it != later.rend(); ++it) stack.push_back(std::move(*it));
    }
    return out;
}

}  // namespace quorvel::testing
