#include "parse/diagnostics.hpp"

#include <algorithm>
#include <iterator>

#include "parse/diagnostics_supplements.hpp"
#include "parse/utf8.hpp"

namespace quorvel::parse {

namespace {

using Kind = ParseDiagnosticKind;

constexpr std::string_view kCommentTruncated = "Unescaped % starts a comment inside this argument";

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool pattern_is_math_shift(const Pattern& p) {
    return p.kind() == Pattern::Kind::Token && p.token_kind() == TokenKind::MathShift;
}

std::optional<Kind> infer_kind(const ParseFailure& failure) {
    const auto* ef = std::get_if<ExpectedFound>(&failure.reason);
    if (ef == nullptr) return std::nullopt;
    const bool expects_dollar = std::any_of(ef->expected.begin(), ef->expected.end(), pattern_is_math_shift);
    if (expects_dollar) {
        if (!ef->found || ef->found->kind() == TokenKind::MathShift || ef->found->is_control("text")) {
            return Kind::UnclosedInlineMath;
        }
    }
    if (ef->found && ef->found->kind() == TokenKind::MathShift) return Kind::UnexpectedMathShift;
    if (ef->found && ef->found->is_control("begin")) return Kind::UnknownEnvironment;
    if (!ef->expected.empty()) return Kind::RawExpectedFound;
    return std::nullopt;
}

bool comment_truncates(SourceFacts& facts, const ParseDiagnostic& d) {
    const std::string_view source = facts.source();
    auto check = [&](std::size_t start, std::size_t end) {
        return start < end && is_char_boundary(source, start) && is_char_boundary(source, end) &&
               facts.has_unescaped_percent_in(start, end);
    };
    if (check(d.span.start, d.span.end)) return true;
    if (check(d.span.start, source.size())) return true;
    for (const auto& c : d.contexts) {
        if (c.label.find("argument") != std::string::npos && check(c.span.start, c.span.end)) return true;
    }
    return false;
}

// The rewrites the source allows; true when a rewrite at the end of input (or
// of an environment in the wrong mode) took place.
bool supplement_diagnostic_contexts(SourceFacts& facts, std::optional<Kind> kind, bool at_end_of_input,
                                    ParseDiagnostic& d) {
    const std::string_view source = facts.source();
    if (kind == Kind::UnclosedInlineMath) {
        d.message = "found '$' expected something else, or end of input";
        if (std::find(d.expected.begin(), d.expected.end(), "'$'") != d.expected.end()) {
            d.expected = {"something else", "end of input"};
        }
        if (d.found == "\\text" && d.span.end < source.size()) {
            std::size_t i = d.span.end;
            while (i < source.size() && (source[i] == ' ' || source[i] == '\t' || source[i] == '\n')) ++i;
            if (i + 1 < source.size() && source[i] == '{' && source[i + 1] == '$') {
                d.span = Span{i + 1, i + 2};
                d.found = "$";
            }
        }
    }
    if (kind == Kind::UnexpectedMathShift) {
        const bool currency = d.span.end < source.size() && is_ascii_digit(source[d.span.end]);
        d.message = currency ? "Unexpected $ inside a math formula; it looks like a currency marker"
                             : "Unexpected $ inside a math formula";
        d.expected.clear();
        d.found = "$";
    }
    if (kind == Kind::RawExpectedFound &&
        (d.message == "Missing subscript content" || d.message == "Missing superscript content")) {
        d.expected = {d.message.substr(std::string_view("Missing ").size())};
        if (!d.found && d.span.start < d.span.end) {
            if (const auto text = slice_chars(source, d.span)) d.found = std::string(*text);
        }
    }
    if (!at_end_of_input) return false;

    // Unclosed command argument.
    for (const auto& c : d.contexts) {
        if (c.label.find("argument") == std::string::npos) continue;
        const std::size_t at = c.span.start;
        if (at <= source.size() && is_char_boundary(source, at)) {
            const std::size_t slash = source.substr(0, at).rfind('\\');
            if (slash != std::string_view::npos) {
                std::size_t end = slash + 1;
                while (end < at && is_ascii_letter(source[end])) ++end;
                if (end > slash + 1) {
                    d.message = "Command \\" + std::string(source.substr(slash + 1, end - slash - 1)) +
                                " has an unclosed argument";
                    return true;
                }
            }
        }
        break;
    }
    // Unclosed environment.
    if (const std::string* open = facts.innermost_open_environment()) {
        d.message = "Environment " + *open + " missing closing \\end{" + *open + "}";
        return true;
    }
    // Unclosed group.
    if (d.span.start > 0 && d.span.start <= source.size() && source[d.span.start - 1] == '{') {
        d.message = "Unclosed { ... } group";
        return true;
    }
    return false;
}

}  // namespace

bool has_unescaped_percent(std::string_view text) {
    bool escaped = false;
    for (char c : text) {
        if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '%') {
            return true;
        }
    }
    return false;
}

