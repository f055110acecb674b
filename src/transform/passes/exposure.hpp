// What a removal may expose. Taking out a group, or dropping a node, puts
// the next token right after the command or environment before it; if that
// one still has an open trailing slot the token can fill, the text reads
// back otherwise. The knowledge base says which tokens each slot takes.
#pragma once

#include <string_view>

#include "knowledge/knowledge_base.hpp"
#include "syntax/ast.hpp"

namespace quorvel::transform::passes::support {

// The first token the writer puts down for a node, as far as a slot of the
// command before it can tell: a character, a control sequence, an opening
// brace, anything else, or nothing at all.
struct LeadToken {
    enum class Kind : std::uint8_t { None, Char, Control, Brace, Other };
    Kind kind = Kind::None;
    char32_t ch = 0;
    std::string_view name;
};
LeadToken lead_token(const syntax::Ast& ast, syntax::ast::NodeId node);

// Whether `token`, written right after `before`, would fill one of its
// trailing slots that stand empty. Only a command, declarative or
// environment the knowledge bases know has slots; unknown commands read
// none (their arguments stand beside them).
bool takes_token(const syntax::Ast& ast, const knowledge::KnowledgeBase& math, const knowledge::KnowledgeBase& text,
                 syntax::ast::NodeId before, LeadToken token);

// Whether `token`, written in place of `node`, would fill an open slot of
// the item written just before it (a script base stands for its scripted
// node) or of the environment whose body it starts: what a rule that
// replaces or drops a node asks before it does.
bool taken_by_item_before(const syntax::Ast& ast, const knowledge::KnowledgeBase& math,
                          const knowledge::KnowledgeBase& text, syntax::ast::NodeId node, LeadToken token);

}  // namespace quorvel::transform::passes::support
