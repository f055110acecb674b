#include "python/parser.hpp"

#include <string_view>
#include <utility>

#include "facade/records_lookup.hpp"
#include "python/arg_values.hpp"
#include "python/config_classes.hpp"
#include "python/exceptions.hpp"
#include "python/methods.hpp"
#include "python/records.hpp"
#include "python/results.hpp"

namespace quorvel::python {

std::optional<std::vector<std::string>> optional_names(nb::handle value, const char* name) {
    if (!value.is_valid() || value.is_none()) return std::nullopt;
    return arg_str_list(value, name, "config");
}

std::vector<std::string> names_or_none(nb::handle value, const char* name) {
    return optional_names(value, name).value_or(std::vector<std::string>{});
}

std::optional<parse::ParseConfig> optional_parse_config(nb::handle value, const char* name) {
    if (!value.is_valid() || value.is_none()) return std::nullopt;
    const PyParseConfig& given = arg_instance<PyParseConfig>(value, name, "ParseConfig");
    parse::ParseConfig config;
    config.reject_unknown = given.reject_unknown;
    config.abort_on_error = given.abort_on_error;
    config.max_group_depth = static_cast<std::size_t>(given.max_group_depth);
    return config;
}

ParserArguments read_parser_arguments(PyObject* const* bound) {
    ParserArguments arguments;
    arguments.packages = optional_names(bound[0], "packages");
    arguments.items = bound[1];
    arguments.remove_commands = names_or_none(bound[2], "remove_commands");
    arguments.remove_environments = names_or_none(bound[3], "remove_environments");
    arguments.remove_delimiter_controls = names_or_none(bound[4], "remove_delimiter_controls");
    return arguments;
}

namespace parser_methods {

nb::object parse(const facade::Parser& parser, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const Parameter parameters[] = {{"src", true}, {"config"}};
    PyObject* bound[2];
    nb::object overrides = bind_fast_arguments("parse", args, nargs, kwnames, parameters, bound, true);
    const std::string_view source = arg_str(bound[0], "src", "parse");
    const parse::ParseConfig config =
        config::parse_config_from_python(bound[1], overrides, parser.default_parse_config());
    return parse_result_to_python(parser.parse_with(source, config), parser.shared_context());
}

nb::object default_parse_config(const facade::Parser& parser) {
    const parse::ParseConfig& config = parser.default_parse_config();
    return nb::cast(PyParseConfig{config.reject_unknown, config.abort_on_error, config.max_group_depth},
                    nb::rv_policy::move);
}

nb::object lookup(Lookup which, const facade::Parser& parser, PyObject* args, PyObject* kwargs) {
    static const Parameter parameters[] = {{"name", true}, {"mode", true}};
    static constexpr const char* kNames[] = {"lookup_command", "lookup_explicit_command", "lookup_character",
                                             "lookup_env"};
    PyObject* bound[2];
    bind_arguments(kNames[static_cast<int>(which)], args, kwargs, parameters, bound, false);
    const std::string_view name = arg_str(bound[0], "name");
    const std::string_view mode_text = arg_str(bound[1], "mode");
    const syntax::ContentMode mode = py_content_mode(mode_text);
    switch (which) {
        case Lookup::Command:
            if (const auto* record = parser.lookup_command(name, mode)) {
                return to_python(facade::command_info_to_dto(*record));
            }
            break;
        case Lookup::ExplicitCommand:
            if (const auto* record = parser.lookup_explicit_command(name, mode)) {
                return to_python(facade::command_info_to_dto(*record));
            }
            break;
        case Lookup::Character:
            if (const auto* record = parser.lookup_character(name, mode)) {
                return to_python(facade::character_info_to_dto(*record));
            }
            break;
        case Lookup::Env:
            if (const auto* record = parser.lookup_env(name, mode)) {
                return to_python(facade::env_info_to_dto(*record));
            }
            break;
    }
    return nb::none();
}

nb::object name_test(NameTest which, const facade::Parser& parser, PyObject* args, PyObject* kwargs) {
    static const Parameter parameters[] = {{"name", true}};
    static constexpr const char* kNames[] = {"is_delimiter_control", "knows_command_name", "knows_env_name",
                                             "knows_character_name"};
    PyObject* bound[1];
    bind_arguments(kNames[static_cast<int>(which)], args, kwargs, parameters, bound, false);
    const std::string_view name = arg_str(bound[0], "name");
    bool known = false;
    switch (which) {
        case NameTest::DelimiterControl: known = parser.is_delimiter_control(name); break;
        case NameTest::Command: known = parser.knows_command_name(name); break;
        case NameTest::Env: known = parser.knows_env_name(name); break;
        case NameTest::Character: known = parser.knows_character_name(name); break;
    }
    return nb::bool_(known);
}

}  // namespace parser_methods

namespace {

const facade::Parser& parser_of(PyObject* self) {
    // Unreachable from Python while `__new__` constructs; kept so a method
    // can never read an object that was not.
    if (!nb::inst_ready(self)) raise_error(PyExc_TypeError, "Parser object is not initialized");
    return nb::inst_ptr<PyParser>(self)->parser;
}

using Shared = SharedParserMethods<parser_of>;
using parser_methods::Lookup;
using parser_methods::NameTest;

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;
constexpr int kFastArgs = METH_FASTCALL | METH_KEYWORDS;

// Static: the interpreter keeps pointers to these for the life of the class.
PyMethodDef METHODS[] = {
    {"parse", c_function(Shared::parse), kFastArgs, "parse($self, src, config=None, **overrides)\n--\n\n"},
    {"default_parse_config", c_function(Shared::default_parse_config), METH_NOARGS,
     "default_parse_config($self)\n--\n\n"},
    {"lookup_command", c_function(Shared::lookup<Lookup::Command>), kArgs,
     "lookup_command($self, name, mode)\n--\n\n"},
    {"lookup_explicit_command", c_function(Shared::lookup<Lookup::ExplicitCommand>), kArgs,
     "lookup_explicit_command($self, name, mode)\n--\n\n"},
    {"lookup_character", c_function(Shared::lookup<Lookup::Character>), kArgs,
     "lookup_character($self, name, mode)\n--\n\n"},
    {"lookup_env", c_function(Shared::lookup<Lookup::Env>), kArgs, "lookup_env($self, name, mode)\n--\n\n"},
    {"is_delimiter_control", c_function(Shared::name_test<NameTest::DelimiterControl>), kArgs,
     "is_delimiter_control($self, name)\n--\n\n"},
    {"knows_command_name", c_function(Shared::name_test<NameTest::Command>), kArgs,
     "knows_command_name($self, name)\n--\n\n"},
    {"knows_env_name", c_function(Shared::name_test<NameTest::Env>), kArgs, "knows_env_name($self, name)\n--\n\n"},
    {"knows_character_name", c_function(Shared::name_test<NameTest::Character>), kArgs,
     "knows_character_name($self, name)\n--\n\n"},
};

PyParser build_parser(const ParserArguments& arguments) {
    facade::ParserBuilder builder;
    configure_parser_half(builder, arguments);
    auto parser = builder.build();
    // The build error's own text, without the engine's prefix.
    if (!parser) raise_error(config_error(), parser.error().to_string());
    return PyParser{std::move(parser).value()};
}

PyObject* new_parser(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const Parameter parameters[] = {{"packages"},
                                               {"items"},
                                               {"remove_commands"},
                                               {"remove_environments"},
                                               {"remove_delimiter_controls"},
                                               {"default_parse_config"}};
        PyObject* bound[6];
        bind_arguments("Parser.__new__", args, kwargs, parameters, bound, false);
        ParserArguments arguments = read_parser_arguments(bound);
        arguments.default_parse_config = optional_parse_config(bound[5], "default_parse_config");
        return nb::cast(build_parser(arguments), nb::rv_policy::move);
    });
}

}  // namespace

void register_parser_class(nb::module_& m) {
    nb::class_<PyParser> cls(m, "Parser",
                             "Parser(packages=None, items=None, remove_commands=None, remove_environments=None, "
                             "remove_delimiter_controls=None, default_parse_config=None)\n--\n\n",
                             nb::is_final(), nb::type_slots(constructor_slots<new_parser>));
    add_methods(cls, METHODS);
    cls.attr("__module__") = "builtins";
}

}  // namespace quorvel::python
