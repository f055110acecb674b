// The one place where failures become Python exceptions: facade error
// categories, parse failures with their diagnostics and partial document,
// refused edits, broken invariants and any other C++ exception that reaches
// an entry point.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string_view>
#include <vector>

#include "facade/records.hpp"
#include "syntax/document.hpp"
#include "syntax/internal_error.hpp"
#include "util/thread_storage.hpp"

namespace quorvel::python {

namespace nb = nanobind;

// Sets an instance of `cls` with the single argument `message` as the
// pending error and throws nb::python_error.
[[noreturn]] void raise_error(PyObject* cls, std::string_view message);

// By category, compared exactly: "edit" EditError, "parse" ParseError
// carrying `diagnostics` and `document`, "config" ConfigError, "transform"
// TransformError, anything else exactly QuorvelError. Every category but
// "parse" drops the diagnostics and the document.
[[noreturn]] void raise_error_parts(std::string_view kind, std::string_view message,
                                    std::vector<facade::ParseDiagnosticDto> diagnostics = {},
                                    std::optional<syntax::document::Document> document = std::nullopt);

// A ParseError instance with the attributes `diagnostics` (a list of
// diagnostic dicts) and `document` (a new Document object, or None).
nb::object parse_error_to_py(std::string_view message, std::vector<facade::ParseDiagnosticDto>&& diagnostics,
                             std::optional<syntax::document::Document> document);

// EditError with the refusal's text; ParseError for a malformed name.
[[noreturn]] void raise_edit_error(const syntax::document::EditError& error);

// The class raised for a broken invariant, "quorvel.InternalError". It
// derives from BaseException, not Exception: the tree may be half changed,
// so a plain `except Exception` must not carry on as if nothing happened.
// Created on first use; not a module attribute.
PyObject* internal_error_class();

// Writes one line naming the invariant to standard error and sets
// InternalError(message) as the pending error.
void set_internal_error(const syntax::InternalError& error) noexcept;

// Sets the pending Python error for the C++ exception being handled; call
// only inside a catch block.
void set_error_from_current_exception() noexcept;

// Runs an entry point's body, returning its result as a new reference, or
// null with the Python error set for whatever it threw. The thread's storage
// is made first, so that running out of memory in the body is a MemoryError.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    util::prepare_thread();
    try {
        return body().release().ptr();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

// Lets the binding library's own functions raise InternalError as well.
void register_error_translators();

}  // namespace quorvel::python
