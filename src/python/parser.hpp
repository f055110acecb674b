// The Python class Parser, and the methods it shares with TransformEngine:
// `parse`, `default_parse_config`, the four knowledge lookups and the four
// name tests, each acting on the receiver's parser facade.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

#include "facade/parser.hpp"
#include "python/config_overrides.hpp"
#include "python/errors.hpp"
#include "python/extract.hpp"

namespace quorvel::python {

namespace nb = nanobind;

struct PyParser {
    facade::Parser parser;
};

// The constructor arguments of the parser half, converted in signature
// order (TypeError "argument '{}': {}" for the first that fails). `items`
// is kept as given; it is read when the builder is configured.
struct ParserArguments {
    std::optional<std::vector<std::string>> packages;
    nb::handle items;
    std::vector<std::string> remove_commands;
    std::vector<std::string> remove_environments;
    std::vector<std::string> remove_delimiter_controls;
    std::optional<parse::ParseConfig> default_parse_config;
};

// None or absent: not given; otherwise a sequence of str.
std::optional<std::vector<std::string>> optional_names(nb::handle value, const char* name);
// As optional_names, with None or absent read as no names.
std::vector<std::string> names_or_none(nb::handle value, const char* name);
// None or absent: not given; otherwise a ParseConfig.
std::optional<parse::ParseConfig> optional_parse_config(nb::handle value, const char* name);

// The five selection arguments both constructors share (`packages`, `items`
// and the three removals), bound in that order from `bound[0..4]`; the
// caller converts `default_parse_config` at its own place in its signature.
ParserArguments read_parser_arguments(PyObject* const* bound);

// Package selection, default parse configuration, items (read here, so a
// ConfigError of "items" propagates) and the removals, in that order; the
// builder replays items before removals whatever the call's order.
template <class Builder>
void configure_parser_half(Builder& builder, const ParserArguments& arguments);

// The shared methods; `self` is resolved by the class's own accessor.
namespace parser_methods {

// A METH_FASTCALL | METH_KEYWORDS body: the hot road of a parse takes no
// argument tuple.
nb::object parse(const facade::Parser& parser, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
nb::object default_parse_config(const facade::Parser& parser);

enum class Lookup { Command, ExplicitCommand, Character, Env };
nb::object lookup(Lookup which, const facade::Parser& parser, PyObject* args, PyObject* kwargs);

enum class NameTest { DelimiterControl, Command, Env, Character };
nb::object name_test(NameTest which, const facade::Parser& parser, PyObject* args, PyObject* kwargs);

}  // namespace parser_methods

// Method bodies for a class whose receiver yields its parser facade through
// `Of` (which raises TypeError for an object that was never constructed).
template <const facade::Parser& (*Of)(PyObject*)>
struct SharedParserMethods {
    static PyObject* parse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guarded([&] { return parser_methods::parse(Of(self), args, nargs, kwnames); });
    }
    static PyObject* default_parse_config(PyObject* self, PyObject*) {
        return guarded([&] { return parser_methods::default_parse_config(Of(self)); });
    }
    template <parser_methods::Lookup Which>
    static PyObject* lookup(PyObject* self, PyObject* args, PyObject* kwargs) {
        return guarded([&] { return parser_methods::lookup(Which, Of(self), args, kwargs); });
    }
    template <parser_methods::NameTest Which>
    static PyObject* name_test(PyObject* self, PyObject* args, PyObject* kwargs) {
        return guarded([&] { return parser_methods::name_test(Which, Of(self), args, kwargs); });
    }
};

// Adds the class Parser to the module.
void register_parser_class(nb::module_& m);

// ---- Template definitions ---------------------------------------------------

template <class Builder>
void configure_parser_half(Builder& builder, const ParserArguments& arguments) {
    if (arguments.packages) {
        if (arguments.packages->empty()) {
            builder.empty_knowledge();
        } else {
            builder.packages(*arguments.packages);
        }
    }
    if (arguments.default_parse_config) builder.default_parse_config(*arguments.default_parse_config);
    for (parse::ContextItem& item : config::context_items_from_python(arguments.items)) builder.item(std::move(item));
    for (const std::string& name : arguments.remove_commands) builder.remove_command(name);
    for (const std::string& name : arguments.remove_environments) builder.remove_environment(name);
    for (const std::string& name : arguments.remove_delimiter_controls) builder.remove_delimiter_control(name);
}

}  // namespace quorvel::python
