// Argument values, delimiters, single characters and content modes in
// their Python form: dicts tagged by "kind" with a "node" or "value" key,
// and plain strings. Reading checks everything before any document is
// touched; a malformed value raises ParseError with its message only.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/document.hpp"
#include "syntax/node_ref.hpp"

namespace quorvel::python {

namespace nb = nanobind;

// ---- From Python ----------------------------------------------------------

// One argument-value dict; `document` is the Document object whose nodes a
// "Math" or "Text" value may name.
syntax::ArgValue py_arg_value(nb::handle document, nb::handle value);

// The elements in order; the first failure is raised. Absent: no values.
std::vector<syntax::ArgValue> py_arg_values(nb::handle document, const std::vector<nb::object>* values);

// The id of the "node" item of a content value, owned by `document`.
syntax::document::NodeId py_arg_node(nb::handle document, nb::handle dict);

syntax::ast::Delimiter py_delimiter_value(nb::handle value);

// The item `key` of a dict as a string: ParseError "ArgValue missing `{key}`"
// when absent, TypeError when not a str.
std::string py_string_property(nb::handle dict, const char* key);

// Exactly one Unicode scalar value.
char32_t parse_char(std::string_view text);

// "math" or "text", else ConfigError "unsupported content mode: {}".
syntax::ContentMode py_content_mode(std::string_view text);

// ---- To Python ------------------------------------------------------------

// The argument value of a slot as a new dict; content values name a new
// Node of `document`.
nb::dict py_arg_ref(nb::handle document, const syntax::ArgRef& arg);

nb::dict py_delimiter_ref(const syntax::ast::Delimiter& delimiter);

}  // namespace quorvel::python
