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

NB_MODULE(_native, m) {
    m.doc() =
        "Native extension module loaded as `quorvel._native`.\n"
        "Symbols are re-exported from the Python package's `__init__.py`.";

    namespace py = quorvel::python;
    py::register_error_translators();
    py::register_functions(m);
    py::register_config_classes(m);
    py::register_document_class(m);
    py::register_node_class(m);
    py::add_node_reading_methods(m.attr("Node"));
    py::register_parser_class(m);
    py::register_transform_engine_class(m);
    m.attr("QuorvelError") = nb::borrow(py::quorvel_error());
    m.attr("ParseError") = nb::borrow(py::parse_error());
    m.attr("EditError") = nb::borrow(py::edit_error());
    m.attr("ConfigError") = nb::borrow(py::config_error());
    m.attr("TransformError") = nb::borrow(py::transform_error());
}
