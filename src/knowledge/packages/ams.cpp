#include "knowledge/packages/ams.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace ams;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_idotsint, &cmd_impliedby, &cmd_implies, &cmd_injlim, &cmd_negmedspace, &cmd_negthickspace,
    &cmd_nobreakspace, &cmd_notag, &cmd_projlim, &cmd_shoveleft, &cmd_shoveright, &cmd_varinjlim,
    &cmd_varliminf, &cmd_varlimsup, &cmd_varprojlim, &cmd_binom, &cmd_dbinom, &cmd_dfrac, &cmd_frac,
    &cmd_tbinom, &cmd_tfrac, &cmd_boxed, &cmd_ddddot, &cmd_dddot, &cmd_mathring, &cmd_substack,
    &cmd_xleftarrow, &cmd_xrightarrow, &cmd_sideset, &cmd_genfrac, &cmd_eqref, &cmd_cfrac,
    &cmd_DeclareMathOperator, &cmd_operatorname, &cmd_tag,
};

constexpr const BuiltinEnvironmentSpec* ENVIRONMENTS[] = {
    &env_align, &env_align_star, &env_alignat, &env_alignat_star, &env_aligned, &env_alignedat, &env_bmatrix,
    &env_Bmatrix, &env_cases, &env_eqnarray_star, &env_equation_star, &env_flalign, &env_flalign_star,
    &env_gather, &env_gather_star, &env_gathered, &env_matrix, &env_multline, &env_multline_star,
    &env_pmatrix, &env_smallmatrix, &env_split, &env_subarray, &env_vmatrix, &env_Vmatrix, &env_xalignat,
    &env_xalignat_star, &env_xxalignat,
};

