#include "facade/transform_engine.hpp"

#include <type_traits>
#include <utility>

#include "transform/rules/registry.hpp"

namespace quorvel::facade {

transform::BuildConfig profile_defaults(EngineProfile profile) {
    transform::BuildConfig config;
    config.selection = transform::RuleSelection::all();
    const unsigned level = static_cast<unsigned>(profile);
    config.level_mask = static_cast<std::uint8_t>((2u << level) - 1u);
    config.options.flatten_groups.preserve_rendered_spacing = profile <= EngineProfile::Faithful;
    return config;
}

syntax::Expected<syntax::document::Document, Error> TransformEngine::parse_complete(
    std::string_view source, const parse::ParseConfig& config) const {
    auto complete = try_into_document(parser_.parse_with(source, config));
    if (!complete) return Error(std::move(complete).error());
    return std::move(complete->document);
}

syntax::Expected<void, Error> TransformEngine::check_document(const syntax::document::Document& document) const {
    const auto owner = document.parse_context_id();
    if (!owner || *owner != parser_.context().id()) return Error(Error::ForeignDocument{});
    if (document.read_only()) return Error(Error::DocumentHasParseErrors{});
    return {};
}

syntax::Expected<std::string, Error> TransformEngine::normalize_with(std::string_view source,
                                                                     const NormalizeConfig& config) const {
    auto document = parse_complete(source, config.parse);
    if (!document) return std::move(document).error();
    if (auto checked = check_document(*document); !checked) return std::move(checked.error());
    auto run = context_.run_with(document->ast_mut(), parser_.context(), config.transform);
    if (!run) return Error(TransformError::from(run.error()));
    auto latex = document->to_latex();
    if (!latex) return Error(latex.error());
    return std::move(latex).value();
}

template <class Run>
syntax::Expected<NormalizedWithReport, Error> TransformEngine::normalize_reporting(std::string_view source,
                                                                                   const NormalizeConfig& config,
                                                                                   Run&& run) const {
    auto document = parse_complete(source, config.parse);
    if (!document) return std::move(document).error();
    if (auto checked = check_document(*document); !checked) return std::move(checked.error());
    auto report = run(document->ast_mut());
    if (!report) return Error(TransformError::from(report.error()));
    auto latex = document->to_latex();
    if (!latex) return Error(latex.error());
    return NormalizedWithReport{std::move(latex).value(), std::move(report).value()};
}

syntax::Expected<NormalizedWithReport, Error> TransformEngine::normalize_with_report(
    std::string_view source, const NormalizeConfig& config) const {
    return normalize_reporting(source, config, [&](syntax::Ast& ast) {
        return context_.run_with_report(ast, parser_.context(), config.transform);
    });
}

syntax::Expected<NormalizedWithReport, Error> TransformEngine::normalize_with_flatten_groups_guards(
    std::string_view source, const NormalizeConfig& config, const transform::FlattenGroupsGuardsOverlay& guards) const {
    return normalize_reporting(source, config, [&](syntax::Ast& ast) {
        return context_.run_with_flatten_groups_guards(ast, parser_.context(), config.transform, guards);
    });
}

// The caller keeps the document whatever happens, so a run that fails must
// leave it as it was: the run edits the caller's tree, and a copy of it,
// taken first, is put back when the run returns an error or throws (out of
// memory, say, with the tree half rewritten). Putting it back is a move,
// which allocates nothing and so cannot itself fail halfway. `normalize`
// owns its document and pays for no copy.
namespace {

class KeptTree {
public:
    explicit KeptTree(syntax::Ast& live) : live_(live), kept_(live) {}
    KeptTree(const KeptTree&) = delete;
    KeptTree& operator=(const KeptTree&) = delete;
    ~KeptTree() {
        if (!released_) live_ = std::move(kept_);
    }
    void release() noexcept { released_ = true; }

private:
    static_assert(std::is_nothrow_move_assignable_v<syntax::Ast>);
    syntax::Ast& live_;
    syntax::Ast kept_;
    bool released_ = false;
};

}  // namespace

template <class Run>
auto TransformEngine::transform_kept(syntax::document::Document& document, Run&& run) const
    -> decltype(run(document.ast_mut())) {
    KeptTree kept(document.ast_mut());
    auto result = run(document.ast_mut());
    if (result) kept.release();
    return result;
}

syntax::Expected<void, Error> TransformEngine::transform_with(syntax::document::Document& document,
                                                              const transform::TransformOptions& options) const {
    if (auto checked = check_document(document); !checked) return checked;
    auto run = transform_kept(document, [&](syntax::Ast& ast) { return context_.run_with(ast, parser_.context(), options); });
    if (!run) return Error(TransformError::from(run.error()));
    return {};
}

syntax::Expected<transform::TransformReport, Error> TransformEngine::transform_with_report(
    syntax::document::Document& document, const transform::TransformOptions& options) const {
    if (auto checked = check_document(document); !checked) return std::move(checked.error());
    auto report = transform_kept(
        document, [&](syntax::Ast& ast) { return context_.run_with_report(ast, parser_.context(), options); });
    if (!report) return Error(TransformError::from(report.error()));
    return std::move(report).value();
}

syntax::Expected<void, Error> TransformEngine::transform_with_report(
    syntax::document::Document& document, const transform::TransformOptions& options,
    const std::function<void(const transform::TransformReport&)>& deliver) const {
    if (auto checked = check_document(document); !checked) return checked;
    auto report = transform_kept(document, [&](syntax::Ast& ast) {
        auto made = context_.run_with_report(ast, parser_.context(), options);
        if (made) deliver(*made);
        return made;
    });
    if (!report) return Error(TransformError::from(report.error()));
    return {};
}

TransformEngineBuilder& TransformEngineBuilder::profile(EngineProfile profile) {
    profile_ = profile;
    config_ = profile_defaults(profile);
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::packages(std::vector<std::string> names) {
    parser_.packages(std::move(names));
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::empty_knowledge() {
    parser_.empty_knowledge();
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::item(parse::ContextItem item) {
    parser_.item(std::move(item));
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::remove_command(std::string name) {
    parser_.remove_command(std::move(name));
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::remove_environment(std::string name) {
    parser_.remove_environment(std::move(name));
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::remove_delimiter_control(std::string name) {
    parser_.remove_delimiter_control(std::move(name));
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::default_parse_config(parse::ParseConfig config) {
    parser_.default_parse_config(config);
    return *this;
}

TransformEngineBuilder& TransformEngineBuilder::disable_rule(transform::RuleKey key) {
    disabled_.push_back(key);
    return *this;
}

syntax::Expected<void, Error> TransformEngineBuilder::disable_rule_by_name(std::string_view name) {
    const auto key = transform::rule_key_from_name(name);
    if (!key) return Error(Error::UnknownRule{std::string(name)});
    disable_rule(*key);
    return {};
}

syntax::Expected<TransformEngine, Error> TransformEngineBuilder::build() const {
    std::optional<transform::BuildConfig> settled = config_;
    if (!settled && profile_) settled = profile_defaults(*profile_);
    if (!settled) return Error(Error::ProfileRequired{});
    transform::BuildConfig config = std::move(*settled);
    for (const transform::RuleKey& key : disabled_) config = std::move(config).disable_rule(key);

    auto parser = parser_.build();
    if (!parser) return Error(std::move(parser).error());
    auto context = transform::TransformContext::from_build_config(std::move(config), parser->context());
    if (!context) return Error(TransformBuildError::from(context.error()));
    return TransformEngine(std::move(parser).value(), std::move(context).value());
}

}  // namespace quorvel::facade
