#include "transform/passes/tree_support.hpp"

#include "syntax/read_back.hpp"
#include "transform/buildrel.hpp"
#include "util/utf8.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::passes::support {

WhiteSpaceEdges white_space_edges(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    WhiteSpaceEdges edges;
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t c = 0;
        const std::size_t n = util::utf8::decode(bytes + begin, text.size() - begin, c);
        if (n == 0 || !is_unicode_white_space(c)) break;
        begin += n;
    }
    edges.leading = begin;
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (bytes[start] & 0xC0) == 0x80) --start;
        char32_t c = 0;
        if (util::utf8::decode(bytes + start, end - start, c) != end - start || !is_unicode_white_space(c)) break;
        end = start;
    }
    edges.trailing = text.size() - end;
    return edges;
}

PrimeHead prime_head(const syntax::Ast& ast, syntax::ast::NodeId id, bool through_groups) {
    using syntax::ast::Node;
    bool scripted = false;
    for (;;) {
        const Node& node = ast.node(id);
        if (node.is<Node::Prime>()) return scripted ? PrimeHead::Scripted : PrimeHead::Bare;
        if (const auto* s = node.get_if<Node::Scripted>()) {
            scripted = true;
            id = s->base;
            continue;
        }
        const auto* g = node.get_if<Node::Group>();
        if (!through_groups || g == nullptr || !(g->kind.is_explicit() || g->kind.is_implicit()) ||
            g->children.empty())
            return PrimeHead::None;
        id = g->children[0];
    }
}

bool close_row_end(syntax::Ast& ast, syntax::ast::NodeId id) {
    using syntax::ast::Node;
    const auto* command = ast.node(id).get_if<Node::Command>();
    if (command == nullptr || command->name != "\\" || command->args.size() != 2 || command->args[1]) return false;
    Node closed = ast.node(id);
    std::get<Node::Command>(closed.value).args[1] = syntax::ast::Argument{
        syntax::ast::ArgumentKind::Optional{}, true, syntax::ast::ArgumentValue::Dimension{"0pt"}};
    ast.replace_node(id, std::move(closed));
    return true;
}

void add_to_operand(syntax::Ast& ast, syntax::ast::NodeId operand, std::span<const syntax::ast::NodeId> items,
                    bool at_start) {
    using syntax::ast::Node;
    const auto* group = ast.node(operand).get_if<Node::Group>();
    if (group == nullptr || !group->kind.is_implicit() || group->mode != syntax::ContentMode::Math) {
        const syntax::ast::NodeId placeholder = new_placeholder(ast, syntax::ContentMode::Math);
        ast.replace_content_child(operand, placeholder);
        const syntax::ast::NodeId list = ast.implicit_math_group({&operand, 1});
        replace_in_slot_and_free(ast, placeholder, list);
        operand = list;
    }
    std::size_t at = at_start ? 0 : ast.child_count(operand);
    for (syntax::ast::NodeId item : items) ast.insert_child(operand, at++, item);
    // An operand of one item is that item, as the parser reads it.
    if (ast.child_count(operand) == 1) ast.hoist_only_child(operand);
}

bool join_infix_neighbours(syntax::Ast& ast, syntax::ast::NodeId infix) {
    using syntax::ast::Node;
    const syntax::ParentLink* link = ast.parent_link(infix);
    if (link == nullptr || !link->slot.is_group_child()) return false;
    const syntax::ast::NodeId list = link->parent;
    const std::span<const syntax::ast::NodeId> items = ast.children(list);
    const std::size_t at = link->slot.index();
    // The left operand starts after a cell end or the `\over` of a
    // `\buildrel` before; the right one of a fraction runs to a cell end.
    std::size_t begin = at;
    while (begin > 0 && !ast.node(items[begin - 1]).ends_cell() && !ast.node(items[begin - 1]).is<Node::Infix>())
        --begin;
    std::size_t end = at + 1;
    const bool one_item = transform::buildrel::closed_by(ast, infix).has_value();
    while (!one_item && end < items.size() && !ast.node(items[end]).ends_cell()) ++end;
    util::work_count += end - begin;
    if (begin > 0 && ast.node(items[begin - 1]).is<Node::Infix>() && !transform::buildrel::closed_by(ast, items[begin - 1]))
        return false;
    for (std::size_t i = at + 1; i < end; ++i)
        if (ast.node(items[i]).is<Node::Infix>()) return false;
    if (begin == at && end == at + 1) return false;
    const auto& value = std::get<Node::Infix>(ast.node(infix).value);
    const syntax::ast::NodeId left = value.left;
    const syntax::ast::NodeId right = value.right;
    const std::vector<syntax::ast::NodeId> after = ast.detach_children_range(list, at + 1, end);
    const std::vector<syntax::ast::NodeId> before = ast.detach_children_range(list, begin, at);
    if (!before.empty()) add_to_operand(ast, left, before, true);
    if (!after.empty()) add_to_operand(ast, right, after, false);
    return !before.empty();
}

bool is_bare_control_word(const syntax::ast::Node& node) {
    if (!node.is<syntax::ast::Node::Command>() && !node.is<syntax::ast::Node::Declarative>()) return false;
    for (const auto& arg : *node.args())
        if (arg) return false;
    return syntax::skips_space_after(*node.name());
}

bool is_lone_math_shift(const syntax::Ast& ast, syntax::ast::NodeId id) {
    return (member_marks(ast.node(id)) & kMathShift) != 0;
}

bool primes_join_wrongly(const syntax::Ast& ast, syntax::ast::NodeId before, syntax::ast::NodeId after,
                         bool through_groups) {
    using syntax::ast::Node;
    const PrimeHead head = prime_head(ast, after, through_groups);
    if (head == PrimeHead::None) return false;
    if (head == PrimeHead::Scripted) return true;
    const auto* s = ast.node(before).get_if<Node::Scripted>();
    return s != nullptr && s->superscript && !ast.node(*s->superscript).is<Node::Prime>();
}

syntax::ast::NodeId kept_apart(syntax::Ast& ast, syntax::ast::NodeId before, syntax::ast::NodeId item) {
    using syntax::ast::Node;
    if (!primes_join_wrongly(ast, before, item, false)) return item;
    return ast.new_node(Node::Group{syntax::ast::ChildList(std::span<const syntax::ast::NodeId>(&item, 1)),
                                    syntax::ast::GroupKind::Explicit{}, syntax::ContentMode::Math});
}

void append_cloned_content_after(syntax::Ast& ast, std::vector<syntax::ast::NodeId>& out,
                                 syntax::ast::NodeId content) {
    const std::size_t start = out.size();
    ast.append_cloned_math_content(out, content);
    if (start > 0 && start < out.size()) out[start] = kept_apart(ast, out[start - 1], out[start]);
}

void append_taken_content_after(syntax::Ast& ast, std::vector<syntax::ast::NodeId>& out,
                                syntax::ast::NodeId content) {
    const std::size_t start = out.size();
    ast.append_taken_math_content(out, content);
    if (start > 0 && start < out.size()) out[start] = kept_apart(ast, out[start - 1], out[start]);
}

}  // namespace quorvel::transform::passes::support
