#pragma once

#include "util/utf8.hpp"

namespace quorvel::parse {
namespace utf8 = util::utf8;
}  // namespace quorvel::parse
