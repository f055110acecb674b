// Writing an arena tree back as LaTeX text, plain or with its tokens.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/expected.hpp"
#include "syntax/serialize_options.hpp"

namespace quorvel::syntax {

// Why a tree could not be written.
class SerializeError {
public:
    enum class Kind : std::uint8_t {
        // The declared failure; no tree the arena can hold produces it.
        Unsupported,
        // More prime marks than any real formula holds: writing them would
        // only turn a small tree into a huge string.
        TooManyPrimes,
    };

    constexpr explicit SerializeError(Kind kind = Kind::Unsupported) : kind_(kind) {}

    constexpr Kind kind() const { return kind_; }
    std::string_view message() const;

    friend constexpr bool operator==(SerializeError, SerializeError) = default;

private:
    Kind kind_;
};

struct TokenizedLatex {
    std::string text;
    std::vector<SerializationToken> tokens;
};

namespace serialize {

// The most prime marks one output may hold, all `Prime` nodes and prime
// superscripts together.
inline constexpr std::uint64_t kMaxPrimes = 1'000'000;

// The tree under the arena's root as LaTeX text. Detached subtrees are not
// written.
Expected<std::string, SerializeError> serialize_with(const Ast& ast,
                                                     const SerializeOptions& options);

// The same walk, also reporting each written token; `text` is byte for byte
// what `serialize_with` returns.
Expected<TokenizedLatex, SerializeError> serialize_tokenized_with(
    const Ast& ast, const SerializeOptions& options);

// The text of one node and its subtree, as the whole-tree walk writes it
// standing in `mode` at the start of the output.
Expected<std::string, SerializeError> serialize_node_with(const Ast& ast, ast::NodeId node, ContentMode mode,
                                                          const SerializeOptions& options);

// Where the text of one node begins and ends in a text written.
struct NodeRange {
    ast::NodeId node;
    std::size_t start = 0;
    std::size_t end = 0;
};

// `serialize_node_with`, also giving the range of the text of each node
// below `node` (or itself) for which `wanted` holds, in the order written:
// the text between is what the node's own writing would give, but for
// white space.
Expected<std::string, SerializeError> serialize_node_ranges(const Ast& ast, ast::NodeId node, ContentMode mode,
                                                            const SerializeOptions& options,
                                                            std::function<bool(ast::NodeId)> wanted,
                                                            std::vector<NodeRange>& ranges);

// Whether the text written for `node` holds a `]` outside braces. In a
// bracket argument `[...]` that `]` ends the argument, brackets do not nest
// there and only braces hide them; so such a node is written in braces
// there, and the transform keeps the braces it already has. An Error node's
// text is written as it stood where the parser found it, so it reads back
// alike and never counts: braced, it would gain a level at every reading.
bool closes_bracket_argument(const Ast& ast, ast::NodeId node);

// The two steps of that answer, for a walk that computes it for every node
// at once. Whether the node's own text, its slots aside, holds a bare `]`.
bool own_text_closes_bracket(const Ast& ast, ast::NodeId node);
// How the text of a slot stands in its node's text: hidden in braces (or
// scripts), written whole, or written as content, where a brace group is
// written as its children alone.
enum class BracketReach : std::uint8_t { Hidden, Whole, Content };
BracketReach bracket_reach(const Ast& ast, ast::NodeId parent, Slot slot);

// The text of one character: math escapes # $ % _ { }, text also &.
std::string serialized_char(char32_t ch, ContentMode mode);

}  // namespace serialize
}  // namespace quorvel::syntax
