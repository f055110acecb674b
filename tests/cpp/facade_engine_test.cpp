#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/error.hpp"
#include "facade/transform_engine.hpp"
#include "transform/rules/registry.hpp"

namespace {

using namespace quorvel;
using facade::EngineProfile;
using facade::Error;
using facade::TransformEngine;
using facade::TransformEngineBuilder;

TransformEngine build(TransformEngineBuilder builder) {
    auto engine = builder.build();
    if (!engine) throw std::runtime_error(engine.error().message());
    return std::move(engine).value();
}

TransformEngine engine_for(EngineProfile profile) {
    TransformEngineBuilder builder;
    builder.profile(profile);
    return build(std::move(builder));
}

syntax::document::Document parse(const TransformEngine& engine, std::string_view source) {
    auto result = engine.parser().parse_with(source, {});
    if (!result.document) throw std::runtime_error("no document");
    return std::move(*result.document);
}

std::string tree(const syntax::document::Document& document) { return syntax::debug_string(document.to_syntax()); }

bool plan_has(const TransformEngine& engine, std::string_view key) {
    for (const transform::RewriteRule* rule : engine.context().plan.rules) {
        if (transform::to_string(rule->meta().key) == key) return true;
    }
    return false;
}

// ---- Profiles -----------------------------------------------------------------

struct ProfileCase {
    EngineProfile profile;
    std::uint8_t level_mask;
    bool preserve_rendered_spacing;
};

class FacadeEngineProfile : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(FacadeEngineProfile, DefaultsAndAdmittedLevels) {
    const ProfileCase& c = GetParam();
    const transform::BuildConfig config = facade::profile_defaults(c.profile);
    EXPECT_EQ(config.level_mask, c.level_mask);
    EXPECT_EQ(config.selection, transform::RuleSelection::all());