constexpr const BuiltinCharacterSpec* CHARACTERS[] = {
    &chr_approxeq, &chr_backepsilon, &chr_backprime, &chr_backsim, &chr_backsimeq, &chr_barwedge, &chr_Bbbk,
    &chr_because, &chr_beth, &chr_between, &chr_bigstar, &chr_blacklozenge, &chr_blacksquare,
    &chr_blacktriangle, &chr_blacktriangledown, &chr_blacktriangleleft, &chr_blacktriangleright, &chr_Box,
    &chr_boxdot, &chr_boxminus, &chr_boxplus, &chr_boxtimes, &chr_bumpeq, &chr_Bumpeq, &chr_Cap,
    &chr_centerdot, &chr_checkmark, &chr_circeq, &chr_circlearrowleft, &chr_circlearrowright,
    &chr_circledast, &chr_circledcirc, &chr_circleddash, &chr_circledR, &chr_circledS, &chr_complement,
    &chr_Cup, &chr_curlyeqprec, &chr_curlyeqsucc, &chr_curlyvee, &chr_curlywedge, &chr_curvearrowleft,
    &chr_curvearrowright, &chr_daleth, &chr_dashleftarrow, &chr_dashrightarrow, &chr_diagdown, &chr_diagup,
    &chr_Diamond, &chr_digamma, &chr_divideontimes, &chr_Doteq, &chr_doteqdot, &chr_dotplus,
    &chr_doublebarwedge, &chr_doublecap, &chr_doublecup, &chr_downdownarrows, &chr_downharpoonleft,
    &chr_downharpoonright, &chr_eqcirc, &chr_eqsim, &chr_eqslantgtr, &chr_eqslantless, &chr_eth,
    &chr_fallingdotseq, &chr_Finv, &chr_Game, &chr_geqq, &chr_geqslant, &chr_ggg, &chr_gggtr, &chr_gimel,
    &chr_gnapprox, &chr_gneq, &chr_gneqq, &chr_gnsim, &chr_gtrapprox, &chr_gtrdot, &chr_gtreqless,
    &chr_gtreqqless, &chr_gtrless, &chr_gtrsim, &chr_gvertneqq, &chr_hslash, &chr_iiiint, &chr_intercal,
    &chr_Join, &chr_leadsto, &chr_leftarrowtail, &chr_leftleftarrows, &chr_leftrightarrows,
    &chr_leftrightharpoons, &chr_leftrightsquigarrow, &chr_leftthreetimes, &chr_leqq, &chr_leqslant,
    &chr_lessapprox, &chr_lessdot, &chr_lesseqgtr, &chr_lesseqqgtr, &chr_lessgtr, &chr_lesssim, &chr_lhd,
    &chr_Lleftarrow, &chr_lll, &chr_llless, &chr_lnapprox, &chr_lneq, &chr_lneqq, &chr_lnsim,
    &chr_looparrowleft, &chr_looparrowright, &chr_lozenge, &chr_Lsh, &chr_ltimes, &chr_lvertneqq,
    &chr_maltese, &chr_measuredangle, &chr_mho, &chr_multimap, &chr_ncong, &chr_nexists, &chr_ngeq,
    &chr_ngeqq, &chr_ngeqslant, &chr_ngtr, &chr_nleftarrow, &chr_nLeftarrow, &chr_nleftrightarrow,
    &chr_nLeftrightarrow, &chr_nleq, &chr_nleqq, &chr_nleqslant, &chr_nless, &chr_nmid, &chr_nparallel,
    &chr_nprec, &chr_npreceq, &chr_nrightarrow, &chr_nRightarrow, &chr_nshortmid, &chr_nshortparallel,
    &chr_nsim, &chr_nsubseteq, &chr_nsubseteqq, &chr_nsucc, &chr_nsucceq, &chr_nsupseteq, &chr_nsupseteqq,
    &chr_ntriangleleft, &chr_ntrianglelefteq, &chr_ntriangleright, &chr_ntrianglerighteq, &chr_nvdash,
    &chr_nvDash, &chr_nVdash, &chr_nVDash, &chr_pitchfork, &chr_precapprox, &chr_preccurlyeq,
    &chr_precnapprox, &chr_precneqq, &chr_precnsim, &chr_precsim, &chr_restriction, &chr_rhd,
    &chr_rightarrowtail, &chr_rightleftarrows, &chr_rightleftharpoons, &chr_rightrightarrows,
    &chr_rightsquigarrow, &chr_rightthreetimes, &chr_risingdotseq, &chr_Rrightarrow, &chr_Rsh, &chr_rtimes,
    &chr_shortmid, &chr_shortparallel, &chr_smallfrown, &chr_smallsetminus, &chr_smallsmile,
    &chr_sphericalangle, &chr_sqsubset, &chr_sqsupset, &chr_square, &chr_Subset, &chr_subseteqq,
    &chr_subsetneq, &chr_subsetneqq, &chr_succapprox, &chr_succcurlyeq, &chr_succnapprox, &chr_succneqq,
    &chr_succnsim, &chr_succsim, &chr_Supset, &chr_supseteqq, &chr_supsetneq, &chr_supsetneqq,
    &chr_therefore, &chr_thickapprox, &chr_thicksim, &chr_triangledown, &chr_trianglelefteq, &chr_triangleq,
    &chr_trianglerighteq, &chr_twoheadleftarrow, &chr_twoheadrightarrow, &chr_unlhd, &chr_unrhd,
    &chr_upharpoonleft, &chr_upharpoonright, &chr_upuparrows, &chr_varDelta, &chr_varGamma, &chr_varkappa,
    &chr_varLambda, &chr_varnothing, &chr_varOmega, &chr_varPhi, &chr_varPi, &chr_varpropto, &chr_varPsi,
    &chr_varSigma, &chr_varsubsetneq, &chr_varsubsetneqq, &chr_varsupsetneq, &chr_varsupsetneqq,
    &chr_varTheta, &chr_vartriangle, &chr_vartriangleleft, &chr_vartriangleright, &chr_varUpsilon,
    &chr_varXi, &chr_vDash, &chr_Vdash, &chr_veebar, &chr_Vvdash, &chr_yen,
};

constexpr const BuiltinDelimiterSpec* DELIMITERS[] = {
    &del_llcorner, &del_lrcorner, &del_lvert, &del_lVert, &del_rvert, &del_rVert, &del_ulcorner,
    &del_urcorner,
};

}  // namespace

constexpr BuiltinPackage AMS_PACKAGE{"ams", COMMANDS, ENVIRONMENTS, CHARACTERS, DELIMITERS};

}  // namespace quorvel::knowledge::builtin
