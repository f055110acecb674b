#include "transform/rules/base/over_family.hpp"

#include <utility>
#include <variant>

#include "transform/buildrel.hpp"
#include "transform/helpers.hpp"
#include "transform/kept_infix.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Delimiter;
using syntax::ast::Node;
using syntax::ast::NodeId;

std::optional<Argument> mandatory(ArgumentValue value) {
    return Argument{ArgumentKind::Mandatory{}, false, std::move(value)};
}

}  // namespace

namespace over_family::helpers {

syntax::ast::ArgumentSlots genfrac_args(Delimiter left, Delimiter right, std::string thickness, std::string style,
                                        NodeId numerator, NodeId denominator) {
    syntax::ast::ArgumentSlots args;
    args.reserve(6);
    args.push_back(mandatory(ArgumentValue::Delimiter{std::move(left)}));
    args.push_back(mandatory(ArgumentValue::Delimiter{std::move(right)}));
    args.push_back(Argument{ArgumentKind::Group{}, false, ArgumentValue::Dimension{std::move(thickness)}});
    args.push_back(mandatory(ArgumentValue::Integer{std::move(style)}));
    args.push_back(mandatory(ArgumentValue::MathContent{numerator}));
    args.push_back(mandatory(ArgumentValue::MathContent{denominator}));
    return args;
}

knowledge::Expected<std::string, RuleError> dimension_arg(const RuleScopedContext::Slot& slot,
                                                          const CommandDisplay& display, std::string_view label) {
    if (!slot || !std::holds_alternative<ArgumentKind::Mandatory>(slot->kind.value))
        return labelled_error(display, label, "should be a mandatory dimension argument");
    const auto* dimension = std::get_if<ArgumentValue::Dimension>(&slot->value.value);
    if (dimension == nullptr) return labelled_error(display, label, "should be a dimension");
    return dimension->value;
}

void replace_infix_with_command(syntax::Ast& ast, NodeId infix, std::string_view name,
                                syntax::ast::ArgumentSlots args) {
    Node command = transform::helpers::prefix_command_node(name, std::move(args));
    if (const auto parent = ast.parent_id(infix)) {
        const auto* group = ast.node(*parent).get_if<Node::Group>();
        if (group != nullptr && group->kind.is_explicit() &&
            group->children.size() == 1 && group->children[0] == infix) {
            // Emptying the infix frees its operands to be adopted by the
            // command that takes the group's place.
            ast.replace_node(infix, Node::Text{});
            ast.replace_node(*parent, std::move(command));
            ast.remove_detached(infix);
            return;
        }
    }
    ast.replace_node(infix, std::move(command));
}

}  // namespace over_family::helpers

RuleResult InfixFractionRule::apply(RuleContext& ctx, NodeId node) const {
    const std::string_view trigger = meta().triggers[0].name;
    const auto infix = ctx.match_infix(node, trigger);
    if (!infix) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command(trigger);
    if (auto error = RuleScopedContext::expect_arg_len(infix->args.size(), slots_, display)) return std::move(*error);

    if (kept_infix::under_bold_symbol(ctx.ast, node)) return RuleOutcome::Skipped;

    const std::string_view target = meta().emits[0].name;
    if (target_ != Target::Genfrac) {
        // `\buildrel a \over b` belongs to the buildrel expansion, which may
        // consume the `\over`.
        if (target_ == Target::Frac && buildrel::closed_by(ctx.ast, node)) return RuleOutcome::Skipped;
        over_family::helpers::replace_infix_with_command(
            ctx.ast, node, target, helpers::infix_prefix_args(infix->left, infix->right, helpers::ContentKind::Math));
        return RuleOutcome::Applied;
    }

    Delimiter left;
    Delimiter right;
    switch (delimiters_) {
        case Delimiters::None: break;
        case Delimiters::Braces:
            left = Delimiter::control("{");
            right = Delimiter::control("}");
            break;
        case Delimiters::Brackets:
            left = Delimiter::character(U'[');
            right = Delimiter::character(U']');
            break;
        case Delimiters::FromSlots: {
            auto read_left = RuleScopedContext::mandatory_delimiter(infix->args[0], display, "left delimiter");
            if (!read_left) return std::move(read_left).error();
            auto read_right = RuleScopedContext::mandatory_delimiter(infix->args[1], display, "right delimiter");
            if (!read_right) return std::move(read_right).error();
            left = std::move(read_left).value();
            right = std::move(read_right).value();
            break;
        }
    }
    std::string thickness(thickness_);
    if (thickness_slot_ != NO_SLOT) {
        auto read = over_family::helpers::dimension_arg(infix->args[thickness_slot_], display, "thickness");
        if (!read) return std::move(read).error();
        thickness = std::move(read).value();
    }
    over_family::helpers::replace_infix_with_command(
        ctx.ast, node, target,
        over_family::helpers::genfrac_args(std::move(left), std::move(right), std::move(thickness), {}, infix->left,
                                           infix->right));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
