// Census of malformed input: parses every corpus formula and generated
// mistakes made from them, and counts the documents that break what a parse
// must keep (a diagnostic comes with an Error node, no character is lost,
// written text is a fixed point, every span is in range), plus the corpus's
// own diagnostics by kind and message.
//
//   malformed_census [mistakes per line] [examples per class]
//   (defaults 4 and 5: 4 x 33,552 lines = 134,208 mistakes)
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../tests/cpp/corpus_mistakes.hpp"
#include "../tests/cpp/malformed_invariants.hpp"
#include "facade/transform_engine.hpp"
#include "parse/parse.hpp"

namespace {

using namespace quorvel;

// The violations with None, and the slot of the span examples after them.
constexpr std::size_t kViolations = 5;
constexpr std::size_t kSpanExamples = kViolations;

struct Tally {
    std::size_t inputs = 0;
    std::size_t with_diagnostic = 0;
    std::size_t without_document = 0;
    std::size_t counts[kViolations] = {};
    std::size_t known_unstable = 0;
    std::size_t bad_spans = 0;
    std::size_t bad_spans_after_transform = 0;
    std::vector<std::string> examples[kViolations + 1];
};

const char* label(invariants::Violation v) {
    switch (v) {
        case invariants::Violation::DiagnosticWithoutError: return "diagnostic but no Error node";
        case invariants::Violation::ErrorWithoutDiagnostic: return "Error node but no diagnostic";
        case invariants::Violation::LostCharacters: return "lost or added characters";
        case invariants::Violation::NotFixedPoint: return "written text not a fixed point";
        case invariants::Violation::None: break;
    }
    return "";
}

void run(const facade::TransformEngine& engine, const std::vector<std::string>& inputs, Tally& tally,
         std::size_t keep, std::map<std::string, std::size_t>* by_kind,
         std::map<std::string, std::size_t>* by_message) {
    const auto& context = engine.parser().context();
    for (const auto& source : inputs) {
        ++tally.inputs;
        const auto outcome = parse::parse_source(context, source, {});
        if (!outcome.diagnostics.empty()) ++tally.with_diagnostic;
        if (!outcome.document) ++tally.without_document;
        if (by_kind)
            for (const auto& d : outcome.diagnostics) {
                ++(*by_kind)[d.kind ? std::string(parse::parse_diagnostic_kind_name(*d.kind)) : "none"];
                ++(*by_message)[d.message];
            }
        const auto check = invariants::check_parse(context, source, outcome);
        if (invariants::known_unstable(source, outcome, check)) {
            ++tally.known_unstable;
        } else if (check.violation != invariants::Violation::None) {
            const auto k = static_cast<std::size_t>(check.violation);
            ++tally.counts[k];
            if (tally.examples[k].size() < keep)
                tally.examples[k].push_back(source + "\n        -> " + check.written +
                                            (check.violation == invariants::Violation::NotFixedPoint
                                                 ? "\n        -> " + check.rewritten
                                                 : ""));
        }
        if (!invariants::spans_in_range(source, outcome)) {
            ++tally.bad_spans;
            if (tally.examples[kSpanExamples].size() < keep) tally.examples[kSpanExamples].push_back(source);
        }
        // Spans that a transform leaves on a complete document.
        if (outcome.document && outcome.diagnostics.empty()) {
            auto parsed = parse::parse_source(context, source, {});
            if (engine.transform_with(*parsed.document, engine.default_transform_options())) {
                for (const auto& entry : parsed.document->node_spans())
                    if (!invariants::span_in_range(entry.span, source.size())) {
                        ++tally.bad_spans_after_transform;
                        break;
                    }
            }
        }
    }
}

void print(const char* title, const Tally& t) {
    std::printf("== %s: %zu inputs, %zu with a diagnostic, %zu without a document\n", title, t.inputs,
                t.with_diagnostic, t.without_document);
    for (std::size_t k = 1; k < kViolations; ++k) {
        std::printf("  %-34s %zu\n", label(static_cast<invariants::Violation>(k)), t.counts[k]);
        for (const auto& e : t.examples[k]) std::printf("      %s\n", e.c_str());
    }
    std::printf("  %-34s %zu\n", "  known unstable texts (not above)", t.known_unstable);
    std::printf("  %-34s %zu\n", "inverted or out-of-range span", t.bad_spans);
    for (const auto& e : t.examples[kSpanExamples]) std::printf("      %s\n", e.c_str());
    std::printf("  %-34s %zu\n", "  the same after a corpus transform", t.bad_spans_after_transform);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t per_line = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4;
    const std::size_t keep = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 5;
    const auto lines = mistakes::read_corpus();
    if (!lines) {
        std::fprintf(stderr, "corpus not found under %s\n", QUORVEL_CORPUS_DIR);
        return 1;
    }
    facade::TransformEngineBuilder builder;
    builder.profile(facade::EngineProfile::Corpus);
    auto engine = builder.build();
    if (!engine) {
        std::fprintf(stderr, "%s\n", std::string(engine.error().message()).c_str());
        return 1;
    }

    Tally corpus;
    std::map<std::string, std::size_t> by_kind, by_message;
    run(*engine, *lines, corpus, keep, &by_kind, &by_message);
    print("corpus", corpus);
    std::size_t total = 0;
    for (const auto& [kind, n] : by_kind) total += n;
    std::printf("  diagnostics: %zu\n", total);
    for (const auto& [kind, n] : by_kind) std::printf("    %-28s %zu\n", kind.c_str(), n);
    for (const auto& [message, n] : by_message) std::printf("    %5zu  %s\n", n, message.c_str());

    Tally mistaken;
    run(*engine, mistakes::corpus_mistakes(*lines, per_line), mistaken, keep, nullptr, nullptr);
    print("mistakes", mistaken);
    return 0;
}
