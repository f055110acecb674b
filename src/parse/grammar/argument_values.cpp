// Scalar argument values: delimiters, dimensions, integers, key-value lists,
// column templates and control-sequence names.
#include <variant>

#include "parse/column_template.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse/utf8.hpp"
#include "syntax/internal_error.hpp"

namespace quorvel::parse::grammar {

using knowledge::ArgValueKind;
using syntax::syntax_node::ArgumentValue;
using syntax::syntax_node::Delimiter;

namespace {

// The Unicode White_Space property.
constexpr bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

const SpannedToken* plain_char(const Input& in) noexcept {
    const SpannedToken* t = in.peek();
    return t != nullptr && t->token.kind() == TokenKind::Char ? t : nullptr;
}

bool is_digit(char32_t c) noexcept { return c >= U'0' && c <= U'9'; }
bool is_ascii_letter(char32_t c) noexcept { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool is_sign(char32_t c) noexcept { return c == U'+' || c == U'-'; }

// Appends the plain characters from the cursor on that `accept` takes, at
// most `most` of them; answers how many it took.
template <class Accept>
std::size_t take_chars(Input& in, std::string& out, Accept&& accept, std::size_t most = std::string::npos) {
    std::size_t n = 0;
    for (const SpannedToken* t = nullptr; n < most && (t = plain_char(in)) != nullptr && accept(t->token.ch()); ++n) {
        out.push_back(static_cast<char>(t->token.ch()));
        in.bump();
    }
    return n;
}

// Reads the whole of a window as white space, one value and white space.
template <class Value>
bool whole_window(Grammar& g, const Collected& c, Value&& value) {
    const Input& outer = g.input();
    const auto tokens = window_tokens(outer, c);
    Input in(tokens.data(), tokens.size(), c.start, c.end);
    in.set_quiet(outer.quiet());
    in.skip_whitespace();
    if (!value(in)) return false;
    in.skip_whitespace();
    return in.at_end();
}

}  // namespace

std::string_view trim_white_space(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        char32_t c = 0;
        const std::size_t n = utf8::decode(bytes + begin, end - begin, c);
        if (n == 0 || !is_white_space(c)) break;
        begin += n;
    }
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (bytes[start] & 0xC0) == 0x80) --start;
        char32_t c = 0;
        if (utf8::decode(bytes + start, end - start, c) != end - start || !is_white_space(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

// ---- Token-level values ------------------------------------------------------------

bool read_delimiter(Input& in, const knowledge::KnowledgeBase& math, Delimiter& out) {
    if (const SpannedToken* t = in.peek()) {
        const Token& tok = t->token;
        bool found = false;
        switch (tok.kind()) {
            case TokenKind::ControlSeq:
                if (math.lookup_delimiter(tok.name(), true) != nullptr) {
                    out = Delimiter::control(std::string(tok.name()));
                    found = true;
                }
                break;
            case TokenKind::LBracket:
            case TokenKind::RBracket: {
                const bool left = tok.kind() == TokenKind::LBracket;
                if (math.lookup_delimiter(left ? "[" : "]", false) != nullptr) {
                    out = Delimiter::character(left ? U'[' : U']');
                    found = true;
                }
                break;
            }
            case TokenKind::Char: {
                std::string text;
                utf8::append(text, tok.ch());
                if (const auto* rec = math.lookup_delimiter(text, false)) {
                    // The null delimiter `.` has an empty text.
                    out = rec->name == "." && rec->text.empty() ? Delimiter::none() : Delimiter::character(tok.ch());
                    found = true;
                }
                break;
            }
            default: break;
        }
        if (found) {
            in.bump();
            return true;
        }
    }
    in.expect(pattern::kDelimiter);
    return false;
}

bool read_dimension(Input& in, std::string& out) {
    RuleScope scope(in);
    const std::size_t start = scope.start();
    std::string value;
    take_chars(in, value, is_sign, 1);
    std::size_t digits = take_chars(in, value, is_digit);
    if (take_chars(in, value, [](char32_t c) { return c == U'.' || c == U','; }, 1) > 0) {
        digits += take_chars(in, value, is_digit);
    }
    in.skip_whitespace();
    std::string unit;
    take_chars(in, unit, is_ascii_letter);
    // The character selector refused the token where the dimension stops.
    in.expect(in.pos() == start ? pattern::kDimension : pattern::kSomethingElse);

    if (digits == 0) return scope.fail(in.err_since(start, "invalid dimension"));
    if (!is_valid_dimension_unit(unit)) return scope.fail(in.err_since(start, "unsupported dimension unit"));
    scope.keep();
    out = std::move(value);
    out += unit;
    return true;
}

void read_integer(Input& in, std::string& out) {
    const std::size_t start = in.pos();
    take_chars(in, out, is_sign, 1);
    take_chars(in, out, is_digit);
    in.expect(in.pos() == start ? pattern::kInteger : pattern::kSomethingElse);
}

// ---- Key-value lists -------------------------------------------------------------------

std::optional<std::string_view> validate_keyval(std::string_view text) {
    std::size_t depth = 0;
    std::string key;
    std::string value;
    bool in_value = false;
    auto blank = [](const std::string& s) { return trim_white_space(s).empty(); };
    auto letter_at = [&](std::size_t at) {
        return at < text.size() && is_ascii_letter(static_cast<unsigned char>(text[at]));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& buffer = in_value ? value : key;
        switch (c) {
            case '\\': {
                // The escape and what it escapes: a run of letters, or one
                // character (whose further bytes the loop copies next).
                buffer.push_back(c);
                if (i + 1 < text.size()) buffer.push_back(text[++i]);
                while (letter_at(i) && letter_at(i + 1)) buffer.push_back(text[++i]);
                break;
            }
            case '{':
                ++depth;
                buffer.push_back(c);
                break;
            case '}':
                if (depth == 0) return "unbalanced brace in keyval";
                --depth;
                buffer.push_back(c);
                break;
            case ',':
                if (depth > 0) {
                    buffer.push_back(c);
                } else if (!in_value || blank(value)) {
                    return "keyval missing value";
                } else {
                    key.clear();
                    value.clear();
                    in_value = false;
                }
                break;
            case '=':
                if (depth > 0 || in_value) {
                    buffer.push_back(c);
                } else if (blank(key)) {
                    return "keyval missing key";
                } else {
                    in_value = true;
                }
                break;
            default: buffer.push_back(c); break;
        }
    }
    if (depth > 0) return "unbalanced brace in keyval";
    if (!in_value || blank(value)) return "keyval missing value";
    return std::nullopt;
}

// ---- Values of delimited slots -----------------------------------------------------------

bool parse_tokens_as_cs_name(Grammar& g, std::span<const SpannedToken> tokens, std::string& out, Failure& failure) {
    for (const SpannedToken& t : tokens) {
        if (t.token.kind() == TokenKind::ControlSeq) {
            failure = g.input().err_peek_or_point("escape sequence should not appear in CSName");
            return false;
        }
    }
    out = tokens_to_string(tokens);
    return true;
}

bool parse_delimited_value(Grammar& g, ArgValueKind kind, const Collected& c, bool nullable, ArgumentValue& out,
                           Failure& failure) {
    Input& in = g.input();
    const auto tokens = window_tokens(in, c);
    // The reasons of the readers inside are not passed on: each kind reports
    // a fixed message where the running input stands.
    auto fail = [&](std::string message) {
        failure = in.err_peek_or_point(std::move(message));
        return false;
    };
    const std::string text = tokens_to_string(tokens);
    const std::string_view trimmed = trim_white_space(text);
    const bool empty = nullable && trimmed.empty();
    switch (kind) {
        case ArgValueKind::Delimiter: {
            Delimiter delimiter;  // none when empty
            const auto& math = g.kb(ContentMode::Math);
            if (!empty && !whole_window(g, c, [&](Input& sub) { return read_delimiter(sub, math, delimiter); })) {
                return fail("invalid delimiter argument");
            }
            out = ArgumentValue::Delimiter{std::move(delimiter)};
            return true;
        }
        case ArgValueKind::CsName: {
            std::string name;
            bool blank = true;
            for (const SpannedToken& t : tokens) blank = blank && t.token.kind() == TokenKind::Whitespace;
            if (!(nullable && blank) && !parse_tokens_as_cs_name(g, tokens, name, failure)) return false;
            out = ArgumentValue::CSName{std::move(name)};
            return true;
        }
        case ArgValueKind::Dimension:
        case ArgValueKind::Integer: {
            const bool dimension = kind == ArgValueKind::Dimension;
            std::string value;
            const bool ok = empty || whole_window(g, c, [&](Input& sub) {
                                if (dimension) return read_dimension(sub, value);
                                read_integer(sub, value);
                                return true;
                            });
            if (!ok) return fail(dimension ? "invalid dimension argument" : "invalid integer argument");
            if (dimension) {
                out = ArgumentValue::Dimension{std::move(value)};
            } else {
                out = ArgumentValue::Integer{std::move(value)};
            }
            return true;
        }
        case ArgValueKind::KeyVal: {
            if (!empty) {
                if (const auto reason = validate_keyval(text)) return fail(std::string(*reason));
            }
            out = ArgumentValue::KeyVal{std::string(trimmed)};
            return true;
        }
        case ArgValueKind::Column: {
            const auto parsed = parse_column_template(trimmed);
            if (const auto* error = std::get_if<ColumnParseError>(&parsed)) return fail(error->display());
            out = ArgumentValue::Column{std::string(trimmed)};
            return true;
        }
        case ArgValueKind::Star: return fail("invalid spec: star kind is not supported by delimited/paired forms");
        case ArgValueKind::MathContent:
        case ArgValueKind::TextContent:
        case ArgValueKind::OperatorName: break;
    }
    syntax::internal_error("internal error: entered unreachable code: content kinds are read as content");
}

ArgumentValue argument_content_value_for_kind(ArgValueKind kind, SyntaxNode node) {
    switch (kind) {
        case ArgValueKind::MathContent: return ArgumentValue::MathContent{std::move(node)};
        case ArgValueKind::TextContent: return ArgumentValue::TextContent{std::move(node)};
        case ArgValueKind::OperatorName: return ArgumentValue::OperatorNameContent{std::move(node)};
        default: break;
    }
    syntax::internal_error(
        "internal error: entered unreachable code: non-content value kind cannot carry a content node");
}

}  // namespace quorvel::parse::grammar
