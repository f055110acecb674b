#include "python/errors.hpp"

#include <exception>
#include <new>
#include <string>
#include <typeinfo>
#include <utility>

#include "python/document.hpp"
#include "python/exceptions.hpp"
#include "python/records.hpp"

namespace quorvel::python {
namespace {

nb::object str_object(std::string_view text) {
    nb::object object = nb::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!object.is_valid()) throw nb::python_error();
    return object;
}

PyObject* builtin_exception_type(nb::exception_type type) {
    switch (type) {
        case nb::exception_type::stop_iteration: return PyExc_StopIteration;
        case nb::exception_type::index_error: return PyExc_IndexError;
        case nb::exception_type::key_error: return PyExc_KeyError;
        case nb::exception_type::value_error: return PyExc_ValueError;
        case nb::exception_type::type_error: return PyExc_TypeError;
        case nb::exception_type::buffer_error: return PyExc_BufferError;
        case nb::exception_type::import_error: return PyExc_ImportError;
        case nb::exception_type::attribute_error: return PyExc_AttributeError;
        default: return PyExc_RuntimeError;
    }
}

}  // namespace

void raise_error(PyObject* cls, std::string_view message) {
    nb::object text = str_object(message);
    PyErr_SetObject(cls, text.ptr());
    throw nb::python_error();
}

nb::object parse_error_to_py(std::string_view message, std::vector<facade::ParseDiagnosticDto>&& diagnostics,
                             std::optional<syntax::document::Document> document) {
    nb::object text = str_object(message);
    nb::object error = nb::steal(PyObject_CallFunctionObjArgs(parse_error(), text.ptr(), nullptr));
    if (!error.is_valid()) throw nb::python_error();
    nb::object list = to_python(std::move(diagnostics));
    if (PyObject_SetAttrString(error.ptr(), "diagnostics", list.ptr()) != 0) throw nb::python_error();
    nb::object doc = document ? new_document_object(std::move(*document)) : nb::none();
    if (PyObject_SetAttrString(error.ptr(), "document", doc.ptr()) != 0) throw nb::python_error();
    return error;
}

void raise_error_parts(std::string_view kind, std::string_view message,
                       std::vector<facade::ParseDiagnosticDto> diagnostics,
                       std::optional<syntax::document::Document> document) {
    if (kind == "parse") {
        nb::object error = parse_error_to_py(message, std::move(diagnostics), std::move(document));
        PyErr_SetObject(parse_error(), error.ptr());
        throw nb::python_error();
    }
    PyObject* cls = kind == "edit"        ? edit_error()
                    : kind == "config"    ? config_error()
                    : kind == "transform" ? transform_error()
                                          : quorvel_error();
    raise_error(cls, message);
}

void raise_edit_error(const syntax::document::EditError& error) {
    // A value that cannot be written is malformed content, as a malformed
    // character is.
    const bool malformed = error.kind() == syntax::document::EditError::Kind::Unreadable;
    raise_error(malformed ? parse_error() : edit_error(), error.message());
}

PyObject* internal_error_class() {
    // Filled under the interpreter lock; creating the class never releases
    // it, so the cell is filled once.
    static PyObject* cell = nullptr;
    if (cell == nullptr) {
        cell = PyErr_NewException("quorvel.InternalError", PyExc_BaseException, nullptr);
        if (cell == nullptr) throw nb::python_error();
    }
    return cell;
}

void set_internal_error(const syntax::InternalError& error) noexcept {
    try {
        const std::string& message = error.message();
        // One line, whatever the message holds.
        std::string line = "quorvel: internal error: ";
        for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : (c == '\0' ? '?' : c);
        PySys_FormatStderr("%s\n", line.c_str());
        PyErr_SetObject(internal_error_class(), str_object(message).ptr());
    } catch (nb::python_error& failure) {
        failure.restore();
    } catch (...) {
        PyErr_NoMemory();
    }
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (nb::python_error& error) {
        error.restore();
    } catch (const syntax::InternalError& error) {
        set_internal_error(error);
    } catch (const nb::builtin_exception& error) {
        PyErr_SetString(builtin_exception_type(error.type()), error.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::bad_cast& error) {
        PyErr_SetString(PyExc_TypeError, error.what());
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

void register_error_translators() {
    nb::register_exception_translator(
        [](const std::exception_ptr& exception, void*) {
            try {
                std::rethrow_exception(exception);
            } catch (const syntax::InternalError& error) {
                set_internal_error(error);
            }
        },
        nullptr);
}

}  // namespace quorvel::python
