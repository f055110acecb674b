#include "knowledge/argspec.hpp"

#include <optional>
#include <utility>

#include "util/utf8.hpp"

namespace quorvel::knowledge {

struct ArgSpecList::Storage {
    std::string text;  // the argument spec; control-sequence names are views into it
    std::vector<DelimiterPair> pairs;
    std::vector<ArgSpec> slots;
};

std::span<const ArgSpec> ArgSpecList::slots() const noexcept {
    if (!storage_) return {};
    return storage_->slots;
}

bool operator==(const ArgSpecList& a, std::span<const ArgSpec> b) noexcept {
    const auto slots = a.slots();
    if (slots.size() != b.size()) return false;
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (!(slots[i] == b[i])) return false;
    return true;
}

std::string ArgSpecParseError::to_string() const {
    std::string out = "invalid argspec (";
    out += context;
    out += ") at char ";
    out += std::to_string(position);
    out += ": ";
    out += message;
    return out;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t ch;
    std::size_t len;
};

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One character at byte `i` (i < s.size()). A byte that starts no well-formed
// sequence decodes as U+FFFD of length 1.
Decoded decode_at(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {b0, 1};
    const std::size_t left = s.size() - i;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (left >= 2 && is_continuation(at(1))) return {char32_t((b0 & 0x1F) << 6 | (at(1) & 0x3F)), 2};
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left >= 3) {
            const unsigned char b1 = at(1);
            const bool ok1 = b0 == 0xE0 ? (b1 >= 0xA0 && b1 <= 0xBF)
                             : b0 == 0xED ? (b1 >= 0x80 && b1 <= 0x9F)
                                          : is_continuation(b1);
            if (ok1 && is_continuation(at(2)))
                return {char32_t((b0 & 0x0F) << 12 | (b1 & 0x3F) << 6 | (at(2) & 0x3F)), 3};
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left >= 4) {
            const unsigned char b1 = at(1);
            const bool ok1 = b0 == 0xF0 ? (b1 >= 0x90 && b1 <= 0xBF)
                             : b0 == 0xF4 ? (b1 >= 0x80 && b1 <= 0x8F)
                                          : is_continuation(b1);
            if (ok1 && is_continuation(at(2)) && is_continuation(at(3)))
                return {char32_t((b0 & 0x07) << 18 | (b1 & 0x3F) << 12 | (at(2) & 0x3F) << 6 | (at(3) & 0x3F)),
                        4};
        }
    }
    return {kReplacement, 1};
}


// The spec as well-formed UTF-8: every ill-formed byte becomes U+FFFD, so that
// names cut out of it and characters quoted in messages are valid text.
std::string to_valid_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Decoded d = decode_at(s, i);
        if (d.ch == kReplacement && d.len == 1) {
            util::utf8::append(out, kReplacement);
        } else {
            out.append(s.substr(i, d.len));
        }
        i += d.len;
    }
    return out;
}

// The Unicode White_Space property.
bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

bool is_ascii_letter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string quoted(char32_t c) {
    std::string out = "`";
    util::utf8::append(out, c);
    out += '`';
    return out;
}

}  // namespace

// Cursor over the argument spec. Positions are counted in characters; `byte_` is the
// matching offset into the (valid UTF-8) text.
class ArgSpecParser {
public:
    static Expected<ArgSpecList, ArgSpecParseError> parse(std::string_view spec, std::string_view context) {
        // The parser reads the storage's own copy of the argument spec, so the names it
        // cuts out are already views into the list's storage.
        auto storage = std::make_shared<ArgSpecList::Storage>();
        storage->text = to_valid_utf8(spec);
        ArgSpecParser parser(storage->text, context);
        return parser.run(std::move(storage));
    }

private:
    ArgSpecParser(std::string_view text, std::string_view context) : text_(text), context_(context) {}

    Expected<ArgSpecList, ArgSpecParseError> run(std::shared_ptr<ArgSpecList::Storage> storage);

    bool at_end() const { return byte_ >= text_.size(); }
    char32_t peek() const { return decode_at(text_, byte_).ch; }
    char32_t next() {
        const Decoded d = decode_at(text_, byte_);
        byte_ += d.len;
        ++pos_;
        return d.ch;
    }
    bool fail(std::string message) { return fail_at(pos_, std::move(message)); }
    bool fail_at(std::size_t position, std::string message) {
        error_ = ArgSpecParseError{std::string(context_), std::move(message), position};
        return false;
    }

    void skip_white_space() {
        while (!at_end() && is_white_space(peek())) next();
    }

