// The one-node replacements of the base package, one row per rule.
#pragma once

#include <array>

#include "transform/rules/rename_rule.hpp"

namespace quorvel::transform::base_rules {

using enum knowledge::PackageName;
using R = RenameRule;

inline constexpr std::array BASE_RENAMES{
    // Authoring.
    R::to_char(Base, "ast-to-asterisk", U'*'),
    R::bare(Base, "ge-to-geq", "geq"),
    R::bare(Base, "le-to-leq", "leq"),
    R::bare(Base, "lnot-to-neg", "neg"),
    R::bare(Base, "ne-to-neq", "neq"),
    R::bare(Base, "owns-to-ni", "ni"),
    R::to_node(Base, "prime-to-prime-node", RenameForm::Prime),
    R::to_node(Base, "break-to-linebreak", RenameForm::LineBreak),
    R::to_node(Base, "newline-to-linebreak", RenameForm::LineBreak),
    R::to_node(Base, "control-space-to-tilde", RenameForm::MathActiveSpace),
    R::alias(Base, "gt-space-to-colon-space", ":"),
    R::alias(Base, "hfil-to-hfill", "hfill"),
    R::alias(Base, "hfilll-to-hfill", "hfill"),
    R::bare_repairing_space(Base, "negthinspace-to-neg-comma-space", "!"),
    R::to_node(Base, "space-to-tilde", RenameForm::ActiveSpace),
    R::bare_repairing_space(Base, "thinspace-to-comma-space", ","),
    // Corpus.
    R::alias(Base, "big-class-variants-to-big", "big"),
    R::alias(Base, "bigg-class-variants-to-bigg", "bigg"),
    // Equiv.
    R::alias(Base, "widehat-to-hat", "hat"),
    R::alias(Base, "widetilde-to-tilde", "tilde"),
    // Faithful.
    R::bare(Base, "gets-to-leftarrow", "leftarrow"),
    R::bare(Base, "land-to-wedge", "wedge"),
    R::bare(Base, "lor-to-vee", "vee"),
    R::bare(Base, "rightarrow-to-to", "to"),
    R::bare(Base, "semantic-dots-to-cdots", "cdots"),
    R::bare(Base, "semantic-dots-to-ldots", "ldots"),
};

}  // namespace quorvel::transform::base_rules
