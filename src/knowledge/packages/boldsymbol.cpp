#include "knowledge/packages/boldsymbol.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace boldsymbol;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_boldsymbol,
};

}  // namespace

constexpr BuiltinPackage BOLDSYMBOL_PACKAGE{"boldsymbol", COMMANDS, {}, {}, {}};

}  // namespace quorvel::knowledge::builtin
