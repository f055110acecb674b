#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "facade/records.hpp"
#include "facade/records_argspec.hpp"
#include "facade/records_lookup.hpp"
#include "facade/records_report.hpp"
#include "knowledge/knowledge_base.hpp"

namespace {

using namespace quorvel;
using namespace quorvel::facade;
using transform::Attr;
namespace attr = transform::attr;

// ---- Value keys ---------------------------------------------------------------

struct TokenCase {
    std::string_view text;
    std::string_view token;
};

class StringToDtoToken : public ::testing::TestWithParam<TokenCase> {};

TEST_P(StringToDtoToken, Normalises) {
    EXPECT_EQ(string_to_dto_token(GetParam().text), GetParam().token);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StringToDtoToken,
    ::testing::Values(TokenCase{"", "unknown"}, TokenCase{"VARIANT.", "unknown"}, TokenCase{"-_ .", "unknown"},
                      TokenCase{"VARIANT.VARIANT.X", "variant_x"}, TokenCase{"variant.x", "variant_x"},
                      TokenCase{"\xc3\xa9lan", "lan"}, TokenCase{"caf\xc3\xa9 au", "caf_au"},
                      TokenCase{"SansSerif", "sansserif"}, TokenCase{"double-struck", "double_struck"},
                      TokenCase{"VARIANT.BOLD-ITALIC", "bold_italic"}, TokenCase{"__x__", "x"},
                      TokenCase{"a--b..c", "a_b_c"}, TokenCase{"Fraktur2 Bold", "fraktur2_bold"},
                      TokenCase{"-tex-oldstyle", "tex_oldstyle"}));

struct KeyCase {
    Attr attr;
    transform::AttrValue value;
    std::string_view key;
};

class AttrValueKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(AttrValueKey, DependsOnValue) {
    EXPECT_EQ(attr_value_to_dto_key(GetParam().attr, GetParam().value), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AttrValueKey,
    ::testing::Values(KeyCase{Attr::MathSize, attr::Size{100}, "scale_1_00"},
                      KeyCase{Attr::TextSize, attr::Size{150}, "scale_1_50"},
                      KeyCase{Attr::MathSize, attr::Size{70}, "scale_0_70"},
                      KeyCase{Attr::MathSize, attr::Size{5}, "scale_0_05"},
                      KeyCase{Attr::MathSize, attr::Size{0}, "scale_0_00"},
                      KeyCase{Attr::MathSize, attr::Size{-5}, "minus_scale_0_05"},
                      KeyCase{Attr::TextSize, attr::Size{-150}, "minus_scale_1_50"},
                      KeyCase{Attr::MathSize, attr::Size{2489}, "scale_24_89"},
                      KeyCase{Attr::MathSize, attr::Size{INT32_MIN}, "minus_scale_21474836_48"},
                      KeyCase{Attr::MathSize, attr::Size{INT32_MAX}, "scale_21474836_47"}));

INSTANTIATE_TEST_SUITE_P(
    Fonts, AttrValueKey,
    ::testing::Values(KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.BOLD"}, "bold"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"-tex-oldstyle"}, "oldstyle"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.ITALIC"}, "italic"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.NORMAL"}, "normal"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.SANSSERIF"}, "sans_serif"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.MONOSPACE"}, "monospace"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.MATHITALIC"}, "mathitalic"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.CALLIGRAPHIC"}, "calligraphic"},
                      // The table is exact and case-sensitive; the rest falls through.
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.Sansserif"}, "sansserif"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"VARIANT.BOLD-FRAKTUR"}, "bold_fraktur"},
                      KeyCase{Attr::MathFont, attr::MathVariant{"-tex-calligraphic"}, "tex_calligraphic"},
                      KeyCase{Attr::MathFont, attr::MathVariant{""}, "unknown"}));

