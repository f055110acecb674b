#include "parse/parse.hpp"

#include <algorithm>
#include <variant>

#include "parse/diagnostics_supplements.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/parser_state.hpp"

namespace quorvel::parse {

namespace {

constexpr std::string_view kNestingTooDeep =
    "max nesting depth exceeded: the formula nests deeper than the parser's nesting limit";

ParseOutcome single_diagnostic(std::optional<ParseDiagnosticKind> kind, std::string message, Span span) {
    ParseOutcome outcome;
    ParseDiagnostic d;
    d.kind = kind;
    d.message = std::move(message);
    d.span = span;
    outcome.diagnostics.push_back(std::move(d));
    return outcome;
}

// One run of the grammar over the lexed source. A quiet run keeps no failures
// and gives up (nullopt) where it would need one.
std::optional<ParseOutcome> run_grammar(const ParseContext& context, std::string_view source, const ParseConfig& config,
                                        const TokenStream& tokens, bool quiet) {
    ParserState state(context, config, source);
    grammar::Input input(tokens);
    input.set_quiet(quiet);
    grammar::Grammar grammar(state, input);
    grammar::TrackedNode top;
    bool ok = false;
    std::vector<ParseFailure> failures;
    ParseOutcome outcome;
    try {
        ok = grammar.math_group(grammar.main_math(), top);
        if (ok && !input.at_end()) {
            input.expect(grammar::pattern::kEndOfInput);
            ok = false;
        }
        failures = state.take_recovery_diagnostics();
        if (!ok) failures.push_back(input.to_owned(input.take_failure()));
    } catch (const grammar::NestingTooDeep&) {
        // A quiet run takes the same steps up to here.
        return single_diagnostic(ParseDiagnosticKind::MaxGroupDepthExceeded, std::string(kNestingTooDeep),
                                 input.here_span());
    } catch (const grammar::QuietRunAbandoned&) {
        return std::nullopt;
    }

    if (ok) {
        auto finished = grammar::TrackedNode::finish_root(std::move(top));
        for (auto& f : finished.diagnostics) failures.push_back(std::move(f));
        outcome.document.emplace(
            syntax::document::Document::from_parsed_syntax(std::move(finished.root), std::move(finished.spans)));
        outcome.document->set_parse_context_id(context.id());
    }
    if (failures.empty()) return outcome;

    std::vector<RankedDiagnostic> ranked;
    ranked.reserve(failures.size());
    SourceFacts facts(context, source, tokens);
    for (auto& f : failures) ranked.push_back(convert_diagnostic(facts, std::move(f)));
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const RankedDiagnostic& a, const RankedDiagnostic& b) { return a.rank < b.rank; });
    outcome.diagnostics.reserve(ranked.size());
    for (auto& r : ranked) outcome.diagnostics.push_back(std::move(r.diagnostic));
    return outcome;
}

ParseOutcome parse_tokens(const ParseContext& context, std::string_view source, const ParseConfig& config,
                          bool quiet_first) {
    struct TrimSegments {
        ~TrimSegments() { grammar::detail::trim_stack_segments(); }
    } trim;
    auto lexed = build_token_stream(source);
    if (const auto* error = std::get_if<LexError>(&lexed)) {
        return single_diagnostic(std::nullopt, error->message(), error->span);
    }
    const TokenStream& tokens = std::get<TokenStream>(lexed);
    if (quiet_first) {
        if (auto outcome = run_grammar(context, source, config, tokens, true)) return std::move(*outcome);
    }
    return std::move(*run_grammar(context, source, config, tokens, false));
}

}  // namespace

ParseOutcome parse_source(const ParseContext& context, std::string_view source, const ParseConfig& config) {
    return parse_tokens(context, source, config, true);
}

ParseOutcome parse_source_keeping_failures(const ParseContext& context, std::string_view source,
                                           const ParseConfig& config) {
    return parse_tokens(context, source, config, false);
}

}  // namespace quorvel::parse
