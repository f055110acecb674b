// Why an exchange tree cannot become an arena tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::syntax {

class FromSyntaxError {
public:
    enum Kind : std::uint8_t {
        NotARoot,
        InvalidPrimeCount,
        PrimeInTextMode,
        // An Environment whose body is not a Group: the arena cannot hold it.
        EnvironmentBodyNotGroup,
        // A Star slot must hold a Boolean, and a Boolean stands only in a Star
        // slot: the serializer cannot write anything else.
        StarSlotNotBoolean,
        BooleanOutsideStarSlot,
        // A character that is a surrogate or above U+10FFFF.
        InvalidCharacter,
        // A name, character, text or argument value whose written text would
        // read back as something else; the message names it and says why.
        Unreadable,
    };

    FromSyntaxError(Kind kind) : kind_(kind) {}  // NOLINT: implicit
    static FromSyntaxError unreadable(std::string why) {
        FromSyntaxError e(Unreadable);
        e.why_ = std::move(why);
        return e;
    }

    Kind kind() const { return kind_; }
    // Why an Unreadable value was refused, as the edits word it.
    const std::string& why() const { return why_; }

    friend bool operator==(const FromSyntaxError&, const FromSyntaxError&) = default;

private:
    Kind kind_;
    std::string why_;
};

// How much of an exchange tree is checked: what the arena can hold, or
// also that its text reads back once written.
enum class Validation : std::uint8_t { Structure, ReadBack };

// The display text, e.g. "from_syntax expects a SyntaxNode::Root".
std::string message(const FromSyntaxError& error);
// The variant name, e.g. "NotARoot".
std::string_view debug_name(const FromSyntaxError& error);

}  // namespace quorvel::syntax
