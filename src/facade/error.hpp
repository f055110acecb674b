// How failures look inside the facade, and the flat form in which they cross
// into the Python layer. Every facade operation fails with one `Error`; the
// Python layer raises the exception class its category names.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "parse/context.hpp"
#include "parse/diagnostics.hpp"
#include "parse/parse.hpp"
#include "syntax/document.hpp"
#include "syntax/expected.hpp"
#include "syntax/from_syntax_error.hpp"
#include "syntax/serializer.hpp"
#include "transform/error.hpp"

namespace quorvel::facade {

// The raw outcome of one parse: an optional document and the sorted
// diagnostics.
using ParseResult = parse::ParseOutcome;

// An unknown package or a context item whose argument specification does
// not parse; its text is "unknown package: {}" or "invalid context item {}: {}".
using ParserBuildError = parse::ContextBuildError;

// A parse that built no tree, or a tree holding `Error` nodes.
struct ParseError {
    std::vector<parse::ParseDiagnostic> diagnostics;
    // The partial document; none when the parse built no tree.
    std::unique_ptr<syntax::document::Document> document;

    // "parse produced an incomplete document" / "parse produced no document".
    std::string_view message() const noexcept;
};

// A parse that counts as complete: its document and whatever diagnostics it
// still carries.
struct CompleteParse {
    syntax::document::Document document;
    std::vector<parse::ParseDiagnostic> diagnostics;
};

// Complete exactly when a document exists and its read-only flag (set by
// any `Error` node) is clear.
syntax::Expected<CompleteParse, ParseError> try_into_document(ParseResult&& result);

// The pipeline's errors reduced to their text once, at the facade boundary.
struct TransformBuildError {
    std::string message;
    static TransformBuildError from(const transform::error::TransformBuildError& error) {
        return {error.to_string()};
    }
};

struct TransformError {
    std::string message;
    static TransformError from(const transform::error::TransformError& error) { return {error.to_string()}; }
};

// The one error of every parser and transform-engine facade operation.
class Error {
public:
    struct ProfileRequired {};
    struct UnknownRule {
        std::string name;  // as the caller gave it
    };
    struct DocumentHasParseErrors {};
    struct ForeignDocument {};

    // In the order of the cases' numbers.
    using Value = std::variant<ProfileRequired, UnknownRule, ParserBuildError, TransformBuildError, ParseError,
                               DocumentHasParseErrors, ForeignDocument, TransformError, syntax::SerializeError>;

    template <class Case>
        requires(!std::is_same_v<Case, Error>)
    Error(Case value) : value_(std::move(value)) {}  // NOLINT: implicit, like a variant

    const Value& value() const noexcept { return value_; }
    Value& value() noexcept { return value_; }

    // The fixed text of the case, with its data filled in.
    std::string message() const;

private:
    Value value_;
};

// A failure flattened for the Python layer.
struct BindingErrorParts {
    std::string_view kind;  // "parse", "config", "transform" or "internal"
    std::string message;
    std::vector<parse::ParseDiagnostic> diagnostics;  // only for "parse"
    std::optional<syntax::document::Document> document;
};

BindingErrorParts normalize_error_to_parts(Error&& error);

// A tree that cannot become a document: "parse" with the document layer's
// text, no diagnostics and no document.
BindingErrorParts from_syntax_error_to_dto(const syntax::FromSyntaxError& error);

}  // namespace quorvel::facade
