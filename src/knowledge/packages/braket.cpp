#include "knowledge/packages/braket.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace braket;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_bra, &cmd_Bra, &cmd_braket, &cmd_Braket, &cmd_ket, &cmd_Ket, &cmd_set, &cmd_Set, &cmd_ketbra,
    &cmd_Ketbra, &cmd_sym_bar,
};

}  // namespace

constexpr BuiltinPackage BRAKET_PACKAGE{"braket", COMMANDS, {}, {}, {}};

}  // namespace quorvel::knowledge::builtin
