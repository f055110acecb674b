// Slot checks and builders of the physics fence expansions.
//
// The builders move the content of the source command's arguments into
// what they build (an implicit math group gives its children one by one),
// copying only content written more than once for all but its last use, and
// replace the command, which frees what is left of the old arguments.
// A starred form writes plain delimiters in sequence, its scripts moved to
// the last node; an unstarred one becomes a `\left...\right` group that
// takes the command's place and so keeps its scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::physics_rules {

// Slot checks shared by the families; each gives the message that names the
// command (and the slot's label).
namespace fence_checks {

using Slot = RuleScopedContext::Slot;

// A filled slot holding a Boolean, whatever its form: "{} star slot should
// carry a boolean value".
knowledge::Expected<bool, RuleError> boolean_flag(const Slot& slot, const CommandDisplay& display);

// A Group slot holding math: "{} {} should be a required braced math group" /
// "{} {} should be math content".
knowledge::Expected<syntax::ast::NodeId, RuleError> braced_math_arg(const Slot& slot,
                                                                   const CommandDisplay& display,
                                                                   std::string_view label);

}  // namespace fence_checks

namespace bra_ket::helpers {

using Slot = RuleScopedContext::Slot;

// How a bra-ket form is sized, from its star slots.
enum class Style : std::uint8_t {
    Unstarred = 0,  // sized fences
    Star = 1,       // plain delimiters in sequence
    DoubleStar = 2, // one sized fence with middle bars (three-part forms)
};

// A Mandatory or Group slot holding math: "{} {} should be math content".
knowledge::Expected<syntax::ast::NodeId, RuleError> required_math_arg(const Slot& slot,
                                                                     const CommandDisplay& display,
                                                                     std::string_view label);

// The content of `part`, then a new node holding `value`.
std::vector<syntax::ast::NodeId> fixed_parts(syntax::Ast& ast, syntax::ast::NodeId part,
                                             syntax::ast::Node value);

// Replaces `command` by a new node holding `before` followed by `parts`
// (detached roots), its scripts moved to the last node.
void replace_with_fixed_sequence(syntax::Ast& ast, syntax::ast::NodeId command, syntax::ast::Node before,
                                 std::vector<syntax::ast::NodeId> parts);

// Replaces `command` in place by a `\left...\right` group of the parts' content.
void replace_with_delimited_group(syntax::Ast& ast, syntax::ast::NodeId command,
                                  const syntax::ast::Delimiter& left,
                                  std::span<const syntax::ast::NodeId> parts,
                                  const syntax::ast::Delimiter& right);

// `\langle x \vert` / `\left\langle x \right\vert`.
void replace_with_bra(syntax::Ast& ast, syntax::ast::NodeId command, Style style, syntax::ast::NodeId part);
// `\vert x \rangle` / `\left\vert x \right\rangle`.
void replace_with_ket(syntax::Ast& ast, syntax::ast::NodeId command, Style style, syntax::ast::NodeId part);
// `\langle O \rangle` / `\left\langle O \right\rangle`.
void replace_with_expectation_body(syntax::Ast& ast, syntax::ast::NodeId command, Style style,
                                   syntax::ast::NodeId op);
// The three-part form (state, operator, state).
void replace_with_expectation_state(syntax::Ast& ast, syntax::ast::NodeId command, Style style,
                                    syntax::ast::NodeId op, syntax::ast::NodeId state);
// The three-part form (left, operator, right).
void replace_with_matrix_element(syntax::Ast& ast, syntax::ast::NodeId command, Style style,
                                 syntax::ast::NodeId left, syntax::ast::NodeId op, syntax::ast::NodeId right);
// Star: `\langle p1 \vert p2 ... \rangle`; otherwise
// `\left\langle p1 \middle\vert p2 ... \right\rangle`.
void replace_with_angle_bar_parts(syntax::Ast& ast, syntax::ast::NodeId command, Style style,
                                  std::span<const syntax::ast::NodeId> parts);
// `\left\langle a \right\vert b \left\vert c \right\rangle`.
void replace_with_split_auto_angle_bar_parts(syntax::Ast& ast, syntax::ast::NodeId command,
                                             syntax::ast::NodeId a, syntax::ast::NodeId b,
                                             syntax::ast::NodeId c);

}  // namespace bra_ket::helpers

namespace commutator::helpers {

// `\left open A , B \right close`, or starred `open A , B close`.
void replace_with_binary_bracket_fence(syntax::Ast& ast, syntax::ast::NodeId command, bool starred,
                                       syntax::ast::NodeId left, syntax::ast::NodeId right,
                                       const syntax::ast::Delimiter& open,
                                       const syntax::ast::Delimiter& close);

}  // namespace commutator::helpers

namespace delimiter_shorthand::helpers {

// `\left L x \right R`, or starred `L x R`.
void replace_with_delimiter_shorthand(syntax::Ast& ast, syntax::ast::NodeId command, bool starred,
                                      syntax::ast::NodeId content, const syntax::ast::Delimiter& left,
                                      const syntax::ast::Delimiter& right);

}  // namespace delimiter_shorthand::helpers

namespace eval_fence::helpers {

// `\left L x \vphantom{\int} \right R`; starred, the body is kept whole
// inside `\smash`.
void replace_with_eval_fence(syntax::Ast& ast, syntax::ast::NodeId command, bool starred,
                             syntax::ast::NodeId body, const syntax::ast::Delimiter& left,
                             const syntax::ast::Delimiter& right);

}  // namespace eval_fence::helpers

}  // namespace quorvel::transform::physics_rules
