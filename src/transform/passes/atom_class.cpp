#include "transform/passes/atom_class.hpp"

#include <algorithm>
#include <array>

#include "transform/passes/tree_support.hpp"

namespace quorvel::transform::passes::support {

using syntax::ast::Node;
using syntax::ast::NodeId;

namespace {

struct NamedClass {
    std::string_view name;
    AtomClass atom;
};

// Commands of TeX and LaTeX with the class of the atom they make, in name
// order: letters, symbols, accents, roots and fractions that are ordinary
// (LaTeX sets a fraction in a group of its own), and the binary operators,
// relations, punctuation and large operators, which no math font command
// changes.
constexpr std::array<NamedClass, 230> COMMAND_CLASSES{{
    {"Delta", AtomClass::Ord}, {"Downarrow", AtomClass::Rel}, {"Gamma", AtomClass::Ord},
    {"Lambda", AtomClass::Ord}, {"Leftarrow", AtomClass::Rel}, {"Leftrightarrow", AtomClass::Rel},
    {"Longleftarrow", AtomClass::Rel}, {"Longleftrightarrow", AtomClass::Rel}, {"Longrightarrow", AtomClass::Rel},
    {"Omega", AtomClass::Ord}, {"Phi", AtomClass::Ord}, {"Pi", AtomClass::Ord},
    {"Pr", AtomClass::Op}, {"Psi", AtomClass::Ord}, {"Rightarrow", AtomClass::Rel},
    {"Sigma", AtomClass::Ord}, {"Theta", AtomClass::Ord}, {"Uparrow", AtomClass::Rel},
    {"Updownarrow", AtomClass::Rel}, {"Upsilon", AtomClass::Ord}, {"Xi", AtomClass::Ord},
    {"acute", AtomClass::Ord}, {"alpha", AtomClass::Ord}, {"amalg", AtomClass::Bin},
    {"approx", AtomClass::Rel}, {"approxeq", AtomClass::Rel}, {"arccos", AtomClass::Op},
    {"arcsin", AtomClass::Op}, {"arctan", AtomClass::Op}, {"arg", AtomClass::Op},
    {"ast", AtomClass::Bin}, {"asymp", AtomClass::Rel}, {"bar", AtomClass::Ord},
    {"beta", AtomClass::Ord}, {"bigcap", AtomClass::Op}, {"bigcirc", AtomClass::Bin},
    {"bigcup", AtomClass::Op}, {"bigodot", AtomClass::Op}, {"bigoplus", AtomClass::Op},
    {"bigotimes", AtomClass::Op}, {"bigsqcup", AtomClass::Op}, {"bigtriangledown", AtomClass::Bin},
    {"bigtriangleup", AtomClass::Bin}, {"biguplus", AtomClass::Op}, {"bigvee", AtomClass::Op},
    {"bigwedge", AtomClass::Op}, {"binom", AtomClass::Ord}, {"bowtie", AtomClass::Rel},
    {"boxminus", AtomClass::Bin}, {"boxplus", AtomClass::Bin}, {"boxtimes", AtomClass::Bin},
    {"breve", AtomClass::Ord}, {"bullet", AtomClass::Bin}, {"cap", AtomClass::Bin},
    {"cdot", AtomClass::Bin}, {"cfrac", AtomClass::Ord}, {"check", AtomClass::Ord},
    {"chi", AtomClass::Ord}, {"circ", AtomClass::Bin}, {"colon", AtomClass::Punct},
    {"cong", AtomClass::Rel}, {"coprod", AtomClass::Op}, {"cos", AtomClass::Op},
    {"cosh", AtomClass::Op}, {"cot", AtomClass::Op}, {"coth", AtomClass::Op},
    {"csc", AtomClass::Op}, {"cup", AtomClass::Bin}, {"dagger", AtomClass::Bin},
    {"dashv", AtomClass::Rel}, {"dbinom", AtomClass::Ord}, {"ddagger", AtomClass::Bin},
    {"ddot", AtomClass::Ord}, {"deg", AtomClass::Op}, {"delta", AtomClass::Ord},
    {"det", AtomClass::Op}, {"dfrac", AtomClass::Ord}, {"diamond", AtomClass::Bin},
    {"dim", AtomClass::Op}, {"div", AtomClass::Bin}, {"dot", AtomClass::Ord},
    {"doteq", AtomClass::Rel}, {"dotplus", AtomClass::Bin}, {"downarrow", AtomClass::Rel},
    {"ell", AtomClass::Ord}, {"emptyset", AtomClass::Ord}, {"epsilon", AtomClass::Ord},
    {"equiv", AtomClass::Rel}, {"eta", AtomClass::Ord}, {"exp", AtomClass::Op},
    {"frac", AtomClass::Ord}, {"frown", AtomClass::Rel}, {"gamma", AtomClass::Ord},
    {"gcd", AtomClass::Op}, {"ge", AtomClass::Rel}, {"genfrac", AtomClass::Ord},
    {"geq", AtomClass::Rel}, {"geqslant", AtomClass::Rel}, {"gets", AtomClass::Rel},
    {"gg", AtomClass::Rel}, {"grave", AtomClass::Ord}, {"gtrsim", AtomClass::Rel},
    {"hat", AtomClass::Ord}, {"hbar", AtomClass::Ord}, {"hom", AtomClass::Op},
    {"hookleftarrow", AtomClass::Rel}, {"hookrightarrow", AtomClass::Rel}, {"iff", AtomClass::Rel},
    {"iiint", AtomClass::Op}, {"iint", AtomClass::Op}, {"impliedby", AtomClass::Rel},
    {"implies", AtomClass::Rel}, {"in", AtomClass::Rel}, {"inf", AtomClass::Op},
    {"infty", AtomClass::Ord}, {"int", AtomClass::Op}, {"iota", AtomClass::Ord},
    {"kappa", AtomClass::Ord}, {"ker", AtomClass::Op}, {"lambda", AtomClass::Ord},
    {"land", AtomClass::Bin}, {"le", AtomClass::Rel}, {"leftarrow", AtomClass::Rel},
    {"leftrightarrow", AtomClass::Rel}, {"leq", AtomClass::Rel}, {"leqslant", AtomClass::Rel},
    {"lesssim", AtomClass::Rel}, {"lg", AtomClass::Op}, {"lim", AtomClass::Op},
    {"liminf", AtomClass::Op}, {"limsup", AtomClass::Op}, {"ll", AtomClass::Rel},
    {"ln", AtomClass::Op}, {"log", AtomClass::Op}, {"longleftarrow", AtomClass::Rel},
    {"longleftrightarrow", AtomClass::Rel}, {"longmapsto", AtomClass::Rel}, {"longrightarrow", AtomClass::Rel},
    {"lor", AtomClass::Bin}, {"ltimes", AtomClass::Bin}, {"mapsto", AtomClass::Rel},
    {"mathring", AtomClass::Ord}, {"max", AtomClass::Op}, {"mid", AtomClass::Rel},
    {"min", AtomClass::Op}, {"models", AtomClass::Rel}, {"mp", AtomClass::Bin},
    {"mu", AtomClass::Ord}, {"nabla", AtomClass::Ord}, {"ne", AtomClass::Rel},
    {"neq", AtomClass::Rel}, {"ni", AtomClass::Rel}, {"notin", AtomClass::Rel},
    {"nu", AtomClass::Ord}, {"odot", AtomClass::Bin}, {"oint", AtomClass::Op},
    {"omega", AtomClass::Ord}, {"ominus", AtomClass::Bin}, {"oplus", AtomClass::Bin},
    {"oslash", AtomClass::Bin}, {"otimes", AtomClass::Bin}, {"overline", AtomClass::Ord},
    {"parallel", AtomClass::Rel}, {"partial", AtomClass::Ord}, {"perp", AtomClass::Rel},
    {"phi", AtomClass::Ord}, {"pi", AtomClass::Ord}, {"pm", AtomClass::Bin},
    {"prec", AtomClass::Rel}, {"preceq", AtomClass::Rel}, {"prod", AtomClass::Op},
    {"propto", AtomClass::Rel}, {"psi", AtomClass::Ord}, {"rho", AtomClass::Ord},
    {"rightarrow", AtomClass::Rel}, {"rtimes", AtomClass::Bin}, {"sec", AtomClass::Op},
    {"setminus", AtomClass::Bin}, {"sigma", AtomClass::Ord}, {"sim", AtomClass::Rel},
    {"simeq", AtomClass::Rel}, {"sin", AtomClass::Op}, {"sinh", AtomClass::Op},
    {"smile", AtomClass::Rel}, {"sqcap", AtomClass::Bin}, {"sqcup", AtomClass::Bin},
    {"sqrt", AtomClass::Ord}, {"sqsubseteq", AtomClass::Rel}, {"sqsupseteq", AtomClass::Rel},
    {"star", AtomClass::Bin}, {"subset", AtomClass::Rel}, {"subseteq", AtomClass::Rel},
    {"succ", AtomClass::Rel}, {"succeq", AtomClass::Rel}, {"sum", AtomClass::Op},
    {"sup", AtomClass::Op}, {"supset", AtomClass::Rel}, {"supseteq", AtomClass::Rel},
    {"tan", AtomClass::Op}, {"tanh", AtomClass::Op}, {"tau", AtomClass::Ord},
    {"tbinom", AtomClass::Ord}, {"text", AtomClass::Ord}, {"tfrac", AtomClass::Ord},
    {"theta", AtomClass::Ord}, {"tilde", AtomClass::Ord}, {"times", AtomClass::Bin},
    {"to", AtomClass::Rel}, {"triangleleft", AtomClass::Bin}, {"triangleright", AtomClass::Bin},
    {"underline", AtomClass::Ord}, {"uparrow", AtomClass::Rel}, {"updownarrow", AtomClass::Rel},
    {"uplus", AtomClass::Bin}, {"upsilon", AtomClass::Ord}, {"varepsilon", AtomClass::Ord},
    {"varphi", AtomClass::Ord}, {"varpi", AtomClass::Ord}, {"varrho", AtomClass::Ord},
    {"varsigma", AtomClass::Ord}, {"vartheta", AtomClass::Ord}, {"vdash", AtomClass::Rel},
    {"vec", AtomClass::Ord}, {"vee", AtomClass::Bin}, {"wedge", AtomClass::Bin},
    {"widehat", AtomClass::Ord}, {"widetilde", AtomClass::Ord}, {"wr", AtomClass::Bin},
    {"xi", AtomClass::Ord}, {"zeta", AtomClass::Ord},
}};

}  // namespace

AtomClass atom_class(const syntax::Ast& ast, NodeId id, bool (*ordinary_command)(std::string_view)) {
    // A script leaves its base's class; a base that is scripted itself is
    // written in braces, an ordinary atom.
    if (const auto* scripted = ast.node(id).get_if<Node::Scripted>()) {
        if (ast.node(scripted->base).is<Node::Scripted>()) return AtomClass::Ord;
        id = scripted->base;
    }
    const Node& node = ast.node(id);
    if (const auto* c = node.get_if<Node::Char>()) {
        const char32_t v = c->value;
        if ((v >= U'a' && v <= U'z') || (v >= U'A' && v <= U'Z') || (v >= U'0' && v <= U'9')) return AtomClass::Ord;
        switch (v) {
            case U'.': case U'/': case U'|': return AtomClass::Ord;
            case U'(': case U'[': return AtomClass::Open;
            case U')': case U']': case U'!': case U'?': return AtomClass::Close;
            case U'*': case U'+': case U'-': case U'\u00B7': return AtomClass::Bin;
            case U':': case U'<': case U'=': case U'>': return AtomClass::Rel;
            case U',': case U';': return AtomClass::Punct;
            default: return AtomClass::Other;
        }
    }
    if (const auto* group = node.get_if<Node::Group>()) {
        if (group->kind.as_delimited() != nullptr) return AtomClass::Inner;  // \left ... \right
        // A list member or script base that is an implicit group is
        // written in braces, and read back as a brace group.
        const bool braced = group->kind.is_explicit() || group->kind.is_implicit();
        return braced || group->children.empty() ? AtomClass::Ord : AtomClass::Other;
    }
    if (node.is<Node::Prime>()) return AtomClass::Ord;
    if (const auto* environment = node.get_if<Node::Environment>()) {
        // Delimited matrices are set between \left and \right; the
        // other alignments of math are centred boxes, ordinary.
        if (is_fenced_environment(node)) return AtomClass::Inner;
        const std::string_view name(environment->name);
        for (std::string_view ord : {"matrix", "array", "aligned", "gathered", "smallmatrix", "subarray", "split"})
            if (name == ord) return AtomClass::Ord;
        return AtomClass::Other;
    }
    if (const auto* command = node.get_if<Node::Command>()) {
        if (ordinary_command(command->name)) return AtomClass::Ord;
        const std::string_view name(command->name);
        const auto* found = std::lower_bound(COMMAND_CLASSES.begin(), COMMAND_CLASSES.end(), name,
                                             [](const NamedClass& row, std::string_view n) { return row.name < n; });
        if (found != COMMAND_CLASSES.end() && found->name == name) return found->atom;
    }
    return AtomClass::Other;
}

}  // namespace quorvel::transform::passes::support
