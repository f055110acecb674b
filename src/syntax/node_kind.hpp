// The twelve node kinds, shared by the arena tree and the exchange tree.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::syntax {

// Arena order: `Error` comes last here, while the exchange tree's variant
// list has it between `Scripted` and `Prime`. Map between the trees by kind.
enum class NodeKind : std::uint8_t {
    Root,
    Group,
    Command,
    Infix,
    Declarative,
    Environment,
    Scripted,
    Prime,
    Text,
    Char,
    ActiveSpace,
    Error,
};

std::string_view node_kind_name(NodeKind kind);

// Command, Infix, Declarative and Environment: the kinds that carry `args`.
constexpr bool is_command_like(NodeKind kind) {
    return kind == NodeKind::Command || kind == NodeKind::Infix || kind == NodeKind::Declarative ||
           kind == NodeKind::Environment;
}

}  // namespace quorvel::syntax
