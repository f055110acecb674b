// What a rule's apply works with: the tree and the two knowledge bases, the
// matching of the node it was offered, and the argument-shape checks whose
// failures name the command and the argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "knowledge/expected.hpp"
#include "knowledge/knowledge_base.hpp"
#include "syntax/ast.hpp"
#include "transform/config.hpp"
#include "transform/rule.hpp"

namespace quorvel::transform {

struct RuleContext {
    syntax::Ast& ast;
    const knowledge::KnowledgeBase& math;
    const knowledge::KnowledgeBase& text;
    // The fixed point's pass, counted from 1; 0 outside a fixed point.
    std::size_t pass = 0;
    // Whether the plan keeps rendering (authoring and faithful).
    bool preserves_rendering = true;
    // A rule that decides on the text its node holds waits until the rules
    // have settled what that node holds: it sets `waiting` and declines
    // unless `settled`. A pass in which no rule applied then offers the
    // nodes that waited once more, `settled`, before it ends.
    bool settled = false;
    bool waiting = false;
    // The guards of the group flattening that runs after the rules; none
    // when it does not run, and every brace group then stays.
    const FlattenGroupsGuards* flattening = nullptr;

    // Whether flattening leaves every brace group around `node` standing:
    // none runs, or `node` lies in an environment body while the guard of
    // that name holds, which keeps all there but a superscript of one prime.
    // A rule that writes on what the braces will part or join asks this
    // rather than guess. Past a depth no parse reaches, they count as
    // standing.
    bool groups_stay(syntax::ast::NodeId node) const;
    // The rules applied so far.
    std::uint64_t edits = 0;

    // What the physics matrix builders found of the bodies they were, or will
    // be, offered: whether each body's text pairs `(` `)` (bit 0) and `[` `]`
    // (bit 1). An entry holds in the pass and while no rule but a builder
    // applied since it was found: a builder keeps its body and adds only a
    // pair around it, which changes the answer for no body.
    struct MatrixBody {
        std::size_t pass = 0;
        std::uint64_t edits = 0;  // `edits - matrix_builds` when found
        std::uint8_t pairs = 0;
    };
    syntax::ast::SecondaryMap<MatrixBody> matrix_bodies{};
    std::uint64_t matrix_builds = 0;

    // Where the items of left operands of `\over` stand, as the line-break
    // rule found them: in which operand, and whether before the item that is
    // or carries the `\buildrel` that `\over` ends. No rule makes a
    // `\buildrel`, so an item keeps its side while it stands in the operand;
    // one not found there has the operand looked through again.
    struct BuildrelSide {
        syntax::ast::NodeId operand;
        bool before = false;
    };
    syntax::ast::SecondaryMap<BuildrelSide> buildrel_sides{};

    // Whether TeX may set a list wider than its natural width, as the
    // line-break rule found it above `at` (`around`: whether `at` sets its
    // items in the list around it). The answer depends on nothing below
    // `at`, so it holds while every rule applied since edited only there:
    // the scheduler tells it each edit (`keep_past`).
    struct StretchAbove {
        syntax::ast::NodeId at;
        bool around = false;
        bool stretches = false;
        std::uint64_t edits = 0;  // the count of edits it holds at
        bool found = false;

        bool holds(std::uint64_t now) const noexcept { return found && edits == now; }
        // After the edit that made the count `now`, recorded in `log` from
        // record `from` on: the answer holds on when every list, slot and
        // value the edit changed is `at`, lies a few levels below it, or
        // stands in no tree (a part built or taken out, whose placing is
        // recorded too).
        void keep_past(const syntax::Ast& ast, const syntax::StepLog& log, std::size_t from, std::uint64_t now);
    };
    StretchAbove stretch_above{};

    // Per list of spacer names, the lists a spacing drop swept in a pass:
    // the pass of the last sweep of each, and where it ended (see
    // spacing_drop::helpers::drop_spacer).
    struct SpacerSweep {
        std::size_t pass = 0;
        std::size_t to = 0;
    };
    struct SpacerSweeps {
        std::vector<std::string_view> names;
        syntax::ast::SecondaryMap<SpacerSweep> last{};
    };
    std::vector<SpacerSweeps> spacer_sweeps{};


