// Entry point of quorvel._native: functions, then classes, then exceptions.
#include <nanobind/nanobind.h>

#include "python/config_classes.hpp"
#include "python/document.hpp"
#include "python/errors.hpp"
#include "python/exceptions.hpp"
#include "python/functions.hpp"
#include "python/node.hpp"
#include "python/node_read.hpp"
#include "python/parser.hpp"
#include "python/transform_engine.hpp"

namespace nb = nanobind;

namespace {

// Class objects are made by the first module object of the process and
// shared by every later one (importlib can execute the module again), as
// the exception classes are; the binding library registers a C++ type once.
void add_classes(nb::module_& m) {
    namespace py = quorvel::python;
    nb::handle first = nb::type<py::PyParseConfig>();
    if (!first.is_valid()) {
        py::register_error_translators();
        py::register_config_classes(m);
        py::register_document_class(m);
        py::register_node_class(m);
        py::add_node_reading_methods(m.attr("Node"));
        py::register_parser_class(m);
        py::register_transform_engine_class(m);
        return;
    }
    m.attr("ParseConfig") = first;
    m.attr("LowerAttributesConfig") = nb::type<py::PyLowerAttributesConfig>();
    m.attr("RewriteConfig") = nb::type<py::PyRewriteConfig>();
    m.attr("FinalizeAstConfig") = nb::type<py::PyFinalizeAstConfig>();
    m.attr("FlattenGroupsConfig") = nb::type<py::PyFlattenGroupsConfig>();
    m.attr("TransformConfig") = nb::type<py::PyTransformConfig>();
    m.attr("Document") = nb::type<py::PyDocument>();
    m.attr("Node") = nb::type<py::PyNode>();
    m.attr("Parser") = nb::type<py::PyParser>();
    m.attr("TransformEngine") = nb::type<py::PyTransformEngine>();
}

}  // namespace

NB_MODULE(_native, m) {
    m.doc() =
        "Native extension module loaded as `quorvel._native`.\n"
        "Symbols are re-exported from the Python package's `__init__.py`.";

    // Objects still held at exit (by daemon threads, say) are reclaimed with
    // the process; the binding's report of them is noise to a user. Builds for
    // leak hunting keep it.
#ifndef QUORVEL_LEAK_WARNINGS
    nb::set_leak_warnings(false);
#endif

    namespace py = quorvel::python;
    py::register_functions(m);
    add_classes(m);
    m.attr("QuorvelError") = nb::borrow(py::quorvel_error());
    m.attr("ParseError") = nb::borrow(py::parse_error());
    m.attr("EditError") = nb::borrow(py::edit_error());
    m.attr("ConfigError") = nb::borrow(py::config_error());
    m.attr("TransformError") = nb::borrow(py::transform_error());
}
