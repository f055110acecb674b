#include "facade/error.hpp"

#include <type_traits>

namespace quorvel::facade {

std::string_view ParseError::message() const noexcept {
    return document ? "parse produced an incomplete document" : "parse produced no document";
}

syntax::Expected<CompleteParse, ParseError> try_into_document(ParseResult&& result) {
    if (!result.document) return ParseError{std::move(result.diagnostics), nullptr};
    if (result.document->read_only()) {
        return ParseError{std::move(result.diagnostics),
                          std::make_unique<syntax::document::Document>(std::move(*result.document))};
    }
    return CompleteParse{std::move(*result.document), std::move(result.diagnostics)};
}

std::string Error::message() const {
    struct Visitor {
        std::string operator()(const ProfileRequired&) const { return "engine profile is required"; }
        std::string operator()(const UnknownRule& e) const { return "unknown transform rule: " + e.name; }
        std::string operator()(const ParserBuildError& e) const {
            return "failed to build parser: " + e.to_string();
        }
        std::string operator()(const TransformBuildError& e) const {
            return "failed to build transform plan: " + e.message;
        }
        std::string operator()(const ParseError& e) const { return std::string(e.message()); }
        std::string operator()(const DocumentHasParseErrors&) const {
            return "cannot transform a document with parse errors";
        }
        std::string operator()(const ForeignDocument&) const {
            return "document was not parsed by this transform engine";
        }
        std::string operator()(const TransformError& e) const { return e.message; }
        std::string operator()(const syntax::SerializeError& e) const { return std::string(e.message()); }
    };
    return std::visit(Visitor{}, value_);
}

static_assert(std::variant_size_v<Error::Value> == 9);
static_assert(std::is_same_v<std::variant_alternative_t<3, Error::Value>, TransformBuildError>);
static_assert(std::is_same_v<std::variant_alternative_t<4, Error::Value>, ParseError>);
static_assert(std::is_same_v<std::variant_alternative_t<7, Error::Value>, TransformError>);

BindingErrorParts normalize_error_to_parts(Error&& error) {
    BindingErrorParts parts;
    parts.message = error.message();
    switch (error.value().index()) {
        case 0:  // ProfileRequired
        case 1:  // UnknownRule
        case 2:  // ParserBuild
        case 3:  // TransformBuild
            parts.kind = "config";
            break;
        case 4: {  // Parse
            parts.kind = "parse";
            auto& parse_error = std::get<ParseError>(error.value());
            parts.diagnostics = std::move(parse_error.diagnostics);
            if (parse_error.document) parts.document.emplace(std::move(*parse_error.document));
            break;
        }
        case 5:  // DocumentHasParseErrors
        case 6:  // ForeignDocument
        case 7:  // Transform
            parts.kind = "transform";
            break;
        default:  // Serialize
            parts.kind = "internal";
            break;
    }
    return parts;
}

BindingErrorParts from_syntax_error_to_dto(const syntax::FromSyntaxError& error) {
    BindingErrorParts parts;
    parts.kind = "parse";
    parts.message = syntax::message(error);
    return parts;
}

}  // namespace quorvel::facade
