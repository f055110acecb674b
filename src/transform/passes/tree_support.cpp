#include "transform/passes/tree_support.hpp"

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

bool is_lone_math_shift(const syntax::Ast& ast, syntax::ast::NodeId id) {
    const auto* command = ast.node(id).get_if<syntax::ast::Node::Command>();
    return command != nullptr && command->args.empty() && (command->name == "(" || command->name == ")");
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

}  // namespace quorvel::transform::passes::support
