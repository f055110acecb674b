// The `textmacros` package: text-mode macros, one named constant per entry.
#pragma once

#include "knowledge/packages/arg_specs.hpp"

namespace quorvel::knowledge::builtin::textmacros {

// Commands
inline constexpr BuiltinCommandSpec cmd_sym_space = prefix(ARGS_none, " ", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_comma = prefix(ARGS_none, ",", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_semicolon = prefix(ARGS_none, ";", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_colon = prefix(ARGS_none, ":", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_bang = prefix(ARGS_none, "!", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_gt = prefix(ARGS_none, ">", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_AA = prefix(ARGS_none, "AA", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_bf = declarative(ARGS_none, "bf", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_cal = declarative(ARGS_none, "cal", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_dagger = prefix(ARGS_none, "dagger", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_ddagger = prefix(ARGS_none, "ddagger", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_enspace = prefix(ARGS_none, "enspace", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_huge = declarative(ARGS_none, "huge", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Huge = declarative(ARGS_none, "Huge", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_it = declarative(ARGS_none, "it", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_large = declarative(ARGS_none, "large", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Large = declarative(ARGS_none, "Large", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_LARGE = declarative(ARGS_none, "LARGE", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_ldots = prefix(ARGS_none, "ldots", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_mit = declarative(ARGS_none, "mit", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_negthinspace = prefix(ARGS_none, "negthinspace", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_normalsize = declarative(ARGS_none, "normalsize", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_oldstyle = declarative(ARGS_none, "oldstyle", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_qquad = prefix(ARGS_none, "qquad", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_quad = prefix(ARGS_none, "quad", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_rm = declarative(ARGS_none, "rm", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_S = prefix(ARGS_none, "S", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_scriptsize = declarative(ARGS_none, "scriptsize", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sf = declarative(ARGS_none, "sf", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_small = declarative(ARGS_none, "small", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_thinspace = prefix(ARGS_none, "thinspace", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_tiny = declarative(ARGS_none, "tiny", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Tiny = declarative(ARGS_none, "Tiny", TAGS_mathjax_extension_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_tt = declarative(ARGS_none, "tt", TAGS_discouraged_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_vdots = prefix(ARGS_none, "vdots", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_dot = prefix(ARGS_mT, ".", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_quote = prefix(ARGS_mT, "'", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_lquote = prefix(ARGS_mT, "\u2018", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_rquote = prefix(ARGS_mT, "\u2019", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_dquote = prefix(ARGS_mT, "\"", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_backquote = prefix(ARGS_mT, "`", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_caret = prefix(ARGS_mT, "^", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_equals = prefix(ARGS_mT, "=", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_tilde = prefix(ARGS_mT, "~", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Bbb = prefix(ARGS_mT, "Bbb", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_emph = prefix(ARGS_mT, "emph", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_frak = prefix(ARGS_mT, "frak", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_hphantom = prefix(ARGS_mT, "hphantom", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_llap = prefix(ARGS_mT, "llap", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_phantom = prefix(ARGS_mT, "phantom", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_rlap = prefix(ARGS_mT, "rlap", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textbf = prefix(ARGS_mT, "textbf", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textit = prefix(ARGS_mT, "textit", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textnormal = prefix(ARGS_mT, "textnormal", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textrm = prefix(ARGS_mT, "textrm", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textsf = prefix(ARGS_mT, "textsf", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_texttt = prefix(ARGS_mT, "texttt", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_textup = prefix(ARGS_mT, "textup", TAGS_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_u = prefix(ARGS_mT, "u", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_underline = prefix(ARGS_mT, "underline", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_v = prefix(ARGS_mT, "v", TAGS_decoration, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_vphantom = prefix(ARGS_mT, "vphantom", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_hskip = prefix(ARGS_mL, "hskip", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_hspace = prefix(ARGS_mbL, "hspace", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_kern = prefix(ARGS_mL, "kern", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_mkern = prefix(ARGS_mL, "mkern", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_mskip = prefix(ARGS_mL, "mskip", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_mspace = prefix(ARGS_mbL, "mspace", TAGS_invisible_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Rule = prefix(ARGS_mbL_mbL_mbL, "Rule", TAGS_mathjax_extension, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_Space = prefix(ARGS_mbL_mbL_mbL, "Space", TAGS_invisible_mathjax_extension_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_eqref = prefix(ARGS_mN, "eqref", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_ref = prefix(ARGS_mN, "ref", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_sym_backslash = prefix(ARGS_xs_xoL, "\\", NO_TAGS, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_smash = prefix(ARGS_ON_mT, "smash", TAGS_spacing, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_mmlToken = prefix(ARGS_mN_oK_mT, "mmlToken", TAGS_mathjax_extension_presentation, AllowedMode::Text);
inline constexpr BuiltinCommandSpec cmd_rule = prefix(ARGS_oL_mbL_mbL, "rule", NO_TAGS, AllowedMode::Text);

}  // namespace quorvel::knowledge::builtin::textmacros
