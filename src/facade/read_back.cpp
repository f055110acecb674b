#include "facade/read_back.hpp"

#include <utility>

#include "facade/parser.hpp"
#include "parse/parse.hpp"
#include "syntax/internal_error.hpp"

namespace quorvel::facade {

ContextReader::ContextReader(std::shared_ptr<const parse::ParseContext> context) : context_(std::move(context)) {
    // `\text{...}` reads its one argument as text content.
    const auto* text = context_->lookup_command("text", syntax::ContentMode::Math);
    reads_text_ = text != nullptr && text->args.size() == 1 && text->args[0].required &&
                  text->args[0].kind == knowledge::ArgValueKind::TextContent;
}

namespace {

std::string_view kind_words(syntax::NodeKind kind) {
    switch (kind) {
        case syntax::NodeKind::Command: return "a command";
        case syntax::NodeKind::Infix: return "an infix";
        case syntax::NodeKind::Declarative: return "a declarative";
        case syntax::NodeKind::Environment: return "an environment";
        case syntax::NodeKind::Char: return "a character";
        case syntax::NodeKind::Text: return "a text";
        case syntax::NodeKind::Group: return "a group";
        default: return "another node";
    }
}

using syntax::ast::ArgumentKind;

// A brace group, whichever name the reader gives it.
bool braced(const ArgumentKind& kind) {
    return std::holds_alternative<ArgumentKind::Mandatory>(kind.value) ||
           std::holds_alternative<ArgumentKind::Group>(kind.value);
}

// Whether a slot read back holds what the node's slot holds: a slot
// written alike (a brace group may be either kind for content) with a
// value of the same kind (content of the same mode, the same scalar).
bool same_slot(const syntax::ast::Argument& read, const syntax::ast::Argument& own) {
    if (read.value.is_content() || own.value.is_content()) {
        const bool alike = read.kind == own.kind || (braced(read.kind) && braced(own.kind));
        return alike && read.value.content_mode() == own.value.content_mode();
    }
    return read.kind == own.kind && read.value == own.value;
}

// Whether a slot is written as nothing: empty, or a star left off.
bool unwritten(const std::optional<syntax::ast::Argument>& slot) {
    if (!slot) return true;
    const auto* star = std::get_if<syntax::ast::ArgumentValue::Boolean>(&slot->value.value);
    return star != nullptr && !star->value;
}

// Lines the slots read back up with the node's own: each slot the node
// writes, in order, with the empty slots the reader gives around them (the
// node's own unwritten ones are dropped). False when a written slot of
// either is left over.
bool line_up(const syntax::ast::ArgumentSlots& read, const syntax::ast::ArgumentSlots& own,
             syntax::document::Reader::Slots& slots) {
    using Reader = syntax::document::Reader;
    slots.clear();
    std::size_t next = 0;
    const auto skip_unwritten = [&] {
        while (next < own.size() && unwritten(own[next])) ++next;
    };
    for (const auto& slot : read) {
        skip_unwritten();
        if (!slot) {
            slots.push_back({Reader::kAbsent, ArgumentKind{}, false});
        } else if (unwritten(slot)) {
            slots.push_back({Reader::kStarOff, ArgumentKind::Star{}, false});
        } else if (next < own.size() && same_slot(*slot, *own[next])) {
            const bool operator_name =
                std::holds_alternative<syntax::ast::ArgumentValue::OperatorNameContent>(slot->value.value);
            slots.push_back({static_cast<std::int32_t>(next++), slot->kind, operator_name});
        } else {
            return false;
        }
    }
    skip_unwritten();
    return next == own.size();
}

}  // namespace

std::optional<std::string> ContextReader::complaint(std::string_view text, syntax::ContentMode mode,
                                                    const syntax::ast::Node& node, Reading* reading) const {
    std::string wrapped;
    if (mode == syntax::ContentMode::Text) {
        if (!reads_text_) return std::nullopt;
        wrapped.reserve(text.size() + 7);
        wrapped.append("\\text{").append(text).append("}");
        text = wrapped;
    }
    parse::ParseOutcome outcome = parse::parse_source(*context_, text, parse::ParseConfig{});
    if (!outcome.diagnostics.empty()) return "with an error: " + outcome.diagnostics.front().message;
    if (!outcome.document) return std::string("as nothing");
    // The first item read: the formula's, or the `\text` argument's.
    const syntax::document::Document& read = *outcome.document;
    const syntax::Ast& ast = read.ast();
    std::optional<syntax::ast::NodeId> first;
    const auto first_of = [&](syntax::ast::NodeId list) -> std::optional<syntax::ast::NodeId> {
        const auto children = ast.children(list);
        if (children.empty()) return std::nullopt;
        return children.front();
    };
    first = first_of(ast.root());
    if (first && mode == syntax::ContentMode::Text) {
        const auto* args = ast.node(*first).args();
        const auto content = args != nullptr && !args->empty() && (*args)[0] ? (*args)[0]->value.content() : std::nullopt;
        first = content && ast.node(*content).is<syntax::ast::Node::Group>() ? first_of(*content) : content;
    }
    if (!first) return std::string("as nothing");
    const syntax::ast::Node& got = ast.node(*first);
    const syntax::ast::Name* name = node.name();
    // How a message names what was read: `\frac`, `\begin{matrix}`.
    const auto written = [&got] {
        const std::string_view read_name(*got.name());
        return got.is<syntax::ast::Node::Environment>() ? "\\begin{" + std::string(read_name) + "}"
                                                        : "\\" + std::string(read_name);
    };
    if (got.kind() != node.kind() || (name != nullptr && *got.name() != *name)) {
        std::string out = "as ";
        out += kind_words(got.kind());
        if (got.name() != nullptr) out += " " + written();
        return out;
    }
    if (reading == nullptr || node.args() == nullptr) return std::nullopt;
    // A command or environment the packages do not know reads back with no
    // slots, whatever it was written with.
    if (const auto* command = got.get_if<syntax::ast::Node::Command>()) reading->known = command->known;
    if (const auto* env = got.get_if<syntax::ast::Node::Environment>()) {
        reading->known = env->known;
        if (const auto* body = ast.node(env->body).get_if<syntax::ast::Node::Group>()) reading->body_mode = body->mode;
    }
    if (reading->known && !line_up(*got.args(), *node.args(), reading->slots)) {
        return "as " + written() + " with other arguments";
    }
    return std::nullopt;
}

const std::shared_ptr<const parse::ParseContext>& default_parse_context() {
    static const std::shared_ptr<const parse::ParseContext> context = [] {
        auto parser = ParserBuilder().build();
        if (!parser) syntax::internal_error("the default packages must build a parser");
        return parser->shared_context();
    }();
    return context;
}

}  // namespace quorvel::facade
