#include "syntax/read_back.hpp"

#include <array>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <span>
#include <string>
#include <vector>

#include "knowledge/packages.hpp"
#include "parse/column_template.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse/lexer.hpp"
#include "parse/utf8.hpp"

namespace quorvel::syntax {

using parse::Lexer;
using parse::SpannedToken;
using parse::TokenKind;

namespace {

bool is_ascii_letter(char32_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// The characters a backslash makes characters of in every mode.
bool is_escaped_symbol(char32_t c) {
    return c == U'#' || c == U'$' || c == U'%' || c == U'_' || c == U'{' || c == U'}';
}

bool is_space_char(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\f' || c == U'\r' || c == 0xA0;
}

bool is_control_char(char32_t c) { return c < 0x20 || c == 0x7F; }

// A character as a message shows it: itself, or an escape as Python
// writes one for white space other than a space, control characters and
// what is no character at all.
std::string display(char32_t c) {
    switch (c) {
        case U'\t': return "\\t";
        case U'\n': return "\\n";
        case U'\r': return "\\r";
        case U'\f': return "\\f";
        default: break;
    }
    if (is_control_char(c) || c == 0xA0 || !is_scalar_value(c)) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, c < 0x100 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
        return buffer;
    }
    std::string out;
    parse::utf8::append(out, c);
    return out;
}

Unreadable refuse(std::string_view what, std::string_view value, std::string_view why) {
    std::string out = quoted(what, value);
    out += " cannot be written: ";
    out += why;
    return out;
}

// The whole text as tokens, or nothing when the lexer refuses a byte or a
// comment hides part of it.
std::optional<std::vector<SpannedToken>> lex_whole(std::string_view text) {
    std::vector<SpannedToken> tokens;
    Lexer lexer(text);
    std::size_t end = 0;
    for (;;) {
        const Lexer::Step step = lexer.next();
        if (step.status == Lexer::Status::End) break;
        if (step.status == Lexer::Status::Error || step.span.start != end) return std::nullopt;
        tokens.push_back({step.token, step.span});
        end = step.span.end;
    }
    if (end != text.size()) return std::nullopt;
    return tokens;
}

}  // namespace

std::string quoted(std::string_view what, std::string_view value) {
    std::string out(what);
    out += " \"";
    std::size_t i = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    while (i < value.size()) {
        char32_t c = 0;
        const std::size_t n = parse::utf8::decode(bytes + i, value.size() - i, c);
        if (n == 0) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(bytes[i]));
            out += buffer;
            ++i;
            continue;
        }
        if (is_control_char(c) || c == 0xA0) {
            out += display(c);
        } else {
            out.append(value.substr(i, n));
        }
        i += n;
    }
    out += '"';
    return out;
}

// ---- Names ------------------------------------------------------------------

bool reads_bare_dimension(std::string_view command_name) {
    static constexpr std::array<std::string_view, 11> kPrimitives = {
        "above", "abovewithdelims", "hskip", "hsize", "kern", "lower",
        "mkern", "moveleft",        "moveright", "mskip", "raise",
    };
    for (std::string_view p : kPrimitives) {
        if (p == command_name) return true;
    }
    return false;
}

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

Unreadable check_command_name(std::string_view name) {
    constexpr std::string_view what = "command name";
    if (!is_control_sequence_name(name)) {
        return refuse(what, name,
                      "\\" + std::string(name) +
                          " is not one control sequence, which is one or more ASCII letters, or one character other "
                          "than a line feed");
    }
    if (name.size() == 1 && is_escaped_symbol(static_cast<unsigned char>(name.front()))) {
        return refuse(what, name, std::string("\\") + std::string(name) + " reads back as the character " +
                                      std::string(name));
    }
    if (name == "begin" || name == "end") {
        return refuse(what, name, std::string("\\") + std::string(name) + " reads back as the " +
                                      (name == "begin" ? "start" : "end") + " of an environment");
    }
    if (name == "left" || name == "right") {
        return refuse(what, name, std::string("\\") + std::string(name) + " reads back as the " +
                                      (name == "left" ? "start" : "end") + " of a \\left...\\right group");
    }
    return std::nullopt;
}

Unreadable check_environment_name(std::string_view name) {
    if (is_environment_name(name)) return std::nullopt;
    return refuse("environment name", name,
                  "\\begin{...} reads one or more characters, none a space, a control character, a prime or one of "
                  "\\ { } [ ] $ & # ^ _ ~ %");
}

