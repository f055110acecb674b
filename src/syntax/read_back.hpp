// What a tree may hold so that the text written for it reads back as the
// same tree. The lexer and the parser's own argument readers decide: a name,
// character, text or argument value is refused exactly when its written text
// would be read as something else, or would swallow or break what follows.
//
// Each check answers nothing when the value reads back, else a sentence that
// names the value and says why, for the caller's error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "syntax/content_mode.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::syntax {

using Unreadable = std::optional<std::string>;

// `\name` lexes as one control sequence named `name`: one or more ASCII
// letters, or exactly one other character (a control symbol).
bool is_control_sequence_name(std::string_view name);

// `\begin{name}` reads `name` back: one or more characters, each a
// character token of its own or `*` (no braces, brackets, spaces, `%`,
// backslashes or other one-character tokens).
bool is_environment_name(std::string_view name);

// Whether TeX's reader skips the white space after `\name`: it does after a
// control word and a control space, whose names that white space only ends;
// after any other control symbol it is a space.
inline bool skips_space_after(std::string_view name) noexcept {
    if (name.empty()) return false;
    const unsigned char c = static_cast<unsigned char>(name.front());
    return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == ' ' || c == '\t';
}

// A command, declarative or infix name: one control sequence that the
// reader takes for a command (`\%` is the character `%`, `\begin` opens
// an environment).
Unreadable check_command_name(std::string_view name);
Unreadable check_environment_name(std::string_view name);

// A character standing in `mode`. Math holds every character that text
// does, so a node that stands nowhere yet is checked as in math.
Unreadable check_char(char32_t c, ContentMode mode);

// A text value: what text content can hold. An empty text writes nothing.
Unreadable check_text(std::string_view text);

// One scalar argument value (anything but content and the star flag), as
// the writer writes it in a slot of `kind`.
struct ScalarValue {
    enum class Kind : std::uint8_t { Delimiter, CSName, Dimension, Integer, KeyVal, Column };
    Kind kind;
    std::string_view text;                              // all but Delimiter
    const syntax_node::Delimiter* delimiter = nullptr;  // Delimiter
};
// An empty value reads back only in a slot that allows none (`\genfrac`'s
// `{}`), which only the command's knowledge tells: a tree may hold one where
// the parser found it, an edit may not make one.
Unreadable check_scalar(const syntax_node::ArgumentKind& kind, const ScalarValue& value, bool allow_empty);
// A delimiter written bare: after `\left`, or as the value of a slot.
Unreadable check_delimiter(const syntax_node::Delimiter& delimiter);

// The scalar of an argument value of the arena or of the exchange tree;
// nothing for content and the star flag.
template <class Value>
std::optional<ScalarValue> scalar_of(const Value& value) {
    std::optional<ScalarValue> out;
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            using K = ScalarValue::Kind;
            if constexpr (std::is_same_v<V, typename Value::Delimiter>) {
                out = ScalarValue{K::Delimiter, {}, &v.value};
            } else if constexpr (std::is_same_v<V, typename Value::CSName>) {
                out = ScalarValue{K::CSName, v.value};
            } else if constexpr (std::is_same_v<V, typename Value::Dimension>) {
                out = ScalarValue{K::Dimension, v.value};
            } else if constexpr (std::is_same_v<V, typename Value::Integer>) {
                out = ScalarValue{K::Integer, v.value};
            } else if constexpr (std::is_same_v<V, typename Value::KeyVal>) {
                out = ScalarValue{K::KeyVal, v.value};
            } else if constexpr (std::is_same_v<V, typename Value::Column>) {
                out = ScalarValue{K::Column, v.value};
            }
        },
        value.value);
    return out;
}

// ---- Neighbours in a list ---------------------------------------------------

// What the text written for an item leaves open to the item after it: a
// control word or a bare unit that a letter would continue, an optional
// argument that its opening (`[`, `{`, `(`) would open, a star flag that a
// `*` would set.
struct Tail {
    bool letter = false;
    std::u32string opens;  // what opens an argument left out
    bool star = false;
    // A control word or a control space: spacing after it at the end of a
    // group reads back as nothing.
    bool eats_space = false;
};

// What opens the empty slot `index` of a command (or environment) of
// `count` slots, when it follows: the packages' slot of that name says. A
// name they do not know with that many slots may read an optional argument.
std::u32string slot_openings(std::string_view name, std::size_t index, std::size_t count, bool environment);

// The tail of a command-like item written in a list, from its name and
// its argument slots (of the arena or of the exchange tree).
template <class Slots>
Tail command_tail(std::string_view name, const Slots& slots, bool environment = false) {
    Tail tail;
    const auto word = [](std::string_view n) {
        return !n.empty() && ((n.front() | 0x20) >= 'a' && (n.front() | 0x20) <= 'z');
    };
    // Slots written as nothing leave the name (or the slot before) last.
    std::size_t end = slots.size();
    for (; end > 0; --end) {
        const auto& slot = slots[end - 1];
        if (!slot) {
            tail.opens += slot_openings(name, end - 1, slots.size(), environment);
            continue;
        }
        if (!slot->kind.is_star()) break;
        const auto* flag = std::get_if<typename std::decay_t<decltype(slot->value)>::Boolean>(&slot->value.value);
        if (flag == nullptr || flag->value) break;
        tail.star = true;
    }
    if (end == 0 && environment) return tail;
    if (end == 0) {
        tail.letter = word(name);
        tail.eats_space = tail.letter || name == " ";
        return tail;
    }
    const auto& last = *slots[end - 1];
    if (last.kind.is_star() || last.kind.as_delimited() != nullptr || last.kind.as_paired() != nullptr) return tail;
    if (!std::holds_alternative<syntax_node::ArgumentKind::Mandatory>(last.kind.value)) return tail;
    // A mandatory dimension or delimiter is written bare.
    using Value = std::decay_t<decltype(last.value)>;
    if (const auto* d = std::get_if<typename Value::Dimension>(&last.value.value)) {
        tail.letter = !d->value.empty();
    } else if (const auto* d = std::get_if<typename Value::Delimiter>(&last.value.value)) {
        const auto* control = d->value.as_control();
        tail.letter = control != nullptr && word(control->name);
    }
    return tail;
}

// An item whose written text starts with `first` after an item with
// `tail`: refused when the two would read back as one.
Unreadable check_after(const Tail& tail, char32_t first, std::string_view what);
// A text of spacing alone that ends a group after an item with `tail`.
Unreadable check_closing_space(const Tail& tail, std::string_view text);

// The first character written for a character standing in `mode`.
char32_t first_written(char32_t c, ContentMode mode);

// Whether a command of this name is one of TeX's primitives that read a
// dimension bare (`\kern 3pt`), where a macro takes it in braces
// (`\hspace{3pt}`): braces there are no dimension to TeX.
bool reads_bare_dimension(std::string_view command_name);

// How the value names itself in a message: `text "50%"`.
std::string quoted(std::string_view what, std::string_view value);

}  // namespace quorvel::syntax
