#include "syntax/node_kind.hpp"

namespace quorvel::syntax {

std::string_view node_kind_name(NodeKind kind) {
    switch (kind) {
        case NodeKind::Root: return "Root";
        case NodeKind::Group: return "Group";
        case NodeKind::Command: return "Command";
        case NodeKind::Infix: return "Infix";
        case NodeKind::Declarative: return "Declarative";
        case NodeKind::Environment: return "Environment";
        case NodeKind::Scripted: return "Scripted";
        case NodeKind::Prime: return "Prime";
        case NodeKind::Text: return "Text";
        case NodeKind::Char: return "Char";
        case NodeKind::ActiveSpace: return "ActiveSpace";
        case NodeKind::Error: return "Error";
    }
    return "Error";
}

}  // namespace quorvel::syntax