// ---- Characters and texts ----------------------------------------------------

Unreadable check_char(char32_t c, ContentMode mode) {
    constexpr std::string_view what = "character";
    const std::string shown = display(c);
    if (is_control_char(c) && !is_space_char(c)) {
        return refuse(what, shown, "the reader refuses control characters");
    }
    if (mode == ContentMode::Text) {
        if (is_escaped_symbol(c)) return std::nullopt;
        if (c == U'&') return refuse(what, shown, "in text, \\& reads back as the command &");
        return refuse(what, shown, "in text it reads back as text; only # $ % _ { } stand as characters there");
    }
    if (is_space_char(c)) return refuse(what, shown, "white space reads back as nothing in math");
    switch (c) {
        case U'^': return refuse(what, shown, "^ reads back as a superscript marker");
        case U'\'':
        case 0x2019: return refuse(what, shown, "it reads back as a prime");
        case U'~': return refuse(what, shown, "~ reads back as an active space");
        default: return std::nullopt;
    }
}

Unreadable check_text(std::string_view text) {
    constexpr std::string_view what = "text";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    bool after_space = false;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = parse::utf8::decode(bytes + i, text.size() - i, c);
        if (n == 0) return refuse(what, text, "it is not UTF-8");
        const std::size_t at = i;
        i += n;
        const bool space = c == U' ';
        if (space && after_space) return refuse(what, text, "two spaces in a row read back as one");
        after_space = space;
        if (space) continue;
        if (is_space_char(c)) return refuse(what, text, "white space other than a space reads back as a space");
        if (is_control_char(c)) return refuse(what, text, "the reader refuses control characters");
        switch (c) {
            case U'\\':
                // A backslash stands for itself before a line break, which
                // the writer writes for the space after it.
                if (at + 1 < text.size() && text[at + 1] == ' ') continue;
                return refuse(what, text, "\\ starts a control sequence");
            case U'%': return refuse(what, text, "% starts a comment that swallows what follows");
            case U'{':
            case U'}': return refuse(what, text, "a brace opens or closes a group");
            case U'$': return refuse(what, text, "$ starts math");
            case U'&': return refuse(what, text, "& ends a cell (the character & is the command \\&)");
            case U'#': return refuse(what, text, "# is a macro parameter");
            case U'^':
            case U'_': return refuse(what, text, "script markers are refused in text");
            case U'~': return refuse(what, text, "~ reads back as an active space");
            case 0x2019: return refuse(what, text, "\xe2\x80\x99 reads back as '");
            default: break;
        }
    }
    return std::nullopt;
}

char32_t first_written(char32_t c, ContentMode mode) {
    if (is_escaped_symbol(c) || (c == U'&' && mode == ContentMode::Text)) return U'\\';
    return c;
}

// ---- Neighbours --------------------------------------------------------------

Unreadable check_after(const Tail& tail, char32_t first, std::string_view what) {
    if (tail.letter && is_ascii_letter(first)) {
        return std::string(what) +
               " cannot be written here: it starts with a letter after a control word or unit, and the space "
               "that parts them would read back as part of it";
    }
    if (tail.opens.find(first) != std::u32string::npos) {
        std::string opening;
        parse::utf8::append(opening, first);
        return std::string(what) + " cannot be written here: its " + opening + " would read back as the " +
               (first == U'[' ? "optional " : "") + "argument of the item before it";
    }
    if (tail.star && first == '*') {
        return std::string(what) + " cannot be written here: its * would read back as the star of the item before it";
    }
    return std::nullopt;
}

Unreadable check_closing_space(const Tail& tail, std::string_view text) {
    if (!tail.eats_space || text.empty() || text.find_first_not_of(' ') != std::string_view::npos) {
        return std::nullopt;
    }
    return quoted("text", text) +
           " cannot be written here: spacing after a control word at the end of a group reads back as nothing";
}

// ---- Argument values ------------------------------------------------------------

