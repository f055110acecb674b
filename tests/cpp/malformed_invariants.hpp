// What every parse of malformed input must keep: a document holds an Error
// node exactly when it comes with a diagnostic, the written text keeps every
// character of the source, and written text parses back to itself; and what
// every parse must keep: the same outcome when failures are kept from the
// start, spans inside the source, no diagnostic twice. Shared by the property
// tests, the census program, the fuzz replay and the parse fuzzer.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/context.hpp"
#include "parse/parse.hpp"

namespace quorvel::invariants {

inline bool is_layout_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The characters that carry content: white space, braces and comments are
// layout the writer may change. `\&` in math is the character `&`, written
// bare, so the backslash of every `\&` is left out; the space of a control
// space is white space. Inline math keeps no record of its delimiters and is
// written in dollars, so `\(` and `\)` count as `$`.
inline std::array<std::size_t, 256> content_characters(std::string_view text) {
    std::array<std::size_t, 256> counts{};
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < n) {
            const char next = text[i + 1];
            if (next == '(' || next == ')') {
                ++counts[static_cast<unsigned char>('$')];
                ++i;
                continue;
            }
            if (next != '&') ++counts[static_cast<unsigned char>(c)];
            if (!is_layout_space(next)) ++counts[static_cast<unsigned char>(next)];
            ++i;
            continue;
        }
        if (c == '%') {
            while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
            continue;
        }
        if (is_layout_space(c) || c == '{' || c == '}') continue;
        ++counts[static_cast<unsigned char>(c)];
    }
    return counts;
}

// True when a `^` and a prime `'` meet, with only layout between them:
// white space, braces and comments. A control symbol such as `\%` or `\'`
// is neither.
inline bool caret_meets_prime(std::string_view text) {
    char last = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            while (i + 1 < text.size() && text[i + 1] != '\n' && text[i + 1] != '\r') ++i;
            continue;
        }
        if (is_layout_space(c) || c == '{' || c == '}') continue;
        if ((c == '\'' && last == '^') || (c == '^' && last == '\'')) return true;
        last = c;
        if (c == '\\' && i + 1 < text.size()) ++i;
    }
    return false;
}

// The text with its characters as the lexer reads them: U+2019 is a prime,
// written back `'`, and U+00A0 is white space. The character after a
// backslash names a control symbol and stays as it is.
inline std::string lexer_characters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i++];
            do out += text[i++];
            while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80);
        } else if (text.substr(i, 3) == "\xE2\x80\x99") {
            out += '\'';
            i += 3;
        } else if (text.substr(i, 2) == "\xC2\xA0") {
            out += ' ';
            i += 2;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The number of empty pairs `{}` and `[]`, layout between them allowed.
inline std::size_t empty_pairs(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
            continue;
        }
        if (text[i] != '{' && text[i] != '[') continue;
        const char close = text[i] == '{' ? '}' : ']';
        std::size_t j = i + 1;
        while (j < text.size()) {
            if (is_layout_space(text[j])) ++j;
            else if (text[j] == '%') {
                while (j < text.size() && text[j] != '\n' && text[j] != '\r') ++j;
            } else break;
        }
        if (j < text.size() && text[j] == close) ++count;
    }
    return count;
}

// The written text keeps the source's content characters. An empty
// delimiter argument (`\genfrac{}{}`) is the null delimiter, written `.`,
// so the written text may hold a `.` more for each empty pair. Where a
// caret meets a prime on either side, the writer moved, dropped or added
// carets on purpose (`x^'` is written `x'`, `x'^'` is `x''`, two prime runs
// one run), so carets are not counted there.
inline bool same_content(std::string_view source_bytes, std::string_view written_bytes) {
    const std::string source = lexer_characters(source_bytes);
    const std::string written = lexer_characters(written_bytes);
    auto a = content_characters(source);
    auto b = content_characters(written);
    const auto dot = static_cast<unsigned char>('.');
    if (b[dot] > a[dot] && b[dot] - a[dot] <= empty_pairs(source)) b[dot] = a[dot];
    if (a == b) return true;
    if (!caret_meets_prime(source) && !caret_meets_prime(written)) return false;
    a[static_cast<unsigned char>('^')] = b[static_cast<unsigned char>('^')] = 0;
    return a == b;
}

