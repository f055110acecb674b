#include "syntax/target_counter.hpp"

#include <utility>
#include <vector>

#include "knowledge/packages.hpp"

namespace quorvel::syntax {

std::string_view logical_name(TargetCounterKind kind) noexcept {
    switch (kind) {
        case TargetCounterKind::Command: return "cmd";
        case TargetCounterKind::Environment: return "env";
        case TargetCounterKind::Character: return "char";
    }
    return "cmd";
}

void TargetCounter::bump(TargetCounterKind kind, ContentMode mode, std::string_view name) {
    const KeyView key{kind, mode, name};
    if (auto it = counts_.find(key); it != counts_.end()) {
        ++it->second;
        return;
    }
    counts_.emplace(TargetCounterKey{kind, mode, std::string(name)}, 1u);
}

std::uint32_t TargetCounter::count(TargetCounterKind kind, ContentMode mode, std::string_view name) const {
    const auto it = counts_.find(KeyView{kind, mode, name});
    return it == counts_.end() ? 0u : it->second;
}

std::unordered_map<std::string, std::uint32_t> TargetCounter::logical_counts() const {
    std::unordered_map<std::string, std::uint32_t> out;
    out.reserve(counts_.size());
    std::string logical;
    for (const auto& [key, count] : counts_) {
        logical.assign(logical_name(key.kind));
        logical += ':';
        logical += key.name;
        out[logical] += count;
    }
    return out;
}

namespace target_counter {

namespace {

constexpr std::uint8_t kIsCommand = 1;
constexpr std::uint8_t kIsCharacter = 2;

// Which names some built-in package defines as a command or a character.
// Built once from the static tables; read-only afterwards.
const std::unordered_map<std::string_view, std::uint8_t>& builtin_names() {
    static const auto names = [] {
        std::unordered_map<std::string_view, std::uint8_t> out;
        for (const knowledge::BuiltinPackage* package : knowledge::ALL_PACKAGES) {
            for (const auto* command : package->commands) out[command->name] |= kIsCommand;
            for (const auto* character : package->characters) out[character->name] |= kIsCharacter;
        }
        return out;
    }();
    return names;
}

using Pending = std::vector<std::pair<const SyntaxNode*, ContentMode>>;

void push_box(Pending& pending, const SyntaxNode::Box& box, ContentMode mode) {
    if (box) pending.emplace_back(box.get(), mode);
}

void push_arguments(Pending& pending, const SyntaxNode::ArgumentSlots& args) {
    for (const auto& slot : args) {
        if (!slot) continue;
        const auto mode = slot->value.content_mode();
        const SyntaxNode* content = slot->value.content();
        if (mode && content) pending.emplace_back(content, *mode);
    }
}

}  // namespace

void count_node(const SyntaxNode& node, TargetCounter& counter) {
    count_node_in_mode(node, ContentMode::Math, counter);
}

void count_node_in_mode(const SyntaxNode& node, ContentMode mode, TargetCounter& counter) {
    Pending pending;
    pending.emplace_back(&node, mode);
    while (!pending.empty()) {
        const auto [current, current_mode] = pending.back();
        pending.pop_back();
        const auto& value = current->value;
        if (const auto* root = std::get_if<SyntaxNode::Root>(&value)) {
            for (const SyntaxNode& child : root->children) pending.emplace_back(&child, root->mode);
        } else if (const auto* group = std::get_if<SyntaxNode::Group>(&value)) {
            for (const SyntaxNode& child : group->children) pending.emplace_back(&child, group->mode);
        } else if (const auto* command = std::get_if<SyntaxNode::Command>(&value)) {
            // `\&` is a literal character, held as a command only to part it
            // from the cell separator `&`.
            if (command->name != "&") bump_cmd_like(counter, current_mode, command->name);
            push_arguments(pending, command->args);
        } else if (const auto* declarative = std::get_if<SyntaxNode::Declarative>(&value)) {
            bump_cmd_like(counter, current_mode, declarative->name);
            push_arguments(pending, declarative->args);
        } else if (const auto* infix = std::get_if<SyntaxNode::Infix>(&value)) {
            bump_cmd_like(counter, current_mode, infix->name);
            push_arguments(pending, infix->args);
            push_box(pending, infix->left, current_mode);
            push_box(pending, infix->right, current_mode);
        } else if (const auto* environment = std::get_if<SyntaxNode::Environment>(&value)) {
            counter.bump(TargetCounterKind::Environment, current_mode, environment->name);
            push_arguments(pending, environment->args);
            push_box(pending, environment->body, current_mode);
        } else if (const auto* scripted = std::get_if<SyntaxNode::Scripted>(&value)) {
            push_box(pending, scripted->base, current_mode);
            push_box(pending, scripted->subscript, current_mode);
            push_box(pending, scripted->superscript, current_mode);
        }
        // Error, Prime, Text, Char and ActiveSpace hold no target.
    }
}

void bump_cmd_like(TargetCounter& counter, ContentMode mode, std::string_view name) {
    const auto& names = builtin_names();
    const auto it = names.find(name);
    const std::uint8_t flags = it == names.end() ? 0 : it->second;
    if (flags & kIsCharacter) {
        if (flags & kIsCommand) counter.bump(TargetCounterKind::Command, mode, name);
        counter.bump(TargetCounterKind::Character, mode, name);
    } else {
        counter.bump(TargetCounterKind::Command, mode, name);
    }
}

}  // namespace target_counter

}  // namespace quorvel::syntax