namespace {

// What the packages know: the delimiters, and the names of their commands
// and characters. A caller may declare a delimiter of its own, written as a
// control sequence; the characters that are delimiters are the packages'.
struct Known {
    std::unordered_set<std::string_view> control_delimiters;
    std::unordered_set<std::string_view> char_delimiters;
    std::unordered_set<std::string_view> names;
    std::unordered_multimap<std::string_view, std::span<const knowledge::ArgSpec>> slots;
    std::unordered_multimap<std::string_view, std::span<const knowledge::ArgSpec>> environment_slots;
};

const Known& known() {
    static const Known table = [] {
        Known k;
        for (const auto* package : knowledge::ALL_PACKAGES) {
            for (const auto* d : package->delimiters) (d->control ? k.control_delimiters : k.char_delimiters).insert(d->name);
            for (const auto* c : package->commands) {
                k.names.insert(c->name);
                k.slots.emplace(c->name, c->args);
            }
            for (const auto* c : package->characters) k.names.insert(c->name);
            for (const auto* e : package->environments) k.environment_slots.emplace(e->name, e->args);
        }
        return k;
    }();
    return table;
}

}  // namespace

std::u32string slot_openings(std::string_view name, std::size_t index, std::size_t count, bool environment) {
    const auto& table = environment ? known().environment_slots : known().slots;
    std::u32string out;
    bool found = false;
    const auto add = [&out](const knowledge::DelimiterToken& d) {
        if (d.kind == knowledge::DelimiterToken::Kind::Char && out.find(d.ch) == std::u32string::npos) out += d.ch;
    };
    const auto [first, last] = table.equal_range(name);
    for (auto it = first; it != last; ++it) {
        const std::span<const knowledge::ArgSpec> args = it->second;
        if (args.size() != count) continue;
        found = true;
        const knowledge::ArgForm& form = args[index].form;
        switch (form.kind) {
            case knowledge::ArgFormKind::Standard:
                if (!args[index].required) add(knowledge::DelimiterToken::character(U'['));
                break;
            case knowledge::ArgFormKind::Group: add(knowledge::DelimiterToken::character(U'{')); break;
            case knowledge::ArgFormKind::Delimited: add(form.open); break;
            case knowledge::ArgFormKind::Paired:
                for (const auto& pair : form.pairs) add(pair.open);
                break;
            case knowledge::ArgFormKind::Star: break;
        }
    }
    if (!found) out.push_back(U'[');
    return out;
}

Unreadable check_delimiter(const syntax_node::Delimiter& delimiter) {
    constexpr std::string_view what = "delimiter";
    if (const auto* control = delimiter.as_control()) {
        const std::string shown = "\\" + control->name;
        if (!is_control_sequence_name(control->name)) return refuse(what, shown, "its name is not one control sequence");
        if (known().control_delimiters.contains(std::string_view(control->name))) return std::nullopt;
        if (known().names.contains(std::string_view(control->name)) || check_command_name(control->name)) {
            return refuse(what, shown, "the reader takes it for something other than a delimiter");
        }
        return std::nullopt;
    }
    const auto* ch = delimiter.as_char();
    if (ch == nullptr) return std::nullopt;
    const std::string shown = display(ch->value);
    if (ch->value == U'.') return refuse(what, shown, ". reads back as the null delimiter");
    std::string text;
    parse::utf8::append(text, ch->value);
    const auto tokens = lex_whole(text);
    if (!tokens || tokens->size() != 1) return refuse(what, shown, "it does not read back as one character");
    const TokenKind kind = tokens->front().token.kind();
    if (kind != TokenKind::Char && kind != TokenKind::LBracket && kind != TokenKind::RBracket) {
        return refuse(what, shown, "it reads back as a token of its own, not a character");
    }
    if (!known().char_delimiters.contains(text)) return refuse(what, shown, "it is no delimiter the reader knows");
    return std::nullopt;
}