enum class Violation {
    None,
    DiagnosticWithoutError,  // a diagnostic, a document, and no Error node in it
    ErrorWithoutDiagnostic,  // an Error node and no diagnostic
    LostCharacters,          // the written text lacks or adds content characters
    NotFixedPoint,           // writing the reparse of the written text changes it
};

struct Check {
    Violation violation = Violation::None;
    std::string written;   // the document's text, when it has one
    std::string rewritten; // the text written from the reparse, for a fixed-point fault
};

inline bool has_error_node(const syntax::document::Document& document) { return document.has_errors(); }

// True when every diagnostic starts inside the span of an Error node, its
// end included: a fault at the end of the skipped text, such as the end of
// input or the token after a script marker, starts there.
inline bool diagnostics_in_error_nodes(const parse::ParseOutcome& outcome) {
    if (!outcome.document) return true;
    std::vector<parse::Span> errors;
    for (const auto& node : outcome.document->errors()) {
        if (const auto span = node.span()) errors.push_back(*span);
    }
    for (const auto& d : outcome.diagnostics) {
        const bool inside = std::any_of(errors.begin(), errors.end(), [&](const parse::Span& e) {
            return e.start <= d.span.start && d.span.start <= e.end;
        });
        if (!inside) return false;
    }
    return true;
}

// Checks one parse of `source`: (a), then (b), then (c), reporting the first
// that fails. A parse without a document, or a document the writer refuses,
// has nothing to check.
inline Check check_parse(const parse::ParseContext& context, std::string_view source,
                         const parse::ParseOutcome& outcome, const parse::ParseConfig& config = {}) {
    Check check;
    if (!outcome.document) return check;
    if (outcome.diagnostics.empty() == has_error_node(*outcome.document)) {
        check.violation =
            outcome.diagnostics.empty() ? Violation::ErrorWithoutDiagnostic : Violation::DiagnosticWithoutError;
        return check;
    }
    auto written = outcome.document->to_latex();
    if (!written) return check;
    check.written = std::move(*written);
    if (!same_content(source, check.written)) {
        check.violation = Violation::LostCharacters;
        return check;
    }
    const auto again = parse::parse_source(context, check.written, config);
    if (again.document) {
        auto rewritten = again.document->to_latex();
        if (rewritten) check.rewritten = std::move(*rewritten);
    }
    if (check.rewritten != check.written) check.violation = Violation::NotFixedPoint;
    return check;
}

// Unescaped `{` not closed within the text.
inline bool leaves_brace_open(std::string_view text) {
    std::size_t open = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') ++i;
        else if (text[i] == '{') ++open;
        else if (text[i] == '}' && open > 0) --open;
    }
    return open > 0;
}

// Known written texts that do not read back the same, for reasons outside
// the grammar's recovery: an Error snippet that leaves a brace open (an
// argument whose `{` is never closed) takes the closing brace the writer puts
// around a script operand.
inline bool known_unstable(std::string_view, const parse::ParseOutcome& outcome, const Check& check) {
    if (check.violation != Violation::NotFixedPoint) return false;
    for (const auto& error : outcome.document->errors()) {
        const auto parts = error.error_parts();
        if (parts && leaves_brace_open(parts->second)) return true;
    }
    return false;
}

// True when `span` lies within a source of `length` bytes, start before end.
inline bool span_in_range(parse::Span span, std::size_t length) {
    return span.start <= span.end && span.end <= length;
}

// True when every diagnostic span, every context span and every node span
// of the outcome is in range.
inline bool spans_in_range(std::string_view source, const parse::ParseOutcome& outcome) {
    for (const auto& d : outcome.diagnostics) {
        if (!span_in_range(d.span, source.size())) return false;
        for (const auto& c : d.contexts)
            if (!span_in_range(c.span, source.size())) return false;
    }
    if (outcome.document) {
        try {
            for (const auto& entry : outcome.document->node_spans())
                if (!span_in_range(entry.span, source.size())) return false;
        } catch (const std::bad_alloc&) {
            // Node spans spell each node's whole path: a document thousands of
            // levels deep passes their budget, a documented refusal.
        }
    }
    return true;
}

