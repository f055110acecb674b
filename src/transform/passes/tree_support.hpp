// What the three tree passes share: the depth at which a walk re-roots the
// subtrees below it, placeholders for single-node slots, and the character
// classes the passes test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "util/thread_storage.hpp"

namespace quorvel::transform::passes::support {

// Every attach checks for a cycle at the cost of the new parent's depth or,
// when smaller, of the attached subtree's size, so moving sizeable subtrees
// deep in a tall tree would cost its height each. A walk that reaches this
// depth detaches the children of the node it is at and reattaches them on
// the way back: no check then walks further than this.
inline constexpr std::uint32_t kRerootDepth = 64;

// An empty implicit group: a stand-in that keeps a single-node slot filled
// while its node is worked on as a detached root. It is a Group, so it may
// stand in an environment body as well.
inline syntax::ast::NodeId new_placeholder(syntax::Ast& ast, syntax::ContentMode mode) {
    return ast.new_node(syntax::ast::Node::Group{{}, syntax::ast::GroupKind::Implicit{}, mode});
}

// Puts `replacement` (a detached root) into the slot that `current` holds and
// frees `current` with everything still below it.
inline void replace_in_slot_and_free(syntax::Ast& ast, syntax::ast::NodeId current,
                                     syntax::ast::NodeId replacement) {
    ast.replace_content_child(current, replacement);
    ast.remove_detached(current);
}

// An environment that amsmath sets between `\left` and `\right`: the
// delimited matrices and `cases`, inner atoms like the pair itself.
inline bool is_fenced_environment(const syntax::ast::Node& node) {
    const auto* environment = node.get_if<syntax::ast::Node::Environment>();
    if (environment == nullptr) return false;
    const std::string_view name(environment->name);
    for (std::string_view fenced : {"pmatrix", "bmatrix", "Bmatrix", "vmatrix", "Vmatrix", "cases"})
        if (name == fenced) return true;
    return false;
}

// `\break` or `\newline`: a line break that TeX makes only in the formula's
// own list; the rules write it `\\` there, and anywhere else take it out
// where TeX sets the list alike without it.
inline bool is_line_break(const syntax::ast::Node& node) {
    const auto* command = node.get_if<syntax::ast::Node::Command>();
    return command != nullptr && command->args.empty() && (command->name == "break" || command->name == "newline");
}

// A row end `\\` whose space below the row stands open takes a `*` or `[`
// written after it, and braces around it would cut its cell from the row:
// a space of nothing, `\\[0pt]`, closes it instead. False for any other
// node, which is left as it is.
bool close_row_end(syntax::Ast& ast, syntax::ast::NodeId id);

// Puts `items` (detached roots) at the start, or the end, of the infix
// operand in `operand`: an implicit math group takes them as members, any
// other operand becomes one member of a new such group. An operand of one
// item is that item, as the parser reads it.
void add_to_operand(syntax::Ast& ast, syntax::ast::NodeId operand, std::span<const syntax::ast::NodeId> items,
                    bool at_start);

// The items beside an infix in its list, up to the cell ends around, are
// its operands' as the reader takes them: those before it start its left
// operand, those after end its right one, where a `\buildrel`'s `\over`,
// whose right operand is one item, takes none. Moves them there, which
// changes no text written. Does nothing to a list of several infixes in
// one cell, which no reading gives.
bool join_infix_neighbours(syntax::Ast& ast, syntax::ast::NodeId infix);

// The passes keep their work lists from call to call on one thread, so that
// the many small trees of a batch cost no allocation each; a call that grew a
// list past this many entries gives the memory back when it ends.
inline constexpr std::size_t kKeptCapacity = 1 << 14;

template <class T>
[[gnu::noinline, gnu::cold]] void release(std::vector<T>& list) {
    std::vector<T>().swap(list);
}

// Both run once or more per pass and node: kept inline, the rare release
// out of line.
template <class T>
[[gnu::always_inline]] inline void reset(std::vector<T>& list) {
    list.clear();
    if (list.capacity() > kKeptCapacity) [[unlikely]] release(list);
}

// Cuts a work list back to its first `size` entries: a shrinking resize
// without the growing path.
template <class T>
[[gnu::always_inline]] inline void truncate(std::vector<T>& list, std::size_t size) noexcept {
    if (size < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(size), list.end());
}

// Lends a pass this thread's kept work lists for one run; they are reset on
// the way out (also when the run throws), so every loan finds them empty.
template <class Buffers>
class KeptBuffers {
public:
    KeptBuffers() : kept_(thread_kept()) {}
    ~KeptBuffers() { kept_.reset(); }
    KeptBuffers(const KeptBuffers&) = delete;
    KeptBuffers& operator=(const KeptBuffers&) = delete;

    Buffers& get() const noexcept { return kept_; }

private:
    static Buffers& thread_kept() {
        constinit thread_local util::ThreadCache<Buffers> kept;
        return *kept;
    }

