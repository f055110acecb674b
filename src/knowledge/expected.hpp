#pragma once

#include "util/expected.hpp"

namespace quorvel::knowledge {
using util::Expected;
}  // namespace quorvel::knowledge
