// The one-node replacements of the physics package, one row per rule.
#pragma once

#include <array>

#include "transform/rules/rename_rule.hpp"

namespace quorvel::transform::physics_rules {

using enum knowledge::PackageName;
using R = RenameRule;

inline constexpr std::array PHYSICS_RENAMES{
    // Authoring.
    R::bare(Physics, "divsymbol-to-divisionsymbol", "divisionsymbol"),
    R::bare(Physics, "dotproduct-to-vdot", "vdot"),
    R::alias(Physics, "derivative-to-dv", "dv"),
    R::alias(Physics, "functional-derivative-to-fdv", "fdv"),
    R::alias(Physics, "partial-derivative-to-pdv", "pdv"),
    R::alias(Physics, "antidiagonalmatrix-to-admat", "admat"),
    R::alias(Physics, "diagonalmatrix-to-dmat", "dmat"),
    R::alias(Physics, "matrixdeterminant-to-mdet", "mdet"),
    R::alias(Physics, "cosine-to-cos", "cos"),
    R::alias(Physics, "naturallogarithm-to-ln", "ln"),
    R::alias(Physics, "probability-to-pr", "Pr"),
    R::alias(Physics, "sine-to-sin", "sin"),
    R::alias(Physics, "absolutevalue-to-abs", "abs"),
    R::alias(Physics, "evaluated-to-eval", "eval"),
    R::alias(Physics, "quantity-to-qty", "qty"),
    R::alias(Physics, "trace-capital-to-Tr", "Tr"),
    R::alias(Physics, "trace-to-tr", "tr"),
    R::alias(Physics, "vectorarrow-to-va", "va"),
    R::alias(Physics, "vectorbold-to-vb", "vb"),
    R::alias(Physics, "vectorunit-to-vu", "vu"),
    // Faithful.
    R::bare(Physics, "cross-aliases-to-times", "times"),
};

}  // namespace quorvel::transform::physics_rules
