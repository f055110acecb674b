// The settings of one parse.
#pragma once

#include <cstddef>

namespace quorvel::parse {

struct ParseConfig {
    // Braced groups nested deeper than this become error nodes.
    std::size_t max_group_depth = 128;
    // Unknown control words fail instead of becoming unknown commands.
    bool reject_unknown = false;
    // The first failing item fails the whole parse instead of being recovered.
    bool abort_on_error = false;

    friend bool operator==(const ParseConfig&, const ParseConfig&) = default;
};

}  // namespace quorvel::parse
