#include "python/results.hpp"

#include <utility>
#include <vector>

#include "facade/records.hpp"
#include "facade/records_report.hpp"
#include "python/document.hpp"
#include "python/errors.hpp"
#include "python/interned.hpp"
#include "python/records.hpp"

namespace quorvel::python {
namespace {

InternedKey document_key{"document"}, diagnostics_key{"diagnostics"};
InternedKey normalized_key{"normalized"}, report_key{"report"};

nb::object str_object(const std::string& text) {
    nb::object object = nb::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object.is_valid()) throw nb::python_error();
    return object;
}

nb::list diagnostics_to_python(std::vector<parse::ParseDiagnostic>&& diagnostics) {
    if (diagnostics.empty()) {
        PyObject* list = PyList_New(0);
        if (list == nullptr) throw nb::python_error();
        return nb::steal<nb::list>(list);
    }
    std::vector<facade::ParseDiagnosticDto> records = facade::diagnostics_to_dto(std::move(diagnostics));
    // The moved-from originals go before the Python objects are made.
    std::vector<parse::ParseDiagnostic>().swap(diagnostics);
    return to_python(std::move(records));
}

}  // namespace

nb::dict parse_result_to_python(facade::ParseResult&& result, std::shared_ptr<const parse::ParseContext> context) {
    nb::dict dict;
    set_item(dict, document_key,
             result.document ? new_document_object(std::move(*result.document), std::move(context)) : nb::none());
    set_item(dict, diagnostics_key, diagnostics_to_python(std::move(result.diagnostics)));
    return dict;
}

nb::dict report_to_python(const transform::TransformReport& report) {
    return to_python(facade::transform_report_to_dto(report));
}

nb::dict normalize_report_result_to_python(const std::string& normalized, const transform::TransformReport& report) {
    nb::dict dict;
    set_item(dict, normalized_key, str_object(normalized));
    set_item(dict, report_key, report_to_python(report));
    return dict;
}

void raise_facade_error(facade::Error&& error) {
    facade::BindingErrorParts parts = facade::normalize_error_to_parts(std::move(error));
    if (parts.kind != "parse") raise_error_parts(parts.kind, parts.message);
    raise_error_parts(parts.kind, parts.message, facade::diagnostics_to_dto(std::move(parts.diagnostics)),
                      std::move(parts.document));
}

}  // namespace quorvel::python
