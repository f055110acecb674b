// The names a tree can hold and write so that they read back as the same
// node. The lexer decides: a name is accepted exactly when the written text
// lexes back into it.
#pragma once

#include <string_view>

namespace quorvel::syntax {

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

}  // namespace quorvel::syntax
