// The token and node-span records, made from the serializer's and the
// document's results.
#include <utility>

#include "facade/records.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/document.hpp"
#include "syntax/serialize_options.hpp"

namespace quorvel::facade {

TokenizedLatexDto tokenized_latex_to_dto(std::string&& latex, std::vector<syntax::SerializationToken>&& tokens) {
    TokenizedLatexDto dto;
    dto.latex = std::move(latex);
    dto.tokens.reserve(tokens.size());
    for (syntax::SerializationToken& token : tokens) {
        dto.tokens.push_back({std::move(token.text), token.start, token.end, syntax::token_kind_name(token.kind),
                              syntax::content_mode_name(token.mode)});
    }
    return dto;
}

std::vector<NodeSpanEntryDto> node_spans_to_dto(const syntax::document::Document& document) {
    std::vector<syntax::NodeSpanEntry> entries = document.node_spans();
    std::vector<NodeSpanEntryDto> dto;
    dto.reserve(entries.size());
    for (syntax::NodeSpanEntry& entry : entries) dto.push_back({std::move(entry.id), entry.span});
    return dto;
}

}  // namespace quorvel::facade
