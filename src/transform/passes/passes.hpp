// The tree passes around the rewrite fixed point: attribute lowering, tree
// finalisation and group flattening. Each changes the tree only through the
// `Ast` operations, frees every node it takes out, counts its changes on the
// recorder, and walks with explicit stacks, so tree height costs no stack.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "transform/config.hpp"
#include "knowledge/knowledge_base.hpp"
#include "transform/report.hpp"

namespace quorvel::transform::passes {

// What attribute lowering did to a tree.
enum class Lowered : std::uint8_t {
    Nothing,     // the tree held nothing to lower
    CountsOnly,  // every command found stays as written: only counted, the tree untouched
    Rebuilt,     // parts of the tree were lowered anew
};

// What lowering and flattening may look up beyond the tree. With the
// knowledge bases, neither hands the token after an item that a command or
// brace they take out kept apart to an open slot of that item.
struct PassSight {
    const knowledge::KnowledgeBase* math = nullptr;
    const knowledge::KnowledgeBase* text = nullptr;
    // Set by flattening when it keeps an empty group only to part two
    // prefixes of one name: a lowering after it joins them.
    bool* parted_prefixes = nullptr;
};

// Rewrites every font, size and style command below `root` into its
// canonical form around maximal runs of content sharing the same values.
// `flattening`: the guards of the flattening that follows, if one does;
// the runs are cut as if the empty groups it takes out had gone.
Lowered lower_attributes(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder,
                         const FlattenGroupsGuards* flattening = nullptr, const PassSight& sight = {});

// Merges runs of adjacent primes in math lists and normalises the spacing of
// text lists and text arguments.
void finalize_ast(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder);

// Merges prime runs and normalises text spacing in the given lists only,
// skipping freed ones: after a tree finalisation, the lists that
// flattening changed are the only ones that can hold anything to finalise.
void finalize_lists(syntax::Ast& ast, std::span<const syntax::ast::NodeId> lists, ReportRecorder& recorder);

// Removes the groups that no guard keeps; whether it removed any. With
// `changed_lists`, appends each list node left standing whose child list it
// changed.
bool flatten_groups(syntax::Ast& ast, syntax::ast::NodeId root, const FlattenGroupsGuards& guards,
                    ReportRecorder& recorder, std::vector<syntax::ast::NodeId>* changed_lists = nullptr,
                    const PassSight& sight = {});

// Every maximal run of tab, line feed, form feed, carriage return, space and
// no-break space becomes one space; nothing is trimmed.
std::string normalize_whitespace(std::string_view text);

}  // namespace quorvel::transform::passes
