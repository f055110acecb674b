// The registry of all rewrite rules as compile-time data, one row per rule.
//
// Row order is the registry order: package, then level module, then family,
// then rule module, by bytes (upper-case letters first). That order is the
// tie-break of the rule plan, so rows must never be reordered casually.
//
// Target lists are space-separated `kind:name` items (cmd, env, chr), "-" for
// none; "(space)" is the control space. A consumes list of "same" equals the
// triggers. An empty package list means the rule's own package. The lists are
// parsed at compile time, so a malformed row fails the build.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "knowledge/packages.hpp"
#include "transform/rule.hpp"
#include "transform/rules/registry.hpp"

namespace quorvel::transform {

struct RuleRow {
    knowledge::PackageName package;
    RuleLevel level;
    std::string_view family;
    std::string_view name;
    std::uint8_t fidelity;
    std::string_view triggers;
    std::string_view consumes;
    std::string_view conditional_consumes;
    std::string_view emits;
    std::string_view description;
    std::string_view enabled_by_packages = {};
};

namespace registry_rows {
using enum knowledge::PackageName;
using enum RuleLevel;

// clang-format off
inline constexpr std::array<RuleRow, RULE_COUNT> RULE_ROWS{{
//  package, level, family, key, fidelity,
//  triggers, consumes, conditional consumes, emits,
//  description[, enabled by packages]
    // Package ams, level authoring.
    {Ams, Authoring, "character_alias", "Doteq-to-doteqdot", 2,
     "chr:Doteq", "same", "-", "chr:doteqdot",
     "Collapse Doteq to the descriptive doteqdot character."},
    {Ams, Authoring, "character_alias", "doublecap-to-Cap", 2,
     "chr:doublecap", "same", "-", "chr:Cap",
     "Rewrite the doublecap alias as the canonical Cap character."},
    {Ams, Authoring, "character_alias", "gggtr-to-ggg", 2,
     "chr:gggtr", "same", "-", "chr:ggg",
     "Collapse gggtr to the shorter ggg character."},
    {Ams, Authoring, "character_alias", "llless-to-lll", 2,
     "chr:llless", "same", "-", "chr:lll",
     "Collapse llless to the shorter lll character."},
    {Ams, Authoring, "character_alias", "trianglerighteq-to-unrhd", 2,
     "chr:trianglerighteq", "same", "-", "chr:unrhd",
     "Collapse trianglerighteq to the more common unrhd character."},
    {Ams, Authoring, "character_alias", "unlhd-to-trianglelefteq", 2,
     "chr:unlhd", "same", "-", "chr:trianglelefteq",
     "Rewrite the unlhd alias as the canonical trianglelefteq character."},
    {Ams, Authoring, "character_alias", "vartriangleleft-to-lhd", 2,
     "chr:vartriangleleft", "same", "-", "chr:lhd",
     "Rewrite the vartriangleleft alias as the canonical lhd character."},
    {Ams, Authoring, "character_alias", "vartriangleright-to-rhd", 2,
     "chr:vartriangleright", "same", "-", "chr:rhd",
     "Rewrite the vartriangleright alias as the canonical rhd character."},
    {Ams, Authoring, "spacing_alias", "nobreakspace-to-tilde", 2,
     "cmd:nobreakspace", "same", "-", "-",
     "Rewrite nobreakspace as the active space tilde."},

    // Package ams, level corpus.
    {Ams, Corpus, "fenced_matrix_env", "Bmatrix-env-to-brace-matrix", 2,
     "env:Bmatrix", "same", "-", "env:matrix cmd:left cmd:right",
     "Rewrite the fenced Bmatrix environment to explicit braces around a core matrix environment."},
    {Ams, Corpus, "fenced_matrix_env", "bmatrix-env-to-bracket-matrix", 2,
     "env:bmatrix", "same", "-", "env:matrix cmd:left cmd:right",
     "Rewrite the bmatrix environment as a matrix between left and right brackets."},
    {Ams, Corpus, "fenced_matrix_env", "pmatrix-env-to-paren-matrix", 2,
     "env:pmatrix", "same", "-", "env:matrix cmd:left cmd:right",
     "Rewrite the fenced pmatrix environment to explicit parens around a core matrix environment."},
    {Ams, Corpus, "fenced_matrix_env", "vmatrix-env-to-vert-matrix", 2,
     "env:vmatrix", "same", "-", "env:matrix cmd:left cmd:right",
     "Rewrite the vmatrix environment as a matrix between left and right vertical bars."},
    {Ams, Corpus, "fraction_style", "dfrac-to-frac", 1,
     "cmd:dfrac", "same", "-", "cmd:frac",
     "Rewrite the AMS display-style fraction command to frac."},
    {Ams, Corpus, "fraction_style", "tfrac-to-frac", 1,
     "cmd:tfrac", "same", "-", "cmd:frac",
     "Rewrite the AMS text-style fraction command to frac."},

    // Package ams, level equiv.
    {Ams, Equiv, "fraction_style", "cfrac-to-frac", 0,
     "cmd:cfrac", "-", "cmd:cfrac", "cmd:frac",
     "Drop continued-fraction styling from centered AMS cfrac forms."},
    {Ams, Equiv, "fraction_style", "dbinom-and-tbinom-to-binom", 1,
     "cmd:dbinom cmd:tbinom", "same", "-", "cmd:binom",
     "Rewrite the style-fixed dbinom and tbinom as a plain binom."},

    // Package ams, level faithful.
    {Ams, Faithful, "ams_operator_alias", "impliedby-to-Longleftarrow", 2,
     "cmd:impliedby", "same", "-", "cmd:; chr:Longleftarrow",
     "Expand impliedby into a Longleftarrow with its thick spacing."},
    {Ams, Faithful, "ams_operator_alias", "implies-to-Longrightarrow", 2,
     "cmd:implies", "same", "-", "cmd:; chr:Longrightarrow",
     "Collapse implies to the explicit AMS long-right-arrow spelling with source-backed spacing."},
    {Ams, Faithful, "character_normalize", "Join-to-bowtie", 2,
     "chr:Join", "same", "-", "chr:bowtie",
     "Normalize the Join character to bowtie."},
    {Ams, Faithful, "character_normalize", "centerdot-to-cdot", 2,
     "chr:centerdot", "same", "-", "chr:cdot",
     "Normalize the centerdot character to cdot."},
    {Ams, Faithful, "character_normalize", "doublecup-to-Cup", 2,
     "chr:doublecup", "same", "-", "chr:Cup",
     "Normalize the doublecup character to Cup."},
    {Ams, Faithful, "character_normalize", "leadsto-to-rightsquigarrow", 2,
     "chr:leadsto", "same", "-", "chr:rightsquigarrow",
     "Normalize leadsto to the more common rightsquigarrow corpus form."},
    {Ams, Faithful, "character_normalize", "lozenge-to-Diamond", 2,
     "chr:lozenge", "same", "-", "chr:Diamond",
     "Normalize the lozenge character to Diamond."},
    {Ams, Faithful, "character_normalize", "restriction-to-upharpoonright", 2,
     "chr:restriction", "same", "-", "chr:upharpoonright",
     "Normalize the restriction character to upharpoonright."},
    {Ams, Faithful, "character_normalize", "square-to-Box", 2,
     "chr:square", "same", "-", "chr:Box",
     "Normalize the square character to Box."},
    {Ams, Faithful, "character_normalize", "vartriangle-to-bigtriangleup", 2,
     "chr:vartriangle", "same", "-", "chr:bigtriangleup",
     "Normalize vartriangle to bigtriangleup for corpus form."},
    {Ams, Faithful, "multi_integral", "idotsint-expand", 2,
     "cmd:idotsint", "same", "-", "cmd:! cmd:mathop cmd:, cmd:limits chr:int chr:cdots",
     "Expand idotsint into two integrals joined by cdots inside a mathop with limits."},
    {Ams, Faithful, "substack", "substack-expand", 2,
     "cmd:substack", "same", "-", "env:subarray",
     "Expand substack directly to the explicit centered subarray environment."},

    // Package base, level authoring.
    {Base, Authoring, "character_alias", "ast-to-asterisk", 2,
     "chr:ast", "-", "chr:ast", "-",
     "Rewrite ast as a plain asterisk character, unless the command before would take it as its star."},
    {Base, Authoring, "character_alias", "ge-to-geq", 2,
     "chr:ge", "same", "-", "chr:geq",
     "Collapse ge to the explicit geq relation character."},
    {Base, Authoring, "character_alias", "le-to-leq", 2,
     "chr:le", "same", "-", "chr:leq",
     "Rewrite the le alias as the canonical leq character."},
    {Base, Authoring, "character_alias", "lnot-to-neg", 2,
     "chr:lnot", "same", "-", "chr:neg",
     "Collapse lnot to the standard neg character."},
    {Base, Authoring, "character_alias", "ne-to-neq", 2,
     "chr:ne", "same", "-", "chr:neq",
     "Collapse ne to the explicit neq relation character."},
    {Base, Authoring, "character_alias", "owns-to-ni", 2,
     "chr:owns", "same", "-", "chr:ni",
     "Rewrite the owns alias as the canonical ni character."},
    {Base, Authoring, "character_alias", "prime-to-prime-node", 1,
     "chr:prime", "-", "chr:prime", "-",
     "Convert the prime control sequence to the Prime AST node."},
    {Base, Authoring, "linebreak_alias", "break-to-linebreak", 1,
     "cmd:break", "-", "cmd:break", "-",
     "Collapse break to the explicit linebreak command."},
    {Base, Authoring, "linebreak_alias", "newline-to-linebreak", 1,
     "cmd:newline", "-", "cmd:newline", "-",
     "Rewrite newline as the line-break command."},
    {Base, Authoring, "named_function", "operatorname-to-named-function", 2,
     "cmd:operatorname", "-", "cmd:operatorname cmd:limits",
     "cmd:arccos cmd:arcsin cmd:arctan cmd:arg cmd:cos cmd:cosh cmd:cot cmd:coth cmd:csc cmd:deg "
     "cmd:dim cmd:exp cmd:hom cmd:ker cmd:lg cmd:ln cmd:log cmd:sec cmd:sin cmd:sinh cmd:tan "
     "cmd:tanh cmd:det cmd:gcd cmd:inf cmd:lim cmd:max cmd:min cmd:Pr cmd:sup",
     "Rewrite an operatorname that spells a built-in function as that function command.",
     "base ams"},
    {Base, Authoring, "not_remap", "not-equals-to-neq", 2,
     "cmd:not", "-", "cmd:not", "chr:neq",
     "Combine not and a following equals sign into neq."},
    {Base, Authoring, "not_remap", "not-exists-to-nexists", 2,
     "cmd:not", "-", "cmd:not chr:exists", "chr:nexists",
     "Combine not and a following exists into nexists."},
    {Base, Authoring, "not_remap", "not-in-to-notin", 2,
     "cmd:not", "-", "cmd:not chr:in", "chr:notin",
     "Combine not and a following in into notin."},
    {Base, Authoring, "not_remap", "not-right-arrow-to-nrightarrow", 2,
     "cmd:not", "-", "cmd:not chr:to chr:rightarrow", "chr:nrightarrow",
     "Combine not and a following to or rightarrow into nrightarrow."},
    {Base, Authoring, "over_family", "above-to-genfrac", 2,
     "cmd:above", "same", "-", "cmd:genfrac",
     "Rewrite the infix above as a genfrac command."},
    {Base, Authoring, "over_family", "abovewithdelims-to-genfrac", 2,
     "cmd:abovewithdelims", "same", "-", "cmd:genfrac",
     "Rewrite the infix abovewithdelims as a genfrac command."},
    {Base, Authoring, "over_family", "atop-to-genfrac", 2,
     "cmd:atop", "same", "-", "cmd:genfrac",
     "Rewrite the infix atop as a genfrac command."},
    {Base, Authoring, "over_family", "atopwithdelims-to-genfrac", 2,
     "cmd:atopwithdelims", "same", "-", "cmd:genfrac",
     "Rewrite atopwithdelims to an explicit delimited no-rule genfrac form."},
    {Base, Authoring, "over_family", "brace-to-genfrac", 2,
     "cmd:brace", "same", "-", "cmd:genfrac",
     "Rewrite the infix brace as a genfrac command."},
    {Base, Authoring, "over_family", "brack-to-genfrac", 2,
     "cmd:brack", "same", "-", "cmd:genfrac",
     "Rewrite the infix brack as a genfrac command."},
    {Base, Authoring, "over_family", "choose-to-binom", 2,
     "cmd:choose", "same", "-", "cmd:binom",
     "Rewrite infix choose to an explicit binom command."},
    {Base, Authoring, "over_family", "over-to-frac", 2,
     "cmd:over", "same", "-", "cmd:frac",
     "Rewrite the infix over as a frac command."},
    {Base, Authoring, "over_family", "overwithdelims-to-genfrac", 2,
     "cmd:overwithdelims", "same", "-", "cmd:genfrac",
     "Rewrite the infix overwithdelims as a genfrac command."},
    {Base, Authoring, "plain_tex_matrix", "cases-to-cases-env", 1,
     "cmd:cases", "same", "cmd:cr", "env:cases",
     "Rewrite the plain TeX cases command as a cases environment."},
    {Base, Authoring, "plain_tex_matrix", "eqalign-to-aligned-env", 1,
     "cmd:eqalign", "same", "cmd:cr", "env:aligned",
     "Rewrite the plain TeX eqalign command as an aligned environment."},
    {Base, Authoring, "plain_tex_matrix", "eqalignno-to-align-env", 1,
     "cmd:eqalignno", "same", "cmd:cr", "env:align cmd:tag",
     "Rewrite the plain TeX eqalignno command as an align environment."},
    {Base, Authoring, "plain_tex_matrix", "matrix-to-matrix-env", 1,
     "cmd:matrix", "same", "cmd:cr", "env:matrix",
     "Rewrite the plain TeX matrix command as a matrix environment."},
    {Base, Authoring, "plain_tex_matrix", "pmatrix-to-pmatrix-env", 1,
     "cmd:pmatrix", "same", "cmd:cr", "env:pmatrix",
     "Rewrite the plain TeX pmatrix command as a pmatrix environment."},
    {Base, Authoring, "root_family", "root-of-to-sqrt", 2,
     "cmd:root", "same", "cmd:of", "cmd:sqrt",
     "Rewrite legacy root-of syntax to bracketed sqrt notation."},
    {Base, Authoring, "spacing_alias", "control-space-to-tilde", 2,
     "cmd:(space)", "-", "cmd:(space)", "-",
     "Rewrite the control space as the active space tilde."},
    {Base, Authoring, "spacing_alias", "gt-space-to-colon-space", 2,
     "cmd:>", "same", "-", "cmd::",
     "Collapse \\> to the canonical medium math space command \\:"},
    {Base, Authoring, "spacing_alias", "hfil-to-hfill", 2,
     "cmd:hfil", "same", "-", "cmd:hfill",
     "Collapse hfil to the canonical hfill command under MathJax spacing semantics."},
    {Base, Authoring, "spacing_alias", "hfilll-to-hfill", 2,
     "cmd:hfilll", "same", "-", "cmd:hfill",
     "Collapse hfilll to the canonical hfill command."},
    {Base, Authoring, "spacing_alias", "hskip-to-hspace", 1,
     "cmd:hskip", "same", "-", "cmd:hspace",
     "Collapse hskip to the explicit hspace command."},
    {Base, Authoring, "spacing_alias", "negthinspace-to-neg-comma-space", 2,
     "cmd:negthinspace", "same", "-", "cmd:!",
     "Collapse negthinspace to the explicit negative thin math space command."},
    {Base, Authoring, "spacing_alias", "space-to-tilde", 2,
     "cmd:space", "same", "-", "-",
     "Collapse space to the explicit nonbreaking space token."},
    {Base, Authoring, "spacing_alias", "thinspace-to-comma-space", 2,
     "cmd:thinspace", "same", "-", "cmd:,",
     "Rewrite thinspace as the thin space command."},
    {Base, Authoring, "spacing_merge", "double-enspace-to-quad", 2,
     "cmd:enspace", "-", "cmd:enspace", "cmd:quad",
     "Merge two adjacent enspaces into one quad."},
    {Base, Authoring, "spacing_merge", "double-quad-to-qquad", 2,
     "cmd:quad", "-", "cmd:quad", "cmd:qquad",
     "Merge two adjacent quads into one qquad for authoring normalization."},
    {Base, Authoring, "spacing_merge", "small-spacer-merge-to-enspace", 2,
     "cmd:, cmd:: cmd:;", "-", "cmd:, cmd:: cmd:;", "cmd:enspace",
     "Merge exact half-em small-spacer chunks into enspace in one pass."},
    {Base, Authoring, "tex_class_wrapper", "duplicate-mathrel-wrapper-drop", 2,
     "cmd:mathrel", "-", "cmd:mathrel", "-",
     "Drop one directly nested duplicate mathrel wrapper."},

    // Package base, level corpus.
    {Base, Corpus, "big_class_variants", "big-class-variants-to-big", 1,
     "cmd:bigl cmd:bigr cmd:bigm", "same", "-", "cmd:big",
     "Rewrite the class variants bigl, bigr and bigm as big."},
    {Base, Corpus, "big_class_variants", "bigg-class-variants-to-bigg", 1,
     "cmd:biggl cmd:biggr cmd:biggm", "same", "-", "cmd:bigg",
     "Collapse \\biggl, \\biggr, \\biggm to \\bigg."},
    {Base, Corpus, "limit_placement", "limits-drop", 1,
     "cmd:limits", "-", "cmd:limits", "-",
     "Drop explicit limits from an audited operator while preserving attached scripts."},
    {Base, Corpus, "limit_placement", "nolimits-drop", 1,
     "cmd:nolimits", "-", "cmd:nolimits", "-",
     "Drop explicit nolimits from an audited operator while preserving attached scripts."},
    {Base, Corpus, "root_family", "leftroot-drop", 1,
     "cmd:leftroot", "same", "-", "-",
     "Drop the leftroot adjustment of a root degree."},
    {Base, Corpus, "root_family", "uproot-drop", 1,
     "cmd:uproot", "same", "-", "-",
     "Drop the uproot index-position hint in cleanup-oriented normalization."},
    {Base, Corpus, "spacing_drop", "allowbreak-drop", 1,
     "cmd:allowbreak", "-", "cmd:allowbreak", "-",
     "Drop the allowbreak line-break hint."},
    {Base, Corpus, "spacing_drop", "badbreak-drop", 1,
     "cmd:badbreak", "-", "cmd:badbreak", "-",
     "Drop badbreak as a pure linebreak hint during cleanup-oriented normalization."},
    {Base, Corpus, "spacing_drop", "goodbreak-drop", 1,
     "cmd:goodbreak", "-", "cmd:goodbreak", "-",
     "Drop goodbreak as a pure linebreak hint during cleanup-oriented normalization."},
    {Base, Corpus, "spacing_drop", "mathstrut-drop", 1,
     "cmd:mathstrut", "-", "cmd:mathstrut", "-",
     "Drop the invisible mathstrut."},
    {Base, Corpus, "spacing_drop", "nobreak-drop", 1,
     "cmd:nobreak", "-", "cmd:nobreak", "-",
     "Drop the nobreak line-break hint."},
    {Base, Corpus, "spacing_drop", "strut-drop", 1,
     "cmd:strut", "-", "cmd:strut", "-",
     "Drop the invisible strut."},

    // Package base, level equiv.
    {Base, Equiv, "accent_size", "widehat-to-hat", 0,
     "cmd:widehat", "same", "-", "cmd:hat",
     "Drop stretchiness from \\widehat by rewriting it to \\hat."},
    {Base, Equiv, "accent_size", "widetilde-to-tilde", 0,
     "cmd:widetilde", "same", "-", "cmd:tilde",
     "Drop stretchiness from \\widetilde by rewriting it to \\tilde."},
    {Base, Equiv, "fixed_delimiter_size", "big-delimiter-size-drop", 1,
     "cmd:big", "-", "cmd:big", "-",
     "Drop the fixed delimiter size imposed by \\big."},
    {Base, Equiv, "fixed_delimiter_size", "bigg-delimiter-size-drop", 1,
     "cmd:bigg", "-", "cmd:bigg", "-",
     "Drop the fixed delimiter size imposed by \\bigg."},
    {Base, Equiv, "spacing_drop", "enspace-drop", 1,
     "cmd:enspace", "-", "cmd:enspace", "-",
     "Drop enspace in math mode and collapse each text-mode enspace run to one ordinary space."},
    {Base, Equiv, "spacing_drop", "qquad-drop", 1,
     "cmd:qquad", "-", "cmd:qquad", "-",
     "Drop qquad in math mode and collapse each text-mode qquad run to one ordinary space."},
    {Base, Equiv, "spacing_drop", "quad-drop", 1,
     "cmd:quad", "-", "cmd:quad", "-",
     "Drop quad spacing."},

    // Package base, level faithful.
    {Base, Faithful, "character_normalize", "dots-to-ldots-or-cdots", 2,
     "cmd:dots", "-", "cmd:dots", "chr:ldots chr:cdots",
     "Replace dots by ldots or cdots as the renderer would choose."},
    {Base, Faithful, "character_normalize", "gets-to-leftarrow", 2,
     "chr:gets", "same", "-", "chr:leftarrow",
     "Normalize gets to leftarrow for corpus form."},
    {Base, Faithful, "character_normalize", "land-to-wedge", 2,
     "chr:land", "same", "-", "chr:wedge",
     "Normalize land to wedge for corpus form."},
    {Base, Faithful, "character_normalize", "lor-to-vee", 2,
     "chr:lor", "same", "-", "chr:vee",
     "Normalize lor to vee for corpus form."},
    {Base, Faithful, "character_normalize", "rightarrow-to-to", 2,
     "chr:rightarrow", "same", "-", "chr:to",
     "Normalize the rightarrow character to to."},
    {Base, Faithful, "character_normalize", "semantic-dots-to-cdots", 2,
     "chr:dotsb chr:dotsm chr:dotsi", "same", "-", "chr:cdots",
     "Normalize the semantic dots dotsb, dotsm and dotsi to cdots."},
    {Base, Faithful, "character_normalize", "semantic-dots-to-ldots", 2,
     "chr:dotsc chr:dotso", "same", "-", "chr:ldots",
     "Normalize semantic baseline ellipsis aliases to ldots for corpus form."},
    {Base, Faithful, "spacing_alias", "mkern-to-mspace", 1,
     "cmd:mkern", "same", "-", "cmd:mspace",
     "Collapse mkern to the explicit mspace command."},
    {Base, Faithful, "spacing_alias", "mskip-to-mspace", 1,
     "cmd:mskip", "same", "-", "cmd:mspace",
     "Collapse mskip to the explicit mspace command."},
    {Base, Faithful, "stacked_operator", "buildrel-expand", 2,
     "cmd:buildrel", "same", "cmd:over", "cmd:mathrel cmd:mathop cmd:mspace cmd:limits",
     "Expand buildrel over into a mathrel of a mathop with limits."},
    {Base, Faithful, "stacked_operator", "stackbin-expand", 2,
     "cmd:stackbin", "same", "-", "cmd:mathbin cmd:mathop cmd:limits",
     "Expand stackbin into a mathbin of a mathop with limits."},
    {Base, Faithful, "stacked_operator", "stackrel-expand", 2,
     "cmd:stackrel", "same", "-", "cmd:mathrel cmd:mathop cmd:limits",
     "Expand stackrel into a mathrel of a mathop with limits."},

    // Package physics, level authoring.
    {Physics, Authoring, "character_alias", "divsymbol-to-divisionsymbol", 2,
     "chr:divsymbol", "same", "-", "chr:divisionsymbol",
     "Rewrite the divsymbol alias as the canonical divisionsymbol character."},
    {Physics, Authoring, "character_alias", "dotproduct-to-vdot", 2,
     "chr:dotproduct", "same", "-", "chr:vdot",
     "Rewrite the dotproduct alias as the canonical vdot character."},
    {Physics, Authoring, "derivative_to_short", "derivative-to-dv", 2,
     "cmd:derivative", "same", "-", "cmd:dv",
     "Collapse derivative to the compact dv command."},
    {Physics, Authoring, "derivative_to_short", "functional-derivative-to-fdv", 2,
     "cmd:fderivative cmd:functionalderivative", "same", "-", "cmd:fdv",
     "Collapse long functional derivative names to the fdv command."},
    {Physics, Authoring, "derivative_to_short", "partial-derivative-to-pdv", 2,
     "cmd:partialderivative cmd:pderivative", "same", "-", "cmd:pdv",
     "Rewrite the long form partialderivative and pderivative as pdv."},
    {Physics, Authoring, "matrix_alias", "antidiagonalmatrix-to-admat", 2,
     "cmd:antidiagonalmatrix", "same", "-", "cmd:admat",
     "Collapse antidiagonalmatrix to the shorter admat helper."},
    {Physics, Authoring, "matrix_alias", "diagonalmatrix-to-dmat", 2,
     "cmd:diagonalmatrix", "same", "-", "cmd:dmat",
     "Rewrite the long form diagonalmatrix as dmat."},
    {Physics, Authoring, "matrix_alias", "matrixdeterminant-to-mdet", 2,
     "cmd:matrixdeterminant", "same", "-", "cmd:mdet",
     "Rewrite the long form matrixdeterminant as mdet."},
    {Physics, Authoring, "named_fn_to_short", "cosine-to-cos", 2,
     "cmd:cosine", "same", "-", "cmd:cos",
     "Rewrite the long form cosine as cos."},
    {Physics, Authoring, "named_fn_to_short", "naturallogarithm-to-ln", 2,
     "cmd:naturallogarithm", "same", "-", "cmd:ln",
     "Rewrite the long form naturallogarithm as ln."},
    {Physics, Authoring, "named_fn_to_short", "probability-to-pr", 2,
     "cmd:Probability", "same", "-", "cmd:Pr",
     "Collapse the long Probability helper to the standard Pr operator form."},
    {Physics, Authoring, "named_fn_to_short", "sine-to-sin", 2,
     "cmd:sine", "same", "-", "cmd:sin",
     "Rewrite the long form sine as sin."},
    {Physics, Authoring, "quantity_alias", "absolutevalue-to-abs", 2,
     "cmd:absolutevalue", "same", "-", "cmd:abs",
     "Collapse absolutevalue to the shorter abs helper before fence expansion."},
    {Physics, Authoring, "quantity_alias", "evaluated-to-eval", 2,
     "cmd:evaluated", "same", "-", "cmd:eval",
     "Rewrite the long form evaluated as eval."},
    {Physics, Authoring, "quantity_alias", "quantity-to-qty", 2,
     "cmd:quantity", "same", "-", "cmd:qty",
     "Rewrite the long form quantity as qty."},
    {Physics, Authoring, "trace_alias", "trace-capital-to-Tr", 2,
     "cmd:Trace", "same", "-", "cmd:Tr",
     "Collapse capital Trace to the local Tr anchor."},
    {Physics, Authoring, "trace_alias", "trace-to-tr", 2,
     "cmd:trace", "same", "-", "cmd:tr",
     "Collapse lowercase trace to the local tr anchor."},
    {Physics, Authoring, "vector_to_short", "vectorarrow-to-va", 2,
     "cmd:vectorarrow", "same", "-", "cmd:va",
     "Rewrite the long form vectorarrow as va."},
    {Physics, Authoring, "vector_to_short", "vectorbold-to-vb", 2,
     "cmd:vectorbold", "same", "-", "cmd:vb",
     "Rewrite the long form vectorbold as vb."},
    {Physics, Authoring, "vector_to_short", "vectorunit-to-vu", 2,
     "cmd:vectorunit", "same", "-", "cmd:vu",
     "Rewrite the long form vectorunit as vu."},

    // Package physics, level faithful.
    {Physics, Faithful, "bra_ket", "expectation-expand", 2,
     "cmd:ev", "-", "cmd:ev", "cmd:left cmd:middle cmd:right",
     "Expand expectation-value helpers to explicit angle brackets."},
    {Physics, Faithful, "bra_ket", "matrixel-expand", 2,
     "cmd:matrixel", "-", "cmd:matrixel", "cmd:left cmd:middle cmd:right",
     "Expand matrixel into an angle-bracket fence with bars between its parts."},
    {Physics, Faithful, "bra_ket", "physics-bra-expand", 2,
     "cmd:bra", "same", "-", "cmd:left cmd:right",
     "Expand the physics bra into an angle-bracket and bar fence."},
    {Physics, Faithful, "bra_ket", "physics-braket-expand", 2,
     "cmd:braket", "-", "cmd:braket", "cmd:left cmd:middle cmd:right",
     "Expand the physics braket into an angle-bracket fence with a bar."},
    {Physics, Faithful, "bra_ket", "physics-ket-expand", 2,
     "cmd:ket", "same", "-", "cmd:left cmd:right",
     "Expand the physics ket into a bar and angle-bracket fence."},
    {Physics, Faithful, "character_normalize", "cross-aliases-to-times", 2,
     "chr:cp chr:cross chr:crossproduct", "same", "-", "chr:times",
     "Normalize cp, cross and crossproduct to times."},
    {Physics, Faithful, "commutator", "commutator-expand", 2,
     "cmd:comm", "same", "-", "cmd:left cmd:right",
     "Expand the commutator comm into a bracket fence around both operands."},
    {Physics, Faithful, "commutator", "poisson-bracket-expand", 2,
     "cmd:pb", "same", "-", "cmd:left cmd:right",
     "Expand the Poisson bracket pb into a brace fence around both operands."},
    {Physics, Faithful, "delimiter_shorthand", "Bqty-to-brace-fence", 2,
     "cmd:Bqty", "-", "cmd:Bqty", "cmd:left cmd:right",
     "Rewrite Bqty to explicit brace fences."},
    {Physics, Faithful, "delimiter_shorthand", "abs-to-vert-fence", 2,
     "cmd:abs", "-", "cmd:abs", "cmd:left cmd:right",
     "Expand abs into a left and right vertical bar fence."},
    {Physics, Faithful, "delimiter_shorthand", "bqty-to-bracket-fence", 2,
     "cmd:bqty", "-", "cmd:bqty", "cmd:left cmd:right",
     "Rewrite bqty to explicit bracket fences."},
    {Physics, Faithful, "delimiter_shorthand", "norm-to-double-vert-fence", 2,
     "cmd:norm", "-", "cmd:norm", "cmd:left cmd:right",
     "Expand norm into a left and right double bar fence."},
    {Physics, Faithful, "delimiter_shorthand", "pqty-to-paren-fence", 2,
     "cmd:pqty", "-", "cmd:pqty", "cmd:left cmd:right",
     "Rewrite pqty to explicit parenthesis fences."},
    {Physics, Faithful, "derivative_expand", "dv-to-frac-d", 2,
     "cmd:dv", "-", "cmd:dv", "cmd:frac cmd:flatfrac cmd:mathrm",
     "Expand dv forms to explicit d-based derivative fractions."},
    {Physics, Faithful, "derivative_expand", "fdv-to-frac-delta", 2,
     "cmd:fdv", "-", "cmd:fdv", "cmd:frac cmd:flatfrac chr:delta",
     "Expand fdv forms to explicit delta-based derivative fractions."},
    {Physics, Faithful, "derivative_expand", "pdv-to-frac-partial", 2,
     "cmd:pdv", "-", "cmd:pdv", "cmd:frac cmd:flatfrac chr:partial",
     "Expand the partial derivative pdv into a fraction of partials."},
    {Physics, Faithful, "eval_fence", "eval-expand", 2,
     "cmd:eval", "-", "cmd:eval", "cmd:left cmd:right cmd:vphantom cmd:smash chr:int",
     "Expand eval notation to the explicit fence-and-bar form."},
    {Physics, Faithful, "matrix_builder_expand", "bmqty-to-mqty", 2,
     "cmd:bmqty", "-", "cmd:bmqty", "cmd:mqty",
     "Rewrite bmqty as mqty between brackets."},
    {Physics, Faithful, "matrix_builder_expand", "mdet-to-vmqty", 2,
     "cmd:mdet", "same", "-", "cmd:vmqty",
     "Rewrite mdet as vmqty."},
    {Physics, Faithful, "matrix_builder_expand", "pmqty-to-mqty", 2,
     "cmd:pmqty", "-", "cmd:pmqty", "cmd:mqty",
     "Rewrite pmqty as mqty between parentheses."},
    {Physics, Faithful, "matrix_builder_expand", "zmat-to-xmat", 2,
     "cmd:zmat", "same", "-", "cmd:xmat",
     "Expand zmat to the explicit xmat zero-filled builder."},
    {Physics, Faithful, "named_fn_expand", "rank-to-operatorname-rank", 2,
     "cmd:rank", "same", "-", "cmd:operatorname",
     "Rewrite rank to an explicit operatorname form instead of a package-local alias."},
    {Physics, Faithful, "vector_expand", "va-to-vec-mathbf", 2,
     "cmd:va", "same", "-", "cmd:vec cmd:mathbf cmd:boldsymbol",
     "Canonicalize va to an explicit vec-wrapped mathbf form."},
    {Physics, Faithful, "vector_expand", "vb-to-mathbf", 2,
     "cmd:vb", "same", "-", "cmd:mathbf cmd:boldsymbol",
     "Expand vb into a bold argument."},
    {Physics, Faithful, "vector_expand", "vu-to-hat-mathbf", 2,
     "cmd:vu", "same", "-", "cmd:hat cmd:mathbf cmd:boldsymbol",
     "Expand vu into a hat over a bold argument."},
}};
// clang-format on
}  // namespace registry_rows

using registry_rows::RULE_ROWS;

namespace registry_detail {

// Failing in a constant evaluation is what turns a malformed row into a
// compile error.
[[noreturn]] inline void malformed(const char* what) { throw what; }

constexpr bool is_same_marker(std::string_view list) { return list == "same"; }

// Calls `f` on each space-separated item; "-" is the empty list.
template <class F>
constexpr void for_each_item(std::string_view list, F&& f) {
    if (list == "-") return;
    if (list.empty()) malformed("empty target list: write - for none");
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t end = list.find(' ', pos);
        if (end == std::string_view::npos) end = list.size();
        if (end == pos) malformed("stray space in a list");
        f(list.substr(pos, end - pos));
        pos = end + 1;
    }
}

constexpr std::size_t count_items(std::string_view list) {
    std::size_t n = 0;
    for_each_item(list, [&](std::string_view) { ++n; });
    return n;
}

constexpr RuleTarget parse_target(std::string_view item) {
    if (item.size() < 5 || item[3] != ':') malformed("target must be kind:name");
    std::string_view kind = item.substr(0, 3);
    std::string_view name = item.substr(4);
    if (name == "(space)") name = " ";
    if (kind == "cmd") return {RuleTargetKind::Command, name};
    if (kind == "env") return {RuleTargetKind::Environment, name};
    if (kind == "chr") return {RuleTargetKind::Character, name};
    malformed("target kind must be cmd, env or chr");
}

constexpr knowledge::PackageName parse_package(std::string_view name) {
    using knowledge::PackageName;
    if (name == "base") return PackageName::Base;
    if (name == "ams") return PackageName::Ams;
    if (name == "braket") return PackageName::Braket;
    if (name == "physics") return PackageName::Physics;
    if (name == "textmacros") return PackageName::Textmacros;
    if (name == "bboldx") return PackageName::Bboldx;
    if (name == "boldsymbol") return PackageName::Boldsymbol;
    malformed("unknown package name");
}

// Targets of one row in pool order: triggers, consumes (unless "same"),
// conditional consumes, emits.
constexpr std::size_t row_target_count(const RuleRow& row) {
    return count_items(row.triggers) + (is_same_marker(row.consumes) ? 0 : count_items(row.consumes)) +
           count_items(row.conditional_consumes) + count_items(row.emits);
}

consteval std::size_t target_pool_size() {
    std::size_t n = 0;
    for (const RuleRow& row : RULE_ROWS) n += row_target_count(row);
    return n;
}

consteval std::size_t package_pool_size() {
    std::size_t n = 0;
    for (const RuleRow& row : RULE_ROWS)
        if (!row.enabled_by_packages.empty()) n += count_items(row.enabled_by_packages);
    return n;
}

inline constexpr std::size_t TARGET_POOL_SIZE = target_pool_size();
inline constexpr std::size_t PACKAGE_POOL_SIZE = package_pool_size();

consteval std::array<RuleTarget, TARGET_POOL_SIZE> build_target_pool() {
    std::array<RuleTarget, TARGET_POOL_SIZE> pool{};
    std::size_t next = 0;
    auto add = [&](std::string_view list) {
        for_each_item(list, [&](std::string_view item) { pool[next++] = parse_target(item); });
    };
    for (const RuleRow& row : RULE_ROWS) {
        add(row.triggers);
        if (!is_same_marker(row.consumes)) add(row.consumes);
        add(row.conditional_consumes);
        add(row.emits);
    }
    return pool;
}

consteval std::array<knowledge::PackageName, PACKAGE_POOL_SIZE> build_package_pool() {
    std::array<knowledge::PackageName, PACKAGE_POOL_SIZE> pool{};
    std::size_t next = 0;
    for (const RuleRow& row : RULE_ROWS)
        if (!row.enabled_by_packages.empty())
            for_each_item(row.enabled_by_packages,
                          [&](std::string_view item) { pool[next++] = parse_package(item); });
    return pool;
}

inline constexpr std::array<RuleTarget, TARGET_POOL_SIZE> TARGET_POOL = build_target_pool();
inline constexpr std::array<knowledge::PackageName, PACKAGE_POOL_SIZE> PACKAGE_POOL =
    build_package_pool();

// One entry per package, indexed by its byte: the single-package lists.
inline constexpr std::array<knowledge::PackageName, 7> OWN_PACKAGE{
    knowledge::PackageName::Base,       knowledge::PackageName::Ams,
    knowledge::PackageName::Braket,     knowledge::PackageName::Physics,
    knowledge::PackageName::Textmacros, knowledge::PackageName::Bboldx,
    knowledge::PackageName::Boldsymbol,
};

consteval std::array<RuleMeta, RULE_COUNT> build_metas() {
    std::array<RuleMeta, RULE_COUNT> metas{};
    std::size_t next_target = 0;
    std::size_t next_package = 0;
    auto take = [&](std::string_view list) {
        std::size_t n = count_items(list);
        std::span<const RuleTarget> part(TARGET_POOL.data() + next_target, n);
        next_target += n;
        return part;
    };
    for (std::size_t i = 0; i < RULE_COUNT; ++i) {
        const RuleRow& row = RULE_ROWS[i];
        if (row.fidelity > 2) malformed("fidelity must be 0, 1 or 2");
        RuleMeta& meta = metas[i];
        meta.key = {row.name, row.package};
        meta.description = row.description;
        meta.level = row.level;
        meta.fidelity = row.fidelity;
        meta.triggers = take(row.triggers);
        meta.consumes = is_same_marker(row.consumes) ? meta.triggers : take(row.consumes);
        meta.conditional_consumes = take(row.conditional_consumes);
        meta.emits = take(row.emits);
        if (row.enabled_by_packages.empty()) {
            meta.enabled_by_packages = std::span<const knowledge::PackageName>(
                OWN_PACKAGE.data() + static_cast<std::size_t>(row.package), 1);
        } else {
            std::size_t n = count_items(row.enabled_by_packages);
            meta.enabled_by_packages =
                std::span<const knowledge::PackageName>(PACKAGE_POOL.data() + next_package, n);
            next_package += n;
        }
    }
    return metas;
}

}  // namespace registry_detail

// The metadata of every rule, in registry order.
inline constexpr std::array<RuleMeta, RULE_COUNT> RULE_METAS = registry_detail::build_metas();

// The registry position of a rule; an unknown key does not compile.
consteval std::size_t rule_index(knowledge::PackageName package, std::string_view name) {
    for (std::size_t i = 0; i < RULE_COUNT; ++i)
        if (RULE_ROWS[i].package == package && RULE_ROWS[i].name == name) return i;
    registry_detail::malformed("no such rule");
}

}  // namespace quorvel::transform
