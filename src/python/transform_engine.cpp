#include "python/transform_engine.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/config_classes.hpp"
#include "python/config_overrides.hpp"
#include "python/document.hpp"
#include "python/errors.hpp"
#include "python/exceptions.hpp"
#include "python/extract.hpp"
#include "python/methods.hpp"
#include "python/parser.hpp"
#include "python/results.hpp"

namespace quorvel::python {
namespace {

std::optional<facade::EngineProfile> profile_from_name(std::string_view name) {
    if (name == "authoring") return facade::EngineProfile::Authoring;
    if (name == "faithful") return facade::EngineProfile::Faithful;
    if (name == "corpus") return facade::EngineProfile::Corpus;
    if (name == "equiv") return facade::EngineProfile::Equiv;
    return std::nullopt;
}

PyTransformEngine build_engine(std::string_view profile_name, const ParserArguments& arguments,
                               const std::vector<std::string>& disable_rules) {
    const auto profile = profile_from_name(profile_name);
    if (!profile) raise_error(config_error(), "unknown transform profile: " + std::string(profile_name));
    facade::TransformEngineBuilder builder;
    builder.profile(*profile);
    configure_parser_half(builder, arguments);
    for (const std::string& name : disable_rules) {
        if (auto disabled = builder.disable_rule_by_name(name); !disabled) {
            raise_facade_error(std::move(disabled.error()));
        }
    }
    auto engine = builder.build();
    if (!engine) raise_facade_error(std::move(engine).error());
    return PyTransformEngine{std::move(engine).value()};
}

// The `__name__` of the value's type, or "unknown" when it has none.
std::string python_type_name(nb::handle value) {
    nb::object name =
        nb::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())), "__name__"));
    if (name.is_valid() && PyUnicode_Check(name.ptr())) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.ptr(), &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "unknown";
}

const facade::TransformEngine& engine_of(PyObject* self) {
    // Unreachable from Python while `__new__` constructs; kept so a method
    // can never read an object that was not.
    if (!nb::inst_ready(self)) raise_error(PyExc_TypeError, "TransformEngine object is not initialized");
    return nb::inst_ptr<PyTransformEngine>(self)->engine;
}

const facade::Parser& parser_of(PyObject* self) { return engine_of(self).parser(); }

PyDocument& document_argument(nb::handle value) {
    // An instance made by `Document.__new__(Document)` holds no document.
    if (nb::isinstance<PyDocument>(value) && !nb::inst_ready(value)) {
        raise_argument_error("document", "Document object is not initialized");
    }
    return arg_instance<PyDocument>(value, "document", "Document");
}

// normalize and normalize_with_report: (src, config=None, **overrides).
// Called without an argument tuple (METH_FASTCALL), as `parse` is.
template <bool Report>
PyObject* normalize(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> nb::object {
        static const Parameter parameters[] = {{"src", true}, {"config"}};
        PyObject* bound[2];
        nb::object overrides = bind_fast_arguments(Report ? "normalize_with_report" : "normalize", args, nargs,
                                                   kwnames, parameters, bound, true);
        const std::string_view source = arg_str(bound[0], "src", "parse");
        const facade::TransformEngine& engine = engine_of(self);
        const facade::NormalizeConfig config =
            config::normalize_config_from_python(bound[1], overrides, engine.default_normalize_config());
        if constexpr (Report) {
            auto result = engine.normalize_with_report(source, config);
            if (!result) raise_facade_error(std::move(result).error());
            return normalize_report_result_to_python(result->normalized, result->report);
        } else {
            auto result = engine.normalize_with(source, config);
            if (!result) raise_facade_error(std::move(result).error());
            nb::object text = nb::steal(
                PyUnicode_FromStringAndSize(result->data(), static_cast<Py_ssize_t>(result->size())));
            if (!text.is_valid()) throw nb::python_error();
            return text;
        }
    });
}

// _normalize_with_flatten_groups_guards(source, config=None, *, guards,
// **overrides): the guards are checked before the config and the overrides.
PyObject* normalize_with_guards(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const Parameter parameters[] = {{"source", true}, {"config"}, {"guards", true, true}};
        PyObject* bound[3];
        nb::object overrides =
            bind_arguments("_normalize_with_flatten_groups_guards", args, kwargs, parameters, bound, true);
        const std::string_view source = arg_str(bound[0], "source", "parse");
        const facade::TransformEngine& engine = engine_of(self);
        nb::handle guards(bound[2]);
        if (!PyDict_Check(guards.ptr())) {
            config::raise_invalid_at("guards", {}, "unsupported value of type `" + python_type_name(guards) + "`; pass a dict");
        }
        const transform::FlattenGroupsGuardsOverlay overlay = config::guards_from_python(guards);
        const facade::NormalizeConfig config =
            config::normalize_config_from_python(bound[1], overrides, engine.default_normalize_config());
        auto result = engine.normalize_with_flatten_groups_guards(source, config, overlay);
        if (!result) raise_facade_error(std::move(result).error());
        return normalize_report_result_to_python(result->normalized, result->report);
    });
}

