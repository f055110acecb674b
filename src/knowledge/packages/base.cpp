#include "knowledge/packages/base.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace base;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_acute, &cmd_array, &cmd_bar, &cmd_Bbb, &cmd_boxed, &cmd_breve, &cmd_buildrel, &cmd_cases,
    &cmd_check, &cmd_ddddot, &cmd_dddot, &cmd_ddot, &cmd_displaylines, &cmd_dot, &cmd_eqalign,
    &cmd_eqalignno, &cmd_frak, &cmd_grave, &cmd_hat, &cmd_hphantom, &cmd_leqalignno, &cmd_llap, &cmd_mathbb,
    &cmd_mathbf, &cmd_mathbfcal, &cmd_mathbffrak, &cmd_mathbfit, &cmd_mathbfscr, &cmd_mathbfsf,
    &cmd_mathbfsfit, &cmd_mathbfsfup, &cmd_mathbfup, &cmd_mathbin, &cmd_mathcal, &cmd_mathclose,
    &cmd_mathfrak, &cmd_mathinner, &cmd_mathit, &cmd_mathnormal, &cmd_mathop, &cmd_mathopen, &cmd_mathord,
    &cmd_mathpunct, &cmd_mathrel, &cmd_mathrm, &cmd_mathscr, &cmd_mathsf, &cmd_mathsfit, &cmd_mathsfup,
    &cmd_mathtt, &cmd_mathup, &cmd_matrix, &cmd_mod, &cmd_overbrace, &cmd_overleftarrow,
    &cmd_overleftrightarrow, &cmd_overline, &cmd_overparen, &cmd_overrightarrow, &cmd_phantom, &cmd_pmatrix,
    &cmd_pmb, &cmd_pmod, &cmd_pod, &cmd_rlap, &cmd_root, &cmd_symbb, &cmd_symbf, &cmd_symbfcal,
    &cmd_symbffrak, &cmd_symbfit, &cmd_symbfscr, &cmd_symbfsf, &cmd_symbfsfit, &cmd_symbfsfup, &cmd_symbfup,
    &cmd_symcal, &cmd_symfrak, &cmd_symit, &cmd_symnormal, &cmd_symrm, &cmd_symscr, &cmd_symsf, &cmd_symsfit,
    &cmd_symsfup, &cmd_symtt, &cmd_symup, &cmd_tilde, &cmd_underbrace, &cmd_underleftarrow,
    &cmd_underleftrightarrow, &cmd_underline, &cmd_underparen, &cmd_underrightarrow, &cmd_vbox, &cmd_vcenter,
    &cmd_vec, &cmd_vphantom, &cmd_vtop, &cmd_widehat, &cmd_widetilde, &cmd_sym_space, &cmd_sym_comma,
    &cmd_sym_semicolon, &cmd_sym_colon, &cmd_sym_bang, &cmd_sym_star, &cmd_sym_gt, &cmd_allowbreak,
    &cmd_arccos, &cmd_arcsin, &cmd_arctan, &cmd_arg, &cmd_atop, &cmd_badbreak, &cmd_bf, &cmd_bmod,
    &cmd_brace, &cmd_brack, &cmd_break, &cmd_cal, &cmd_choose, &cmd_cos, &cmd_cosh, &cmd_cot, &cmd_coth,
    &cmd_cr, &cmd_csc, &cmd_deg, &cmd_det, &cmd_dim, &cmd_displaystyle, &cmd_dots, &cmd_enspace, &cmd_exp,
    &cmd_gcd, &cmd_goodbreak, &cmd_hdashline, &cmd_hfil, &cmd_hfill, &cmd_hfilll, &cmd_hline, &cmd_hom,
    &cmd_huge, &cmd_Huge, &cmd_iff, &cmd_inf, &cmd_it, &cmd_ker, &cmd_large, &cmd_Large, &cmd_LARGE,
    &cmd_LaTeX, &cmd_lg, &cmd_lim, &cmd_liminf, &cmd_limits, &cmd_limsup, &cmd_ln, &cmd_log, &cmd_mathstrut,
    &cmd_max, &cmd_min, &cmd_mit, &cmd_negthinspace, &cmd_newline, &cmd_nobreak, &cmd_nolimits,
    &cmd_nonscript, &cmd_nonumber, &cmd_normalsize, &cmd_not, &cmd_of, &cmd_oldstyle, &cmd_over, &cmd_Pr,
    &cmd_qquad, &cmd_quad, &cmd_rm, &cmd_scriptscriptstyle, &cmd_scriptsize, &cmd_scriptstyle, &cmd_sec,
    &cmd_sf, &cmd_sin, &cmd_sinh, &cmd_small, &cmd_space, &cmd_strut, &cmd_sup, &cmd_tan, &cmd_tanh,
    &cmd_TeX, &cmd_textstyle, &cmd_thinspace, &cmd_tiny, &cmd_Tiny, &cmd_tt, &cmd_big, &cmd_Big, &cmd_bigg,
    &cmd_Bigg, &cmd_biggl, &cmd_Biggl, &cmd_biggm, &cmd_Biggm, &cmd_biggr, &cmd_Biggr, &cmd_bigl, &cmd_Bigl,
    &cmd_bigm, &cmd_Bigm, &cmd_bigr, &cmd_Bigr, &cmd_left, &cmd_middle, &cmd_right, &cmd_fbox, &cmd_hbox,
    &cmd_mbox, &cmd_text, &cmd_textbf, &cmd_textit, &cmd_textnormal, &cmd_textrm, &cmd_textsf, &cmd_texttt,
    &cmd_textup, &cmd_above, &cmd_hsize, &cmd_hskip, &cmd_hspace, &cmd_kern, &cmd_mkern, &cmd_mskip,
    &cmd_mspace, &cmd_frac, &cmd_overset, &cmd_stackbin, &cmd_stackrel, &cmd_underset, &cmd_lower,
    &cmd_moveleft, &cmd_moveright, &cmd_raise, &cmd_atopwithdelims, &cmd_overwithdelims, &cmd_leftroot,
    &cmd_uproot, &cmd_Rule, &cmd_Space, &cmd_label, &cmd_ref, &cmd_sym_backslash, &cmd_parbox, &cmd_smash,
    &cmd_newcolumntype, &cmd_overunderset, &cmd_mathchoice, &cmd_abovewithdelims, &cmd_skew, &cmd_breakAlign,
    &cmd_mmlToken, &cmd_sqrt, &cmd_makebox, &cmd_rule, &cmd_framebox,
};

