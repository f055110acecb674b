#include "python/config_overrides.hpp"

#include <cmath>
#include <cstdint>

#include "python/config_classes.hpp"
#include "python/errors.hpp"
#include "python/exceptions.hpp"

namespace quorvel::python::config {
namespace {

using facade::JsonValue;

// A config object of type T whose fields can be read; one that was never
// constructed is refused as the other classes refuse theirs.
template <class T>
const T& ready_instance(nb::handle config, const char* class_name) {
    if (!nb::inst_ready(config)) raise_error(PyExc_TypeError, std::string(class_name) + " object is not initialized");
    return *nb::inst_ptr<T>(config);
}

// UTF-8 of a str; lone surrogates, which UTF-8 cannot hold, are let through
// the encoder and then replaced byte by byte, three U+FFFD each.
std::string text_of(nb::handle text) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw nb::python_error();
    PyErr_Clear();
    nb::object bytes = nb::steal(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
    if (!bytes.is_valid()) throw nb::python_error();
    nb::object decoded = nb::steal(
        PyUnicode_DecodeUTF8(PyBytes_AsString(bytes.ptr()), PyBytes_Size(bytes.ptr()), "replace"));
    if (!decoded.is_valid()) throw nb::python_error();
    const char* data = PyUnicode_AsUTF8AndSize(decoded.ptr(), &size);
    if (data == nullptr) throw nb::python_error();
    return std::string(data, static_cast<std::size_t>(size));
}

std::string type_name_of(nb::handle value) {
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

class Converter {
public:
    Converter(std::string_view context, PathStack& path) : context_(context), path_(path) {}

    JsonValue convert(nb::handle value, std::size_t depth) {
        PyObject* object = value.ptr();
        if (object == Py_None) return JsonValue(nullptr);
        if (PyBool_Check(object)) return JsonValue(object == Py_True);
        if (PyLong_Check(object)) return integer(object);
        if (PyFloat_Check(object)) {
            const double number = PyFloat_AsDouble(object);
            if (!std::isfinite(number)) raise_invalid_at(context_, path_, "non-finite float");
            return JsonValue(number);
        }
        if (PyUnicode_Check(object)) return JsonValue(text_of(value));
        const bool is_dict = PyDict_Check(object);
        const bool is_list = PyList_Check(object);
        if (!is_dict && !is_list && !PyTuple_Check(object)) {
            raise_invalid_at(context_, path_,
                             "unsupported value of type `" + type_name_of(value) + "`; pass a dict");
        }
        if (depth >= facade::kMaxJsonDepth) {
            raise_config_error("invalid " + std::string(context_) + ": value nested too deeply (more than " +
                               std::to_string(facade::kMaxJsonDepth) + " levels)");
        }
        if (is_dict) return dict(object, depth + 1);
        return sequence(value, is_list, depth + 1);
    }

private:
    JsonValue integer(PyObject* object) {
        int overflow = 0;
        const long long signed_value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (signed_value == -1 && PyErr_Occurred()) throw nb::python_error();
        if (overflow == 0) return JsonValue(static_cast<std::int64_t>(signed_value));
        if (overflow > 0) {
            const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(object);
            if (unsigned_value != static_cast<unsigned long long>(-1) || !PyErr_Occurred()) {
                return JsonValue(static_cast<std::uint64_t>(unsigned_value));
            }
            PyErr_Clear();
        }
        raise_invalid_at(context_, path_, "integer out of range");
    }

    JsonValue dict(PyObject* object, std::size_t depth) {
        std::vector<JsonValue::Member> members;
        members.reserve(static_cast<std::size_t>(PyDict_Size(object)));
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (PyDict_Next(object, &position, &key, &item)) {
            nb::object key_ref = nb::borrow(key);
            nb::object item_ref = nb::borrow(item);
            if (!PyUnicode_Check(key)) raise_invalid_at(context_, path_, "dict keys must be strings");
            std::string name = text_of(key_ref);
            path_.push_back(name);
            JsonValue converted = convert(item_ref, depth);
            path_.pop_back();
            members.emplace_back(std::move(name), std::move(converted));
        }
        return JsonValue::object(std::move(members));
    }

    JsonValue sequence(nb::handle value, bool is_list, std::size_t depth) {
        PyObject* object = value.ptr();
        const Py_ssize_t size = is_list ? PyList_Size(object) : PyTuple_Size(object);
        JsonValue::Array items;
        items.reserve(static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            nb::object item =
                nb::borrow(is_list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i));
            path_.push_back("[" + std::to_string(i) + "]");
            items.push_back(convert(item, depth));
            path_.pop_back();
        }
        return JsonValue(std::move(items));
    }

    std::string_view context_;
    PathStack& path_;
};

constexpr std::string_view kParseConfigRequired =
    "config must be a ParseConfig; pass overrides as keyword arguments (use **overrides for a dict)";
constexpr std::string_view kTransformConfigRequired =
    "config must be a TransformConfig; pass overrides as keyword arguments (use **overrides for a dict)";

// An optional argument that is neither missing nor None.
bool is_given(nb::handle value) { return value.is_valid() && !value.is_none(); }

// Overrides and options come as a dict of keywords: missing, None or empty
// means none were given.
bool is_empty(nb::handle value) {
    return !is_given(value) || (PyDict_Check(value.ptr()) && PyDict_Size(value.ptr()) == 0);
}

}  // namespace

JsonValue py_to_json(nb::handle value, std::string_view context, PathStack& path) {
    return Converter(context, path).convert(value, 0);
}

std::string format_json_path(const PathStack& path) {
    std::string text;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0 && !(path[i].size() > 0 && path[i][0] == '[')) text += '.';
        text += path[i];
    }
    return text;
}

