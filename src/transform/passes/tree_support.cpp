#include "transform/passes/tree_support.hpp"

#include "syntax/read_back.hpp"
#include "util/utf8.hpp"

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
