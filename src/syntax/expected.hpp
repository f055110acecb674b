#pragma once

#include "util/expected.hpp"

namespace quorvel::syntax {
using util::Expected;
}  // namespace quorvel::syntax