INSTANTIATE_TEST_SUITE_P(
    Styles, AttrValueKey,
    ::testing::Values(KeyCase{Attr::MathStyle, attr::MathStyle{"D", 0, true}, "displaystyle"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"T", 0, false}, "textstyle"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"S", 1, false}, "scriptstyle"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"SS", 2, false}, "scriptscriptstyle"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"D", 0, false}, "style_d_inline_0"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"SS", 2, true}, "style_ss_display_2"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"S", 2, false}, "style_s_inline_2"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"T", 255, false}, "style_t_inline_255"},
                      KeyCase{Attr::MathStyle, attr::MathStyle{"", 0, true}, "style_unknown_display_0"}));

INSTANTIATE_TEST_SUITE_P(
    TextAxes, AttrValueKey,
    ::testing::Values(KeyCase{Attr::TextFamily, attr::TextFamily::Roman, "roman"},
                      KeyCase{Attr::TextFamily, attr::TextFamily::SansSerif, "sans_serif"},
                      KeyCase{Attr::TextFamily, attr::TextFamily::Typewriter, "typewriter"},
                      KeyCase{Attr::TextFamily, attr::TextFamily::Calligraphic, "calligraphic"},
                      KeyCase{Attr::TextFamily, attr::TextFamily::Italic, "italic"},
                      KeyCase{Attr::TextFamily, attr::TextFamily::Oldstyle, "oldstyle"},
                      KeyCase{Attr::TextSeries, attr::TextSeries::Bold, "bold"},
                      KeyCase{Attr::TextSeries, attr::TextSeries::Medium, "medium"},
                      KeyCase{Attr::TextShape, attr::TextShape::Upright, "upright"},
                      KeyCase{Attr::TextShape, attr::TextShape::Italic, "italic"},
                      KeyCase{Attr::TextShape, attr::TextShape::Slanted, "slanted"},
                      KeyCase{Attr::TextShape, attr::TextShape::SmallCaps, "small_caps"}));

// ---- Argument-spec validation ---------------------------------------------------

using KT = ArgSpecKindInfo::Type;
using FT = ArgSpecFormInfo::Type;
using syntax::ContentMode;

DelimiterTokenInfo ch(std::string value) { return {DelimiterTokenInfo::Type::Char, std::move(value)}; }
DelimiterTokenInfo cs(std::string value) { return {DelimiterTokenInfo::Type::ControlSeq, std::move(value)}; }

ParsedArgSpecSlot slot(bool required, ArgSpecKindInfo kind, ArgSpecFormInfo form = {}, bool nls = false,
                       bool nullable = false) {
    return {required, nls, nullable, kind, std::move(form)};
}

const ArgSpecKindInfo kMath{KT::Content, ContentMode::Math};
const ArgSpecKindInfo kText{KT::Content, ContentMode::Text};

ArgSpecFormInfo form(FT type) {
    ArgSpecFormInfo info;
    info.type = type;
    return info;
}
ArgSpecFormInfo delimited(DelimiterTokenInfo open, DelimiterTokenInfo close) {
    return {FT::Delimited, std::move(open), std::move(close), {}};
}
ArgSpecFormInfo paired(std::vector<DelimiterTokenPairInfo> pairs) { return {FT::Paired, {}, {}, std::move(pairs)}; }

struct ValidCase {
    std::string_view spec;
    std::vector<ParsedArgSpecSlot> slots;
};

