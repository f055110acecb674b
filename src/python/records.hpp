// The one place where the core's plain records become Python objects: each
// record a dict with its field names as keys in field order, lists as lists,
// an absent optional as None under its key. A failure of the interpreter
// (no memory, undecodable text) is thrown as nb::python_error, and whatever
// was built so far is released.
#pragma once

#include <nanobind/nanobind.h>

#include <vector>

#include "facade/records.hpp"
#include "facade/records_argspec.hpp"
#include "facade/records_lookup.hpp"
#include "facade/records_report.hpp"
#include "parse/span.hpp"

namespace quorvel::python {

namespace nb = nanobind;

nb::dict to_python(const parse::Span& span);
// The diagnostics of one batch share one str object per distinct text; each
// record is freed as soon as it is written.
nb::list to_python(std::vector<facade::ParseDiagnosticDto>&& diagnostics);
nb::dict to_python(const facade::TokenizedLatexDto& tokenized);
nb::list to_python(const std::vector<facade::NodeSpanEntryDto>& spans);
nb::list to_python(const std::vector<facade::PackageInfoDto>& packages);

nb::dict to_python(const facade::CommandInfoDto& command);
nb::dict to_python(const facade::EnvInfoDto& environment);
nb::dict to_python(const facade::CharacterInfoDto& character);

nb::dict to_python(const facade::TransformReportDto& report);

nb::dict to_python(const facade::ValidateArgspecResult& result);
nb::dict to_python(const facade::ParsedArgSpecSlot& slot);

}  // namespace quorvel::python
