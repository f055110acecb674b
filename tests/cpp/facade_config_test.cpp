#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/config.hpp"
#include "facade/input.hpp"
#include "facade/serialize_options_input.hpp"

namespace {

using namespace quorvel;
namespace input = facade::input;
using facade::NormalizeConfig;
using syntax::SerializeOptions;

// A base whose every setting differs from the defaults somewhere, so that a
// key that wrongly resets a setting shows.
NormalizeConfig base() {
    NormalizeConfig config;
    config.parse.max_group_depth = 9;
    config.parse.abort_on_error = true;
    config.transform.rewrite.max_iterations = 7;
    config.transform.flatten_groups.preserve_rendered_spacing = false;
    config.transform.finalize_ast.enabled = false;
    return config;
}

struct OverlayCase {
    std::string_view name;
    std::function<void(input::NormalizeConfigInput&)> given;
    // Applied to the base to give the expected result.
    std::function<void(NormalizeConfig&)> expect;
};

class FacadeIntoConfig : public ::testing::TestWithParam<OverlayCase> {};

TEST_P(FacadeIntoConfig, PresentKeysReplaceTheirNamesakes) {
    const OverlayCase& c = GetParam();
    input::NormalizeConfigInput overrides;
    c.given(overrides);
    NormalizeConfig expected = base();
    c.expect(expected);
    EXPECT_EQ(facade::into_config(overrides, base()), expected);

    // The same keys through the two partial records.
    const input::ParseConfigInput parse{overrides.reject_unknown, overrides.abort_on_error,
                                        overrides.max_group_depth};
    const input::TransformConfigInput transform{overrides.lower_attributes, overrides.rewrite,
                                                overrides.finalize_ast, overrides.flatten_groups};
    EXPECT_EQ(facade::apply_overrides(parse, base().parse), expected.parse);
    EXPECT_EQ(facade::apply_overrides(transform, base().transform), expected.transform);
}

using Overrides = input::NormalizeConfigInput;

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeIntoConfig,
    ::testing::Values(
        OverlayCase{"nothing", [](Overrides&) {}, [](NormalizeConfig&) {}},
        OverlayCase{"depth_zero", [](Overrides& o) { o.max_group_depth = 0; },
                    [](NormalizeConfig& c) { c.parse.max_group_depth = 0; }},
        OverlayCase{"parse_flags",
                    [](Overrides& o) {
                        o.reject_unknown = true;
                        o.abort_on_error = false;
                    },
                    [](NormalizeConfig& c) {
                        c.parse.reject_unknown = true;
                        c.parse.abort_on_error = false;
                    }},
        OverlayCase{"rewrite_off_keeps_limit", [](Overrides& o) { o.rewrite.emplace().enabled = false; },
                    [](NormalizeConfig& c) { c.transform.rewrite.enabled = false; }},
        OverlayCase{"iterations_zero", [](Overrides& o) { o.rewrite.emplace().max_iterations = 0; },
                    [](NormalizeConfig& c) { c.transform.rewrite.max_iterations = 0; }},
        OverlayCase{"empty_phase", [](Overrides& o) { o.flatten_groups.emplace(); }, [](NormalizeConfig&) {}},
        OverlayCase{"spacing_only",
                    [](Overrides& o) { o.flatten_groups.emplace().preserve_rendered_spacing = true; },
                    [](NormalizeConfig& c) { c.transform.flatten_groups.preserve_rendered_spacing = true; }},
        OverlayCase{"every_key",
                    [](Overrides& o) {
                        o.reject_unknown = true;
                        o.abort_on_error = false;
                        o.max_group_depth = 3;
                        o.lower_attributes.emplace().enabled = false;
                        o.rewrite = input::RewriteConfigInput{false, 12};
                        o.finalize_ast.emplace().enabled = true;
                        o.flatten_groups = input::FlattenGroupsConfigInput{false, true};
                    },
                    [](NormalizeConfig& c) {
                        c.parse = {3, true, false};
                        c.transform.lower_attributes.enabled = false;
                        c.transform.rewrite = {false, 12};
                        c.transform.finalize_ast.enabled = true;
                        c.transform.flatten_groups = {false, true};
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Serializer options ---------------------------------------------------------

TEST(FacadeSerializeOptions, AbsentOptionsTakeDefaults) {
    input::SerializeOptionsInput given;
    const SerializeOptions defaults{syntax::CommandSpacing::Spaced,      syntax::MathGroupInnerSpacing::Padded,
                                    syntax::AdjacentCharSpacing::Spaced, syntax::ScriptSpacing::Spaced,
                                    syntax::ScriptOrder::SubFirst,       syntax::InfixGrouping::WhenRequired,
                                    syntax::EnvironmentNameSpacing::Spaced};
    EXPECT_EQ(input::to_serialize_options(given), defaults);

    given.infix_operand_grouping = 0;
    SerializeOptions expected = defaults;
    expected.infix_grouping = syntax::InfixGrouping::AlwaysExplicit;
    EXPECT_EQ(input::to_serialize_options(given), expected);

    given = {1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(input::to_serialize_options(given),
              (SerializeOptions{syntax::CommandSpacing::Minimal, syntax::MathGroupInnerSpacing::Compact,
                                syntax::AdjacentCharSpacing::Compact, syntax::ScriptSpacing::Compact,
                                syntax::ScriptOrder::SupFirst, syntax::InfixGrouping::WhenRequired,
                                syntax::EnvironmentNameSpacing::Compact}));
}

// ---- Context items --------------------------------------------------------------

struct ItemCase {
    std::string_view name;
    input::ContextItemInput given;
    std::string_view error;  // empty: converted
    parse::ContextItem::Kind kind = parse::ContextItem::Kind::Command;
    std::uint8_t kind_or_body = 0;
    knowledge::AllowedMode allowed_mode = knowledge::AllowedMode::Math;
    std::vector<std::string> tags = {};
};

class FacadeContextItem : public ::testing::TestWithParam<ItemCase> {};

TEST_P(FacadeContextItem, ChecksTargetRulesThenConverts) {
    const ItemCase& c = GetParam();
    input::ContextItemInput given = c.given;
    auto item = facade::context_item_try_from(std::move(given));
    if (!c.error.empty()) {
        ASSERT_FALSE(item);
        EXPECT_EQ(item.error(), c.error);
        return;
    }
    ASSERT_TRUE(item) << item.error();
    EXPECT_EQ(item->kind, c.kind);
    EXPECT_EQ(item->item.name, c.given.name);
    if (c.kind == parse::ContextItem::Kind::DelimiterControl) return;
    EXPECT_EQ(item->item.argspec, *c.given.argspec);
    EXPECT_EQ(item->item.kind_or_body, c.kind_or_body);
    EXPECT_EQ(item->item.allowed_mode, c.allowed_mode);
    EXPECT_EQ(item->item.tags, c.tags);
}

using T = input::ContextTarget;

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeContextItem,
    ::testing::Values(
        ItemCase{"command",
                 {T::Command, "foo", input::ContextCommandKind::Prefix, input::ContextAllowedMode::Math, {}, "m", {}},
                 "", parse::ContextItem::Kind::Command, 0, knowledge::AllowedMode::Math},
        ItemCase{"declarative_command_with_tags",
                 {T::Command, "bar", input::ContextCommandKind::Declarative, input::ContextAllowedMode::Both, {}, "",
                  std::vector<std::string>{"b", "a"}},
                 "", parse::ContextItem::Kind::Command, 2, knowledge::AllowedMode::Both, {"b", "a"}},
        ItemCase{"command_without_kind",
                 {T::Command, "foo", {}, input::ContextAllowedMode::Math, {}, "m", {}},
                 "`kind` is required for target `command`"},
        ItemCase{"command_with_body_mode_first",
                 {T::Command, "foo", {}, {}, input::ContextContentMode::Math, {}, {}},
                 "`body_mode` is not allowed for target `command`"},
        ItemCase{"command_without_argspec", {T::Command, "f", {}, {}, {}, {}, {}},
                 "`argspec` is required for target `command`"},
        ItemCase{"environment",
                 {T::Environment, "env", {}, input::ContextAllowedMode::Text, input::ContextContentMode::Text, "",
                  std::vector<std::string>{"t"}},
                 "", parse::ContextItem::Kind::Environment, 1, knowledge::AllowedMode::Text, {"t"}},
        ItemCase{"environment_with_kind", {T::Environment, "env", input::ContextCommandKind::Prefix, {}, {}, {}, {}},
                 "`kind` is not allowed for target `environment`"},
        ItemCase{"environment_bare", {T::Environment, "env", {}, {}, {}, {}, {}},
                 "`allowed_mode` is required for target `environment`"},
        ItemCase{"delimiter", {T::Delimiter, "x", {}, {}, {}, {}, {}}, "",
                 parse::ContextItem::Kind::DelimiterControl},
        ItemCase{"delimiter_with_empty_tags", {T::Delimiter, "x", {}, {}, {}, {}, std::vector<std::string>{}},
                 "`tags` is not allowed for target `delimiter`"},
        ItemCase{"delimiter_with_argspec", {T::Delimiter, "x", {}, {}, {}, "m", {}},
                 "`argspec` is not allowed for target `delimiter`"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Guards ---------------------------------------------------------------------

TEST(FacadeGuardsOverlay, KeepsGuardOrder) {
    input::FlattenGroupsGuardsInput given;
    EXPECT_EQ(facade::to_guards_overlay(given), transform::FlattenGroupsGuardsOverlay{});

    given.script_base = false;
    transform::FlattenGroupsGuardsOverlay expected;
    expected.guards[static_cast<std::size_t>(transform::FlattenGuard::ScriptBase)] = false;
    EXPECT_EQ(facade::to_guards_overlay(given), expected);

    given.command_like_includes_scripted_base = true;
    given.delimited_pair = false;
    expected.guards[static_cast<std::size_t>(transform::FlattenGuard::CommandLikeIncludesScriptedBase)] = true;
    expected.guards[static_cast<std::size_t>(transform::FlattenGuard::DelimitedPair)] = false;
    EXPECT_EQ(facade::to_guards_overlay(given), expected);
}

}  // namespace
