// Serializer options read from Python, turned into the serializer's own
// option record.
#pragma once

#include "facade/input.hpp"
#include "syntax/serialize_options.hpp"

namespace quorvel::facade::input {

// Each present key sets its option; an absent key takes the serializer's
// default (its first value, but "when_required" for infix operand grouping).
syntax::SerializeOptions to_serialize_options(const SerializeOptionsInput& input);

}  // namespace quorvel::facade::input
