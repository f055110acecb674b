#include "knowledge/packages/bboldx.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace bboldx;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_imathbb, &cmd_imathbfbb, &cmd_itextbb, &cmd_itextbfbb, &cmd_jmathbb, &cmd_jmathbfbb, &cmd_jtextbb,
    &cmd_jtextbfbb, &cmd_mathbb, &cmd_mathbfbb, &cmd_textbb, &cmd_textbfbb,
};

constexpr const BuiltinCharacterSpec* CHARACTERS[] = {
    &chr_bbalpha, &chr_bbbeta, &chr_bbchi, &chr_bbdelta, &chr_bbDelta, &chr_bbdotlessi, &chr_bbdotlessj,
    &chr_bbepsilon, &chr_bbeta, &chr_bbgamma, &chr_bbGamma, &chr_bbiota, &chr_bbkappa, &chr_bblambda,
    &chr_bbLambda, &chr_bbLangle, &chr_bbLbrack, &chr_bbLparen, &chr_bbmu, &chr_bbnu, &chr_bbomega,
    &chr_bbOmega, &chr_bbphi, &chr_bbPhi, &chr_bbpi, &chr_bbPi, &chr_bbpsi, &chr_bbPsi, &chr_bbRangle,
    &chr_bbRbrack, &chr_bbrho, &chr_bbRparen, &chr_bbsigma, &chr_bbSigma, &chr_bbtau, &chr_bbtheta,
    &chr_bbTheta, &chr_bbupsilon, &chr_bbUpsilon, &chr_bbxi, &chr_bbXi, &chr_bbzeta, &chr_bfbbalpha,
    &chr_bfbbbeta, &chr_bfbbchi, &chr_bfbbdelta, &chr_bfbbDelta, &chr_bfbbdotlessi, &chr_bfbbdotlessj,
    &chr_bfbbepsilon, &chr_bfbbeta, &chr_bfbbgamma, &chr_bfbbGamma, &chr_bfbbiota, &chr_bfbbkappa,
    &chr_bfbblambda, &chr_bfbbLambda, &chr_bfbbLangle, &chr_bfbbLbrack, &chr_bfbbLparen, &chr_bfbbmu,
    &chr_bfbbnu, &chr_bfbbomega, &chr_bfbbOmega, &chr_bfbbphi, &chr_bfbbPhi, &chr_bfbbpi, &chr_bfbbPi,
    &chr_bfbbpsi, &chr_bfbbPsi, &chr_bfbbRangle, &chr_bfbbRbrack, &chr_bfbbrho, &chr_bfbbRparen,
    &chr_bfbbsigma, &chr_bfbbSigma, &chr_bfbbtau, &chr_bfbbtheta, &chr_bfbbTheta, &chr_bfbbupsilon,
    &chr_bfbbUpsilon, &chr_bfbbxi, &chr_bfbbXi, &chr_bfbbzeta, &chr_txtbbalpha, &chr_txtbbbeta,
    &chr_txtbbchi, &chr_txtbbdelta, &chr_txtbbDelta, &chr_txtbbdotlessi, &chr_txtbbdotlessj,
    &chr_txtbbepsilon, &chr_txtbbeta, &chr_txtbbgamma, &chr_txtbbGamma, &chr_txtbbiota, &chr_txtbbkappa,
    &chr_txtbblambda, &chr_txtbbLambda, &chr_txtbbLangle, &chr_txtbbLbrack, &chr_txtbbLparen, &chr_txtbbmu,
    &chr_txtbbnu, &chr_txtbbomega, &chr_txtbbOmega, &chr_txtbbphi, &chr_txtbbPhi, &chr_txtbbpi, &chr_txtbbPi,
    &chr_txtbbpsi, &chr_txtbbPsi, &chr_txtbbRangle, &chr_txtbbRbrack, &chr_txtbbrho, &chr_txtbbRparen,
    &chr_txtbbsigma, &chr_txtbbSigma, &chr_txtbbtau, &chr_txtbbtheta, &chr_txtbbTheta, &chr_txtbbupsilon,
    &chr_txtbbUpsilon, &chr_txtbbxi, &chr_txtbbXi, &chr_txtbbzeta, &chr_txtbfbbalpha, &chr_txtbfbbbeta,
    &chr_txtbfbbchi, &chr_txtbfbbdelta, &chr_txtbfbbDelta, &chr_txtbfbbdotlessi, &chr_txtbfbbdotlessj,
    &chr_txtbfbbepsilon, &chr_txtbfbbeta, &chr_txtbfbbgamma, &chr_txtbfbbGamma, &chr_txtbfbbiota,
    &chr_txtbfbbkappa, &chr_txtbfbblambda, &chr_txtbfbbLambda, &chr_txtbfbbLangle, &chr_txtbfbbLbrack,
    &chr_txtbfbbLparen, &chr_txtbfbbmu, &chr_txtbfbbnu, &chr_txtbfbbomega, &chr_txtbfbbOmega,
    &chr_txtbfbbphi, &chr_txtbfbbPhi, &chr_txtbfbbpi, &chr_txtbfbbPi, &chr_txtbfbbpsi, &chr_txtbfbbPsi,
    &chr_txtbfbbRangle, &chr_txtbfbbRbrack, &chr_txtbfbbrho, &chr_txtbfbbRparen, &chr_txtbfbbsigma,
    &chr_txtbfbbSigma, &chr_txtbfbbtau, &chr_txtbfbbtheta, &chr_txtbfbbTheta, &chr_txtbfbbupsilon,
    &chr_txtbfbbUpsilon, &chr_txtbfbbxi, &chr_txtbfbbXi, &chr_txtbfbbzeta,
};

}  // namespace

constexpr BuiltinPackage BBOLDX_PACKAGE{"bboldx", COMMANDS, {}, CHARACTERS, {}};

}  // namespace quorvel::knowledge::builtin
