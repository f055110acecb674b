// Plain records in which diagnostics, spans, written tokens, node spans and
// the package list leave the core. The Python layer writes each as a dict
// with its fields as keys, in declaration order.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/span.hpp"

namespace quorvel::parse {
struct ParseDiagnostic;
}
namespace quorvel::syntax {
struct SerializationToken;
}
namespace quorvel::syntax::document {
class Document;
}

namespace quorvel::facade {

struct ParseDiagnosticContextDto {
    std::string label;
    parse::Span span;
    friend bool operator==(const ParseDiagnosticContextDto&, const ParseDiagnosticContextDto&) = default;
};

struct ParseDiagnosticDto {
    std::optional<std::string_view> kind;  // kebab-case kind name ("unknown-command")
    std::string message;
    parse::Span span;
    std::vector<std::string> expected;
    std::optional<std::string> found;
    std::vector<ParseDiagnosticContextDto> contexts;
    friend bool operator==(const ParseDiagnosticDto&, const ParseDiagnosticDto&) = default;
};

struct SerializationTokenDto {
    std::string text;
    std::size_t start_byte = 0;
    std::size_t end_byte = 0;
    std::string_view kind;  // "control_sequence", "character", "delimiter", "text", "raw", "error"
    std::string_view mode;  // "math", "text"
    friend bool operator==(const SerializationTokenDto&, const SerializationTokenDto&) = default;
};

struct TokenizedLatexDto {
    std::string latex;
    std::vector<SerializationTokenDto> tokens;
};

struct NodeSpanEntryDto {
    std::string id;  // the node's path from the root ("root", ...)
    parse::Span span;
    friend bool operator==(const NodeSpanEntryDto&, const NodeSpanEntryDto&) = default;
};

struct PackageInfoDto {
    std::string_view name;
    std::size_t commands = 0;
    std::size_t environments = 0;
    friend bool operator==(const PackageInfoDto&, const PackageInfoDto&) = default;
};

// The seven built-in packages in name order, whatever any parser selected.
std::vector<PackageInfoDto> list_packages_to_dto();

// Conversions from types of the parser, the serializer and the document
// layer; each is defined beside the code that produces its input.
std::vector<ParseDiagnosticDto> diagnostics_to_dto(std::vector<parse::ParseDiagnostic>&& diagnostics);
TokenizedLatexDto tokenized_latex_to_dto(std::string&& latex, std::vector<syntax::SerializationToken>&& tokens);
std::vector<NodeSpanEntryDto> node_spans_to_dto(const syntax::document::Document& document);

}  // namespace quorvel::facade
