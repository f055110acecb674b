#include "knowledge/packages/textmacros.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace textmacros;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_sym_space, &cmd_sym_comma, &cmd_sym_semicolon, &cmd_sym_colon, &cmd_sym_bang, &cmd_sym_gt, &cmd_AA,
    &cmd_bf, &cmd_cal, &cmd_dagger, &cmd_ddagger, &cmd_enspace, &cmd_huge, &cmd_Huge, &cmd_it, &cmd_large,
    &cmd_Large, &cmd_LARGE, &cmd_ldots, &cmd_mit, &cmd_negthinspace, &cmd_normalsize, &cmd_oldstyle,
    &cmd_qquad, &cmd_quad, &cmd_rm, &cmd_S, &cmd_scriptsize, &cmd_sf, &cmd_small, &cmd_thinspace, &cmd_tiny,
    &cmd_Tiny, &cmd_tt, &cmd_vdots, &cmd_sym_dot, &cmd_sym_quote, &cmd_sym_lquote, &cmd_sym_rquote,
    &cmd_sym_dquote, &cmd_sym_backquote, &cmd_sym_caret, &cmd_sym_equals, &cmd_sym_tilde, &cmd_Bbb,
    &cmd_emph, &cmd_frak, &cmd_hphantom, &cmd_llap, &cmd_phantom, &cmd_rlap, &cmd_textbf, &cmd_textit,
    &cmd_textnormal, &cmd_textrm, &cmd_textsf, &cmd_texttt, &cmd_textup, &cmd_u, &cmd_underline, &cmd_v,
    &cmd_vphantom, &cmd_hskip, &cmd_hspace, &cmd_kern, &cmd_mkern, &cmd_mskip, &cmd_mspace, &cmd_Rule,
    &cmd_Space, &cmd_eqref, &cmd_ref, &cmd_sym_backslash, &cmd_smash, &cmd_mmlToken, &cmd_rule,
};

}  // namespace

constexpr BuiltinPackage TEXTMACROS_PACKAGE{"textmacros", COMMANDS, {}, {}, {}};

}  // namespace quorvel::knowledge::builtin