// Whether a diagnostic is reported twice: a parse reports each once.
inline bool repeats_a_diagnostic(const std::vector<parse::ParseDiagnostic>& diagnostics) {
    for (std::size_t i = 0; i < diagnostics.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (diagnostics[i] == diagnostics[j]) return true;
        }
    }
    return false;
}

// A digest of the document's node spans, or none when the call refuses: each
// entry spells its whole path, so a tree thousands of levels deep passes the
// budget of path text and gets std::bad_alloc, as documented. Digests keep
// one list alive at a time; two lists near the budget would pass the
// fuzzer's memory limit.
inline std::optional<std::size_t> node_spans_digest(const syntax::document::Document& document) {
    try {
        std::size_t digest = 0;
        for (const auto& entry : document.node_spans()) {
            digest = (digest * 1000003) ^ std::hash<std::string>{}(entry.id);
            digest = (digest * 1000003) ^ entry.span.start;
            digest = (digest * 1000003) ^ entry.span.end;
        }
        return digest;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

enum class Fault {
    None,
    KeptDiffers,         // keeping failures from the start changes the outcome
    SpanOutOfRange,      // a diagnostic, context or node span outside the source
    RepeatedDiagnostic,  // a diagnostic reported twice
    Unsound,             // check_parse found `check.violation`
};

struct Finding {
    Fault fault = Fault::None;
    parse::ParseConfig config;
    Check check;
};

inline const char* to_string(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::KeptDiffers: return "kept differs";
        case Fault::SpanOutOfRange: return "span out of range";
        case Fault::RepeatedDiagnostic: return "repeated diagnostic";
        case Fault::Unsound: return "unsound";
    }
    return "?";
}

inline const char* to_string(Violation violation) {
    switch (violation) {
        case Violation::None: return "none";
        case Violation::DiagnosticWithoutError: return "diagnostic without Error node";
        case Violation::ErrorWithoutDiagnostic: return "Error node without diagnostic";
        case Violation::LostCharacters: return "lost characters";
        case Violation::NotFixedPoint: return "not a fixed point";
    }
    return "?";
}

// Every check of one parse of `source` under `config`: the first that fails.
inline Finding check_source(const parse::ParseContext& context, std::string_view source,
                            const parse::ParseConfig& config) {
    Finding finding;
    finding.config = config;
    const auto outcome = parse::parse_source(context, source, config);
    const auto kept = parse::parse_source_keeping_failures(context, source, config);
    const bool same = outcome.diagnostics == kept.diagnostics &&
                      outcome.document.has_value() == kept.document.has_value() &&
                      (!outcome.document || (outcome.document->to_syntax() == kept.document->to_syntax() &&
                                             node_spans_digest(*outcome.document) == node_spans_digest(*kept.document)));
    if (!same) finding.fault = Fault::KeptDiffers;
    else if (!spans_in_range(source, outcome)) finding.fault = Fault::SpanOutOfRange;
    else if (repeats_a_diagnostic(outcome.diagnostics)) finding.fault = Fault::RepeatedDiagnostic;
    if (finding.fault != Fault::None || !outcome.document) return finding;
    finding.check = check_parse(context, source, outcome, config);
    if (finding.check.violation != Violation::None && !known_unstable(source, outcome, finding.check))
        finding.fault = Fault::Unsound;
    return finding;
}

// The same under each combination of reject_unknown and abort_on_error.
inline Finding check_source(const parse::ParseContext& context, std::string_view source) {
    for (int settings = 0; settings < 4; ++settings) {
        parse::ParseConfig config;
        config.reject_unknown = (settings & 1) != 0;
        config.abort_on_error = (settings & 2) != 0;
        Finding finding = check_source(context, source, config);
        if (finding.fault != Fault::None) return finding;
    }
    return {};
}

}  // namespace quorvel::invariants
