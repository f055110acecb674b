// The one road from a source string to a parsed document: lex once, run the
// grammar for top-level math content (first without keeping failures, again
// keeping them if one is needed), finish the root, build the document with
// its spans, stamp it with the context's number, and convert and order every
// failure into diagnostics. Malformed input yields diagnostics, never an
// error.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "parse/config.hpp"
#include "parse/context.hpp"
#include "parse/diagnostics.hpp"
#include "syntax/document.hpp"

namespace quorvel::parse {

struct ParseOutcome {
    // None when the grammar produced no tree.
    std::optional<syntax::document::Document> document;
    // Ordered by rank; equal ranks keep the order in which they were found.
    std::vector<ParseDiagnostic> diagnostics;
};

ParseOutcome parse_source(const ParseContext& context, std::string_view source, const ParseConfig& config);

// The same road with failures kept from the first step, as `parse_source`
// takes it once a quiet run gave up; tests compare the two.
ParseOutcome parse_source_keeping_failures(const ParseContext& context, std::string_view source,
                                           const ParseConfig& config);

}  // namespace quorvel::parse
