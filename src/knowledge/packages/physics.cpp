#include "knowledge/packages/physics.hpp"

namespace quorvel::knowledge::builtin {

namespace {

using namespace physics;

constexpr const BuiltinCommandSpec* COMMANDS[] = {
    &cmd_acosecant, &cmd_acosine, &cmd_acotangent, &cmd_arccosecant, &cmd_arccosine, &cmd_arccotangent,
    &cmd_arcsecant, &cmd_arcsine, &cmd_arctangent, &cmd_asecant, &cmd_asine, &cmd_atangent, &cmd_cosecant,
    &cmd_cosine, &cmd_cotangent, &cmd_det, &cmd_determinant, &cmd_diffd, &cmd_erf, &cmd_exp,
    &cmd_exponential, &cmd_hypcosecant, &cmd_hypcosine, &cmd_hypcotangent, &cmd_hypsecant, &cmd_hypsine,
    &cmd_hyptangent, &cmd_logarithm, &cmd_naturallogarithm, &cmd_Pr, &cmd_principalvalue, &cmd_Probability,
    &cmd_pv, &cmd_PV, &cmd_qc, &cmd_qcomma, &cmd_rank, &cmd_Residue, &cmd_secant, &cmd_sine, &cmd_tangent,
    &cmd_tr, &cmd_Tr, &cmd_trace, &cmd_Trace, &cmd_vnabla, &cmd_acos, &cmd_acot, &cmd_acsc, &cmd_arccos,
    &cmd_arccot, &cmd_arccsc, &cmd_arcsec, &cmd_arcsin, &cmd_arctan, &cmd_asec, &cmd_asin, &cmd_atan,
    &cmd_cos, &cmd_cosh, &cmd_cot, &cmd_coth, &cmd_csc, &cmd_csch, &cmd_ln, &cmd_log, &cmd_sec, &cmd_sech,
    &cmd_sin, &cmd_sinh, &cmd_tan, &cmd_tanh, &cmd_qall, &cmd_qand, &cmd_qas, &cmd_qassume, &cmd_qcc,
    &cmd_qelse, &cmd_qeven, &cmd_qfor, &cmd_qgiven, &cmd_qif, &cmd_qin, &cmd_qinteger, &cmd_qlet, &cmd_qodd,
    &cmd_qor, &cmd_qotherwise, &cmd_qsince, &cmd_qthen, &cmd_qunless, &cmd_qusing, &cmd_bmqty,
    &cmd_matrixdeterminant, &cmd_mdet, &cmd_paulimatrix, &cmd_pmat, &cmd_pmqty, &cmd_Pmqty, &cmd_sbmqty,
    &cmd_smdet, &cmd_spmqty, &cmd_sPmqty, &cmd_svmqty, &cmd_vmqty, &cmd_bra, &cmd_ket, &cmd_va, &cmd_vb,
    &cmd_vectorarrow, &cmd_vectorbold, &cmd_vectorunit, &cmd_vu, &cmd_abs, &cmd_absolutevalue, &cmd_bqty,
    &cmd_Bqty, &cmd_norm, &cmd_order, &cmd_pqty, &cmd_vqty, &cmd_curl, &cmd_div, &cmd_divergence, &cmd_grad,
    &cmd_gradient, &cmd_laplacian, &cmd_Res, &cmd_braket, &cmd_dyad, &cmd_innerproduct, &cmd_ip, &cmd_ketbra,
    &cmd_op, &cmd_outerproduct, &cmd_acomm, &cmd_anticommutator, &cmd_comm, &cmd_commutator, &cmd_pb,
    &cmd_poissonbracket, &cmd_derivative, &cmd_dv, &cmd_fderivative, &cmd_fdv, &cmd_functionalderivative,
    &cmd_admat, &cmd_antidiagonalmatrix, &cmd_diagonalmatrix, &cmd_dmat, &cmd_dd, &cmd_differential,
    &cmd_var, &cmd_variation, &cmd_matrixquantity, &cmd_mqty, &cmd_smallmatrixquantity, &cmd_smqty,
    &cmd_partialderivative, &cmd_pderivative, &cmd_pdv, &cmd_ev, &cmd_expectationvalue, &cmd_expval,
    &cmd_matrixel, &cmd_matrixelement, &cmd_mel, &cmd_qty, &cmd_quantity, &cmd_Im, &cmd_Re,
    &cmd_identitymatrix, &cmd_imat, &cmd_zeromatrix, &cmd_zmat, &cmd_eval, &cmd_evaluated, &cmd_xmat,
    &cmd_xmatrix, &cmd_qq, &cmd_qqtext, &cmd_flatfrac,
};

constexpr const BuiltinEnvironmentSpec* ENVIRONMENTS[] = {
    &env_smallmatrix,
};

constexpr const BuiltinCharacterSpec* CHARACTERS[] = {
    &chr_cp, &chr_cross, &chr_crossproduct, &chr_divisionsymbol, &chr_divsymbol, &chr_dotproduct, &chr_vdot,
    &chr_gradientnabla, &chr_imaginary, &chr_real,
};

}  // namespace

constexpr BuiltinPackage PHYSICS_PACKAGE{"physics", COMMANDS, ENVIRONMENTS, CHARACTERS, {}};

}  // namespace quorvel::knowledge::builtin
