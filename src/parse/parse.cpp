#include "parse/parse.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <variant>

#include "parse/diagnostics_supplements.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/hash_index.hpp"
#include "parse/parser_state.hpp"
#include "syntax/list_buffers.hpp"

namespace quorvel::parse {

namespace {

// From this many failures on, converting them shrinks their list on the way.
constexpr std::size_t kShrinkFailuresFrom = 4096;

constexpr std::string_view kNestingTooDeep =
    "max nesting depth exceeded: the formula nests deeper than the parser's nesting limit";

// The token buffer of the last parse on this thread, kept for the next one
// when it is small: most sources are short formulas, and a fresh buffer
// (sized by the source's length, so often past the allocator's fast cache)
// would cost every parse an allocation and its release. Large buffers are
// freed as soon as the grammar is done with them. Kept like the lists'
// blocks, so a parse while the thread ends finds no buffer and makes one.
constexpr std::size_t kSpareTokenCapacity = 1024;
struct SpareTokens : std::vector<SpannedToken> {
    static constexpr std::size_t kRoom = 0;
};

void release_tokens(std::vector<SpannedToken>& tokens) noexcept {
    if (tokens.capacity() <= kSpareTokenCapacity) {
        SpareTokens* spare = syntax::list_buffers::detail::kept<SpareTokens>();
        if (spare != nullptr && tokens.capacity() > spare->capacity()) {
            tokens.clear();
            spare->swap(tokens);
        }
    }
    std::vector<SpannedToken>().swap(tokens);
}

std::vector<SpannedToken> take_spare_tokens() noexcept {
    SpareTokens* spare = syntax::list_buffers::detail::kept<SpareTokens>();
    if (spare == nullptr) return {};
    return std::move(*spare);
}

// Gives the buffer back on every way out of a parse.
struct TokenBuffer {
    TokenStream stream;
    TokenBuffer() noexcept : stream{take_spare_tokens(), 0} {}
    ~TokenBuffer() { release_tokens(stream.tokens); }
    TokenBuffer(const TokenBuffer&) = delete;
    TokenBuffer& operator=(const TokenBuffer&) = delete;
};

ParseOutcome single_diagnostic(std::optional<ParseDiagnosticKind> kind, std::string message, Span span) {
    ParseOutcome outcome;
    ParseDiagnostic d;
    d.kind = kind;
    d.message = std::move(message);
    d.span = span;
    outcome.diagnostics.push_back(std::move(d));
    return outcome;
}

// Keeps the first of diagnostics that read alike, with their ranks. The
// failures behind them can differ where the user cannot see it: the run's
// own failure and a recovery diagnostic made from the same failure differ in
// a kind the conversion infers for the one and the recovery set on the other,
// so the failures' duplicate tests let both through.
void drop_repeated_diagnostics(std::vector<ParseDiagnostic>& diagnostics, std::vector<std::uint8_t>& ranks) {
    if (diagnostics.size() < 2) return;
    auto hash_of = [](const ParseDiagnostic& d) {
        std::size_t h = std::hash<std::string>{}(d.message);
        h ^= (d.kind ? static_cast<std::size_t>(*d.kind) + 1 : 0) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= d.span.start + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= d.span.end + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        return h;
    };
    HashIndex seen;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        const std::size_t h = hash_of(diagnostics[i]);
        if (seen.any_of(h, [&](std::size_t j) { return diagnostics[j] == diagnostics[i]; })) continue;
        if (kept != i) {
            diagnostics[kept] = std::move(diagnostics[i]);
            ranks[kept] = ranks[i];
        }
        seen.insert(h, kept);
        ++kept;
    }
    diagnostics.resize(kept);
    ranks.resize(kept);
}

// How a run of the grammar goes: quiet (keeping no failures), and with the
// arguments' windows watched or shared (see `Grammar::Contents`).
enum class Run : std::uint8_t { QuietWatched, QuietShared, KeepingFailures };

// One run of the grammar over the lexed source. A quiet run keeps no failures
// and gives up (nullopt) where it would need one; a watched run gives up
// where it goes back over an argument (`ContentsReadAgain`). A run that gives
// an outcome frees the tokens once the diagnostics have read them, before the
// document is built.
std::optional<ParseOutcome> run_grammar(const ParseContext& context, std::string_view source, const ParseConfig& config,
                                        TokenStream& tokens, Run run) {
    const bool quiet = run != Run::KeepingFailures;
    grammar::DecomposedChildren top;
    Span top_span;
    bool ok = false;
    bool too_complex = false;
    std::vector<ParseFailure> failures;
    // The run's work and memory, against a bound linear in its tokens.
    grammar::Fuel fuel(tokens.tokens.size());
    struct Report {
        const grammar::Fuel& fuel;
        const std::size_t limit = fuel.limit();
        ~Report() {
            auto& r = grammar::detail::last_parse_fuel;
            r.used = std::max(r.used, fuel.used());
            if (fuel.used() > limit) r.reached |= grammar::detail::kWorkBound;
        }
    } report{fuel};
    {
        // The grammar and its tables end with this scope.
        const grammar::Fuel::Scope fuel_scope(fuel);
        ParserState state(context, config, source);
        grammar::Input input(tokens);
        input.set_quiet(quiet);
        grammar::Grammar grammar(state, input);
        grammar.set_top_level(&top);
        // Most formulas read each argument once, in order, and take the
        // watched run. One that reads an argument again (an alternative
        // around it failed: `\(` in text read as inline math, then as a
        // command) is run again with every argument read once and shared by
        // its readers; nested, every level would otherwise double the work.
        // The run that keeps failures shares from the start, and counts
        // recovery from its start.
        grammar.set_contents(run == Run::QuietWatched ? grammar::Grammar::Contents::Watched
                                                      : grammar::Grammar::Contents::Shared);
        if (!quiet) grammar.argument_session();
        try {
            // The top level is the main math content, kept in blocks.
            const std::size_t start = input.pos();
            ok = grammar.math_content(grammar.main_math(), top);
            if (ok) {
                top_span = input.span_since(start);
                grammar::ArgumentSession* session = grammar.argument_session_if_made();
                if (session != nullptr && session->contents.enabled()) session->contents.resolve(top);
            }
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
        } catch (const grammar::FormulaTooComplex&) {
            // Spent outside a top-level item's own reading (an infix
            // command's right operand, say): nothing read stays.
            if (quiet) return std::nullopt;
            too_complex = true;
        }
    }
    if (too_complex) {
        // The whole formula is the rest.
        top = grammar::DecomposedChildren{};
        failures.clear();
        const auto& ts = tokens.tokens;
        if (auto rest = grammar::too_complex_rest(source, ts, 0)) top.push(std::move(*rest));
        top_span = Span{ts.front().span.start, ts.back().span.end};
        ok = true;
    }

    std::optional<grammar::TrackedNode::FinishedRoot> finished;
    if (ok) {
        finished.emplace(grammar::TrackedNode::finish_root(ContentMode::Math, std::move(top), top_span));
        for (auto& f : finished->diagnostics) failures.push_back(std::move(f));
        std::vector<ParseFailure>().swap(finished->diagnostics);
    }
    ParseOutcome outcome;
    if (!failures.empty()) {
        // Converted into the outcome's own list, then ordered by rank, equal
        // ranks in the order found: a counting sort (ranks are small
        // numbers) applied in place. The failures are taken from the back,
        // and their list gives back its room as it halves, for the
        // diagnostics to reuse: an error-heavy input never holds all its
        // failures beside all its diagnostics.
        const std::size_t n = failures.size();
        std::vector<std::uint8_t> ranks(n);
        outcome.diagnostics.resize(n);
        SourceFacts facts(context, source, tokens);
        for (std::size_t i = n; i-- > 0;) {
            RankedDiagnostic r = convert_diagnostic(facts, std::move(failures.back()));
            failures.pop_back();
            if (failures.capacity() >= kShrinkFailuresFrom && failures.size() <= failures.capacity() / 2) {
                failures.shrink_to_fit();
            }
            ranks[i] = r.rank;
            outcome.diagnostics[i] = std::move(r.diagnostic);
        }
        std::vector<ParseFailure>().swap(failures);
        drop_repeated_diagnostics(outcome.diagnostics, ranks);
        const std::size_t kept = outcome.diagnostics.size();
        if (!std::is_sorted(ranks.begin(), ranks.end())) {
            std::array<std::size_t, 257> next{};
            for (const std::uint8_t r : ranks) ++next[r + 1];
            for (std::size_t i = 1; i < next.size(); ++i) next[i] += next[i - 1];
            std::vector<std::size_t> target(kept);
            for (std::size_t i = 0; i < kept; ++i) target[i] = next[ranks[i]]++;
            // Each swap puts one diagnostic in its place.
            for (std::size_t i = 0; i < kept; ++i) {
                while (target[i] != i) {
                    const std::size_t j = target[i];
                    std::swap(outcome.diagnostics[i], outcome.diagnostics[j]);
                    std::swap(target[i], target[j]);
                }
            }
        }
    }
    release_tokens(tokens.tokens);

    if (finished) {
        outcome.document.emplace(
            syntax::document::Document::from_parsed_root(std::move(finished->root)));
        outcome.document->set_parse_context_id(context.id());
    }
    return outcome;
}

ParseOutcome parse_tokens(const ParseContext& context, std::string_view source, const ParseConfig& config,
                          bool quiet_first) {
    struct TrimSegments {
        ~TrimSegments() { grammar::detail::trim_stack_segments(); }
    } trim;
    TokenBuffer buffer;
    TokenStream& tokens = buffer.stream;
    grammar::detail::last_parse_fuel = {};
    if (const auto error = lex_into(source, tokens)) {
        return single_diagnostic(std::nullopt, error->message(), error->span);
    }
    grammar::detail::last_parse_fuel.tokens = tokens.tokens.size();
    if (quiet_first) {
        try {
            if (auto outcome = run_grammar(context, source, config, tokens, Run::QuietWatched)) {
                return std::move(*outcome);
            }
        } catch (const grammar::ContentsReadAgain&) {
            if (auto outcome = run_grammar(context, source, config, tokens, Run::QuietShared)) {
                return std::move(*outcome);
            }
        }
    }
    return std::move(*run_grammar(context, source, config, tokens, Run::KeepingFailures));
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
