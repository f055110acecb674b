// The one-node replacements of the ams package, one row per rule.
#pragma once

#include <array>

#include "transform/rules/rename_rule.hpp"

namespace quorvel::transform::ams_rules {

using enum knowledge::PackageName;
using R = RenameRule;

inline constexpr std::array AMS_RENAMES{
    // Authoring.
    R::bare(Ams, "Doteq-to-doteqdot", "doteqdot"),
    R::bare(Ams, "doublecap-to-Cap", "Cap"),
    R::bare(Ams, "gggtr-to-ggg", "ggg"),
    R::bare(Ams, "llless-to-lll", "lll"),
    R::bare(Ams, "trianglerighteq-to-unrhd", "unrhd"),
    R::bare(Ams, "unlhd-to-trianglelefteq", "trianglelefteq"),
    R::bare(Ams, "vartriangleleft-to-lhd", "lhd"),
    R::bare(Ams, "vartriangleright-to-rhd", "rhd"),
    R::to_node(Ams, "nobreakspace-to-tilde", RenameForm::ActiveSpace),
    // Corpus.
    R::alias(Ams, "dfrac-to-frac", "frac"),
    R::alias(Ams, "tfrac-to-frac", "frac"),
    // Equiv.
    R::alias(Ams, "dbinom-and-tbinom-to-binom", "binom"),
    // Faithful.
    R::bare(Ams, "Join-to-bowtie", "bowtie"),
    R::bare(Ams, "centerdot-to-cdot", "cdot"),
    R::bare(Ams, "doublecup-to-Cup", "Cup"),
    R::bare(Ams, "leadsto-to-rightsquigarrow", "rightsquigarrow"),
    R::bare(Ams, "lozenge-to-Diamond", "Diamond"),
    R::bare(Ams, "restriction-to-upharpoonright", "upharpoonright"),
    R::bare(Ams, "square-to-Box", "Box"),
    R::bare(Ams, "vartriangle-to-bigtriangleup", "bigtriangleup"),
};

}  // namespace quorvel::transform::ams_rules
