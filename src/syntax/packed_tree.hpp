// The exchange tree as one flat byte string: the nodes in pre-order, each a
// kind byte and its own fields, followed by its subtrees. Lengths and counts
// are unsigned LEB128, characters their scalar values, texts their UTF-8
// bytes. The form is what a pickled Document carries: it has no nesting of
// its own, so trees of any depth pack and unpack in time linear in their
// size, without recursion.
#pragma once

#include <string>
#include <string_view>

#include "syntax/syntax_node.hpp"
#include "util/expected.hpp"

namespace quorvel::syntax {

// The first byte of every packed tree; a reader refuses any other.
inline constexpr unsigned char kPackedTreeVersion = 1;

// Packs any tree, even one that lacks a required child (an operand, a body,
// a script base, an argument's content); reading such a packing refuses it.
std::string pack_tree(const SyntaxNode& root);

// Reads a packed tree, refusing (with a short reason) truncated or trailing
// bytes, unknown tags, ill-formed UTF-8, characters that are not Unicode
// scalar values, counts larger than the bytes left could hold and missing
// required children. Whether the tree makes a valid document is left to
// `Document::from_syntax`.
util::Expected<SyntaxNode, std::string> unpack_tree(std::string_view bytes);

}  // namespace quorvel::syntax