    struct CommandMatch {
        std::string_view name;
        std::span<const std::optional<syntax::ast::Argument>> args;
    };
    struct InfixMatch {
        std::string_view name;
        std::span<const std::optional<syntax::ast::Argument>> args;
        syntax::ast::NodeId left;
        syntax::ast::NodeId right;
    };

    // The node's name and slots when it is a Command (an Infix) named
    // `name`, byte for byte; nothing otherwise. A stale id is "Invalid NodeId".
    std::optional<CommandMatch> match_command(syntax::ast::NodeId node, std::string_view name) const;
    std::optional<InfixMatch> match_infix(syntax::ast::NodeId node, std::string_view name) const;
};

// How a check names the command in its message: "\owns", "\begin{pmatrix}".
// Kept as parts so that a check that passes builds no string.
struct CommandDisplay {
    std::string_view prefix;
    std::string_view name;
    std::string_view suffix;

    static constexpr CommandDisplay command(std::string_view name) noexcept { return {"\\", name, ""}; }
    static constexpr CommandDisplay environment(std::string_view name) noexcept {
        return {"\\begin{", name, "}"};
    }

    void append_to(std::string& out) const;
    std::string to_string() const;
};

// "{display} {label} {tail}"; without a label "{display} {tail}". The form
// every slot check's message takes.
RuleError labelled_error(const CommandDisplay& display, std::string_view label, std::string_view tail);

// The argument-shape checks a rule makes on the node it matched. Each either
// passes (giving the slot's content where there is one) or gives the
// RuleError::Message that names the command and the argument. Kinds are
// tested before values.
struct RuleScopedContext {
    using Slot = std::optional<syntax::ast::Argument>;

    // "{} should carry exactly {} explicit argument slots, got {}".
    static std::optional<RuleError> expect_arg_len(std::size_t count, std::size_t expected,
                                                   const CommandDisplay& display);
    static std::optional<RuleError> expect_no_args(std::size_t count, const CommandDisplay& display) {
        return expect_arg_len(count, 0, display);
    }

    // The flag of a leading Star slot holding a Boolean: "{} should carry a
    // star slot" / "{} star slot should carry a boolean value".
    static knowledge::Expected<bool, RuleError> star_flag(const Slot& slot, const CommandDisplay& display);

    // "{} {} should be a mandatory delimiter argument" / "{} {} should be a delimiter".
    static knowledge::Expected<syntax::ast::Delimiter, RuleError> mandatory_delimiter(
        const Slot& slot, const CommandDisplay& display, std::string_view label);

    // "{} {} should be a mandatory math argument" / "{} {} should be math content".
    static knowledge::Expected<syntax::ast::NodeId, RuleError> mandatory_math_content(
        const Slot& slot, const CommandDisplay& display, std::string_view label);

    // The one slot of a single-argument command, as mandatory math content:
    // expect_arg_len(1), then mandatory_math_content.
    static knowledge::Expected<syntax::ast::NodeId, RuleError> single_math_content(
        std::span<const Slot> args, const CommandDisplay& display, std::string_view label);

    // An empty slot gives nothing; "{} optional {} should be a braced group" /
    // "{} optional {} should be math content".
    static knowledge::Expected<std::optional<syntax::ast::NodeId>, RuleError> optional_group_math_content(
        const Slot& slot, const CommandDisplay& display, std::string_view label);
};

namespace macro_support {

// The whole apply of the alias renames: a Command whose name equals one of
// the alias names (tried in order) becomes a known Command named `target`
// holding the same slots, and so the same argument content nodes; any other
// node is Skipped. Never an error.
RuleResult rename_prefix_command_alias(RuleContext& ctx, syntax::ast::NodeId node, std::string_view target,
                                       std::span<const RuleTarget> aliases);

}  // namespace macro_support

}  // namespace quorvel::transform