class ValidateArgspecValid : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidateArgspecValid, DescribesEverySlot) {
    const ValidateArgspecResult result = validate_argspec(GetParam().spec);
    ASSERT_TRUE(result.valid) << result.error.value_or("");
    EXPECT_FALSE(result.error.has_value());
    ASSERT_TRUE(result.arg_count.has_value() && result.parsed.has_value());
    EXPECT_EQ(*result.arg_count, result.parsed->size());
    EXPECT_EQ(*result.parsed, GetParam().slots);
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ValidateArgspecValid,
    ::testing::Values(
        ValidCase{"", {}},
        ValidCase{"s m{} m:T",
                  {slot(false, {KT::Star}, form(FT::Star)), slot(true, kMath, form(FT::Group)), slot(true, kText)}},
        ValidCase{"!o:L m:D? m:I m:N m:K m:C m:O",
                  {slot(false, {KT::Dimension}, {}, true), slot(true, {KT::Delimiter}, {}, false, true),
                   slot(true, {KT::Integer}), slot(true, {KT::CsName}), slot(true, {KT::KeyVal}),
                   slot(true, {KT::Column}), slot(true, {KT::OperatorName})}},
        // Characters of every UTF-8 length, control sequences without backslash.
        ValidCase{"r\\langle\\rangle r(\xc3\xa9 R\xe2\x80\x96\xf0\x9d\x94\xb8{x}",
                  {slot(true, kMath, delimited(cs("langle"), cs("rangle"))),
                   slot(true, kMath, delimited(ch("("), ch("\xc3\xa9"))),
                   slot(true, kMath, delimited(ch("\xe2\x80\x96"), ch("\xf0\x9d\x94\xb8")))}},
        ValidCase{"d<(,)><[,]><\\{,\\}>",
                  {slot(false, kMath,
                        paired({{ch("("), ch(")")}, {ch("["), ch("]")}, {cs("{"), cs("}")}}))}}));

struct InvalidCase {
    std::string_view spec;
    std::string_view error;
};

class ValidateArgspecInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(ValidateArgspecInvalid, ReportsOnlyTheError) {
    const ValidateArgspecResult result = validate_argspec(GetParam().spec);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.error, std::optional<std::string>(GetParam().error));
    EXPECT_FALSE(result.arg_count.has_value());
    EXPECT_FALSE(result.parsed.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ValidateArgspecInvalid,
    ::testing::Values(
        InvalidCase{"x", "invalid argspec (validate_argspec) at char 1: unsupported argument token `x`"},
        InvalidCase{"m \xc3\xa9", "invalid argspec (validate_argspec) at char 3: unsupported argument token `\xc3\xa9`"},
        InvalidCase{"m m:", "invalid argspec (validate_argspec) at char 4: missing value kind annotation after `:`"}));

// ---- Lookup records ---------------------------------------------------------------

knowledge::KnowledgeBase build(std::vector<std::string_view> names, ContentMode mode) {
    auto result = knowledge::KnowledgeBase::try_build_from_packages_for_mode(
        std::span<const std::string_view>(names), mode);
    EXPECT_TRUE(result.has_value());
    return std::move(result).value();
}

TEST(CommandInfoDto, CopiesTheMergedRecord) {
    const auto kb = build({"base", "ams"}, ContentMode::Math);
    const auto* frac = kb.lookup_command("frac");
    ASSERT_NE(frac, nullptr);
    const CommandInfoDto dto = command_info_to_dto(*frac);
    EXPECT_EQ(dto.name, "frac");
    EXPECT_EQ(dto.kind, "prefix");
    EXPECT_EQ(dto.allowed_mode, "math");
    EXPECT_EQ(dto.spec_string, frac->argspec);
    EXPECT_EQ(dto.from_packages, (std::vector<std::string>{"base", "ams"}));
    EXPECT_EQ(dto.args, (std::vector<ParsedArgSpecSlot>{slot(true, kMath), slot(true, kMath)}));

    const CommandInfoDto over = command_info_to_dto(*kb.lookup_command("over"));
    EXPECT_EQ(over.kind, "infix");
    EXPECT_EQ(over.tags, std::vector<std::string>{"discouraged"});
    EXPECT_TRUE(over.args.empty());
    EXPECT_EQ(command_info_to_dto(*kb.lookup_command("bf")).kind, "declarative");
}

