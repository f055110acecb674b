#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::parse {

// The kind of a parse diagnostic, chosen by the rule that failed or inferred when
// the failure is converted. Declaration order is part of the interface.
// `FormulaTooComplex` (a formula whose reading passed the parse's work bound)
// comes last, so the kinds before it keep their numbers.
enum class ParseDiagnosticKind : std::uint8_t {
    AmbiguousInfix,
    ArgumentValidation,
    CommandModeError,
    CommentTruncatedArgument,
    EnvironmentModeError,
    EnvironmentNameMismatch,
    LeftRightDelimiter,
    MaxGroupDepthExceeded,
    RawExpectedFound,
    TextScriptError,
    UnclosedInlineMath,
    UnexpectedMathShift,
    UnknownCommand,
    UnknownEnvironment,
    FormulaTooComplex,
};

inline constexpr std::size_t kParseDiagnosticKindCount = 15;

// The kebab-case name under which a kind is written.
constexpr std::string_view parse_diagnostic_kind_name(ParseDiagnosticKind kind) {
    switch (kind) {
        case ParseDiagnosticKind::AmbiguousInfix: return "ambiguous-infix";
        case ParseDiagnosticKind::ArgumentValidation: return "argument-validation";
        case ParseDiagnosticKind::CommandModeError: return "command-mode-error";
        case ParseDiagnosticKind::CommentTruncatedArgument: return "comment-truncated-argument";
        case ParseDiagnosticKind::EnvironmentModeError: return "environment-mode-error";
        case ParseDiagnosticKind::EnvironmentNameMismatch: return "environment-name-mismatch";
        case ParseDiagnosticKind::LeftRightDelimiter: return "left-right-delimiter";
        case ParseDiagnosticKind::MaxGroupDepthExceeded: return "max-group-depth-exceeded";
        case ParseDiagnosticKind::RawExpectedFound: return "raw-expected-found";
        case ParseDiagnosticKind::TextScriptError: return "text-script-error";
        case ParseDiagnosticKind::UnclosedInlineMath: return "unclosed-inline-math";
        case ParseDiagnosticKind::UnexpectedMathShift: return "unexpected-math-shift";
        case ParseDiagnosticKind::UnknownCommand: return "unknown-command";
        case ParseDiagnosticKind::UnknownEnvironment: return "unknown-environment";
        case ParseDiagnosticKind::FormulaTooComplex: return "formula-too-complex";
    }
    return "";
}

}  // namespace quorvel::parse