    bool parse_token(ArgSpec& slot, std::vector<DelimiterPair>& pairs, std::pair<std::size_t, std::size_t>& range);
    bool parse_default_block(char32_t letter);
    bool parse_annotation(ArgSpec& slot);
    bool check_slot(const ArgSpec& slot);
    bool expect_char(char32_t c);
    bool parse_pair_list(std::vector<DelimiterPair>& pairs);
    bool parse_delimiter_token(DelimiterToken& out);
    bool parse_pair_delimiter_token(DelimiterToken& out);
    bool parse_control_sequence_name(DelimiterToken& out);

    std::string_view text_;
    std::string_view context_;
    std::size_t byte_ = 0;
    std::size_t pos_ = 0;
    std::optional<ArgSpecParseError> error_;
};

Expected<ArgSpecList, ArgSpecParseError> ArgSpecParser::run(std::shared_ptr<ArgSpecList::Storage> storage) {
    // Pair lists are collected into one vector; each Paired slot remembers its
    // range and gets its span once the vector no longer moves.
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (;;) {
        skip_white_space();
        if (at_end()) break;
        ArgSpec slot;
        std::pair<std::size_t, std::size_t> range{0, 0};
        if (!parse_token(slot, storage->pairs, range)) return std::move(*error_);
        storage->slots.push_back(slot);
        ranges.push_back(range);
    }
    if (storage->slots.empty()) return ArgSpecList{};
    for (std::size_t i = 0; i < storage->slots.size(); ++i) {
        auto& form = storage->slots[i].form;
        if (form.kind == ArgFormKind::Paired)
            form.pairs = std::span<const DelimiterPair>(storage->pairs.data() + ranges[i].first, ranges[i].second);
    }
    return ArgSpecList(std::move(storage));
}

bool ArgSpecParser::parse_token(ArgSpec& slot, std::vector<DelimiterPair>& pairs,
                                std::pair<std::size_t, std::size_t>& range) {
    if (peek() == U'!') {
        slot.no_leading_space = true;
        next();
        if (at_end()) return fail("expected argument token");
    }
    const char32_t letter = next();
    bool delimited = false;
    switch (letter) {
        case U'm':
            slot.form.kind = ArgFormKind::Standard;
            slot.required = true;
            if (!at_end() && peek() == U'{') {
                next();
                if (at_end() || peek() != U'}') return fail("`m` only supports required braced group syntax `m{}`");
                next();
                slot.form.kind = ArgFormKind::Group;
            }
            break;
        case U'o':
        case U'O':
            slot.form.kind = ArgFormKind::Standard;
            break;
        case U'g':
        case U'G':
            slot.form.kind = ArgFormKind::Group;
            break;
        case U's':
            slot.form.kind = ArgFormKind::Star;
            slot.kind = ArgValueKind::Star;
            break;
        case U'r':
        case U'R':
            slot.required = true;
            delimited = true;
            break;
        case U'd':
        case U'D':
            delimited = true;
            break;
        default:
            return fail("unsupported argument token " + quoted(letter));
    }
    if (delimited) {
        if (!at_end() && peek() == U'<') {
            slot.form.kind = ArgFormKind::Paired;
            range.first = pairs.size();
            if (!parse_pair_list(pairs)) return false;
            range.second = pairs.size() - range.first;
        } else {
            slot.form.kind = ArgFormKind::Delimited;
            if (!parse_delimiter_token(slot.form.open)) return false;
            if (!parse_delimiter_token(slot.form.close)) return false;
        }
    }
    if (letter == U'O' || letter == U'G' || letter == U'R' || letter == U'D') {
        if (!parse_default_block(letter)) return false;
    }
    if (letter == U's') {
        if (!at_end() && peek() == U':') return fail("`s` does not accept value type annotation");
    } else if (!parse_annotation(slot)) {
        return false;
    }
    return check_slot(slot);
}

bool ArgSpecParser::parse_default_block(char32_t letter) {
    if (at_end() || peek() != U'{') return fail(quoted(letter) + " requires a default block like `{...}`");
    next();
    std::size_t depth = 1;
    for (;;) {
        if (at_end()) return fail("unterminated default block for " + quoted(letter));
        const char32_t c = next();
        if (c == U'\\') {
            if (!at_end()) next();
        } else if (c == U'{') {
            ++depth;
        } else if (c == U'}') {
            if (--depth == 0) return true;
        }
    }
}

