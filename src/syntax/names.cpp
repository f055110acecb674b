#include "syntax/names.hpp"

#include <string>

#include "parse/lexer.hpp"

namespace quorvel::syntax {

using parse::Lexer;
using parse::TokenKind;

bool is_control_sequence_name(std::string_view name) {
    std::string text(1, '\\');
    text.append(name);
    Lexer lexer(text);
    const Lexer::Step step = lexer.next();
    return step.status == Lexer::Status::Token && step.token.kind() == TokenKind::ControlSeq &&
           lexer.offset() == text.size();
}

bool is_environment_name(std::string_view name) {
    // Lexed with the closing brace, which a trailing backslash would take.
    std::string text(name);
    text.push_back('}');
    Lexer lexer(text);
    std::size_t end = 0;
    for (;;) {
        const Lexer::Step step = lexer.next();
        // A gap between tokens is a comment the lexer skipped.
        if (step.status != Lexer::Status::Token || step.span.start != end) return false;
        const TokenKind kind = step.token.kind();
        if (kind == TokenKind::RBrace) return end != 0 && end == name.size();
        if (kind != TokenKind::Char && kind != TokenKind::Star) return false;
        end = step.span.end;
    }
}

}  // namespace quorvel::syntax