constexpr const BuiltinEnvironmentSpec* ENVIRONMENTS[] = {
    &env_array, &env_darray, &env_displaymath, &env_eqnarray, &env_equation, &env_indentalign, &env_math,
};

constexpr const BuiltinCharacterSpec* CHARACTERS[] = {
    &chr_AA, &chr_aleph, &chr_alpha, &chr_amalg, &chr_And, &chr_angle, &chr_approx, &chr_ast, &chr_asymp,
    &chr_backslash, &chr_beta, &chr_bigcap, &chr_bigcirc, &chr_bigcup, &chr_bigodot, &chr_bigoplus,
    &chr_bigotimes, &chr_bigsqcup, &chr_bigtriangledown, &chr_bigtriangleup, &chr_biguplus, &chr_bigvee,
    &chr_bigwedge, &chr_bot, &chr_bowtie, &chr_bullet, &chr_cap, &chr_cdot, &chr_cdotp, &chr_cdots, &chr_chi,
    &chr_circ, &chr_clubsuit, &chr_colon, &chr_cong, &chr_coprod, &chr_cup, &chr_dagger, &chr_dashv,
    &chr_ddagger, &chr_ddots, &chr_delta, &chr_Delta, &chr_diamond, &chr_diamondsuit, &chr_div, &chr_doteq,
    &chr_dotsb, &chr_dotsc, &chr_dotsi, &chr_dotsm, &chr_dotso, &chr_ell, &chr_emptyset, &chr_epsilon,
    &chr_equiv, &chr_eta, &chr_exists, &chr_flat, &chr_forall, &chr_frown, &chr_gamma, &chr_Gamma, &chr_ge,
    &chr_geq, &chr_gets, &chr_gg, &chr_gt, &chr_hbar, &chr_heartsuit, &chr_hookleftarrow,
    &chr_hookrightarrow, &chr_iddots, &chr_iiint, &chr_iint, &chr_Im, &chr_imath, &chr_in, &chr_infty,
    &chr_int, &chr_intop, &chr_iota, &chr_jmath, &chr_kappa, &chr_lambda, &chr_Lambda, &chr_land, &chr_ldotp,
    &chr_ldots, &chr_le, &chr_leftarrow, &chr_Leftarrow, &chr_leftharpoondown, &chr_leftharpoonup,
    &chr_leftrightarrow, &chr_Leftrightarrow, &chr_leq, &chr_ll, &chr_lnot, &chr_longleftarrow,
    &chr_Longleftarrow, &chr_longleftrightarrow, &chr_Longleftrightarrow, &chr_longmapsto,
    &chr_longrightarrow, &chr_Longrightarrow, &chr_lor, &chr_lt, &chr_mapsto, &chr_mid, &chr_models, &chr_mp,
    &chr_mu, &chr_nabla, &chr_natural, &chr_ne, &chr_nearrow, &chr_neg, &chr_neq, &chr_ni, &chr_notChar,
    &chr_notin, &chr_nu, &chr_nwarrow, &chr_odot, &chr_oiiint, &chr_oiint, &chr_oint, &chr_ointop,
    &chr_omega, &chr_Omega, &chr_omicron, &chr_ominus, &chr_oplus, &chr_oslash, &chr_otimes, &chr_owns,
    &chr_parallel, &chr_partial, &chr_perp, &chr_phi, &chr_Phi, &chr_pi, &chr_Pi, &chr_pm, &chr_prec,
    &chr_preceq, &chr_prime, &chr_prod, &chr_propto, &chr_psi, &chr_Psi, &chr_Re, &chr_rho, &chr_rightarrow,
    &chr_Rightarrow, &chr_rightharpoondown, &chr_rightharpoonup, &chr_rightleftharpoons, &chr_S,
    &chr_searrow, &chr_setminus, &chr_sharp, &chr_sigma, &chr_Sigma, &chr_sim, &chr_simeq, &chr_smallint,
    &chr_smile, &chr_spadesuit, &chr_sqcap, &chr_sqcup, &chr_sqsubseteq, &chr_sqsupseteq, &chr_star,
    &chr_subset, &chr_subseteq, &chr_succ, &chr_succeq, &chr_sum, &chr_supset, &chr_supseteq, &chr_surd,
    &chr_swarrow, &chr_tau, &chr_theta, &chr_Theta, &chr_times, &chr_to, &chr_top, &chr_triangle,
    &chr_triangleleft, &chr_triangleright, &chr_uplus, &chr_upsilon, &chr_Upsilon, &chr_varepsilon,
    &chr_varphi, &chr_varpi, &chr_varrho, &chr_varsigma, &chr_vartheta, &chr_vdash, &chr_vdots, &chr_vee,
    &chr_wedge, &chr_wp, &chr_wr, &chr_xi, &chr_Xi, &chr_zeta,
};

constexpr const BuiltinDelimiterSpec* DELIMITERS[] = {
    &del_char_dot, &del_char_lparen, &del_char_rparen, &del_char_lbrack, &del_char_rbrack, &del_char_slash,
    &del_char_lt, &del_char_gt, &del_char_bar, &del_sym_lbrace, &del_sym_rbrace, &del_sym_bar,
    &del_arrowvert, &del_Arrowvert, &del_backslash, &del_bracevert, &del_downarrow, &del_Downarrow, &del_gt,
    &del_langle, &del_lbrace, &del_lbrack, &del_lceil, &del_lfloor, &del_lgroup, &del_lmoustache, &del_lt,
    &del_rangle, &del_rbrace, &del_rbrack, &del_rceil, &del_rfloor, &del_rgroup, &del_rmoustache,
    &del_uparrow, &del_Uparrow, &del_updownarrow, &del_Updownarrow, &del_vert, &del_Vert,
};

}  // namespace

constexpr BuiltinPackage BASE_PACKAGE{"base", COMMANDS, ENVIRONMENTS, CHARACTERS, DELIMITERS};

}  // namespace quorvel::knowledge::builtin
