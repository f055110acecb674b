// Inputs whose normalisation once grew faster than their size: nestings of
// rewritten constructs, each at the profiles where it is slow, and seeded
// random nestings of physics shorthands, bracket arguments, fences, fonts,
// scripts and environments. Shared by the work tests and the bench, so that
// both measure the same inputs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "seeded_picker.hpp"

namespace quorvel::transform::families {

// Bits of `Family::profiles`, in the order authoring, faithful, corpus, equiv.
inline constexpr std::uint8_t kAuthoring = 1, kFaithful = 2, kCorpus = 4, kEquiv = 8, kAll = 15;
inline constexpr std::array<const char*, 4> kProfileNames{"authoring", "faithful", "corpus", "equiv"};

// `prefix` + `open` x levels + `middle` + `close` x levels + `suffix`; a
// family with `width` grows its middle (`middle` x width) instead of its
// levels, which stay at `levels` unless it is `deep`, and one with `copies`
// repeats the nest between prefix and suffix that many times instead.
struct Family {
    std::string name;
    std::string open;
    std::string middle;
    std::string close;
    std::uint8_t profiles = kAll;
    std::size_t levels = 0;  // at n
    std::size_t width = 0;   // at n, for a family that grows its middle
    std::string prefix{};
    std::string suffix{};
    std::string core{};  // at the bottom, before the middle
    std::size_t copies = 0;  // at n, for a family that repeats its nest
    bool deep = false;       // with `width`: its levels grow too