    Buffers& kept_;
};

// The Unicode White_Space property.
constexpr bool is_unicode_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// The lengths in bytes of the leading and trailing white space of a text;
// when the text is all white space, `leading` covers it and `trailing` is 0.
struct WhiteSpaceEdges {
    std::size_t leading = 0;
    std::size_t trailing = 0;
};
WhiteSpaceEdges white_space_edges(std::string_view text) noexcept;

// Tab, line feed, form feed, carriage return and space; with the no-break
// space they make up a spacing run of text. A vertical tab is not among them.
constexpr bool is_spacing_byte(unsigned char c) noexcept {
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

// Whether two characters written side by side in text render as one glyph:
// `--` and `---` as dashes, two quotes as a double quote, `!`` and `?`` as
// the inverted marks, `<<` and `>>` as guillemets, and the f-ligatures `ff`,
// `fi`, `fl` (`ffi` and `ffl` join pair by pair). Two spaces join as well:
// TeX reads a run of them as one, while a brace between them keeps both.
constexpr bool joins_in_text(char first, char second) noexcept {
    switch (second) {
        case ' ': return first == ' ';
        case 'f':
        case 'i':
        case 'l': return first == 'f';
        case '-': return first == '-';
        case '`': return first == '`' || first == '!' || first == '?';
        case '\'': return first == '\'';
        case '<': return first == '<';
        case '>': return first == '>';
        default: return false;
    }
}

// The length in bytes of the spacing run a text starts with.
constexpr std::size_t leading_spacing(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        if (is_spacing_byte(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0xA0) {
            i += 2;  // U+00A0
        } else {
            break;
        }
    }
    return i;
}

// How the text of a math node starts with primes of its own: a lone prime,
// or a prime base carrying scripts. A `'` reads as a script of the item
// before it, so such a node joins that item when written after it. With
// `through_groups`, explicit and implicit groups count as taken apart.
enum class PrimeHead : std::uint8_t { None, Bare, Scripted };
PrimeHead prime_head(const syntax::Ast& ast, syntax::ast::NodeId id, bool through_groups);

// Whether written after `before`, the primes `after` starts with would not
// read back as its own: after an item with a superscript other than primes,
// as `x^a'`, they do not read at all, and the scripts of a prime base would
// become that item's.
bool primes_join_wrongly(const syntax::Ast& ast, syntax::ast::NodeId before, syntax::ast::NodeId after,
                         bool through_groups);

// In text, a `\(` or `\)` that found no partner at its level is read as a
// command; out of the braces around it (a group's or a prefix body's) it
// could pair with one outside and read back as inline math. Such braces
// stay; this tells whether a member of a text list is one of them.
bool is_lone_math_shift(const syntax::Ast& ast, syntax::ast::NodeId id);

// Whether the node is written as a control word or a control space alone (a
// command or declarative with no argument written): TeX skips the white
// space after it, which only ends its name.
bool is_bare_control_word(const syntax::ast::Node& node);
// What a member of a list is that keeps the braces of a group holding it:
// a cell separator (`Node::ends_cell`), or a lone math shift (see above).
// Asked of every member as it joins a list, so most nodes are turned away
// by their kind or the length of their name.
enum MemberMark : std::uint8_t { kEndsCell = 1, kMathShift = 2 };
inline std::uint8_t member_marks(const syntax::ast::Node& node) {
    using syntax::ast::Node;
    if (const auto* c = node.get_if<Node::Char>()) return c->value == U'&' ? kEndsCell : 0;
    const auto* command = node.get_if<Node::Command>();
    if (command == nullptr || command->name.size() > 2) return 0;
    if (node.ends_cell()) return kEndsCell;
    return command->args.empty() && (command->name == "(" || command->name == ")") ? kMathShift : 0;
}
// The same for a member of a math list, where a line break, bare or
// scripted, counts as a cell separator: it does nothing in a group and would
// break the line out of it.
inline std::uint8_t member_marks(const syntax::Ast& ast, const syntax::ast::Node& node) {
    using syntax::ast::Node;
    const auto* scripted = node.get_if<Node::Scripted>();
    const Node& item = scripted != nullptr ? ast.node(scripted->base) : node;
    return member_marks(node) | (is_line_break(item) ? kEndsCell : 0);
}

// What a rule building a math list writes after `before` for `item`: the
// item, or where its primes would join `before`, as the `'` of a function
// would after `\partial^{2}`, a brace group holding it, which flattening
// keeps for the same reason.
syntax::ast::NodeId kept_apart(syntax::Ast& ast, syntax::ast::NodeId before, syntax::ast::NodeId item);

// Appends clones of the math content `content` to the list `out` a rule is
// building, its first item kept apart from the item before it.
void append_cloned_content_after(syntax::Ast& ast, std::vector<syntax::ast::NodeId>& out,
                                 syntax::ast::NodeId content);
// The same, moving the content out of the node the rule replaces (see
// `Ast::take`): for content the rule writes once, or the last time.
void append_taken_content_after(syntax::Ast& ast, std::vector<syntax::ast::NodeId>& out,
                                syntax::ast::NodeId content);

}  // namespace quorvel::transform::passes::support
