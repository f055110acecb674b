#include "parse/parse.hpp"

#include <algorithm>
#include <variant>

#include "parse/diagnostics_supplements.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/parser_state.hpp"
#include "syntax/internal_error.hpp"

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

}  // namespace

ParseOutcome parse_source(const ParseContext& context, std::string_view source, const ParseConfig& config) {
    auto lexed = build_token_stream(source);
    if (const auto* error = std::get_if<LexError>(&lexed)) {
        return single_diagnostic(std::nullopt, error->message(), error->span);
    }
    const TokenStream& tokens = std::get<TokenStream>(lexed);

    ParserState state(context, config, source);
    grammar::Input input(tokens);
    grammar::Grammar grammar(state, input);
    grammar::TrackedNode top;
    bool ok = false;
    try {
        ok = grammar.math_group(grammar.main_math(), top);
        if (ok && !input.at_end()) {
            input.expect(grammar::pattern::kEndOfInput);
            ok = false;
        }
    } catch (const grammar::NestingTooDeep&) {
        return single_diagnostic(ParseDiagnosticKind::MaxGroupDepthExceeded, std::string(kNestingTooDeep),
                                 input.here_span());
    }

    std::vector<ParseFailure> failures = state.take_recovery_diagnostics();
    ParseOutcome outcome;
    if (!ok) {
        failures.push_back(input.to_owned(input.take_failure()));
    } else {
        auto finished = grammar::TrackedNode::finish_root(std::move(top));
        for (auto& f : finished.diagnostics) failures.push_back(std::move(f));
        auto document = syntax::document::Document::from_syntax_with_spans(std::move(finished.root),
                                                                           std::move(finished.spans));
        if (!document) syntax::internal_error("parser must produce a syntax root accepted by Document");
        document->set_parse_context_id(context.id());
        outcome.document.emplace(std::move(document).value());
    }

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

}  // namespace quorvel::parse