    // The input at `scale` times its size at n.
    std::string build(std::size_t scale) const {
        const std::size_t depth = (width == 0 && copies == 0) || deep ? levels * scale : levels;
        std::string nest;
        for (std::size_t i = 0; i < depth; ++i) nest += open;
        nest += core;
        for (std::size_t i = 0, n = width == 0 ? 1 : width * scale; i < n; ++i) nest += middle;
        for (std::size_t i = 0; i < depth; ++i) nest += close;
        std::string out = prefix;
        for (std::size_t i = 0, n = copies == 0 ? 1 : copies * scale; i < n; ++i) out += nest;
        return out + suffix;
    }
};

// The reported families, at sizes where each shows its growth: bodies of
// the matrix builders, and rewrites that copy an argument at every level.
inline std::vector<Family> reported(std::size_t levels = 64) {
    const std::size_t wide = 16;  // levels of the families that grow their middle
    return {
        {"pmqty_unpaired", "\\pmqty{", "(", "}", kFaithful | kCorpus | kEquiv, levels},
        {"bmqty_unpaired", "\\bmqty{", "[", "}", kFaithful | kCorpus | kEquiv, levels},
        {"pmqty_paired", "\\pmqty{", "x", "}", kFaithful | kCorpus | kEquiv, levels},
        {"pmqty_wide", "\\pmqty{", "x", "}", kFaithful, wide, 4 * levels, "", "", "("},
        {"eval", "\\eval(", "x", ")|", kFaithful, levels},
        {"dv_order", "\\dv[{", "1", "}]{f}{x}", kFaithful, levels},
        {"abs", "\\abs{", "x", "}", kFaithful, levels},
        {"ket_unclosed_body", "\\ket{\\pmqty{", "(", "}}", kFaithful | kEquiv, levels},
    };
}

// Nests of the rules that move the content they keep into what they build:
// the moved constructs are rewritten in the same pass, so a nest takes as
// many passes at any depth and costs work in proportion to its size. The
// repeated nests are, at 8n, documents the work bound once refused.
inline std::vector<Family> moved_nests() {
    return {
        {"abs_copies", "\\abs{", "x", "}", kAll, 15, 0, "", "", "", 125},
        {"norm_copies", "\\norm{", "x", "}", kAll, 16, 0, "", "", "", 125},
        {"stackrel_copies", "\\stackrel{", "x", "}{x}", kAll, 5, 0, "", "", "", 500},
        {"pmatrix_copies", "\\begin{pmatrix}", "x", "\\end{pmatrix}", kAll, 16, 0, "", "", "", 38},
        {"substack_copies", "\\substack{", "x", "}", kAll, 16, 0, "", "", "", 125},
        {"dv", "\\dv{", "f", "}{x}", kAll, 45},
        {"pmatrix", "\\begin{pmatrix}", "x", "\\end{pmatrix}", kAll, 65},
        {"stackrel_above", "\\stackrel{", "x", "}{=}", kAll, 64},
        {"buildrel", "{\\buildrel a\\over b", "x", "}", kFaithful | kCorpus | kEquiv, 64},
        {"buildrel_relation_group", "\\buildrel a\\over{", "x", "}", kAll, 64},
        {"buildrel_braced_top", "\\buildrel{", "x", "}\\over=", kAll, 64},
        {"buildrel_row_end", "{\\buildrel a\\over\\\\ ", "x", "}", kAll, 64},
        {"substack", "\\substack{a\\\\", "x", "}", kAll, 64},
        {"pdv_mixed", "\\pdv{f}{x}{", "y", "}", kAll, 64},
        {"starred_fence_scripts", "\\abs*{x}_{", "x", "}", kAll, 64},
        {"ket_star", "\\ket*{a+", "x", "}", kAll, 64},
        {"commutator", "\\comm*{", "x", "}{b}", kAll, 64},
        {"vector_hat", "\\vu{", "x", "}", kAll, 64},
        {"eval_star", "\\eval*{", "x", "}", kAll, 64},
        {"idotsint_scripts", "\\idotsint_{", "x", "}", kAll, 64},
        {"plain_matrix", "\\matrix{a&", "x", "\\cr b}", kAll, 64},
        {"limits", "\\int\\limits_{", "x", "}", kAll, 64},
    };
}

// Chains of groups in a bracket argument, which flattening considers
// level by level.
inline std::vector<Family> bracket_chains(std::size_t levels = 64) {
    const std::size_t wide = 16;
    return {
        {"sqrt_qty", "\\qty(", "x", ")", kCorpus | kEquiv, levels, 0, "\\sqrt[", "]{y}"},
        {"xrightarrow_mqty", "\\mqty(", "x", ")", kCorpus | kEquiv, levels, 0, "\\xrightarrow[", "]{y}"},
        {"left_qty", "\\left(\\qty(", "x", ")\\right)", kCorpus | kEquiv, levels},
        {"qty_left", "\\qty(\\left(", "x", "\\right))", kCorpus | kEquiv, levels},
        {"sqrt_qty_wide", "\\qty(", "x", ")", kCorpus, wide, 4 * levels, "\\sqrt[", "]{y}"},
    };
}

// Long lists of spacers that stay before what an open slot would take,
// each of which the drop rules are offered.
inline std::vector<Family> kept_spacers(std::size_t levels = 64) {
    return {
        {"kept_quads", "", "\\qty\\quad(", "", kCorpus | kEquiv, 0, 4 * levels},
        {"kept_struts", "", "\\sin\\strut[", "", kCorpus | kEquiv, 0, 4 * levels},
    };
}

// Infixes whose left operand sets a font, nested in either operand or side
// by side: each hands the font on to its right operand.
inline std::vector<Family> infix_fonts(std::size_t levels = 64) {
    return {
        {"font_over_right", "{\\bf a\\over ", "x", "}", kAll, levels},
        {"font_over_left", "{\\bf{", "x", "}\\large\\over b}", kAll, levels},
        {"font_over_wide", "", "{\\rm a\\bf b\\choose c}", "", kAll, 0, 4 * levels},
    };
}

// Long lists of runs of small spacers, which the merges join into wide ones
// a run at a time and the drops then take at equiv; and wide runs, in
// groups, in a font and in text. All of them must normalise.
inline std::vector<Family> spacer_runs(std::size_t runs = 64) {
    const std::string six_thin = "\\,\\,\\,\\,\\,\\,";
    return {
        {"six_thin", "", six_thin + "x", "", kAll, 0, runs},
        {"thick_medium", "", "\\;\\:\\;\\:x", "", kAll, 0, runs},
        {"merged_apart", "", "\\,\\,\\,\\,\\;\\:x", "", kAll, 0, runs},
        {"kept_merged", "", "\\qty" + six_thin + "(", "", kAll, 0, runs},
        {"quads", "", "\\quad\\quad\\quad x", "", kAll, 0, runs},
        {"enspaces", "", "\\enspace\\enspace x", "", kAll, 0, runs},
        {"mixed", "", "a\\quad b" + six_thin + "c\\enspace\\enspace d", "", kAll, 0, runs},
        {"grouped", "", "{" + six_thin + "x}" + six_thin, "", kAll, 0, runs},
        {"in_font", "", six_thin + "x", "", kAll, 0, runs, "\\mathrm{", "}"},
        {"in_text", "", "a\\quad\\quad ", "", kAll, 0, runs, "\\text{", "}"},
    };
}

// Bodies of many cells, each split by an infix command or opening with a
// script after its separator, under declaratives; and bodies nested in the
// right operands of infix commands.
inline std::vector<Family> cells(std::size_t levels = 64) {
    return {
        {"cells_infix", "", "\\bf a \\over b & ", "", kAll, 0, 4 * levels, "\\begin{matrix}", "\\end{matrix}"},
        {"cells_plain", "", "\\rm a \\choose b & c \\cr ", "", kAll, 0, 4 * levels, "\\pmatrix{", "}"},
        {"cells_scripts", "", "x &'y \\\\^2 ", "", kAll, 0, 4 * levels, "\\begin{matrix}\\bf ", "\\end{matrix}"},
        {"cells_nested", "\\begin{matrix}\\rm a \\over ", "x", " & b \\end{matrix}", kAll, levels},
    };
}

// Font and style switches where the spacing TeX sets decides what stays:
// style switches in braces after relations, nested; font runs whose edges
// hold punctuation; declaratives before empty-base scripts; fonts in cells.
inline std::vector<Family> font_scopes(std::size_t levels = 64) {
    return {
        {"style_braces_nested", "a < {\\scriptstyle b ", "x", "}", kAll, levels},
        {"font_edges_wide", "", "\\bf {a} , {\\it b} \\rm = ", "", kAll, 0, 4 * levels},
        {"empty_base_wide", "", "{\\bf ^2 x \\scriptstyle _1 y} ", "", kAll, 0, 4 * levels},
        {"cells_font", "", "\\sf a & ", "", kAll, 0, 4 * levels, "\\sf\\begin{matrix}", "\\end{matrix}"},
    };
}

// Valid nests inside font and text arguments, and mixes of font commands
// with declaratives: the groups dissolve or go level by level, each leaving
// its content to the level above, which must not look at it again.
inline std::vector<Family> font_nests(std::size_t levels = 64) {
    return {
        {"mathrm_nest", "\\mathrm{a{", "b", "}}", kAll, levels},
        {"mathrm_wide_nest", "\\mathrm{abcd{", "b", "}}", kAll, levels},
        {"mathbf_nest", "\\mathbf{a{", "b", "}}", kAll, levels},
        {"mathit_nest", "\\mathit{a{", "b", "}}", kAll, levels},
        {"mathbf_rm", "\\mathbf{a{\\rm ", "b", "}}", kAll, levels},
        {"mathrm_rm", "\\mathrm{a{\\rm ", "b", "}}", kAll, levels},
        {"mathrm_bf_it", "\\mathrm{a{\\bf b{\\it ", "c", "}}}", kAll, levels},
        {"textrm_nest", "\\textrm{a{", "b", "}}", kAll, levels},
        {"textrm_bf", "\\textrm{a{\\bf ", "b", "}}", kAll, levels},
        {"textbf_itshape", "\\textbf{a{\\itshape ", "b", "}}", kAll, levels},
        {"textit_bfseries_rm", "\\textit{a{\\bfseries b{\\rmfamily ", "c", "}}}", kAll, levels},
        {"text_mixed", "\\textrm{a{\\bf b\\textit{c{\\sffamily ", "d", "}}}}", kAll, levels},
        {"prefix_alternation", "\\mathrm{\\mathbf{a", "b", "}}", kAll, levels},
        {"bracket_nest", "a{", "b", "}", kAll, levels, 0, "\\sqrt[", "]{y}"},
        {"cell_nest", "\\mathbf{a{\\rm ", "b&c", "}}", kAll, levels, 0, "\\begin{matrix}", "\\end{matrix}"},
    };
}

// Line breaks that break no line, nested in groups alone in a fraction's
// part or beside other items, between letters, and many in one operand of
// an infix: each asks of its list and what holds it, never of those below;
// and many in one list at the bottom of a nest, alone or among items that
// other rules rewrite: the breaks of a list climb the nest once.
inline std::vector<Family> line_breaks(std::size_t levels = 64) {
    return {
        {"newline_alone_in_part", "{", "a\\newline", "}", kAll, levels, 0, "\\frac{", "}{x}"},
        {"newline_beside", "{a\\newline ", "b", "}", kAll, levels},
        {"break_between_letters", "{f\\break ", "i", "i}", kAll, levels},
        {"newlines_before_buildrel", "", "z\\newline ", "", kAll, 0, 4 * levels, "", "\\buildrel a\\over ="},
        {"breaks_in_numerator", "", "z\\break ", "", kAll, 0, 4 * levels, "{", "\\over b}"},
        {"newlines_in_numerator", "", "z\\newline ", "", kAll, 0, 4 * levels, "{", "\\over b}"},
        {"newlines_deep", "{", "\\newline ", "}", kAll, levels, 4 * levels, "", "", "", 0, true},
        {"newlines_and_renames_deep", "{", "\\newline \\ge ", "}", kAll, levels, 4 * levels, "", "", "", 0, true},
    };
}

// One level of a random nesting.
struct Layer {
    const char* open;
    const char* close;
};

inline constexpr std::array<Layer, 30> kLayers{{
    // physics shorthands
    {"\\qty(", ")"}, {"\\qty[", "]"}, {"\\abs{", "}"}, {"\\norm{", "}"}, {"\\pmqty{", "}"},
    {"\\bmqty{", "}"}, {"\\mqty(", ")"}, {"\\eval(", ")|"}, {"\\dv[{", "}]{f}{x}"}, {"\\pdv{", "}{x}"},
    {"\\ket{", "}"}, {"\\braket{a}{", "}"}, {"\\vb{", "}"}, {"\\mdet{", "}"}, {"\\comm{", "}{b}"},
    // bracket arguments
    {"\\sqrt[", "]{y}"}, {"\\xrightarrow[", "]{}"},
    // fences
    {"\\left(", "\\right)"}, {"\\left[", "\\right]"}, {"\\bigl(", "\\bigr)"},
    // fonts
    {"\\mathrm{", "}"}, {"{\\bf ", "}"}, {"\\text{$", "$}"}, {"\\operatorname{f", "}"},
    // scripts
    {"x^{", "}"}, {"{", "}_a"},
    // environments and fractions
    {"\\begin{matrix}", "\\end{matrix}"}, {"\\begin{pmatrix}", "\\end{pmatrix}"}, {"{a\\over ", "}"},
    {"\\frac{", "}{a}"},
}};

// `count` families of three layers each, drawn with a fixed seed, repeated
// `levels` times at n, at every profile.
inline std::vector<Family> random_nestings(std::size_t count, std::size_t levels = 16) {
    testing::SeededPicker draw(54);
    auto pick = [&](std::size_t n) { return draw.pick(n); };
    std::vector<Family> out;
    for (std::size_t i = 0; i < count; ++i) {
        Family f{"random_" + std::to_string(i), "", "x", "", kAll, levels};
        for (int layer = 0; layer < 3; ++layer) {
            const Layer& l = kLayers[pick(kLayers.size())];
            f.open += l.open;
            f.close = l.close + f.close;
        }
        out.push_back(std::move(f));
    }
    return out;
}

}  // namespace quorvel::transform::families
