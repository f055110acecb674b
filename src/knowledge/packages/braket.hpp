// The `braket` package: Dirac bra-ket notation, one named constant per entry.
#pragma once

#include "knowledge/packages/arg_specs.hpp"

namespace quorvel::knowledge::builtin::braket {

// Commands
inline constexpr BuiltinCommandSpec cmd_bra = prefix(ARGS_m, "bra");
inline constexpr BuiltinCommandSpec cmd_Bra = prefix(ARGS_m, "Bra");
inline constexpr BuiltinCommandSpec cmd_braket = prefix(ARGS_m, "braket");
inline constexpr BuiltinCommandSpec cmd_Braket = prefix(ARGS_m, "Braket");
inline constexpr BuiltinCommandSpec cmd_ket = prefix(ARGS_m, "ket");
inline constexpr BuiltinCommandSpec cmd_Ket = prefix(ARGS_m, "Ket");
inline constexpr BuiltinCommandSpec cmd_set = prefix(ARGS_m, "set");
inline constexpr BuiltinCommandSpec cmd_Set = prefix(ARGS_m, "Set");
inline constexpr BuiltinCommandSpec cmd_ketbra = prefix(ARGS_m_m, "ketbra");
inline constexpr BuiltinCommandSpec cmd_Ketbra = prefix(ARGS_m_m, "Ketbra");
inline constexpr BuiltinCommandSpec cmd_sym_bar = prefix(ARGS_none, "|");

}  // namespace quorvel::knowledge::builtin::braket