void raise_config_error(std::string_view text) {
    nb::object message = nb::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!message.is_valid()) throw nb::python_error();
    PyErr_SetObject(config_error(), message.ptr());
    throw nb::python_error();
}

void raise_invalid_at(std::string_view context, const PathStack& path, std::string_view message) {
    std::string text = "invalid ";
    text += context;
    text += ": ";
    if (!path.empty()) {
        text += format_json_path(path);
        text += ": ";
    }
    text += message;
    raise_config_error(text);
}

std::vector<parse::ContextItem> context_items_from_python(nb::handle items) {
    if (!items.is_valid() || items.is_none()) return {};
    auto records = from_python<std::vector<facade::input::ContextItemInput>>(items, "items");
    std::vector<parse::ContextItem> converted;
    converted.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto item = facade::context_item_try_from(std::move(records[i]));
        if (!item) raise_config_error("invalid items: [" + std::to_string(i) + "]: " + item.error());
        converted.push_back(std::move(item).value());
    }
    return converted;
}

parse::ParseConfig parse_config_from_python(nb::handle config, nb::handle overrides, parse::ParseConfig base) {
    if (is_given(config)) {
        if (!nb::isinstance<PyParseConfig>(config)) raise_config_error(kParseConfigRequired);
        const PyParseConfig& given = ready_instance<PyParseConfig>(config, "ParseConfig");
        base.reject_unknown = given.reject_unknown;
        base.abort_on_error = given.abort_on_error;
        base.max_group_depth = static_cast<std::size_t>(given.max_group_depth);
    }
    if (is_empty(overrides)) return base;
    return facade::apply_overrides(from_python<facade::input::ParseConfigInput>(overrides, "parse overrides"),
                                   base);
}

transform::TransformOptions complete_transform_config(nb::handle config) {
    if (!nb::isinstance<PyTransformConfig>(config)) raise_config_error(kTransformConfigRequired);
    const PyTransformConfig& given = ready_instance<PyTransformConfig>(config, "TransformConfig");
    transform::TransformOptions options;
    options.lower_attributes.enabled = given.lower_attributes_value().enabled;
    const PyRewriteConfig& rewrite = given.rewrite_value();
    options.rewrite.enabled = rewrite.enabled;
    options.rewrite.max_iterations = static_cast<std::size_t>(rewrite.max_iterations);
    options.finalize_ast.enabled = given.finalize_ast_value().enabled;
    const PyFlattenGroupsConfig& flatten_groups = given.flatten_groups_value();
    options.flatten_groups.enabled = flatten_groups.enabled;
    options.flatten_groups.preserve_rendered_spacing = flatten_groups.preserve_rendered_spacing;
    return options;
}

facade::NormalizeConfig normalize_config_from_python(nb::handle config, nb::handle overrides,
                                                     facade::NormalizeConfig base) {
    if (is_given(config)) base.transform = complete_transform_config(config);
    if (is_empty(overrides)) return base;
    return facade::into_config(from_python<facade::input::NormalizeConfigInput>(overrides, "normalize overrides"),
                               base);
}

transform::TransformOptions transform_config_from_python(nb::handle config, nb::handle overrides,
                                                         transform::TransformOptions base) {
    if (is_given(config)) base = complete_transform_config(config);
    if (is_empty(overrides)) return base;
    return facade::apply_overrides(
        from_python<facade::input::TransformConfigInput>(overrides, "transform overrides"), base);
}

transform::FlattenGroupsGuardsOverlay guards_from_python(nb::handle guards) {
    return facade::to_guards_overlay(from_python<facade::input::FlattenGroupsGuardsInput>(guards, "guards"));
}

facade::input::SerializeOptionsInput serialize_options_from_python(nb::handle options) {
    if (is_empty(options)) return {};
    return from_python<facade::input::SerializeOptionsInput>(options, "serialize options");
}

}  // namespace quorvel::python::config
