#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

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
//
// A large input holds one `Token` per token until its parse ends, so a `Token` is
// two words: the name's address or the value, and the kind with the name's length.
template <class Name>
class BasicToken {
    static constexpr bool kView = std::is_same_v<Name, std::string_view>;
    using NameRef = std::conditional_t<kView, std::string_view, const Name&>;

public:
    // A neutral value; the lexer never produces a Comment.
    constexpr BasicToken() = default;

    template <class Other>
    explicit BasicToken(const BasicToken<Other>& other) : BasicToken(other.kind(), other.raw_value()) {
        if (other.kind() == TokenKind::ControlSeq) set_name(Name(other.name()));
    }

    static BasicToken control_seq(Name name) {
        BasicToken t(TokenKind::ControlSeq, 0);
        t.set_name(std::move(name));
        return t;
    }
    // A token of a variant without payload (anything but ControlSeq, Primes and Char).
    static constexpr BasicToken simple(TokenKind kind) { return BasicToken(kind, 0); }
    static constexpr BasicToken primes(std::size_t count) { return BasicToken(TokenKind::Primes, count); }
    static constexpr BasicToken character(char32_t c) { return BasicToken(TokenKind::Char, c); }

    constexpr TokenKind kind() const { return data_.kind(); }
    // ControlSeq: the name without the backslash; empty for other variants.
    NameRef name() const { return data_.name(); }
    // Primes: the length of the run.
    constexpr std::size_t count() const { return static_cast<std::size_t>(raw_value()); }
    // Char: the character.
    constexpr char32_t ch() const { return static_cast<char32_t>(raw_value()); }
    constexpr std::uint64_t raw_value() const { return data_.value(); }

    // A control sequence of exactly this name.
    bool is_control(std::string_view name) const {
        return kind() == TokenKind::ControlSeq && std::string_view(this->name()) == name;
    }

    template <class Other>
    bool operator==(const BasicToken<Other>& other) const {
        return kind() == other.kind() && raw_value() == other.raw_value() &&
               std::string_view(name()) == std::string_view(other.name());
    }

    // The display text: "\" and the name for a control sequence, the count of ASCII
    // apostrophes for primes, one blank for white space, the character for Char.
    void append_display(std::string& out) const {
        switch (kind()) {
            case TokenKind::ControlSeq: out.push_back('\\'); out.append(name()); break;
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
    // A view token: the name's address (a control sequence) or the value
    // (anything else) in one word; the kind in the low byte of the other, the
    // name's length above it.
    struct ViewData {
        union {
            std::uint64_t number = 0;
            const char* text;
        };
        std::uint64_t meta = static_cast<std::uint64_t>(TokenKind::Comment);

        constexpr ViewData() = default;
        constexpr ViewData(TokenKind kind, std::uint64_t value) : number(value), meta(static_cast<std::uint8_t>(kind)) {}
        constexpr TokenKind kind() const { return static_cast<TokenKind>(meta & 0xFF); }
        constexpr std::uint64_t value() const { return kind() == TokenKind::ControlSeq ? 0 : number; }
        std::string_view name() const {
            return kind() == TokenKind::ControlSeq ? std::string_view(text, static_cast<std::size_t>(meta >> 8))
                                                   : std::string_view();
        }
        void set_name(std::string_view n) {
            text = n.data();
            meta = static_cast<std::uint8_t>(kind()) | (static_cast<std::uint64_t>(n.size()) << 8);
        }
    };
    struct OwnedData {
        TokenKind kind_ = TokenKind::Comment;
        std::uint64_t value_ = 0;  // Primes count or Char scalar value
        std::string name_;

        constexpr OwnedData() = default;
        constexpr OwnedData(TokenKind kind, std::uint64_t value) : kind_(kind), value_(value) {}
        constexpr TokenKind kind() const { return kind_; }
        constexpr std::uint64_t value() const { return value_; }
        const std::string& name() const { return name_; }
        void set_name(std::string n) { name_ = std::move(n); }
    };

    constexpr BasicToken(TokenKind kind, std::uint64_t value) : data_(kind, value) {}
    void set_name(Name name) { data_.set_name(std::move(name)); }

    std::conditional_t<kView, ViewData, OwnedData> data_{};
};

using Token = BasicToken<std::string_view>;
using OwnedToken = BasicToken<std::string>;

static_assert(sizeof(Token) == 16, "a token is two words");

}  // namespace quorvel::parse