TEST(CommandInfoDto, RuntimeItemsComeFromRuntime) {
    auto kb = build({"base"}, ContentMode::Math);
    const std::vector<std::string> tags{"mine", "alpha"};
    ASSERT_FALSE(kb.insert_command({"foo", "o m:T", tags, knowledge::CommandKind::Prefix,
                                    knowledge::AllowedMode::Both}));
    ASSERT_FALSE(kb.insert_environment({"bar", "", {}, knowledge::AllowedMode::Text, ContentMode::Text}));

    const CommandInfoDto foo = command_info_to_dto(*kb.lookup_command("foo"));
    EXPECT_EQ(foo.allowed_mode, "both");
    EXPECT_EQ(foo.spec_string, "o m:T");
    EXPECT_EQ(foo.from_packages, std::vector<std::string>{"runtime"});
    EXPECT_EQ(foo.tags, (std::vector<std::string>{"mine", "alpha"}));
    EXPECT_EQ(foo.args, (std::vector<ParsedArgSpecSlot>{slot(false, kMath), slot(true, kText)}));

    const EnvInfoDto bar = env_info_to_dto(*kb.lookup_env("bar"));
    EXPECT_EQ(bar.name, "bar");
    EXPECT_EQ(bar.allowed_mode, "text");
    EXPECT_EQ(bar.body_mode, "text");
    EXPECT_EQ(bar.spec_string, "");
    EXPECT_EQ(bar.from_packages, std::vector<std::string>{"runtime"});
    EXPECT_TRUE(bar.args.empty());
}

TEST(EnvInfoDto, CopiesBuiltinEnvironment) {
    const auto kb = build({"base"}, ContentMode::Math);
    const EnvInfoDto array = env_info_to_dto(*kb.lookup_env("array"));
    EXPECT_EQ(array.body_mode, "math");
    EXPECT_EQ(array.from_packages, std::vector<std::string>{"base"});
    EXPECT_EQ(array.args, (std::vector<ParsedArgSpecSlot>{slot(false, kMath), slot(true, {KT::Column})}));
}

TEST(CharacterInfoDto, ShowsMathvariantAsStored) {
    const auto kb = build({"base", "ams"}, ContentMode::Math);
    const CharacterInfoDto bbbk = character_info_to_dto(*kb.lookup_character("Bbbk"));
    EXPECT_EQ(bbbk.name, "Bbbk");
    EXPECT_EQ(bbbk.allowed_mode, "math");
    EXPECT_EQ(bbbk.unicode_value, "k");
    EXPECT_EQ(bbbk.attributes.mathvariant, std::optional<std::string>("double-struck"));
    EXPECT_EQ(bbbk.package, "ams");

    const CharacterInfoDto approx = character_info_to_dto(*kb.lookup_character("approx"));
    EXPECT_EQ(approx.unicode_value, "\xe2\x89\x88");
    EXPECT_FALSE(approx.attributes.mathvariant.has_value());
    EXPECT_EQ(approx.package, "base");
}

// ---- Package list ------------------------------------------------------------------

TEST(ListPackagesToDto, AllSevenInNameOrder) {
    EXPECT_EQ(list_packages_to_dto(), (std::vector<PackageInfoDto>{
                                          {"ams", 35, 28},
                                          {"base", 267, 7},
                                          {"bboldx", 12, 0},
                                          {"boldsymbol", 1, 0},
                                          {"braket", 11, 0},
                                          {"physics", 182, 1},
                                          {"textmacros", 76, 0},
                                      }));
}

// ---- Transform report ----------------------------------------------------------------

using knowledge::PackageName;

TEST(TransformReportToDto, SortsRuleRowsByKey) {
    transform::TransformReport report;
    report.rewrite.iterations = 3;
    report.rewrite.rules = {
        {1, 2, {"vec-to-mathbf", PackageName::Physics}},
        {3, 0, {"over-to-frac", PackageName::Base}},
        {0, 7, {"dfrac-to-frac", PackageName::Ams}},
        {5, 1, {"over", PackageName::Base}},
        {0, 0, {"atop", PackageName::Base}},
    };
    const TransformReportDto dto = transform_report_to_dto(report);
    EXPECT_EQ(dto.rewrite.iterations, 3u);
    EXPECT_EQ(dto.rewrite.rules, (std::vector<RewriteRuleDto>{
                                     {"ams/dfrac-to-frac", 0, 7},
                                     {"base/atop", 0, 0},
                                     {"base/over", 5, 1},
                                     {"base/over-to-frac", 3, 0},
                                     {"physics/vec-to-mathbf", 1, 2},
                                 }));
}

