// What the Parser and TransformEngine methods answer with, and how a facade
// failure reaches Python: the parse-result and normalise-with-report dicts,
// and the raising of a facade error by its category.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "facade/error.hpp"
#include "transform/report.hpp"

namespace quorvel::python {

namespace nb = nanobind;

// {"document": a new Document object or None, "diagnostics": [dict, ...]}.
// `context` is the parser's, which reads the document's edits back.
nb::dict parse_result_to_python(facade::ParseResult&& result, std::shared_ptr<const parse::ParseContext> context);

// {"normalized": str, "report": the report dict}.
nb::dict normalize_report_result_to_python(const std::string& normalized, const transform::TransformReport& report);

// The report dict of one run.
nb::dict report_to_python(const transform::TransformReport& report);

// Flattens the error into its parts and raises the class its category
// names: "config" ConfigError, "parse" ParseError with `diagnostics` and
// `document`, "transform" TransformError, "internal" exactly QuorvelError.
[[noreturn]] void raise_facade_error(facade::Error&& error);

}  // namespace quorvel::python