    transform::TransformOptions expected;
    expected.flatten_groups.preserve_rendered_spacing = c.preserve_rendered_spacing;
    const TransformEngine engine = engine_for(c.profile);
    EXPECT_EQ(engine.default_transform_options(), expected);
    EXPECT_EQ(engine.default_normalize_config().parse, parse::ParseConfig{});
    ASSERT_FALSE(engine.context().plan.rules.empty());
    for (const transform::RewriteRule* rule : engine.context().plan.rules) {
        EXPECT_LE(static_cast<int>(rule->meta().level), static_cast<int>(c.profile))
            << transform::to_string(rule->meta().key);
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, FacadeEngineProfile,
                         ::testing::Values(ProfileCase{EngineProfile::Authoring, 0x01, true},
                                           ProfileCase{EngineProfile::Faithful, 0x03, true},
                                           ProfileCase{EngineProfile::Corpus, 0x07, false},
                                           ProfileCase{EngineProfile::Equiv, 0x0F, false}));

TEST(FacadeEngineProfile, EquivPlansEveryLevel) {
    bool seen[4] = {};
    const TransformEngine engine = engine_for(EngineProfile::Equiv);
    for (const transform::RewriteRule* rule : engine.context().plan.rules) {
        seen[static_cast<int>(rule->meta().level)] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]);
}

// ---- Building -----------------------------------------------------------------

struct BuildCase {
    std::string_view name;
    std::function<void(TransformEngineBuilder&)> configure;
    // Empty when the build succeeds.
    std::string_view error;
    std::string_view category;
};

class FacadeEngineBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(FacadeEngineBuild, ReportsTheFirstFailure) {
    const BuildCase& c = GetParam();
    TransformEngineBuilder builder;
    c.configure(builder);
    auto engine = builder.build();
    if (c.error.empty()) {
        EXPECT_TRUE(engine) << engine.error().message();
        return;
    }
    ASSERT_FALSE(engine);
    EXPECT_EQ(engine.error().message(), c.error);
    EXPECT_EQ(facade::normalize_error_to_parts(std::move(engine).error()).kind, c.category);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeEngineBuild,
    ::testing::Values(
        BuildCase{"no_profile", [](TransformEngineBuilder&) {}, "engine profile is required", "config"},
        BuildCase{"no_profile_before_parser_check", [](TransformEngineBuilder& b) { b.packages({"nope"}); },
                  "engine profile is required", "config"},
        BuildCase{"unknown_package",
                  [](TransformEngineBuilder& b) { b.profile(EngineProfile::Faithful).packages({"nope"}); },
                  "failed to build parser: unknown package: nope", "config"},
        BuildCase{"bad_item",
                  [](TransformEngineBuilder& b) {
                      parse::CommandItem item;
                      item.name = "foo";
                      item.argspec = "q";
                      b.profile(EngineProfile::Faithful).item(parse::ContextItem::command(std::move(item)));
                  },
                  "failed to build parser: invalid context item foo: invalid argspec (command foo) at char 1: "
                  "unsupported argument token `q`",
                  "config"},
        BuildCase{"empty_knowledge",
                  [](TransformEngineBuilder& b) { b.profile(EngineProfile::Equiv).empty_knowledge(); }, "", ""},
        BuildCase{"disabled_twice",
                  [](TransformEngineBuilder& b) {
                      auto key = transform::rule_key_from_name("base/hfilll-to-hfill");
                      b.disable_rule(*key).disable_rule(*key).profile(EngineProfile::Authoring);
                  },
                  "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct RuleNameCase {
    std::string_view name;
    bool known;
};

class FacadeEngineRuleName : public ::testing::TestWithParam<RuleNameCase> {};

TEST_P(FacadeEngineRuleName, MatchesTheDisplayFormExactly) {
    TransformEngineBuilder builder;
    auto disabled = builder.disable_rule_by_name(GetParam().name);
    if (!GetParam().known) {
        ASSERT_FALSE(disabled);
        EXPECT_EQ(disabled.error().message(), "unknown transform rule: " + std::string(GetParam().name));
        return;
    }
    ASSERT_TRUE(disabled);
    builder.profile(EngineProfile::Equiv);
    EXPECT_FALSE(plan_has(build(std::move(builder)), GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(Names, FacadeEngineRuleName,
                         ::testing::Values(RuleNameCase{"base/hfilll-to-hfill", true},
                                           RuleNameCase{"physics/va-to-vec-mathbf", true},
                                           RuleNameCase{"hfilll-to-hfill", false},
                                           RuleNameCase{"Base/hfilll-to-hfill", false},
                                           RuleNameCase{" base/hfilll-to-hfill", false},
                                           RuleNameCase{"", false}));

TEST(FacadeEngineBuild, DisabledRulesSurviveALaterProfile) {
    TransformEngineBuilder builder;
    builder.profile(EngineProfile::Authoring);
    ASSERT_TRUE(builder.disable_rule_by_name("base/hfilll-to-hfill"));
    builder.profile(EngineProfile::Corpus);
    const TransformEngine engine = build(std::move(builder));
    EXPECT_FALSE(plan_has(engine, "base/hfilll-to-hfill"));
    EXPECT_EQ(engine.normalize_with("\\hfilll", engine.default_normalize_config()).value(), "\\hfilll");
    EXPECT_EQ(engine_for(EngineProfile::Corpus).normalize_with("\\hfilll", {}).value(), "\\hfill");
}

TEST(FacadeEngineBuild, EveryEngineHasItsOwnContextNumber) {
    EXPECT_NE(engine_for(EngineProfile::Faithful).parser().context().id(),
              engine_for(EngineProfile::Faithful).parser().context().id());
}

// ---- Documents and their owner ------------------------------------------------

struct DocumentCase {
    std::string_view name;
    std::string_view source;
    // Which engine made the document: this one, a twin built identically, or
    // none (built from its exchange tree).
    enum Origin { Own, Twin, FromSyntax } origin;
    std::string_view error;  // empty: transformed
};

class FacadeEngineDocument : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(FacadeEngineDocument, OwnerCheckPrecedesStateCheck) {
    const DocumentCase& c = GetParam();
    const TransformEngine engine = engine_for(EngineProfile::Faithful);
    const TransformEngine twin = engine_for(EngineProfile::Faithful);
    syntax::document::Document document = [&] {
        switch (c.origin) {
            case DocumentCase::Own: return parse(engine, c.source);
            case DocumentCase::Twin: return parse(twin, c.source);
            case DocumentCase::FromSyntax:
                return syntax::document::Document::from_syntax(parse(engine, c.source).to_syntax()).value();
        }
        throw std::logic_error("origin");
    }();
    const std::string before = tree(document);

    for (const bool with_report : {false, true}) {
        SCOPED_TRACE(with_report ? "with report" : "plain");
        std::string error;
        if (with_report) {
            auto report = engine.transform_with_report(document, engine.default_transform_options());
            if (!report) error = report.error().message();
        } else {
            auto run = engine.transform_with(document, engine.default_transform_options());
            if (!run) error = run.error().message();
        }
        EXPECT_EQ(error, c.error);
        if (!c.error.empty()) {
            EXPECT_EQ(tree(document), before);
        }
    }
    if (c.error.empty()) {
        EXPECT_EQ(document.to_latex().value(), "\\hfill");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeEngineDocument,
    ::testing::Values(
        DocumentCase{"own", "\\hfilll", DocumentCase::Own, ""},
        DocumentCase{"twin", "\\hfilll", DocumentCase::Twin, "document was not parsed by this transform engine"},
        DocumentCase{"from_syntax", "\\hfilll", DocumentCase::FromSyntax,
                     "document was not parsed by this transform engine"},
        DocumentCase{"own_with_errors", "\\hfilll x_", DocumentCase::Own,
                     "cannot transform a document with parse errors"},
        DocumentCase{"twin_with_errors", "\\hfilll x_", DocumentCase::Twin,
                     "document was not parsed by this transform engine"},
        DocumentCase{"from_syntax_with_errors", "\\hfilll x_", DocumentCase::FromSyntax,
                     "document was not parsed by this transform engine"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Normalising --------------------------------------------------------------

TEST(FacadeEngineNormalize, RunsParseTransformAndWrite) {
    const TransformEngine engine = engine_for(EngineProfile::Faithful);
    const facade::NormalizeConfig config = engine.default_normalize_config();
    EXPECT_EQ(engine.normalize_with("\\hfilll", config).value(), "\\hfill");

    auto reported = engine.normalize_with_report("\\quad\\quad", config);
    ASSERT_TRUE(reported) << reported.error().message();
    EXPECT_EQ(reported->normalized, "\\qquad");
    EXPECT_GE(reported->report.rewrite.iterations, 1u);
    EXPECT_FALSE(reported->report.rewrite.rules.empty());

    transform::FlattenGroupsGuardsOverlay guards;
    auto guarded = engine.normalize_with_flatten_groups_guards("\\hfilll", config, guards);
    ASSERT_TRUE(guarded) << guarded.error().message();
    EXPECT_EQ(guarded->normalized, "\\hfill");
}

struct NormalizeFailureCase {
    std::string_view name;
    std::string_view source;
    std::size_t max_iterations;
    std::string_view message;
    std::string_view category;
    bool partial_document;
};

class FacadeEngineNormalizeFailure : public ::testing::TestWithParam<NormalizeFailureCase> {};

TEST_P(FacadeEngineNormalizeFailure, MapsToItsCategory) {
    const NormalizeFailureCase& c = GetParam();
    const TransformEngine engine = engine_for(EngineProfile::Faithful);
    facade::NormalizeConfig config = engine.default_normalize_config();
    config.transform.rewrite.max_iterations = c.max_iterations;

    auto plain = engine.normalize_with(c.source, config);
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error().message(), c.message);
    auto reported = engine.normalize_with_report(c.source, config);
    ASSERT_FALSE(reported);
    facade::BindingErrorParts parts = facade::normalize_error_to_parts(std::move(reported).error());
    EXPECT_EQ(parts.kind, c.category);
    EXPECT_EQ(parts.message, c.message);
    EXPECT_EQ(parts.document.has_value(), c.partial_document);
    EXPECT_EQ(parts.diagnostics.empty(), c.category != "parse");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeEngineNormalizeFailure,
    ::testing::Values(
        NormalizeFailureCase{"incomplete", "x_", 100, "parse produced an incomplete document", "parse", true},
        NormalizeFailureCase{"no_document", "a}", 100, "parse produced no document", "parse", false},
        // The pipeline's own text, without a prefix.
        NormalizeFailureCase{"pipeline", "x", 0, "rewrite exceeded max iterations: 0", "transform", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A matrix builder reads its body once the other rules have settled it:
// it waits within the pass that finds nothing else to do, so it costs no
// pass of its own.
TEST(FacadeEngineNormalize, WaitingBuilderTakesNoPassOfItsOwn) {
    const TransformEngine engine = engine_for(EngineProfile::Faithful);
    const struct {
        std::string_view source;
        std::size_t max_iterations;
        std::string_view output;
        std::uint64_t iterations;
    } cases[] = {
        {"\\pmqty{a}", 2, "\\mqty ( a )", 2},
        {"\\pmqty{\\pmqty{a}}", 2, "\\mqty ( \\mqty ( a ) )", 2},
        {"\\pmqty{\\braket{x}}", 3, "\\mqty ( \\left \\langle x \\middle \\vert x \\right \\rangle )", 3},
        {"\\pmqty{(\\braket)}", 2, "\\pmqty { ( \\left \\langle ) \\middle \\vert ) \\right \\rangle }", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        facade::NormalizeConfig config = engine.default_normalize_config();
        config.transform.rewrite.max_iterations = c.max_iterations;
        auto reported = engine.normalize_with_report(c.source, config);
        ASSERT_TRUE(reported) << reported.error().message();
        EXPECT_EQ(reported->normalized, c.output);
        EXPECT_EQ(reported->report.rewrite.iterations, c.iterations);
    }
}

TEST(FacadeEngineNormalize, ParseSettingsComeFromTheCall) {
    const TransformEngine engine = engine_for(EngineProfile::Faithful);
    facade::NormalizeConfig config = engine.default_normalize_config();
    config.parse.reject_unknown = true;
    auto strict = engine.normalize_with("\\foo", config);
    ASSERT_FALSE(strict);
    EXPECT_EQ(strict.error().message(), "parse produced an incomplete document");
    EXPECT_TRUE(engine.normalize_with("\\foo", engine.default_normalize_config()));
}

// ---- Error parts --------------------------------------------------------------

struct PartsCase {
    std::string_view name;
    std::function<Error()> make;
    std::string_view kind;
    std::string_view message;
};

class FacadeErrorParts : public ::testing::TestWithParam<PartsCase> {};

TEST_P(FacadeErrorParts, CategoryAndMessage) {
    const PartsCase& c = GetParam();
    facade::BindingErrorParts parts = facade::normalize_error_to_parts(c.make());
    EXPECT_EQ(parts.kind, c.kind);
    EXPECT_EQ(parts.message, c.message);
    EXPECT_TRUE(parts.diagnostics.empty());
    EXPECT_FALSE(parts.document);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeErrorParts,
    ::testing::Values(
        PartsCase{"profile", [] { return Error(Error::ProfileRequired{}); }, "config", "engine profile is required"},
        PartsCase{"rule", [] { return Error(Error::UnknownRule{"x/y"}); }, "config", "unknown transform rule: x/y"},
        PartsCase{"parser_build",
                  [] { return Error(facade::ParserBuildError{knowledge::PackageLoadError{{}, "zz"}}); }, "config",
                  "failed to build parser: unknown package: zz"},
        PartsCase{"transform_build", [] { return Error(facade::TransformBuildError{"cycle"}); }, "config",
                  "failed to build transform plan: cycle"},
        PartsCase{"no_document", [] { return Error(facade::ParseError{}); }, "parse", "parse produced no document"},
        PartsCase{"parse_errors", [] { return Error(Error::DocumentHasParseErrors{}); }, "transform",
                  "cannot transform a document with parse errors"},
        PartsCase{"foreign", [] { return Error(Error::ForeignDocument{}); }, "transform",
                  "document was not parsed by this transform engine"},
        PartsCase{"transform", [] { return Error(facade::TransformError{"boom"}); }, "transform", "boom"},
        PartsCase{"serialize", [] { return Error(syntax::SerializeError{}); }, "internal",
                  "unsupported serialization operation"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FacadeErrorParts, FromSyntaxIsAParseFailureWithoutDetails) {
    const facade::BindingErrorParts parts = facade::from_syntax_error_to_dto(syntax::FromSyntaxError::NotARoot);
    EXPECT_EQ(parts.kind, "parse");
    EXPECT_EQ(parts.message, "from_syntax expects a SyntaxNode::Root");
    EXPECT_TRUE(parts.diagnostics.empty());
    EXPECT_FALSE(parts.document);
}

}  // namespace
