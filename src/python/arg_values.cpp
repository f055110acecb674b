#include "python/arg_values.hpp"

#include <utility>

#include "python/errors.hpp"
#include "python/exceptions.hpp"
#include "python/extract.hpp"
#include "python/node.hpp"

namespace quorvel::python {
namespace {

using syntax::ArgValue;
using syntax::ast::Delimiter;

[[noreturn]] void raise_parse(std::string_view message) { raise_error(parse_error(), message); }

// The item under `key`, or null when absent; borrowed from the dict.
PyObject* item(nb::handle dict, const char* key) {
    nb::object name = nb::steal(PyUnicode_FromString(key));
    if (!name.is_valid()) throw nb::python_error();
    PyObject* value = PyDict_GetItemWithError(dict.ptr(), name.ptr());
    if (value == nullptr && PyErr_Occurred()) throw nb::python_error();
    return value;
}

nb::object str_of(std::string_view text) {
    nb::object object = nb::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object.is_valid()) throw nb::python_error();
    return object;
}

void set(nb::dict& dict, const char* key, const nb::object& value) {
    if (PyDict_SetItemString(dict.ptr(), key, value.ptr()) != 0) throw nb::python_error();
}

}  // namespace

ArgValue py_arg_value(nb::handle document, nb::handle value) {
    if (!PyDict_Check(value.ptr())) raise_parse("ArgValue must be a dict");
    const std::string kind = py_string_property(value, "kind");
    if (kind == "Math") return ArgValue::Math{py_arg_node(document, value)};
    if (kind == "Text") return ArgValue::Text{py_arg_node(document, value)};
    if (kind == "CSName") return ArgValue::CSName{py_string_property(value, "value")};
    if (kind == "Dimension") return ArgValue::Dimension{py_string_property(value, "value")};
    if (kind == "Integer") return ArgValue::Integer{py_string_property(value, "value")};
    if (kind == "KeyVal") return ArgValue::KeyVal{py_string_property(value, "value")};
    if (kind == "Column") return ArgValue::Column{py_string_property(value, "value")};
    if (kind == "Boolean") {
        PyObject* flag = item(value, "value");
        if (flag == nullptr) raise_parse("Boolean ArgValue missing `value`");
        return ArgValue::Boolean{to_bool(flag)};
    }
    if (kind == "Delimiter") {
        PyObject* delimiter = item(value, "value");
        if (delimiter == nullptr) raise_parse("Delimiter ArgValue missing `value`");
        return ArgValue::Delimiter{py_delimiter_value(delimiter)};
    }
    raise_parse("unsupported ArgValue kind: " + kind);
}

std::vector<ArgValue> py_arg_values(nb::handle document, const std::vector<nb::object>* values) {
    std::vector<ArgValue> result;
    if (values == nullptr) return result;
    result.reserve(values->size());
    for (const nb::object& value : *values) result.push_back(py_arg_value(document, value));
    return result;
}

syntax::document::NodeId py_arg_node(nb::handle document, nb::handle dict) {
    PyObject* node = item(dict, "node");
    if (node == nullptr) raise_parse("content ArgValue missing `node`");
    const PyNode* handle = as_node(node);
    if (handle == nullptr) {
        raise_error(PyExc_TypeError, "'" + type_qualname(node) + "' object cannot be cast as 'Node'");
    }
    return owned_node_id(*handle, document);
}

Delimiter py_delimiter_value(nb::handle value) {
    if (!PyDict_Check(value.ptr())) raise_parse("Delimiter value must be a dict");
    const std::string kind = py_string_property(value, "kind");
    if (kind == "None") return Delimiter::none();
    if (kind == "Char") return Delimiter::character(parse_char(py_string_property(value, "value")));
    if (kind == "Control") return Delimiter::control(py_string_property(value, "value"));
    raise_parse("unsupported delimiter kind: " + kind);
}

std::string py_string_property(nb::handle dict, const char* key) {
    PyObject* value = item(dict, key);
    if (value == nullptr) raise_parse(std::string("ArgValue missing `") + key + "`");
    return std::string(to_str(value));
}

char32_t parse_char(std::string_view text) {
    if (text.empty()) raise_parse("character cannot be empty");
    // The text is the interpreter's own UTF-8, so the lead byte gives the
    // length of the first scalar.
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (text.size() != length) raise_parse("character must contain exactly one scalar");
    if (length == 1) return lead;
    char32_t c = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    return c;
}

syntax::ContentMode py_content_mode(std::string_view text) {
    if (auto mode = syntax::content_mode_from_name(text)) return *mode;
    raise_error(config_error(), "unsupported content mode: " + std::string(text));
}

nb::dict py_arg_ref(nb::handle document, const syntax::ArgRef& arg) {
    static constexpr const char* kKinds[] = {"Math",      "Text",    "Delimiter", "CSName", "Dimension",
                                             "Integer",   "KeyVal",  "Column",    "Boolean"};
    nb::dict dict;
    set(dict, "kind", str_of(kKinds[arg.value.index()]));
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, syntax::ArgRef::Math> || std::is_same_v<T, syntax::ArgRef::Text>) {
                set(dict, "node", new_node(document, value.node.handle()));
            } else if constexpr (std::is_same_v<T, syntax::ArgRef::Delimiter>) {
                set(dict, "value", py_delimiter_ref(*value.value));
            } else if constexpr (std::is_same_v<T, syntax::ArgRef::Boolean>) {
                set(dict, "value", nb::bool_(value.value));
            } else {
                set(dict, "value", str_of(value.value));
            }
        },
        arg.value);
    return dict;
}

nb::dict py_delimiter_ref(const Delimiter& delimiter) {
    nb::dict dict;
    if (const auto* c = delimiter.as_char()) {
        set(dict, "kind", str_of("Char"));
        nb::object text = nb::steal(PyUnicode_FromOrdinal(static_cast<int>(c->value)));
        if (!text.is_valid()) throw nb::python_error();
        set(dict, "value", text);
    } else if (const auto* control = delimiter.as_control()) {
        set(dict, "kind", str_of("Control"));
        set(dict, "value", str_of(control->name));
    } else {
        set(dict, "kind", str_of("None"));
    }
    return dict;
}

}  // namespace quorvel::python
