// The argument specs and tag lists that the built-in package tables share.
#pragma once

#include "knowledge/packages/builders.hpp"

namespace quorvel::knowledge::builtin {

// Pair lists of the paired argument forms.
inline constexpr DelimiterPair PAIRS_pbc[] = {pair(U'(', U')'), pair(U'[', U']'), pair(U'{', U'}')};
inline constexpr DelimiterPair PAIRS_pc[] = {pair(U'(', U')'), pair(U'{', U'}')};
inline constexpr DelimiterPair PAIRS_pbcv[] = {pair(U'(', U')'), pair(U'[', U']'), pair(U'{', U'}'), pair(U'|', U'|')};
inline constexpr DelimiterPair PAIRS_c[] = {pair(U'{', U'}')};
inline constexpr DelimiterPair PAIRS_pvbvc[] = {pair(U'(', U'|'), pair(U'[', U'|'), pair(U'{', U'}')};

// One entry per distinct spec text: ARGS_<letters>, an annotation letter
// following its slot letter, "b" for m{}, "x" for a ! prefix, "q" for a ?.
inline constexpr ArgSpec SLOTS_m[] = {mandatory()};
inline constexpr BuiltinArgs ARGS_m{SLOTS_m, "m"};
inline constexpr BuiltinArgs ARGS_none{{}, ""};
inline constexpr ArgSpec SLOTS_mD[] = {mandatory(Kind::Delimiter)};
inline constexpr BuiltinArgs ARGS_mD{SLOTS_mD, "m:D"};
inline constexpr ArgSpec SLOTS_mT[] = {mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_mT{SLOTS_mT, "m:T"};
inline constexpr ArgSpec SLOTS_mL[] = {mandatory(Kind::Dimension)};
inline constexpr BuiltinArgs ARGS_mL{SLOTS_mL, "m:L"};
inline constexpr ArgSpec SLOTS_mbL[] = {braced(Kind::Dimension)};
inline constexpr BuiltinArgs ARGS_mbL{SLOTS_mbL, "m{}:L"};
inline constexpr ArgSpec SLOTS_m_m[] = {mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_m_m{SLOTS_m_m, "m m"};
inline constexpr ArgSpec SLOTS_mL_m[] = {mandatory(Kind::Dimension), mandatory()};
inline constexpr BuiltinArgs ARGS_mL_m{SLOTS_mL_m, "m:L m"};
inline constexpr ArgSpec SLOTS_mD_mD[] = {mandatory(Kind::Delimiter), mandatory(Kind::Delimiter)};
inline constexpr BuiltinArgs ARGS_mD_mD{SLOTS_mD_mD, "m:D m:D"};
inline constexpr ArgSpec SLOTS_mI[] = {mandatory(Kind::Integer)};
inline constexpr BuiltinArgs ARGS_mI{SLOTS_mI, "m:I"};
inline constexpr ArgSpec SLOTS_mbL_mbL_mbL[] = {braced(Kind::Dimension), braced(Kind::Dimension), braced(Kind::Dimension)};
inline constexpr BuiltinArgs ARGS_mbL_mbL_mbL{SLOTS_mbL_mbL_mbL, "m{}:L m{}:L m{}:L"};
inline constexpr ArgSpec SLOTS_mN[] = {mandatory(Kind::CsName)};
inline constexpr BuiltinArgs ARGS_mN{SLOTS_mN, "m:N"};
inline constexpr ArgSpec SLOTS_xs_xoL[] = {no_space(star()), no_space(optional(Kind::Dimension))};
inline constexpr BuiltinArgs ARGS_xs_xoL{SLOTS_xs_xoL, "!s !o:L"};
inline constexpr ArgSpec SLOTS_OcN_mbL_mT[] = {optional(Kind::CsName), braced(Kind::Dimension), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_OcN_mbL_mT{SLOTS_OcN_mbL_mT, "O{c}:N m{}:L m:T"};
inline constexpr ArgSpec SLOTS_ON_m[] = {optional(Kind::CsName), mandatory()};
inline constexpr BuiltinArgs ARGS_ON_m{SLOTS_ON_m, "O{}:N m"};
inline constexpr ArgSpec SLOTS_m_O0I_m[] = {mandatory(), optional(Kind::Integer), mandatory()};
inline constexpr BuiltinArgs ARGS_m_O0I_m{SLOTS_m_O0I_m, "m O{0}:I m"};
inline constexpr ArgSpec SLOTS_m_m_m[] = {mandatory(), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_m_m_m{SLOTS_m_m_m, "m m m"};
inline constexpr ArgSpec SLOTS_m_m_m_m[] = {mandatory(), mandatory(), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_m_m_m_m{SLOTS_m_m_m_m, "m m m m"};
inline constexpr ArgSpec SLOTS_mD_mD_mL[] = {mandatory(Kind::Delimiter), mandatory(Kind::Delimiter), mandatory(Kind::Dimension)};
inline constexpr BuiltinArgs ARGS_mD_mD_mL{SLOTS_mD_mD_mL, "m:D m:D m:L"};
inline constexpr ArgSpec SLOTS_mI_m_m[] = {mandatory(Kind::Integer), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_mI_m_m{SLOTS_mI_m_m, "m:I m m"};
inline constexpr ArgSpec SLOTS_mN_mN[] = {mandatory(Kind::CsName), mandatory(Kind::CsName)};
inline constexpr BuiltinArgs ARGS_mN_mN{SLOTS_mN_mN, "m:N m:N"};
inline constexpr ArgSpec SLOTS_mN_oK_mT[] = {mandatory(Kind::CsName), optional(Kind::KeyVal), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_mN_oK_mT{SLOTS_mN_oK_mT, "m:N o:K m:T"};
inline constexpr ArgSpec SLOTS_o_m[] = {optional(), mandatory()};
inline constexpr BuiltinArgs ARGS_o_m{SLOTS_o_m, "o m"};
inline constexpr ArgSpec SLOTS_oL_OcN_mT[] = {optional(Kind::Dimension), optional(Kind::CsName), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_oL_OcN_mT{SLOTS_oL_OcN_mT, "o:L O{c}:N m:T"};
inline constexpr ArgSpec SLOTS_oL_mbL_mbL[] = {optional(Kind::Dimension), braced(Kind::Dimension), braced(Kind::Dimension)};
inline constexpr BuiltinArgs ARGS_oL_mbL_mbL{SLOTS_oL_mbL_mbL, "o:L m{}:L m{}:L"};
inline constexpr ArgSpec SLOTS_oL_oN_mT[] = {optional(Kind::Dimension), optional(Kind::CsName), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_oL_oN_mT{SLOTS_oL_oN_mT, "o:L o:N m:T"};
inline constexpr ArgSpec SLOTS_mDq_mDq_mbLq_mIq_m_m[] = {mandatory(Kind::Delimiter, true), mandatory(Kind::Delimiter, true), braced(Kind::Dimension, true), mandatory(Kind::Integer, true), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_mDq_mDq_mbLq_mIq_m_m{SLOTS_mDq_mDq_mbLq_mIq_m_m, "m:D? m:D? m{}:L? m:I? m m"};
inline constexpr ArgSpec SLOTS_oN_m_m[] = {optional(Kind::CsName), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_oN_m_m{SLOTS_oN_m_m, "o:N m m"};
inline constexpr ArgSpec SLOTS_s_mN_mO[] = {star(), mandatory(Kind::CsName), mandatory(Kind::OperatorName)};
inline constexpr BuiltinArgs ARGS_s_mN_mO{SLOTS_s_mN_mO, "s m:N m:O"};
inline constexpr ArgSpec SLOTS_s_mO[] = {star(), mandatory(Kind::OperatorName)};
inline constexpr BuiltinArgs ARGS_s_mO{SLOTS_s_mO, "s m:O"};
inline constexpr ArgSpec SLOTS_s_mT[] = {star(), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_s_mT{SLOTS_s_mT, "s m:T"};
inline constexpr ArgSpec SLOTS_o[] = {optional()};
inline constexpr BuiltinArgs ARGS_o{SLOTS_o, "o"};
inline constexpr ArgSpec SLOTS_s[] = {star()};
inline constexpr BuiltinArgs ARGS_s{SLOTS_s, "s"};
inline constexpr ArgSpec SLOTS_s_m[] = {star(), mandatory()};
inline constexpr BuiltinArgs ARGS_s_m{SLOTS_s_m, "s m"};
inline constexpr ArgSpec SLOTS_s_mb[] = {star(), braced()};
inline constexpr BuiltinArgs ARGS_s_mb{SLOTS_s_mb, "s m{}"};
inline constexpr ArgSpec SLOTS_dpbc[] = {optional_paired(PAIRS_pbc)};
inline constexpr BuiltinArgs ARGS_dpbc{SLOTS_dpbc, "d<(,)><[,]><{,}>"};
inline constexpr ArgSpec SLOTS_s_m_g[] = {star(), mandatory(), optional_braced()};
inline constexpr BuiltinArgs ARGS_s_m_g{SLOTS_s_m_g, "s m g"};
inline constexpr ArgSpec SLOTS_s_mb_m[] = {star(), braced(), mandatory()};
inline constexpr BuiltinArgs ARGS_s_mb_m{SLOTS_s_mb_m, "s m{} m"};
inline constexpr ArgSpec SLOTS_s_o_m_g[] = {star(), optional(), mandatory(), optional_braced()};
inline constexpr BuiltinArgs ARGS_s_o_m_g{SLOTS_s_o_m_g, "s o m g"};
inline constexpr ArgSpec SLOTS_g[] = {optional_braced()};
inline constexpr BuiltinArgs ARGS_g{SLOTS_g, "g"};
inline constexpr ArgSpec SLOTS_o_dpc[] = {optional(), optional_paired(PAIRS_pc)};
inline constexpr BuiltinArgs ARGS_o_dpc{SLOTS_o_dpc, "o d<(,)><{,}>"};
inline constexpr ArgSpec SLOTS_s_dpbcv[] = {star(), optional_paired(PAIRS_pbcv)};
inline constexpr BuiltinArgs ARGS_s_dpbcv{SLOTS_s_dpbcv, "s d<(,)><[,]><{,}><|,|>"};
inline constexpr ArgSpec SLOTS_s_o_m_g_g[] = {star(), optional(), mandatory(), optional_braced(), optional_braced()};
inline constexpr BuiltinArgs ARGS_s_o_m_g_g{SLOTS_s_o_m_g_g, "s o m g g"};
inline constexpr ArgSpec SLOTS_s_s_m_g[] = {star(), star(), mandatory(), optional_braced()};
inline constexpr BuiltinArgs ARGS_s_s_m_g{SLOTS_s_s_m_g, "s s m g"};
inline constexpr ArgSpec SLOTS_s_s_m_m_m[] = {star(), star(), mandatory(), mandatory(), mandatory()};
inline constexpr BuiltinArgs ARGS_s_s_m_m_m{SLOTS_s_s_m_m_m, "s s m m m"};
inline constexpr ArgSpec SLOTS_dpbcv[] = {optional_paired(PAIRS_pbcv)};
inline constexpr BuiltinArgs ARGS_dpbcv{SLOTS_dpbcv, "d<(,)><[,]><{,}><|,|>"};
inline constexpr ArgSpec SLOTS_dc[] = {optional_paired(PAIRS_c)};
inline constexpr BuiltinArgs ARGS_dc{SLOTS_dc, "d<{,}>"};
inline constexpr ArgSpec SLOTS_mI_mI[] = {mandatory(Kind::Integer), mandatory(Kind::Integer)};
inline constexpr BuiltinArgs ARGS_mI_mI{SLOTS_mI_mI, "m:I m:I"};
inline constexpr ArgSpec SLOTS_s_dpvbvc[] = {star(), optional_paired(PAIRS_pvbvc)};
inline constexpr BuiltinArgs ARGS_s_dpvbvc{SLOTS_s_dpvbvc, "s d<(,|><[,|><{,}>"};
inline constexpr ArgSpec SLOTS_s_m_mI_mI[] = {star(), mandatory(), mandatory(Kind::Integer), mandatory(Kind::Integer)};
inline constexpr BuiltinArgs ARGS_s_m_mI_mI{SLOTS_s_m_mI_mI, "s m m:I m:I"};
inline constexpr ArgSpec SLOTS_ON_mT[] = {optional(Kind::CsName), mandatory(Kind::TextContent)};
inline constexpr BuiltinArgs ARGS_ON_mT{SLOTS_ON_mT, "O{}:N m:T"};
inline constexpr ArgSpec SLOTS_o_mI[] = {optional(), mandatory(Kind::Integer)};
inline constexpr BuiltinArgs ARGS_o_mI{SLOTS_o_mI, "o m:I"};
inline constexpr ArgSpec SLOTS_mC[] = {mandatory(Kind::Column)};
inline constexpr BuiltinArgs ARGS_mC{SLOTS_mC, "m:C"};
inline constexpr ArgSpec SLOTS_o_mC[] = {optional(), mandatory(Kind::Column)};
inline constexpr BuiltinArgs ARGS_o_mC{SLOTS_o_mC, "o m:C"};
inline constexpr ArgSpec SLOTS_oL_oL_oL_mC[] = {optional(Kind::Dimension), optional(Kind::Dimension), optional(Kind::Dimension), mandatory(Kind::Column)};
inline constexpr BuiltinArgs ARGS_oL_oL_oL_mC{SLOTS_oL_oL_oL_mC, "o:L o:L o:L m:C"};

// Tag lists: command tags in byte order, environment tags as declared.
inline constexpr std::string_view TAGS_decoration[] = {"decoration"};
inline constexpr std::string_view TAGS_discouraged[] = {"discouraged"};
inline constexpr std::string_view TAGS_invisible[] = {"invisible"};
inline constexpr std::string_view TAGS_math_alignment[] = {"math-alignment"};
inline constexpr std::string_view TAGS_mathjax_extension[] = {"mathjax-extension"};
inline constexpr std::string_view TAGS_newdefine[] = {"newdefine"};
inline constexpr std::string_view TAGS_presentation[] = {"presentation"};
inline constexpr std::string_view TAGS_spacing[] = {"spacing"};
inline constexpr std::string_view TAGS_discouraged_presentation[] = {"discouraged", "presentation"};
inline constexpr std::string_view TAGS_invisible_newdefine[] = {"invisible", "newdefine"};
inline constexpr std::string_view TAGS_invisible_spacing[] = {"invisible", "spacing"};
inline constexpr std::string_view TAGS_math_alignment_discouraged[] = {"math-alignment", "discouraged"};
inline constexpr std::string_view TAGS_math_alignment_nestable[] = {"math-alignment", "nestable"};
inline constexpr std::string_view TAGS_mathjax_extension_presentation[] = {"mathjax-extension", "presentation"};
inline constexpr std::string_view TAGS_matrix_nestable[] = {"matrix", "nestable"};
inline constexpr std::string_view TAGS_invisible_mathjax_extension_spacing[] = {"invisible", "mathjax-extension", "spacing"};
inline constexpr std::string_view TAGS_math_alignment_nestable_mathjax_extension[] = {"math-alignment", "nestable", "mathjax-extension"};

}  // namespace quorvel::knowledge::builtin