namespace {

std::string_view kind_name(ScalarValue::Kind kind) {
    switch (kind) {
        case ScalarValue::Kind::Delimiter: return "delimiter";
        case ScalarValue::Kind::CSName: return "control-sequence name";
        case ScalarValue::Kind::Dimension: return "dimension";
        case ScalarValue::Kind::Integer: return "integer";
        case ScalarValue::Kind::KeyVal: return "key-value list";
        case ScalarValue::Kind::Column: return "column specification";
    }
    return "value";
}

std::string delimiter_text(const syntax_node::Delimiter& d) {
    if (const auto* c = d.as_char()) {
        std::string out;
        parse::utf8::append(out, c->value);
        return out;
    }
    if (const auto* control = d.as_control()) return "\\" + control->name;
    return ".";
}

// How the slot surrounds its text.
enum class Form : std::uint8_t { Bare, Braces, Brackets, Delimiters };

// Whether the value read from `tokens` by the reader of its kind is the
// value itself.
bool kind_reads_back(ScalarValue::Kind kind, std::string_view text, const std::vector<SpannedToken>& tokens,
                     bool bare) {
    namespace g = parse::grammar;
    if (text.empty()) return !bare && kind != ScalarValue::Kind::Delimiter;
    switch (kind) {
        case ScalarValue::Kind::Delimiter: return true;  // checked as a delimiter
        case ScalarValue::Kind::CSName:
            for (const SpannedToken& t : tokens) {
                if (t.token.kind() == TokenKind::ControlSeq) return false;
            }
            return true;
        case ScalarValue::Kind::Dimension:
        case ScalarValue::Kind::Integer: {
            g::Input in(tokens.data(), tokens.size(), 0, text.size());
            std::string value;
            if (kind == ScalarValue::Kind::Dimension) {
                if (!g::read_dimension(in, value)) return false;
            } else {
                g::read_integer(in, value);
            }
            return in.at_end() && value == text;
        }
        case ScalarValue::Kind::KeyVal:
            return g::trim_white_space(text) == text && !g::validate_keyval(text).has_value();
        case ScalarValue::Kind::Column:
            return g::trim_white_space(text) == text &&
                   std::holds_alternative<parse::ColumnSpec>(parse::parse_column_template(text));
    }
    return false;
}

}  // namespace

Unreadable check_scalar(const syntax_node::ArgumentKind& kind, const ScalarValue& value, bool allow_empty) {
    const std::string_view what = kind_name(value.kind);
    if (!allow_empty && value.kind != ScalarValue::Kind::Delimiter &&
        value.text.empty()) {
        return refuse(what, value.text, "an empty value reads back only where its command allows none");
    }
    const bool mandatory = std::holds_alternative<syntax_node::ArgumentKind::Mandatory>(kind.value);
    if (value.kind == ScalarValue::Kind::Delimiter) {
        if (auto why = check_delimiter(*value.delimiter)) return why;
        if (mandatory) return std::nullopt;  // written bare
    }
    const std::string text = value.kind == ScalarValue::Kind::Delimiter ? delimiter_text(*value.delimiter)
                                                                        : std::string(value.text);
    Form form = Form::Braces;
    if (mandatory && value.kind == ScalarValue::Kind::Dimension) {
        form = Form::Bare;
    } else if (std::holds_alternative<syntax_node::ArgumentKind::Optional>(kind.value)) {
        form = Form::Brackets;
    } else if (kind.as_delimited() != nullptr || kind.as_paired() != nullptr) {
        form = Form::Delimiters;
    }

    const auto tokens = lex_whole(text);
    if (!tokens) return refuse(what, text, "the reader refuses part of it or takes it for a comment");
    // Written back, the tokens give the text unchanged: one space for each
    // run of white space, a prime for each apostrophe.
    if (parse::grammar::tokens_to_string(*tokens) != text) {
        return refuse(what, text, "it does not read back as written (white space, primes or control words change)");
    }
    // Nothing in it may end its slot early or reach past its end.
    int depth = 0;
    for (const SpannedToken& t : *tokens) {
        const TokenKind k = t.token.kind();
        if (k == TokenKind::LBrace) ++depth;
        if (k == TokenKind::RBrace && --depth < 0) return refuse(what, text, "an unmatched } would end the argument");
        if (form == Form::Brackets && depth == 0 && k == TokenKind::RBracket) {
            return refuse(what, text, "a ] would end the argument");
        }
        if (form == Form::Bare && k != TokenKind::Char) return refuse(what, text, "it does not read back as a dimension");
    }
    if (depth != 0) return refuse(what, text, "an unmatched { would swallow what follows");
    if (!tokens->empty() && tokens->back().token.kind() == TokenKind::Char && tokens->back().token.ch() == U'\\') {
        return refuse(what, text, "its last \\ would escape what closes it");
    }
    if (form == Form::Delimiters) {
        const auto* delimited = kind.as_delimited();
        const syntax_node::Delimiter& close = delimited != nullptr ? delimited->close : kind.as_paired()->close;
        const std::string close_text = delimiter_text(close);
        if (!close.is_none() && text.find(close_text) != std::string::npos) {
            return refuse(what, text, "it holds the delimiter that closes the argument");
        }
    }
    if (!kind_reads_back(value.kind, text, *tokens, form == Form::Bare)) {
        return refuse(what, text, std::string("it does not read back as one ") + std::string(what));
    }
    return std::nullopt;
}

}  // namespace quorvel::syntax
