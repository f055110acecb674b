// A digest of a parse: its written document, node spans and diagnostics,
// for comparing two builds over many inputs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "parse/parse.hpp"

namespace quorvel::testing {

struct Digest {
    std::uint64_t h = 1469598103934665603ull;
    void add(std::string_view s) {
        for (const unsigned char c : s) h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0xff) * 1099511628211ull;
    }
    void add(std::size_t v) { add(std::to_string(v)); }
};

inline std::uint64_t parse_digest(const parse::ParseOutcome& outcome) {
    Digest d;
    if (outcome.document) {
        const auto written = outcome.document->to_latex();
        d.add(written ? *written : std::string("<unwritable>"));
        for (const auto& entry : outcome.document->node_spans()) {
            d.add(entry.id);
            d.add(entry.span.start);
            d.add(entry.span.end);
        }
    } else {
        d.add("<no document>");
    }
    for (const auto& diag : outcome.diagnostics) {
        d.add(diag.kind ? parse::parse_diagnostic_kind_name(*diag.kind) : "none");
        d.add(diag.message);
        d.add(diag.span.start);
        d.add(diag.span.end);
        for (const auto& e : diag.expected) d.add(e);
        d.add(diag.found ? *diag.found : std::string("<none>"));
        for (const auto& c : diag.contexts) {
            d.add(c.label);
            d.add(c.span.start);
            d.add(c.span.end);
        }
    }
    return d.h;
}

}  // namespace quorvel::testing
