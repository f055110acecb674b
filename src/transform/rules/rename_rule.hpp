// The rules that replace one command node by one other node without looking
// at its neighbours: alias names to canonical commands, long physics names to
// short ones, spacing commands to the active space. One mechanism, driven by
// rows: a rule's sources are its triggers, so a row only names the result.
#pragma once

#include <cstdint>
#include <string_view>

#include "knowledge/packages.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform {

enum class RenameForm : std::uint8_t {
    Bare,             // no slots allowed; becomes the target command
    Alias,            // slots kept, never checked; becomes the target command
    Char,             // no slots allowed; becomes the character
    ActiveSpace,      // no slots allowed; becomes `~`
    MathActiveSpace,  // as ActiveSpace, in math positions only
    Prime,            // no slots allowed; becomes a prime of count 1
    LineBreak,        // no slots allowed; becomes `\\` without star or option
};

class RenameRule final : public RegisteredRule {
public:
    // `\owns` to `\ni`: the target must be one of the rule's emitted targets.
    static consteval RenameRule bare(knowledge::PackageName package, std::string_view key,
                                     std::string_view target) {
        return RenameRule(package, key, RenameForm::Bare, target, 0, false);
    }
    // As bare, then one leading space of a following text is dropped.
    static consteval RenameRule bare_repairing_space(knowledge::PackageName package, std::string_view key,
                                                     std::string_view target) {
        return RenameRule(package, key, RenameForm::Bare, target, 0, true);
    }
    static consteval RenameRule alias(knowledge::PackageName package, std::string_view key,
                                      std::string_view target) {
        return RenameRule(package, key, RenameForm::Alias, target, 0, false);
    }
    static consteval RenameRule to_char(knowledge::PackageName package, std::string_view key, char32_t ch) {
        return RenameRule(package, key, RenameForm::Char, {}, ch, false);
    }
    static consteval RenameRule to_node(knowledge::PackageName package, std::string_view key, RenameForm form) {
        return RenameRule(package, key, form, {}, 0, false);
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    consteval RenameRule(knowledge::PackageName package, std::string_view key, RenameForm form,
                         std::string_view target, char32_t ch, bool repair)
        : RegisteredRule(rule_index(package, key)), form_(form), target_(target), ch_(ch), repair_(repair) {
        const RuleMeta& m = meta();
        const bool renames = form == RenameForm::Bare || form == RenameForm::Alias;
        if (renames) {
            bool emitted = false;
            for (const RuleTarget& t : m.emits) emitted = emitted || t.name == target;
            if (!emitted) registry_detail::malformed("rename target is not an emitted target");
        } else if (!m.emits.empty()) {
            registry_detail::malformed("a replacement by a node emits no target");
        }
        if (form == RenameForm::Char && ch == 0) registry_detail::malformed("character replacement without a character");
    }

    RenameForm form_;
    std::string_view target_;
    char32_t ch_;
    bool repair_;
};

}  // namespace quorvel::transform
