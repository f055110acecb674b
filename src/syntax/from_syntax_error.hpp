// Why an exchange tree cannot become an arena tree.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::syntax {

enum class FromSyntaxError : std::uint8_t {
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
    // A name the tree would write as text that reads back as something else.
    InvalidCommandName,
    InvalidEnvironmentName,
};

// The display text, e.g. "from_syntax expects a SyntaxNode::Root".
std::string_view message(FromSyntaxError error);
// The variant name, e.g. "NotARoot".
std::string_view debug_name(FromSyntaxError error);

}  // namespace quorvel::syntax
