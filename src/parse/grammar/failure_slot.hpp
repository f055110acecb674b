// The grammar's working form of a failure, and the patterns it names.
//
// While the grammar runs, failures are made and merged at almost every token
// (a whitespace skip that stops, an alternative that does not match), so the
// working form is compact: expected items are small pattern numbers, the found
// token is an index into the token stream, and texts are built only when a
// failure leaves the run as an owned `ParseFailure`.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parse/diagnostic_kind.hpp"
#include "parse/failure.hpp"
#include "parse/span.hpp"
#include "parse/token.hpp"
#include "syntax/small_vector.hpp"

namespace quorvel::parse::grammar {

using PatternId = std::uint16_t;

// The patterns the grammar names itself, numbered once and for all. Patterns met
// only at run time (those of failures that come from another token stream) get
// numbers from `kStaticPatternCount` on, per input.
namespace pattern {
enum : PatternId {
    kEndOfInput,
    kSomethingElse,
    kAny,
    // Single tokens, expected by the primitive that matches exactly that token.
    kTilde,
    kLBrace,
    kRBrace,
    kMathShift,
    kAmpersand,
    kHash,
    kCaret,
    kUnderscore,
    kStar,
    kLBracket,
    kRBracket,
    kWhitespace,
    // Labels.
    kEscapedSymbol,
    kBareDelimiterControl,
    kUnknownCommand,
    kMathPrime,
    kMathCharacter,
    kText,
    kOpenParen,
    kCloseParen,
    kRight,
    kEnd,
    kBegin,
    kLeft,
    kControlStop,
    kEnvironmentName,
    kDelimiter,
    kDimension,
    kInteger,
    kNotACommand,
    kSubscriptContent,
    kSuperscriptContent,
    kMandatoryArgument,
    kLeftDelimitedGroup,
    kEnvironmentBody,
    kCommandArgument,
    kDeclarativeCommandArgument,
    kEnvironmentArgument,
    kInfixCommandArgument,
    kArgumentValue,
    kExpectedKeyvalArgument,
    kExpectedColumnArgument,
    kStaticPatternCount
};
}  // namespace pattern

static_assert(pattern::kStaticPatternCount <= 64, "static patterns must fit the membership mask");

// The descriptor of a static pattern.
struct StaticPattern {
    Pattern::Kind kind;
    TokenKind token;         // Kind::Token
    std::string_view label;  // Kind::Label
};

const StaticPattern& static_pattern(PatternId id);

// An insertion-ordered set of pattern numbers; membership of the static ones is
// a bit test.
class ExpectedSet {
public:
    bool contains(PatternId id) const noexcept {
        if (id < 64) return (mask_ >> id) & 1u;
        for (PatternId x : ids_) {
            if (x == id) return true;
        }
        return false;
    }
    [[gnu::always_inline]] void add(PatternId id) {
        if (id < 64) {
            const std::uint64_t bit = std::uint64_t{1} << id;
            if (mask_ & bit) return;
            mask_ |= bit;
        } else if (contains(id)) {
            return;
        }
        ids_.push_back(id);
    }
    // Adds the members of `other` that are missing, in its order.
    void add_all(const ExpectedSet& other) {
        // Merged sets mostly hold static patterns that are here already.
        const bool only_static = other.ids_.size() == static_cast<std::size_t>(std::popcount(other.mask_));
        if (only_static && (other.mask_ & ~mask_) == 0) return;
        for (PatternId id : other.ids_) add(id);
    }
    void clear() noexcept {
        ids_.clear();
        mask_ = 0;
    }
    std::size_t size() const noexcept { return ids_.size(); }
    bool empty() const noexcept { return ids_.empty(); }
    const PatternId* begin() const noexcept { return ids_.begin(); }
    const PatternId* end() const noexcept { return ids_.end(); }

private:
    syntax::SmallVector<PatternId, 14> ids_;
    std::uint64_t mask_ = 0;
};

inline constexpr std::size_t kNoToken = static_cast<std::size_t>(-1);

// The parts of a failure that few failures have, kept behind one pointer so
// that the common failure stays small and cheap to move.
struct FailureExtras {
    std::vector<std::pair<PatternId, Span>> context;
    std::optional<DirectDiagnostic> direct;
    // The found token of a failure that came from another token stream.
    std::optional<OwnedToken> foreign_found;
};

// One failure as the grammar carries it. Field meanings follow `ParseFailure`;
// `found` is the index of the found token in the input's stream (kNoToken: end
// of input, unless the extras hold a foreign found token).
struct Failure {
    Span span;
    std::size_t found = kNoToken;
    bool custom = false;
    bool soft = false;
    std::optional<ParseDiagnosticKind> kind;
    ExpectedSet expected;
    std::string message;
    std::unique_ptr<FailureExtras> extras;

    Failure() = default;
    Failure(Failure&&) noexcept = default;
    Failure& operator=(Failure&&) noexcept = default;
    Failure(const Failure& other)
        : span(other.span),
          found(other.found),
          custom(other.custom),
          soft(other.soft),
          kind(other.kind),
          expected(other.expected),
          message(other.message),
          extras(other.extras ? std::make_unique<FailureExtras>(*other.extras) : nullptr) {}
    Failure& operator=(const Failure& other) {
        if (this != &other) *this = Failure(other);
        return *this;
    }

    FailureExtras& extra() {
        if (!extras) extras = std::make_unique<FailureExtras>();
        return *extras;
    }
    const std::vector<std::pair<PatternId, Span>>* context() const { return extras ? &extras->context : nullptr; }
    const std::optional<DirectDiagnostic>* direct() const { return extras ? &extras->direct : nullptr; }
    const OwnedToken* foreign_found() const {
        return extras && extras->foreign_found ? &*extras->foreign_found : nullptr;
    }

    static Failure expected_found(Span span, std::size_t found, PatternId expected) {
        Failure f;
        f.span = span;
        f.found = found;
        f.expected.add(expected);
        return f;
    }
    static Failure custom_message(Span span, std::string message,
                                  std::optional<ParseDiagnosticKind> kind = std::nullopt) {
        Failure f;
        f.span = span;
        f.custom = true;
        f.message = std::move(message);
        f.kind = kind;
        return f;
    }

    bool at_end_of_input() const noexcept { return !custom && found == kNoToken && foreign_found() == nullptr; }

    // The library's relabelling: expected becomes [label], a custom message is
    // dropped (found becomes none); soft, kind and direct are cleared.
    void label_with(PatternId label);
    // Appends (label, span) unless the label is already there.
    void with_context(PatternId label, Span at);
    Failure& at_source(Span at) {
        extra().direct = DirectDiagnostic{std::nullopt, at};
        return *this;
    }
};

// Merges a rival failure offered at the same input position into `kept`: two
// expected/found reasons unite their expected items (the kept found token
// stays, with kept's span and contexts); a custom reason stays; a custom rival
// replaces an expected/found failure whole, with its own span and contexts.
void merge_failure(Failure& kept, Failure&& rival);

}  // namespace quorvel::parse::grammar