bool ArgSpecParser::parse_annotation(ArgSpec& slot) {
    if (at_end() || peek() != U':') return true;
    next();
    if (at_end()) return fail("missing value kind annotation after `:`");
    const char32_t k = next();
    switch (k) {
        case U'T': slot.kind = ArgValueKind::TextContent; break;
        case U'O': slot.kind = ArgValueKind::OperatorName; break;
        case U'D': slot.kind = ArgValueKind::Delimiter; break;
        case U'N': slot.kind = ArgValueKind::CsName; break;
        case U'L': slot.kind = ArgValueKind::Dimension; break;
        case U'I': slot.kind = ArgValueKind::Integer; break;
        case U'K': slot.kind = ArgValueKind::KeyVal; break;
        case U'C': slot.kind = ArgValueKind::Column; break;
        default: {
            std::string message = "unsupported value kind annotation `:";
            util::utf8::append(message, k);
            message += '`';
            return fail(std::move(message));
        }
    }
    if (!at_end() && peek() == U'?') {
        slot.nullable = true;
        next();
    }
    return true;
}

// Combinations no valid slot has. Only the first checks are reachable from
// spec text; the rest guard the invariants the argument parser relies on.
bool ArgSpecParser::check_slot(const ArgSpec& slot) {
    const ArgFormKind form = slot.form.kind;
    const ArgValueKind kind = slot.kind;
    if (slot.no_leading_space && slot.required) return fail("`!` prefix is only valid for optional argument forms");
    if (slot.nullable && (kind == ArgValueKind::Column || kind == ArgValueKind::Star))
        return fail("`?` is not supported for star or column annotations");
    if (form == ArgFormKind::Delimited || form == ArgFormKind::Paired) {
        if (kind == ArgValueKind::Delimiter) return fail("delimiter kind cannot use delimited/paired form");
        if (kind == ArgValueKind::Star) return fail("delimited/paired form cannot use star value kind");
    }
    if (form == ArgFormKind::Standard && kind == ArgValueKind::Star) return fail("star value kind requires `s` form");
    if (form == ArgFormKind::Star) {
        if (slot.required) return fail("star form must be optional");
        if (kind != ArgValueKind::Star) return fail("star form must use star value kind");
    }
    if (form == ArgFormKind::Group && kind == ArgValueKind::Star) return fail("group form cannot use star value kind");
    return true;
}

bool ArgSpecParser::expect_char(char32_t c) {
    if (at_end()) return fail("expected " + quoted(c));
    const char32_t found = next();
    if (found != c) return fail("expected " + quoted(c) + ", found " + quoted(found));
    return true;
}

bool ArgSpecParser::parse_pair_list(std::vector<DelimiterPair>& pairs) {
    bool any = false;
    while (!at_end() && peek() == U'<') {
        next();
        DelimiterPair pair;
        if (!parse_pair_delimiter_token(pair.open)) return false;
        if (!expect_char(U',')) return false;
        if (!parse_pair_delimiter_token(pair.close)) return false;
        if (!expect_char(U'>')) return false;
        pairs.push_back(pair);
        any = true;
    }
    if (!any) return fail("paired form requires at least one `<open,close>` block");
    return true;
}

bool ArgSpecParser::parse_delimiter_token(DelimiterToken& out) {
    if (at_end()) return fail("missing delimiter token");
    const char32_t c = next();
    if (is_white_space(c)) return fail("delimiter token cannot be whitespace");
    if (c == U'\\') return parse_control_sequence_name(out);
    out = DelimiterToken::character(c);
    return true;
}

bool ArgSpecParser::parse_pair_delimiter_token(DelimiterToken& out) {
    if (at_end()) return fail("missing pair delimiter token");
    const char32_t c = next();
    if (is_white_space(c)) return fail("pair delimiter cannot be whitespace");
    if (c == U'\\') return parse_control_sequence_name(out);
    if (c == U'<' || c == U'>' || c == U',') return fail("`<`, `>`, `,` are reserved in pair syntax");
    out = DelimiterToken::character(c);
    return true;
}

bool ArgSpecParser::parse_control_sequence_name(DelimiterToken& out) {
    if (at_end()) return fail("expected control sequence name after `\\`");
    const std::size_t start = byte_;
    const char32_t first = next();
    if (is_ascii_letter(first)) {
        while (!at_end() && is_ascii_letter(peek())) next();
    }
    out = DelimiterToken::control(text_.substr(start, byte_ - start));
    return true;
}

Expected<ArgSpecList, ArgSpecParseError> parse_arg_specs(std::string_view spec, std::string_view context) {
    return ArgSpecParser::parse(spec, context);
}

}  // namespace quorvel::knowledge
