// The argument-specification language: the slots a command or environment
// declares, such as "s m{} m" or "d<(,)><[,]><{,}>".
//
// The types are literal types so that the built-in package tables can hold
// their parsed slot lists as compile-time constants. Texts and pair lists are
// views: into static data for the built-in tables, into an `ArgSpecList`'s own
// storage for parsed specs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "knowledge/expected.hpp"

namespace quorvel::knowledge {

// One delimiter named in a spec: a single character, or a control-sequence
// name without its backslash ("langle", "{").
struct DelimiterToken {
    enum class Kind : std::uint8_t { Char, ControlSeq };
    Kind kind = Kind::Char;
    char32_t ch = 0;          // Char
    std::string_view name{};  // ControlSeq

    static constexpr DelimiterToken character(char32_t c) { return {Kind::Char, c, {}}; }
    static constexpr DelimiterToken control(std::string_view n) { return {Kind::ControlSeq, 0, n}; }

    friend constexpr bool operator==(const DelimiterToken& a, const DelimiterToken& b) {
        if (a.kind != b.kind) return false;
        return a.kind == Kind::Char ? a.ch == b.ch : a.name == b.name;
    }
};

struct DelimiterPair {
    DelimiterToken open;
    DelimiterToken close;
    friend constexpr bool operator==(const DelimiterPair&, const DelimiterPair&) = default;
};

enum class ArgFormKind : std::uint8_t { Standard, Star, Group, Delimited, Paired };

// The syntactic shape of a slot. `open`/`close` are meaningful for Delimited,
// `pairs` (at least one) for Paired.
struct ArgForm {
    ArgFormKind kind = ArgFormKind::Standard;
    DelimiterToken open{};
    DelimiterToken close{};
    std::span<const DelimiterPair> pairs{};

    friend constexpr bool operator==(const ArgForm& a, const ArgForm& b) {
        if (a.kind != b.kind) return false;
        switch (a.kind) {
            case ArgFormKind::Delimited:
                return a.open == b.open && a.close == b.close;
            case ArgFormKind::Paired:
                if (a.pairs.size() != b.pairs.size()) return false;
                for (std::size_t i = 0; i < a.pairs.size(); ++i)
                    if (!(a.pairs[i] == b.pairs[i])) return false;
                return true;
            default:
                return true;
        }
    }
};

enum class ArgValueKind : std::uint8_t {
    MathContent = 0,
    TextContent = 1,
    OperatorName = 2,
    Delimiter = 3,
    CsName = 4,
    Dimension = 5,
    Integer = 6,
    KeyVal = 7,
    Column = 8,
    Star = 9,
};

struct ArgSpec {
    ArgForm form{};
    bool required = false;
    bool no_leading_space = false;
    bool nullable = false;
    ArgValueKind kind = ArgValueKind::MathContent;

    friend constexpr bool operator==(const ArgSpec&, const ArgSpec&) = default;
};

// A parsed slot list that owns the texts and pair lists its slots point to.
// Copies share the (immutable) storage, so the views inside the slots stay
// valid as long as any copy lives.
class ArgSpecList {
public:
    ArgSpecList() = default;

    std::span<const ArgSpec> slots() const noexcept;
    std::size_t size() const noexcept { return slots().size(); }
    bool empty() const noexcept { return slots().empty(); }
    const ArgSpec& operator[](std::size_t i) const noexcept { return slots()[i]; }
    const ArgSpec* begin() const noexcept { return slots().data(); }
    const ArgSpec* end() const noexcept { return slots().data() + slots().size(); }

    friend bool operator==(const ArgSpecList& a, std::span<const ArgSpec> b) noexcept;
    friend bool operator==(const ArgSpecList& a, const ArgSpecList& b) noexcept {
        return a == b.slots();
    }

private:
    struct Storage;
    friend class ArgSpecParser;
    explicit ArgSpecList(std::shared_ptr<const Storage> storage) : storage_(std::move(storage)) {}

    std::shared_ptr<const Storage> storage_;
};

struct ArgSpecParseError {
    std::string context;
    std::string message;
    std::size_t position = 0;  // counted in characters, not bytes

    // "invalid argspec ({context}) at char {position}: {message}"
    std::string to_string() const;

    friend bool operator==(const ArgSpecParseError&, const ArgSpecParseError&) = default;
};

// Parses an argument specification. `context` names what is being parsed
// ("validate_argspec", "command foo") and is carried by a refusal. Stops at the
// first error; never returns a partial list.
Expected<ArgSpecList, ArgSpecParseError> parse_arg_specs(std::string_view spec, std::string_view context);

}  // namespace quorvel::knowledge
