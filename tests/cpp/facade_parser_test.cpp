#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/error.hpp"
#include "facade/parser.hpp"
#include "facade/records.hpp"

namespace {

using namespace quorvel;
using facade::ParserBuilder;
using facade::TargetCount;
using facade::TargetCounts;
using parse::CommandItem;
using parse::ContextItem;
using syntax::ContentMode;

ContextItem command(std::string name, std::string argspec) {
    CommandItem item;
    item.name = std::move(name);
    item.argspec = std::move(argspec);
    return ContextItem::command(std::move(item));
}

facade::Parser build(ParserBuilder builder) {
    auto parser = builder.build();
    if (!parser) throw std::runtime_error(parser.error().to_string());
    return std::move(parser).value();
}

TEST(FacadeParserBuilder, FreshBuilderUsesDefaults) {
    const facade::Parser parser = build(ParserBuilder());
    EXPECT_EQ(parser.default_parse_config(), parse::ParseConfig{});
    EXPECT_EQ(parser.default_parse_config().max_group_depth, 128u);
    EXPECT_TRUE(parser.knows_command_name("frac"));
    EXPECT_FALSE(parser.knows_command_name("Set"));  // braket is not a default package
}

// Each case configures a builder and names a command the result must (or
// must not) know, or the build error it must report.
struct BuilderCase {
    std::string_view name;
    std::function<void(ParserBuilder&)> configure;
    std::string_view probe;
    bool knows = false;
    std::string_view error;
};

class FacadeParserBuild : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(FacadeParserBuild, AppliesOperationsInOrder) {
    const BuilderCase& c = GetParam();
    ParserBuilder builder;
    c.configure(builder);
    auto parser = builder.build();
    if (!c.error.empty()) {
        ASSERT_FALSE(parser);
        EXPECT_EQ(parser.error().to_string(), c.error);
        EXPECT_EQ(facade::Error(std::move(parser).error()).message(),
                  "failed to build parser: " + std::string(c.error));
        return;
    }
    ASSERT_TRUE(parser) << parser.error().to_string();
    EXPECT_EQ(parser->knows_command_name(c.probe), c.knows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeParserBuild,
    ::testing::Values(
        BuilderCase{"explicit_packages", [](ParserBuilder& b) { b.packages({"braket"}); }, "Set", true, ""},
        BuilderCase{"explicit_packages_drop_defaults", [](ParserBuilder& b) { b.packages({"braket"}); }, "frac",
                    false, ""},
        BuilderCase{"unknown_package", [](ParserBuilder& b) { b.packages({"base", "nope"}); }, "", false,
                    "unknown package: nope"},
        BuilderCase{"item_added", [](ParserBuilder& b) { b.item(command("foo", "m")); }, "foo", true, ""},
        BuilderCase{"bad_argspec", [](ParserBuilder& b) { b.item(command("foo", "q")); }, "", false,
                    "invalid context item foo: invalid argspec (command foo) at char 1: "
                    "unsupported argument token `q`"},
        BuilderCase{"empty_knowledge_discards_item",
                    [](ParserBuilder& b) { b.item(command("foo", "m")).empty_knowledge(); }, "foo", false, ""},
        BuilderCase{"empty_knowledge_discards_removal",
                    [](ParserBuilder& b) { b.remove_command("frac").empty_knowledge().packages({"base"}); }, "frac",
                    true, ""},
        BuilderCase{"item_after_empty_knowledge_kept",
                    [](ParserBuilder& b) { b.empty_knowledge().item(command("foo", "m")); }, "foo", true, ""},
        BuilderCase{"empty_knowledge_knows_nothing", [](ParserBuilder& b) { b.empty_knowledge(); }, "frac", false,
                    ""},
        BuilderCase{"packages_keep_recorded_removal",
                    [](ParserBuilder& b) { b.remove_command("frac").packages({"base"}); }, "frac", false, ""},
        BuilderCase{"removal_after_item", [](ParserBuilder& b) { b.item(command("foo", "m")).remove_command("foo"); },
                    "foo", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FacadeParserBuilder, KeepsDefaultParseConfigThroughEmptyKnowledge) {
    parse::ParseConfig config;
    config.max_group_depth = 3;
    config.abort_on_error = true;
    const facade::Parser parser = build(std::move(ParserBuilder().default_parse_config(config).empty_knowledge()));
    EXPECT_EQ(parser.default_parse_config(), config);
}

TEST(FacadeParserBuilder, EveryBuildTakesAFreshContextNumber) {
    const ParserBuilder builder;
    const facade::Parser first = build(builder);
    const facade::Parser second = build(builder);
    EXPECT_NE(first.context().id(), second.context().id());
    auto result = second.parse_with("x", {});
    ASSERT_TRUE(result.document);
    EXPECT_EQ(result.document->parse_context_id(), second.context().id());
}

TEST(FacadeParser, LookupsFollowTheContentMode) {
    const facade::Parser parser = build(ParserBuilder());
    EXPECT_NE(parser.lookup_command("frac", ContentMode::Math), nullptr);
    EXPECT_EQ(parser.lookup_env("nope", ContentMode::Math), nullptr);
    EXPECT_NE(parser.lookup_character("alpha", ContentMode::Math), nullptr);
    EXPECT_TRUE(parser.is_delimiter_control("langle"));
    EXPECT_TRUE(parser.knows_env_name("matrix"));
    EXPECT_TRUE(parser.knows_character_name("alpha"));
}

// ---- Control sequences read as commands -------------------------------------

// The command the parser makes of `\name` alone in that mode (in text, as
// the whole of a `\text` argument); none where it makes anything else.
std::optional<syntax::SyntaxNode::Command> lone_command(const facade::Parser& parser, const std::string& name,
                                                        ContentMode mode) {
    using syntax::SyntaxNode;
    const std::string control = "\\" + name;
    const auto result = parser.parse_with(mode == ContentMode::Math ? control : "\\text{" + control + "}", {});
    if (!result.document || !result.diagnostics.empty()) return std::nullopt;
    const SyntaxNode tree = result.document->to_syntax();
    const std::vector<SyntaxNode>* list = &std::get<SyntaxNode::Root>(tree.value).children;
    if (mode == ContentMode::Text) {
        const auto& text = std::get<SyntaxNode::Command>(list->at(0).value);
        list = &std::get<SyntaxNode::Group>(text.args.at(0)->value.content()->value).children;
    }
    if (list->size() != 1) return std::nullopt;
    const auto* command = std::get_if<SyntaxNode::Command>(&list->front().value);
    if (command == nullptr) return std::nullopt;
    return *command;
}

// A name the parser reads as a command with no arguments of its own, known
// in the modes given: `\&` whatever the packages, a delimiter written as a
// control sequence in math alone.
struct SymbolCase {
    std::string name;
    knowledge::AllowedMode mode;
};

TEST(FacadeParser, CommandsReadWithoutARecordOfTheirOwnAreLookedUp) {
    using knowledge::AllowedMode;
    const facade::Parser parser = build(ParserBuilder());
    const SymbolCase cases[] = {
        {"&", AllowedMode::Both},     {"|", AllowedMode::Math},      {"langle", AllowedMode::Math},
        {"vert", AllowedMode::Math},  {"lbrace", AllowedMode::Math}, {"Updownarrow", AllowedMode::Math},
    };
    for (const SymbolCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const ContentMode mode : {ContentMode::Math, ContentMode::Text}) {
            SCOPED_TRACE(mode == ContentMode::Math ? "math" : "text");
            const bool read =
                c.mode == AllowedMode::Both || (c.mode == AllowedMode::Math) == (mode == ContentMode::Math);
            const auto command = lone_command(parser, c.name, mode);
            ASSERT_TRUE(command.has_value());
            EXPECT_EQ(command->known, read);
            const knowledge::ActiveCommandRecord* record = parser.lookup_command(c.name, mode);
            ASSERT_EQ(record != nullptr, read);
            if (!read) continue;
            EXPECT_EQ(record->name, c.name);
            EXPECT_EQ(record->kind, knowledge::CommandKind::Prefix);
            EXPECT_TRUE(record->args.empty());
            EXPECT_EQ(record->argspec, "");
            EXPECT_EQ(record->allowed_mode, c.mode);
        }
        EXPECT_TRUE(parser.knows_command_name(c.name));
    }
    // With no packages `\&` is still read as a command, and no delimiter is.
    const facade::Parser bare = build(std::move(ParserBuilder().empty_knowledge()));
    EXPECT_TRUE(bare.knows_command_name("&"));
    EXPECT_FALSE(bare.knows_command_name("|"));
    EXPECT_EQ(lone_command(bare, "|", ContentMode::Math)->known, false);
}

// Every control symbol (and control space) the parser reads as a command
// is known to the lookups exactly where the parser marks it known.
TEST(FacadeParser, LookupsAgreeWithTheParserOnEveryControlSymbol) {
    const facade::Parser parser = build(ParserBuilder());
    std::size_t commands = 0;
    for (char c = ' '; c <= '~'; ++c) {
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') continue;
        const std::string name(1, c);
        bool known = false;
        for (const ContentMode mode : {ContentMode::Math, ContentMode::Text}) {
            const auto command = lone_command(parser, name, mode);
            if (!command || !command->args.empty()) continue;
            ++commands;
            known = known || command->known;
            EXPECT_EQ(parser.lookup_command(name, mode) != nullptr, command->known)
                << "\\" << name << (mode == ContentMode::Math ? " in math" : " in text");
        }
        EXPECT_TRUE(!known || parser.knows_command_name(name)) << "\\" << name;
    }
    EXPECT_GT(commands, 20u);
}

// ---- Completeness of a parse ------------------------------------------------

struct CompletenessCase {
    std::string_view name;
    std::string_view source;
    // Empty when the parse is complete.
    std::string_view error;
    bool partial_document = false;
    std::size_t diagnostics = 0;
};

class FacadeTryIntoDocument : public ::testing::TestWithParam<CompletenessCase> {};

TEST_P(FacadeTryIntoDocument, DecidesByDocumentAndErrorNodes) {
    const CompletenessCase& c = GetParam();
    const facade::Parser parser = build(ParserBuilder());
    facade::ParseResult result = parser.parse_with(c.source, {});
    const auto expected_diagnostics = result.diagnostics;
    auto complete = facade::try_into_document(std::move(result));
    if (c.error.empty()) {
        ASSERT_TRUE(complete);
        EXPECT_EQ(complete->diagnostics, expected_diagnostics);
        EXPECT_FALSE(complete->document.read_only());
        return;
    }
    ASSERT_FALSE(complete);
    facade::ParseError& error = complete.error();
    EXPECT_EQ(error.message(), c.error);
    EXPECT_EQ(error.document != nullptr, c.partial_document);
    EXPECT_EQ(error.diagnostics, expected_diagnostics);
    EXPECT_EQ(error.diagnostics.size(), c.diagnostics);

    // Flattened for Python: the same diagnostics in the same order and the
    // partial document.
    const bool had_document = error.document != nullptr;
    facade::BindingErrorParts parts = facade::normalize_error_to_parts(facade::Error(std::move(error)));
    EXPECT_EQ(parts.kind, "parse");
    EXPECT_EQ(parts.message, c.error);
    EXPECT_EQ(parts.diagnostics, expected_diagnostics);
    EXPECT_EQ(parts.document.has_value(), had_document);
    if (parts.document) {
        EXPECT_TRUE(parts.document->read_only());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeTryIntoDocument,
    ::testing::Values(CompletenessCase{"clean", "x^2", "", false, 0},
                      CompletenessCase{"error_node", "x_", "parse produced an incomplete document", true, 1},
                      CompletenessCase{"no_tree", "a}", "parse produced no document", false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FacadeTryIntoDocument, CompleteParseKeepsItsDiagnostics) {
    const facade::Parser parser = build(ParserBuilder());
    facade::ParseResult result = parser.parse_with("x", {});
    parse::ParseDiagnostic note;
    note.message = "kept";
    result.diagnostics.push_back(note);
    auto complete = facade::try_into_document(std::move(result));
    ASSERT_TRUE(complete);
    ASSERT_EQ(complete->diagnostics.size(), 1u);
    EXPECT_EQ(complete->diagnostics[0].message, "kept");
}

// ---- Diagnostic records -------------------------------------------------------

struct DiagnosticCase {
    std::string_view name;
    std::string source;
    bool reject_unknown = false;
    std::optional<std::string_view> kind;  // of the first diagnostic
};

class FacadeDiagnosticsToDto : public ::testing::TestWithParam<DiagnosticCase> {};

TEST_P(FacadeDiagnosticsToDto, KeepsEveryFieldAndNamesTheKind) {
    const DiagnosticCase& c = GetParam();
    const facade::Parser parser = build(ParserBuilder());
    parse::ParseConfig config;
    config.reject_unknown = c.reject_unknown;
    std::vector<parse::ParseDiagnostic> diagnostics = parser.parse_with(c.source, config).diagnostics;
    ASSERT_FALSE(diagnostics.empty());
    const auto original = diagnostics;
    const std::vector<facade::ParseDiagnosticDto> records = facade::diagnostics_to_dto(std::move(diagnostics));
    ASSERT_EQ(records.size(), original.size());
    EXPECT_EQ(records[0].kind, c.kind);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].message, original[i].message);
        EXPECT_EQ(records[i].span, original[i].span);
        EXPECT_EQ(records[i].expected, original[i].expected);
        EXPECT_EQ(records[i].found, original[i].found);
        ASSERT_EQ(records[i].contexts.size(), original[i].contexts.size());
        for (std::size_t j = 0; j < records[i].contexts.size(); ++j) {
            EXPECT_EQ(records[i].contexts[j].label, original[i].contexts[j].label);
            EXPECT_EQ(records[i].contexts[j].span, original[i].contexts[j].span);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeDiagnosticsToDto,
    ::testing::Values(DiagnosticCase{"raw", "x_", false, "raw-expected-found"},
                      DiagnosticCase{"unknown_command", "\\foo", true, "unknown-command"},
                      DiagnosticCase{"expected_found", "a}", false, "raw-expected-found"},
                      DiagnosticCase{"no_kind", std::string("a\x01b"), false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Target counting ----------------------------------------------------------

struct CountCase {
    std::string_view name;
    std::optional<std::vector<std::string>> packages;  // none: the default set
    std::string_view source;
    TargetCounts counts;
    std::string_view error;
};

class FacadeCountTargets : public ::testing::TestWithParam<CountCase> {};

TEST_P(FacadeCountTargets, CountsSortedByKey) {
    const CountCase& c = GetParam();
    ParserBuilder builder;
    if (c.packages) {
        if (c.packages->empty()) {
            builder.empty_knowledge();
        } else {
            builder.packages(*c.packages);
        }
    }
    const facade::Parser parser = build(std::move(builder));
    auto counts = facade::count_targets(parser, c.source);
    if (!c.error.empty()) {
        ASSERT_FALSE(counts);
        EXPECT_EQ(counts.error().message(), c.error);
        return;
    }
    ASSERT_TRUE(counts) << counts.error().message();
    EXPECT_EQ(*counts, c.counts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FacadeCountTargets,
    ::testing::Values(
        CountCase{"empty", std::nullopt, "", {}, ""},
        CountCase{"sorted_keys", std::nullopt, "\\sqrt{\\alpha}+\\frac{a}{b}\\begin{matrix}x\\end{matrix}",
                  {{"char:alpha", 1}, {"cmd:frac", 1}, {"cmd:sqrt", 1}, {"env:matrix", 1}}, ""},
        CountCase{"repeated", std::nullopt, "\\frac{1}{2}\\frac{3}{4}", {{"cmd:frac", 2}}, ""},
        CountCase{"math_and_text_add_up", std::nullopt, "\\quad\\text{a\\quad b}",
                  {{"cmd:quad", 2}, {"cmd:text", 1}}, ""},
        CountCase{"empty_knowledge_still_counts_names", std::vector<std::string>{}, "\\frac{a}{b}",
                  {{"cmd:frac", 1}}, ""},
        CountCase{"incomplete", std::nullopt, "x_", {}, "parse produced an incomplete document"},
        CountCase{"no_document", std::nullopt, "a}", {}, "parse produced no document"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FacadeCountTargets, UsesTheGivenConfiguration) {
    const facade::Parser parser = build(ParserBuilder());
    parse::ParseConfig strict;
    strict.max_group_depth = 0;
    auto counts = facade::count_targets_with(parser, "{\\frac{a}{b}}", strict);
    ASSERT_FALSE(counts);
    EXPECT_EQ(counts.error().message(), "parse produced an incomplete document");
    EXPECT_TRUE(facade::count_targets(parser, "{\\frac{a}{b}}"));
}

}  // namespace
