// Commands that only affect layout are dropped at the cleanup levels: wide
// spaces (`\quad`, `\qquad`, `\enspace`) at equiv, line-break hints and struts
// at corpus. A dropped node that fills a slot leaves an empty group behind,
// and in text a dropped space stays one ordinary space.
#pragma once

#include <span>
#include <string_view>

#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform {
struct RuleContext;
}

namespace quorvel::transform::base_rules {

namespace spacing_drop::helpers {

// Drops a spacer (a known Command without slots named in `names`): in a math
// list every such spacer of the list goes, but for the first of a run whose
// going would let the next token fill an open slot of the item before it; in
// a text list each run of them becomes one space; in a math slot it leaves an
// empty group, in a text slot one space. In a fixed point a list is swept
// whole once a pass: a spacer offered after that in the same pass sweeps
// from where the last sweep ended to the end of its run. False, with the
// tree untouched, where the node's position is not handled (no parent, an
// environment body, a slot that holds no content) or the list held no
// spacer that may go. The names are kept for the context's lifetime: pass
// literals.
bool drop_spacer(RuleContext& ctx, syntax::ast::NodeId node, std::span<const std::string_view> names);

// Whether taking `node` out of its list would let the token after it fill
// an open slot of the item before it (`\qty\strut(`, `\sin\strut[`), or,
// out of a script base, the brace of the empty group it leaves there.
bool removal_exposes_next(const RuleContext& ctx, syntax::ast::NodeId node);

// Removes a group child; anywhere else the node becomes the empty math
// group, since a slot must stay filled. Its former children are freed.
void remove_or_leave_empty_group(syntax::Ast& ast, syntax::ast::NodeId node);

}  // namespace spacing_drop::helpers

// `\quad`, `\qquad`, `\enspace`: its one trigger, dropped through drop_spacer.
class WideSpaceDropRule final : public RegisteredRule {
public:
    consteval explicit WideSpaceDropRule(std::string_view key)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)) {
        if (meta().triggers.size() != 1) registry_detail::malformed("a spacing drop has one trigger");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

// Line-break hints and struts: removed from a list, an empty math group in
// any other place, whatever the mode.
class LayoutHintDropRule final : public RegisteredRule {
public:
    consteval explicit LayoutHintDropRule(std::string_view key)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)) {
        if (meta().triggers.size() != 1) registry_detail::malformed("a layout hint drop has one trigger");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr WideSpaceDropRule ENSPACE_DROP("enspace-drop");
inline constexpr WideSpaceDropRule QQUAD_DROP("qquad-drop");
inline constexpr WideSpaceDropRule QUAD_DROP("quad-drop");

inline constexpr LayoutHintDropRule ALLOWBREAK_DROP("allowbreak-drop");
inline constexpr LayoutHintDropRule BADBREAK_DROP("badbreak-drop");
inline constexpr LayoutHintDropRule GOODBREAK_DROP("goodbreak-drop");
inline constexpr LayoutHintDropRule MATHSTRUT_DROP("mathstrut-drop");
inline constexpr LayoutHintDropRule NOBREAK_DROP("nobreak-drop");
inline constexpr LayoutHintDropRule STRUT_DROP("strut-drop");

}  // namespace quorvel::transform::base_rules
