// Reading an edit's text back with a parse context, for the edits that put
// a node in place or name a command (syntax::document::Reader).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "parse/context.hpp"
#include "syntax/document.hpp"

namespace quorvel::facade {

// Math is read as a formula; text as the one argument of the context's own
// `\text`, or not at all by a context that has none.
class ContextReader final : public syntax::document::Reader {
public:
    explicit ContextReader(std::shared_ptr<const parse::ParseContext> context);

    std::optional<std::string> complaint(std::string_view text, syntax::ContentMode mode, const syntax::ast::Node& node,
                                         Reading* reading = nullptr) const override;

private:
    std::shared_ptr<const parse::ParseContext> context_;
    bool reads_text_ = false;
};

// The context of the default packages, built once: the reader of documents
// that no parser made.
const std::shared_ptr<const parse::ParseContext>& default_parse_context();

}  // namespace quorvel::facade
