#include "transform/passes/exposure.hpp"

namespace quorvel::transform::passes::support {

namespace {

using knowledge::ArgFormKind;
using knowledge::DelimiterToken;
using syntax::ast::Node;

// A star slot holds a boolean even when no star was written: it stands
// open all the same.
bool is_open(const std::optional<syntax::ast::Argument>& arg) {
    if (!arg) return true;
    const auto* star = std::get_if<syntax::ast::ArgumentValue::Boolean>(&arg->value.value);
    return star != nullptr && !star->value;
}

bool matches(const DelimiterToken& d, const LeadToken& token) {
    if (d.kind == DelimiterToken::Kind::ControlSeq) return token.kind == LeadToken::Kind::Control && token.name == d.name;
    if (d.ch == U'{') return token.kind == LeadToken::Kind::Brace;
    return token.kind == LeadToken::Kind::Char && token.ch == d.ch;
}

}  // namespace

LeadToken lead_token(const syntax::Ast& ast, syntax::ast::NodeId node) {
    const Node* n = &ast.node(node);
    while (const auto* s = n->get_if<Node::Scripted>()) n = &ast.node(s->base);
    if (const auto* c = n->get_if<Node::Char>()) return {LeadToken::Kind::Char, c->value, {}};
    if (const auto* t = n->get_if<Node::Text>()) {
        if (t->value.empty()) return {};
        return {LeadToken::Kind::Char, static_cast<unsigned char>(t->value[0]), {}};
    }
    if (n->is<Node::Prime>()) return {LeadToken::Kind::Char, U'\'', {}};
    if (const auto* g = n->get_if<Node::Group>()) {
        // A list member or script base that is an implicit group is
        // written in braces all the same.
        if (g->kind.is_explicit() || g->kind.is_implicit()) return {LeadToken::Kind::Brace, U'{', {}};
        if (g->kind.as_delimited() != nullptr) return {LeadToken::Kind::Control, 0, "left"};
        return {LeadToken::Kind::Other, 0, {}};
    }
    if (n->is<Node::Command>() || n->is<Node::Declarative>()) return {LeadToken::Kind::Control, 0, *n->name()};
    if (n->is<Node::Environment>()) return {LeadToken::Kind::Control, 0, "begin"};
    return {LeadToken::Kind::Other, 0, {}};
}

bool takes_token(const syntax::Ast& ast, const knowledge::KnowledgeBase& math, const knowledge::KnowledgeBase& text,
                 syntax::ast::NodeId before, LeadToken token) {
    if (token.kind == LeadToken::Kind::None) return false;
    const Node& node = ast.node(before);
    // Only a trailing slot left open can take it: most items have none, and
    // need no lookup.
    const syntax::ast::ArgumentSlots* own = node.args();
    if (own == nullptr || own->empty() || !is_open(own->back())) return false;
    std::span<const knowledge::ArgSpec> specs;
    if (const auto* env = node.get_if<Node::Environment>()) {
        const auto* record = math.lookup_env(env->name);
        if (record == nullptr) record = text.lookup_env(env->name);
        if (record == nullptr) return false;
        specs = record->args;
    } else if (node.is<Node::Command>() || node.is<Node::Declarative>()) {
        if (const auto* c = node.get_if<Node::Command>(); c != nullptr && !c->known) return false;
        const auto* record = math.lookup_command(*node.name());
        if (record == nullptr) record = text.lookup_command(*node.name());
        if (record == nullptr) return false;
        specs = record->args;
    } else {
        return false;
    }
    const auto& args = *node.args();
    if (args.size() != specs.size()) return false;
    std::size_t first_open = args.size();
    while (first_open > 0 && is_open(args[first_open - 1])) --first_open;
    // The reading goes on slot by slot after the last one filled: a slot
    // the token opens takes it, a required one takes any token, an
    // optional one that it does not open is passed by.
    for (std::size_t i = first_open; i < specs.size(); ++i) {
        const knowledge::ArgSpec& spec = specs[i];
        switch (spec.form.kind) {
            case ArgFormKind::Star:
                if (token.kind == LeadToken::Kind::Char && token.ch == U'*') return true;
                continue;
            case ArgFormKind::Standard:
                if (spec.required) return true;
                if (token.kind == LeadToken::Kind::Char && token.ch == U'[') return true;
                continue;
            case ArgFormKind::Group:
                if (spec.required || token.kind == LeadToken::Kind::Brace) return true;
                continue;
            case ArgFormKind::Delimited:
                if (spec.required || matches(spec.form.open, token)) return true;
                continue;
            case ArgFormKind::Paired:
                if (spec.required) return true;
                for (const auto& pair : spec.form.pairs)
                    if (matches(pair.open, token)) return true;
                continue;
        }
    }
    return false;
}

bool taken_by_item_before(const syntax::Ast& ast, const knowledge::KnowledgeBase& math,
                          const knowledge::KnowledgeBase& text, syntax::ast::NodeId node, LeadToken token) {
    syntax::ast::NodeId item = node;
    const syntax::ParentLink* link = ast.parent_link(item);
    while (link != nullptr && link->slot.kind() == syntax::Slot::Kind::ScriptBase) {
        item = link->parent;
        link = ast.parent_link(item);
    }
    if (link == nullptr || !link->slot.is_group_child()) return false;
    if (const auto before = ast.prev_sibling(item)) return takes_token(ast, math, text, *before, token);
    const syntax::ParentLink* list = ast.parent_link(link->parent);
    return list != nullptr && list->slot.kind() == syntax::Slot::Kind::EnvBody &&
           takes_token(ast, math, text, list->parent, token);
}

}  // namespace quorvel::transform::passes::support