// transform and transform_with_report: (document, config=None, **overrides).
// The options are read before the document is borrowed; the borrow covers
// the pipeline run and, for the report, its making: a report that cannot be
// made (out of memory) leaves the document untouched, like a failed run.
template <bool Report>
PyObject* transform(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> nb::object {
        static const Parameter parameters[] = {{"document", true}, {"config"}};
        PyObject* bound[2];
        nb::object overrides =
            bind_arguments(Report ? "transform_with_report" : "transform", args, kwargs, parameters, bound, true);
        PyDocument& owner = document_argument(bound[0]);
        const facade::TransformEngine& engine = engine_of(self);
        const transform::TransformOptions options =
            config::transform_config_from_python(bound[1], overrides, engine.default_transform_options());
        if constexpr (Report) {
            nb::object report;
            auto result = [&] {
                ExclusiveBorrow borrow(owner);
                return engine.transform_with_report(borrow.document(), options,
                                                    [&](const transform::TransformReport& made) {
                                                        report = report_to_python(made);
                                                    });
            }();
            if (!result) raise_facade_error(std::move(result.error()));
            return report;
        } else {
            auto result = [&] {
                ExclusiveBorrow borrow(owner);
                return engine.transform_with(borrow.document(), options);
            }();
            if (!result) raise_facade_error(std::move(result.error()));
            return nb::none();
        }
    });
}

PyObject* default_transform_config(PyObject* self, PyObject*) {
    return guarded([&] { return PyTransformConfig::from_core(engine_of(self).default_transform_options()); });
}

using Shared = SharedParserMethods<parser_of>;
using parser_methods::Lookup;
using parser_methods::NameTest;

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;
constexpr int kFastArgs = METH_FASTCALL | METH_KEYWORDS;

// Static: the interpreter keeps pointers to these for the life of the class.
PyMethodDef METHODS[] = {
    {"normalize", c_function(normalize<false>), kFastArgs, "normalize($self, src, config=None, **overrides)\n--\n\n"},
    {"normalize_with_report", c_function(normalize<true>), kFastArgs,
     "normalize_with_report($self, src, config=None, **overrides)\n--\n\n"},
    {"_normalize_with_flatten_groups_guards", c_function(normalize_with_guards), kArgs,
     "_normalize_with_flatten_groups_guards($self, source, config=None, *, guards, **overrides)\n--\n\n"},
    {"transform", c_function(transform<false>), kArgs, "transform($self, document, config=None, **overrides)\n--\n\n"},
    {"transform_with_report", c_function(transform<true>), kArgs,
     "transform_with_report($self, document, config=None, **overrides)\n--\n\n"},
    {"parse", c_function(Shared::parse), kFastArgs, "parse($self, src, config=None, **overrides)\n--\n\n"},
    {"default_parse_config", c_function(Shared::default_parse_config), METH_NOARGS,
     "default_parse_config($self)\n--\n\n"},
    {"default_transform_config", c_function(default_transform_config), METH_NOARGS,
     "default_transform_config($self)\n--\n\n"},
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

PyObject* new_engine(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const Parameter parameters[] = {{"profile", true},
                                               {"packages"},
                                               {"items"},
                                               {"remove_commands"},
                                               {"remove_environments"},
                                               {"remove_delimiter_controls"},
                                               {"disable_rules"},
                                               {"default_parse_config"}};
        PyObject* bound[8];
        bind_arguments("TransformEngine.__new__", args, kwargs, parameters, bound, false);
        const std::string_view profile_name = arg_str(bound[0], "profile", "config");
        ParserArguments arguments = read_parser_arguments(bound + 1);
        const std::vector<std::string> disabled = names_or_none(bound[6], "disable_rules");
        arguments.default_parse_config = optional_parse_config(bound[7], "default_parse_config");
        return nb::cast(build_engine(profile_name, arguments, disabled), nb::rv_policy::move);
    });
}

}  // namespace

void register_transform_engine_class(nb::module_& m) {
    nb::class_<PyTransformEngine> cls(
        m, "TransformEngine",
        "TransformEngine(profile, packages=None, items=None, remove_commands=None, remove_environments=None, "
        "remove_delimiter_controls=None, disable_rules=None, default_parse_config=None)\n--\n\n",
        nb::is_final(), nb::type_slots(constructor_slots<new_engine>));
    add_methods(cls, METHODS);
    cls.attr("__module__") = "builtins";
}

}  // namespace quorvel::python
