// libFuzzer target: any bytes parse without a crash or a hang under each
// combination of the recovery settings, with the same outcome as a parse that
// keeps failures from the start, and a document that comes out keeps every
// part of the source and is written back as text that reads back to itself.
// Every span handed out (diagnostics, their contexts, node spans) lies inside
// the source and never ends before it starts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../cpp/malformed_invariants.hpp"
#include "parse/context.hpp"
#include "parse/parse.hpp"

namespace {

const quorvel::parse::ParseContext& fuzz_context() {
    static const std::shared_ptr<const quorvel::parse::ParseContext> context =
        quorvel::parse::ParseContextBuilder().build().value();
    return *context;
}

// Whether a diagnostic is reported twice: a parse reports each once.
bool repeats_a_diagnostic(const std::vector<quorvel::parse::ParseDiagnostic>& diagnostics) {
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (diagnostics[i] == diagnostics[j]) return true;
        }
    }
    return false;
}

// A digest of the document's node spans, or none when the call refuses: each
// entry spells its whole path, so a tree thousands of levels deep passes the
// budget of path text and gets std::bad_alloc, as documented. Digests keep
// one list alive at a time; two lists near the budget would pass the
// fuzzer's memory limit.
std::optional<std::size_t> node_spans_digest(const quorvel::syntax::document::Document& document) {
    try {
        std::size_t digest = 0;
        for (const auto& entry : document.node_spans()) {
            digest = (digest * 1000003) ^ std::hash<std::string>{}(entry.id);
            digest = (digest * 1000003) ^ entry.span.start;
            digest = (digest * 1000003) ^ entry.span.end;
        }
        return digest;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    for (int settings = 0; settings < 4; ++settings) {
        quorvel::parse::ParseConfig config;
        config.reject_unknown = (settings & 1) != 0;
        config.abort_on_error = (settings & 2) != 0;
        auto outcome = quorvel::parse::parse_source(fuzz_context(), source, config);
        const auto kept = quorvel::parse::parse_source_keeping_failures(fuzz_context(), source, config);
        const bool same = outcome.diagnostics == kept.diagnostics &&
                          outcome.document.has_value() == kept.document.has_value() &&
                          (!outcome.document || (outcome.document->to_syntax() == kept.document->to_syntax() &&
                                                 node_spans_digest(*outcome.document) == node_spans_digest(*kept.document)));
        if (!same || !quorvel::invariants::spans_in_range(source, outcome) ||
            repeats_a_diagnostic(outcome.diagnostics))
            std::abort();
        if (!outcome.document) continue;
        // A diagnostic comes with an Error node, the written text keeps the
        // source's characters and reads back to itself.
        const auto check = quorvel::invariants::check_parse(fuzz_context(), source, outcome, config);
        if (check.violation != quorvel::invariants::Violation::None &&
            !quorvel::invariants::known_unstable(source, outcome, check))
            std::abort();
    }
    return 0;
}
