#include "facade/records.hpp"

#include <utility>

#include "parse/diagnostics.hpp"

namespace quorvel::facade {

std::vector<ParseDiagnosticDto> diagnostics_to_dto(std::vector<parse::ParseDiagnostic>&& diagnostics) {
    std::vector<ParseDiagnosticDto> records;
    records.reserve(diagnostics.size());
    for (parse::ParseDiagnostic& diagnostic : diagnostics) {
        ParseDiagnosticDto record;
        if (diagnostic.kind) record.kind = parse::parse_diagnostic_kind_name(*diagnostic.kind);
        record.message = std::move(diagnostic.message);
        record.span = diagnostic.span;
        record.expected = std::move(diagnostic.expected);
        record.found = std::move(diagnostic.found);
        record.contexts.reserve(diagnostic.contexts.size());
        for (parse::ParseDiagnosticContext& context : diagnostic.contexts) {
            record.contexts.push_back({std::move(context.label), context.span});
        }
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace quorvel::facade