std::uint8_t diagnostic_rank(std::optional<ParseDiagnosticKind> kind, bool supplemented, bool at_end_of_input) {
    if (!kind) return 2;
    switch (*kind) {
        case Kind::AmbiguousInfix:
        case Kind::CommentTruncatedArgument:
        case Kind::LeftRightDelimiter:
        case Kind::UnexpectedMathShift:
        case Kind::UnknownCommand:
        case Kind::UnknownEnvironment: return 1;
        case Kind::RawExpectedFound: return at_end_of_input && !supplemented ? 3 : 4;
        default: return 2;
    }
}

RankedDiagnostic convert_diagnostic(const ParseContext& context, std::string_view source,
                                    const TokenStream& tokens, ParseFailure failure) {
    SourceFacts facts(context, source, tokens);
    return convert_diagnostic(facts, std::move(failure));
}

RankedDiagnostic convert_diagnostic(SourceFacts& facts, ParseFailure failure) {
    ParseDiagnostic d;
    d.span = failure.direct ? failure.direct->span : failure.span;
    d.contexts.reserve(failure.context.size());
    for (const auto& entry : failure.context) d.contexts.push_back({entry.label.display(), entry.span});
    const bool at_end = failure.at_end_of_input();
    if (auto* custom = std::get_if<Custom>(&failure.reason)) {
        d.message = std::move(custom->message);
    } else {
        const auto& ef = std::get<ExpectedFound>(failure.reason);
        d.expected.reserve(ef.expected.size());
        for (const auto& p : ef.expected) d.expected.push_back(p.display());
        if (ef.found) d.found = ef.found->display();
        d.message = reason_display(failure.reason);
    }
    std::optional<Kind> kind = failure.kind ? failure.kind : infer_kind(failure);

    const bool message_says_unclosed = d.message == "unclosed delimited argument" ||
                                       d.message == "unclosed bracket argument" ||
                                       d.message == "unclosed brace argument";
    if ((!kind || kind == Kind::ArgumentValidation || kind == Kind::RawExpectedFound) &&
        (message_says_unclosed || at_end) && comment_truncates(facts, d)) {
        kind = Kind::CommentTruncatedArgument;
        d.message = std::string(kCommentTruncated);
        d.expected.clear();
        d.found.reset();
    }
    if (failure.direct && failure.direct->environment_names) {
        const auto& names = *failure.direct->environment_names;
        d.expected = {"\\end{" + names.expected + "}"};
        d.found = "\\end{" + names.found + "}";
    }
    bool supplemented = supplement_diagnostic_contexts(facts, kind, at_end, d);
    if (supplement_from_source(facts, kind, failure.direct.has_value(), d)) supplemented = true;
    d.kind = kind;
    return RankedDiagnostic{diagnostic_rank(kind, supplemented, at_end), std::move(d)};
}

}  // namespace quorvel::parse
