#include "python/functions.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facade/parser.hpp"
#include "facade/records.hpp"
#include "facade/records_argspec.hpp"
#include "python/config_classes.hpp"
#include "python/config_overrides.hpp"
#include "python/document.hpp"
#include "python/errors.hpp"
#include "python/exceptions.hpp"
#include "python/extract.hpp"
#include "python/methods.hpp"
#include "python/records.hpp"
#include "python/syntax_dict.hpp"
#include "syntax/document.hpp"

namespace quorvel::python {
namespace {

// The functions are plain CPython builtins rather than binding-library
// functions so that their docstring can be the bare text signature; `guarded`
// turns what their bodies throw into the pending Python error.

// count_targets(src, config=None, packages=None): how often each command,
// environment and character occurs in one formula. Failures carry only
// their message.
PyObject* count_targets(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"src", "config", "packages", nullptr};
        PyObject* src = nullptr;
        PyObject* settings = Py_None;
        PyObject* packages = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:count_targets", const_cast<char**>(keywords), &src,
                                         &settings, &packages)) {
            throw nb::python_error();
        }
        const std::string_view source = arg_str(src, "src", "parse");
        if (settings != Py_None) arg_instance<PyParseConfig>(settings, "config", "ParseConfig");
        facade::ParserBuilder builder;
        if (packages != Py_None) {
            std::vector<std::string> names;
            for (const nb::object& name : arg_object_list(packages, "packages")) {
                names.emplace_back(arg_str(name, "packages", "config"));
            }
            if (names.empty()) {
                builder.empty_knowledge();
            } else {
                builder.packages(std::move(names));
            }
        }
        auto parser = builder.build();
        if (!parser) raise_error(config_error(), parser.error().to_string());
        auto counts = settings == Py_None
                          ? facade::count_targets(*parser, source)
                          : facade::count_targets_with(
                                *parser, source,
                                config::parse_config_from_python(settings, nb::handle(),
                                                                 parser->default_parse_config()));
        if (!counts) raise_error(parse_error(), counts.error().message());
        nb::dict result;
        for (const facade::TargetCount& count : *counts) {
            nb::object key = nb::steal(
                PyUnicode_DecodeUTF8(count.key.data(), static_cast<Py_ssize_t>(count.key.size()), "replace"));
            if (!key.is_valid()) throw nb::python_error();
            nb::object value = nb::steal(PyLong_FromUnsignedLongLong(count.count));
            if (!value.is_valid() || PyDict_SetItem(result.ptr(), key.ptr(), value.ptr()) != 0) {
                throw nb::python_error();
            }
        }
        return nb::object(std::move(result));
    });
}

// serialize(node, **options): `node` by position or keyword, every other
// keyword a serializer option.
PyObject* serialize(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        const Py_ssize_t given = PyTuple_Size(args);
        if (given > 1) {
            PyErr_Format(PyExc_TypeError, "serialize() takes 1 positional argument but %zd were given", given);
            throw nb::python_error();
        }
        nb::object node = given == 1 ? nb::borrow(PyTuple_GetItem(args, 0)) : nb::object();
        nb::object options;
        if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
            options = nb::steal(PyDict_Copy(kwargs));
            if (!options.is_valid()) throw nb::python_error();
            PyObject* keyword = PyDict_GetItemString(options.ptr(), "node");
            if (keyword != nullptr) {
                if (node.is_valid()) {
                    PyErr_SetString(PyExc_TypeError, "serialize() got multiple values for argument 'node'");
                    throw nb::python_error();
                }
                node = nb::borrow(keyword);
                if (PyDict_DelItemString(options.ptr(), "node") != 0) throw nb::python_error();
            }
        }
        if (!node.is_valid()) {
            PyErr_SetString(PyExc_TypeError, "serialize() missing 1 required positional argument: 'node'");
            throw nb::python_error();
        }
        auto tree = syntax_from_python(node);
        if (!tree) raise_error(parse_error(), "invalid syntax node: " + tree.error());
        const syntax::SerializeOptions serialize_options = serialize_options_from_kwargs(options.ptr());
        auto document = syntax::document::Document::from_syntax(*tree);
        if (!document) {
            raise_error(parse_error(), document.error() == syntax::FromSyntaxError::NotARoot
                                           ? std::string("serialize expects a syntax root")
                                           : syntax::message(document.error()));
        }
        auto latex = document->to_latex_with(serialize_options);
        if (!latex) raise_error(parse_error(), latex.error().message());
        nb::object text = nb::steal(
            PyUnicode_FromStringAndSize(latex->data(), static_cast<Py_ssize_t>(latex->size())));
        if (!text.is_valid()) throw nb::python_error();
        return text;
    });
}

PyObject* validate_argspec(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"spec", nullptr};
        PyObject* spec = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:validate_argspec", const_cast<char**>(keywords),
                                         &spec)) {
            throw nb::python_error();
        }
        return nb::object(to_python(facade::validate_argspec(arg_str(spec, "spec"))));
    });
}

PyObject* list_packages(PyObject*, PyObject*) {
    return guarded([] { return nb::object(to_python(facade::list_packages_to_dto())); });
}

// Static: the interpreter keeps pointers to these for the life of the
// functions.
PyMethodDef FUNCTIONS[] = {
    {"count_targets", c_function(count_targets), METH_VARARGS | METH_KEYWORDS,
     "count_targets(src, config=None, packages=None)\n--\n\n"},
    {"serialize", c_function(serialize), METH_VARARGS | METH_KEYWORDS, "serialize(node, **options)\n--\n\n"},
    {"validate_argspec", c_function(validate_argspec), METH_VARARGS | METH_KEYWORDS,
     "validate_argspec(spec)\n--\n\n"},
    {"list_packages", c_function(list_packages), METH_NOARGS, "list_packages()\n--\n\n"},
    // Private: what a pickled Document names to rebuild itself by (the
    // nested-dict form is what older pickles name).
    {"_document_from_syntax", c_function(from_syntax), METH_VARARGS | METH_KEYWORDS,
     "_document_from_syntax(node)\n--\n\n"},
    {"_document_from_packed", c_function(from_packed), METH_VARARGS, "_document_from_packed(data)\n--\n\n"},
    // Private: what a pickled config names to rebuild itself by.
    {"_config_from_values", c_function(config_from_values), METH_VARARGS,
     "_config_from_values(name, values)\n--\n\n"},
};

}  // namespace

void register_functions(nb::module_& m) {
    nb::object module_name = nb::steal(PyModule_GetNameObject(m.ptr()));
    if (!module_name.is_valid()) throw nb::python_error();
    for (PyMethodDef& def : FUNCTIONS) {
        nb::object function = nb::steal(PyCFunction_NewEx(&def, m.ptr(), module_name.ptr()));
        if (!function.is_valid()) throw nb::python_error();
        m.attr(def.ml_name) = function;
    }
}

}  // namespace quorvel::python
