// The transform-engine facade: a parser facade plus a prepared transform
// whose rule plan a profile, the selected packages and the disabled rules
// chose. Only documents that its own parse context produced, and only ones
// without parse errors, may be transformed by it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/config.hpp"
#include "facade/error.hpp"
#include "facade/parser.hpp"
#include "knowledge/expected.hpp"
#include "parse/config.hpp"
#include "syntax/document.hpp"
#include "syntax/expected.hpp"
#include "transform/config.hpp"
#include "transform/context.hpp"
#include "transform/report.hpp"
#include "transform/rule.hpp"

namespace quorvel::facade {

// Profile p admits the rule levels 0 to p. Authoring plans `over-to-frac`
// but not the faithful `buildrel-expand`, to which `over-to-frac` leaves
// every `\buildrel … \over …`: at Authoring such a formula stays as
// written; from Faithful on it becomes `\mathrel{\mathop{…}\limits^{…}}`.
enum class EngineProfile : std::uint8_t { Authoring = 0, Faithful = 1, Corpus = 2, Equiv = 3 };

// Every rule, levels up to the profile's, every phase on with 100
// iterations; rendered spacing kept only by Authoring and Faithful.
transform::BuildConfig profile_defaults(EngineProfile profile);

struct NormalizedWithReport {
    std::string normalized;
    transform::TransformReport report;
};

class TransformEngine {
public:
    const Parser& parser() const noexcept { return parser_; }
    const transform::TransformContext& context() const noexcept { return context_; }
    // The profile's defaults, which callers' overrides are laid over.
    const transform::TransformOptions& default_transform_options() const noexcept { return context_.options; }
    NormalizeConfig default_normalize_config() const noexcept {
        return {parser_.default_parse_config(), context_.options};
    }

    // Parses with this engine's context; a missing or incomplete document is
    // a `Parse` error, and a complete parse's diagnostics are dropped.
    syntax::Expected<syntax::document::Document, Error> parse_complete(std::string_view source,
                                                                        const parse::ParseConfig& config) const;

    // Parse, transform, write back with the default serializer options.
    syntax::Expected<std::string, Error> normalize_with(std::string_view source, const NormalizeConfig& config) const;
    syntax::Expected<NormalizedWithReport, Error> normalize_with_report(std::string_view source,
                                                                        const NormalizeConfig& config) const;
    syntax::Expected<NormalizedWithReport, Error> normalize_with_flatten_groups_guards(
        std::string_view source, const NormalizeConfig& config,
        const transform::FlattenGroupsGuardsOverlay& guards) const;

    // Transforms the caller's document in place. A refused document is left
    // untouched, and so is one whose run fails: after an error, and after an
    // exception (out of memory, say), which goes on to the caller.
    syntax::Expected<void, Error> transform_with(syntax::document::Document& document,
                                                 const transform::TransformOptions& options) const;
    syntax::Expected<transform::TransformReport, Error> transform_with_report(
        syntax::document::Document& document, const transform::TransformOptions& options) const;
    // The same, handing the report to `deliver` while the document can still
    // be put back, for a caller whose own result can fail to be made: if
    // `deliver` throws, the document is left untouched too.
    syntax::Expected<void, Error> transform_with_report(
        syntax::document::Document& document, const transform::TransformOptions& options,
        const std::function<void(const transform::TransformReport&)>& deliver) const;

    // The owner check, then the state check: a foreign document with parse
    // errors is reported as foreign.
    syntax::Expected<void, Error> check_document(const syntax::document::Document& document) const;

private:
    friend class TransformEngineBuilder;
    TransformEngine(Parser parser, transform::TransformContext context)
        : parser_(std::move(parser)), context_(std::move(context)) {}

    template <class Run>
    syntax::Expected<NormalizedWithReport, Error> normalize_reporting(std::string_view source,
                                                                      const NormalizeConfig& config,
                                                                      Run&& run) const;
    // `run` on the document's tree, which is as it was before when it fails
    // or throws.
    template <class Run>
    auto transform_kept(syntax::document::Document& document, Run&& run) const -> decltype(run(document.ast_mut()));

    Parser parser_;
    transform::TransformContext context_;
};

class TransformEngineBuilder {
public:
    // Stores the profile and replaces the build configuration by its
    // defaults; the disabled rules stay.
    TransformEngineBuilder& profile(EngineProfile profile);

    TransformEngineBuilder& packages(std::vector<std::string> names);
    TransformEngineBuilder& empty_knowledge();
    TransformEngineBuilder& item(parse::ContextItem item);
    TransformEngineBuilder& remove_command(std::string name);
    TransformEngineBuilder& remove_environment(std::string name);
    TransformEngineBuilder& remove_delimiter_control(std::string name);
    TransformEngineBuilder& default_parse_config(parse::ParseConfig config);

    TransformEngineBuilder& disable_rule(transform::RuleKey key);
    // The name is a rule key's display form ("base/hfilll-to-hfill"), matched
    // byte for byte; an unknown name is `UnknownRule`.
    syntax::Expected<void, Error> disable_rule_by_name(std::string_view name);

    // The disabled keys are applied to the settled configuration, so they
    // hold whether `profile` came before or after them.
    syntax::Expected<TransformEngine, Error> build() const;

private:
    std::optional<transform::BuildConfig> config_;
    ParserBuilder parser_;
    std::vector<transform::RuleKey> disabled_;
    std::optional<EngineProfile> profile_;
};

}  // namespace quorvel::facade
