// Every span a parse hands out lies inside the source and never ends before
// it starts: the spans of diagnostics and of their contexts, and the node
// spans of the document, before and after a transform. Checked over the
// corpus, one- and two-character mistakes made from it, and the same
// mistakes with a comment and a line break put in (white space and comments
// between tokens are where a point span can turn around).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "corpus_mistakes.hpp"
#include "facade/transform_engine.hpp"
#include "malformed_invariants.hpp"

namespace quorvel {
namespace {

using facade::EngineProfile;
using facade::TransformEngine;
using facade::TransformEngineBuilder;

// The default packages plus "prose", a caller environment with a text body.
const TransformEngine& engine() {
    static const TransformEngine built = [] {
        TransformEngineBuilder builder;
        builder.profile(EngineProfile::Corpus)
            .item(parse::ContextItem::environment({"prose", "", {}, static_cast<std::uint8_t>(syntax::ContentMode::Text),
                                                   knowledge::AllowedMode::Both}));
        return std::move(builder.build()).value();
    }();
    return built;
}

struct SpanFaults {
    std::size_t diagnostics = 0;  // diagnostic or context spans
    std::size_t parsed = 0;       // node spans of the parsed document
    std::size_t transformed = 0;  // node spans after a transform
    std::string first;            // the first offending source and what was wrong

    std::size_t inputs_with_fault = 0;
};

std::string show(parse::Span span) { return std::to_string(span.start) + ".." + std::to_string(span.end); }

// Checks one source; returns whether every span was sound.
bool check(std::string_view source, const parse::ParseConfig& config, SpanFaults& faults) {
    const std::size_t n = source.size();
    bool ok = true;
    auto note = [&](std::size_t& counter, const std::string& what) {
        ++counter;
        if (ok && faults.first.empty()) faults.first = std::string(source) + " -> " + what;
        ok = false;
    };
    auto result = engine().parser().parse_with(source, config);
    for (const auto& d : result.diagnostics) {
        if (!invariants::span_in_range(d.span, n)) note(faults.diagnostics, "diagnostic '" + d.message + "' at " + show(d.span));
        for (const auto& c : d.contexts)
            if (!invariants::span_in_range(c.span, n)) note(faults.diagnostics, "context " + c.label + " at " + show(c.span));
    }
    if (result.document) {
        for (const auto& entry : result.document->node_spans())
            if (!invariants::span_in_range(entry.span, n)) note(faults.parsed, "node " + entry.id + " at " + show(entry.span));
        if (!result.document->read_only() &&
            engine().transform_with(*result.document, engine().default_transform_options())) {
            for (const auto& entry : result.document->node_spans())
                if (!invariants::span_in_range(entry.span, n))
                    note(faults.transformed, "transformed node " + entry.id + " at " + show(entry.span));
        }
    }
    if (!ok) ++faults.inputs_with_fault;
    return ok;
}

// A comment and a line break put in at a place fixed by the source, so that
// a failure met after it has white space and a comment before it.
std::string with_comment(const std::string& source, std::size_t salt) {
    const std::size_t at = source.empty() ? 0 : (salt * 7919 + source.size() * 31) % (source.size() + 1);
    std::string out = source;
    out.insert(at, "%c\n");
    return out;
}

// The sanitized build covers a deterministic sample; QUORVEL_SPAN_PROPERTY_ALL
// set in the environment covers every input (for counts on a fast build).
std::size_t stride() { return std::getenv("QUORVEL_SPAN_PROPERTY_ALL") != nullptr ? 1 : 4; }

TEST(SpanProperty, CorpusAndMistakesKeepSpansInOrder) {
    const auto corpus = mistakes::read_corpus();
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const auto mistaken = mistakes::corpus_mistakes(*corpus, 3);

    const std::size_t step = stride();
    struct Set {
        const char* name;
        SpanFaults faults;
        std::size_t inputs = 0;
    };
    Set sets[] = {{"corpus", {}, 0}, {"mistakes", {}, 0}, {"mistakes with a comment", {}, 0}};
    const parse::ParseConfig plain{};
    for (std::size_t i = 0; i < corpus->size(); i += step) {
        ++sets[0].inputs;
        check((*corpus)[i], plain, sets[0].faults);
    }
    for (std::size_t i = 0; i < mistaken.size(); i += step) {
        ++sets[1].inputs;
        check(mistaken[i], plain, sets[1].faults);
        ++sets[2].inputs;
        check(with_comment(mistaken[i], i), plain, sets[2].faults);
    }
    for (const Set& set : sets) {
        std::cout << "[ spans    ] " << set.name << ": " << set.inputs << " inputs, " << set.faults.inputs_with_fault
                  << " with an unsound span (diagnostics " << set.faults.diagnostics << ", nodes "
                  << set.faults.parsed << ", after a transform " << set.faults.transformed << ")\n";
        EXPECT_EQ(set.faults.inputs_with_fault, 0u) << set.name << ", first: " << set.faults.first;
    }
}

// The settings that change recovery keep the same property.
TEST(SpanProperty, RecoverySettingsKeepSpansInOrder) {
    const auto corpus = mistakes::read_corpus();
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const auto mistaken = mistakes::corpus_mistakes(*corpus, 1, 2025);
    parse::ParseConfig reject;
    reject.reject_unknown = true;
    parse::ParseConfig abort;
    abort.abort_on_error = true;
    SpanFaults faults;
    std::size_t inputs = 0;
    for (std::size_t i = 0; i < mistaken.size(); i += 4 * stride()) {
        const std::string commented = with_comment(mistaken[i], i);
        for (const auto* config : {&reject, &abort}) {
            inputs += 2;
            check(mistaken[i], *config, faults);
            check(commented, *config, faults);
        }
    }
    EXPECT_EQ(faults.inputs_with_fault, 0u) << "of " << inputs << ", first: " << faults.first;
}

}  // namespace
}  // namespace quorvel
