#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "parse/utf8.hpp"

namespace quorvel::parse {

// The sixteen token variants, in declaration order. Only ControlSeq, Primes and Char
// carry data. Comment exists for display only: the lexer skips comments.
enum class TokenKind : std::uint8_t {
    ControlSeq,
    Tilde,
    LBrace,
    RBrace,
    MathShift,
    Ampersand,
    Hash,
    Caret,
    Underscore,
    Star,
    LBracket,
    RBracket,
    Primes,
    Whitespace,
    Comment,
    Char,
};

// One lexical token. `Name` is std::string_view for tokens that point into the lexed
// text (`Token`) and std::string for tokens that must outlive it (`OwnedToken`, kept in
// parse failures). Tokens compare by variant and payload.
template <class Name>
class BasicToken {
public:
    // A neutral value; the lexer never produces a Comment.
    constexpr BasicToken() = default;

    template <class Other>
    explicit BasicToken(const BasicToken<Other>& other)
        : kind_(other.kind()), value_(other.raw_value()), name_(other.name()) {}

    static BasicToken control_seq(Name name) {
        BasicToken t(TokenKind::ControlSeq, 0);
        t.name_ = std::move(name);
        return t;
    }
    // A token of a variant without payload (anything but ControlSeq, Primes and Char).
    static constexpr BasicToken simple(TokenKind kind) { return BasicToken(kind, 0); }
    static constexpr BasicToken primes(std::size_t count) { return BasicToken(TokenKind::Primes, count); }
    static constexpr BasicToken character(char32_t c) { return BasicToken(TokenKind::Char, c); }

    constexpr TokenKind kind() const { return kind_; }
    // ControlSeq: the name without the backslash; empty for other variants.
    const Name& name() const { return name_; }
    // Primes: the length of the run.
    constexpr std::size_t count() const { return static_cast<std::size_t>(value_); }
    // Char: the character.
    constexpr char32_t ch() const { return static_cast<char32_t>(value_); }
    constexpr std::uint64_t raw_value() const { return value_; }

    // A control sequence of exactly this name.
    bool is_control(std::string_view name) const {
        return kind_ == TokenKind::ControlSeq && std::string_view(name_) == name;
    }

    template <class Other>
    bool operator==(const BasicToken<Other>& other) const {
        return kind_ == other.kind() && value_ == other.raw_value() &&
               std::string_view(name_) == std::string_view(other.name());
    }

    // The display text: "\" and the name for a control sequence, the count of ASCII
    // apostrophes for primes, one blank for white space, the character for Char.
    void append_display(std::string& out) const {
        switch (kind_) {
            case TokenKind::ControlSeq: out.push_back('\\'); out.append(name_); break;
            case TokenKind::Tilde: out.push_back('~'); break;
            case TokenKind::LBrace: out.push_back('{'); break;
            case TokenKind::RBrace: out.push_back('}'); break;
            case TokenKind::MathShift: out.push_back('$'); break;
            case TokenKind::Ampersand: out.push_back('&'); break;
            case TokenKind::Hash: out.push_back('#'); break;
            case TokenKind::Caret: out.push_back('^'); break;
            case TokenKind::Underscore: out.push_back('_'); break;
            case TokenKind::Star: out.push_back('*'); break;
            case TokenKind::LBracket: out.push_back('['); break;
            case TokenKind::RBracket: out.push_back(']'); break;
            case TokenKind::Primes: out.append(count(), '\''); break;
            case TokenKind::Whitespace: out.push_back(' '); break;
            case TokenKind::Comment: out.push_back('%'); break;
            case TokenKind::Char: utf8::append(out, ch()); break;
        }
    }
    std::string display() const {
        std::string out;
        append_display(out);
        return out;
    }

private:
    constexpr BasicToken(TokenKind kind, std::uint64_t value) : kind_(kind), value_(value) {}

    TokenKind kind_ = TokenKind::Comment;
    std::uint64_t value_ = 0;  // Primes count or Char scalar value
    Name name_{};
};

using Token = BasicToken<std::string_view>;
using OwnedToken = BasicToken<std::string>;

}  // namespace quorvel::parse