TEST(TransformReportToDto, SortsAttributeRowsByAxisThenKey) {
    transform::TransformReport report;
    auto& map = report.lower_attributes.attributes;
    map[{attr::TextShape::Italic, Attr::TextShape}] = {{1, 0}, {0, 0}, {0, 0}};
    map[{attr::Size{120}, Attr::TextSize}] = {{0, 1}, {0, 0}, {0, 0}};
    map[{attr::MathStyle{"D", 0, true}, Attr::MathStyle}] = {{0, 0}, {0, 0}, {0, 1}};
    map[{attr::MathVariant{"VARIANT.SANSSERIF"}, Attr::MathFont}] = {{2, 3}, {4, 5}, {6, 7}};
    map[{attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont}] = {{0, 0}, {0, 0}, {0, 0}};
    map[{attr::Size{80}, Attr::MathSize}] = {{0, 0}, {1, 1}, {0, 0}};
    report.lower_attributes.eliminated_empty_segments = 9;

    const TransformReportDto dto = transform_report_to_dto(report);
    std::vector<std::pair<std::string_view, std::string>> order;
    for (const auto& row : dto.lower_attributes.attributes) order.emplace_back(row.attr, row.value);
    EXPECT_EQ(order, (std::vector<std::pair<std::string_view, std::string>>{
                         {"math_font", "bold"},
                         {"math_font", "sans_serif"},
                         {"math_size", "scale_0_80"},
                         {"math_style", "displaystyle"},
                         {"text_shape", "italic"},
                         {"text_size", "scale_1_20"},
                     }));
    const LowerAttributeDto& sans = dto.lower_attributes.attributes[1];
    EXPECT_EQ(sans.consumed, (AttributeFormCountsDto{2, 3}));
    EXPECT_EQ(sans.redundant, (AttributeFormCountsDto{4, 5}));
    EXPECT_EQ(sans.emitted, (AttributeFormCountsDto{6, 7}));
    EXPECT_EQ(dto.lower_attributes.eliminated_empty_segments, 9u);
}

TEST(TransformReportToDto, CopiesEveryCounterToItsField) {
    transform::TransformReport report;
    report.finalize_ast = {1, 2};
    report.flatten_groups.actions = {3, 4, 5, 6};
    report.flatten_groups.guard_hits = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    const TransformReportDto dto = transform_report_to_dto(report);
    EXPECT_TRUE(dto.rewrite.rules.empty());
    EXPECT_TRUE(dto.lower_attributes.attributes.empty());
    EXPECT_EQ(dto.finalize_ast.prime_run_merges, 1u);
    EXPECT_EQ(dto.finalize_ast.text_normalizations, 2u);
    const auto& a = dto.flatten_groups.actions;
    EXPECT_EQ((std::vector<std::uint64_t>{a.removed_empty, a.replaced_single_child, a.inlined_multi_child,
                                          a.unwrapped_slot}),
              (std::vector<std::uint64_t>{3, 4, 5, 6}));
    const auto& g = dto.flatten_groups.guard_hits;
    EXPECT_EQ((std::vector<std::uint64_t>{g.declarative_scope, g.script_base, g.env_body, g.infix_scope,
                                          g.command_contact, g.command_argument,
                                          g.command_contact_via_scripted_base, g.empty_group,
                                          g.lone_atom_spacing_char, g.leading_atom_spacing_char,
                                          g.delimited_pair}),
              (std::vector<std::uint64_t>{7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
}

}  // namespace
