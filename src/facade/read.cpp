#include "facade/read.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "util/utf8.hpp"

namespace quorvel::facade::read {
namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Characters that a debug string writes as \u{hex}: controls, format
// characters, separators other than the ASCII space, private use,
// noncharacters and the common combining (grapheme-extending) blocks. An
// approximation of the full Unicode tables, exact for ASCII.
constexpr Range kEscapedRanges[] = {
    {0x0000, 0x001F}, {0x007F, 0x00A0}, {0x00AD, 0x00AD},   {0x0300, 0x036F},
    {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0600, 0x0605},   {0x0610, 0x061A},
    {0x061C, 0x061C}, {0x064B, 0x065F}, {0x0670, 0x0670},   {0x06D6, 0x06DD},
    {0x06DF, 0x06E4}, {0x070F, 0x070F}, {0x1680, 0x1680},   {0x180E, 0x180E},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x2000, 0x200F},   {0x2028, 0x202F},
    {0x205F, 0x206F}, {0x20D0, 0x20F0}, {0x3000, 0x3000},   {0x302A, 0x302F},
    {0x3099, 0x309A}, {0xD800, 0xF8FF}, {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFB}, {0xFFFE, 0xFFFF},   {0xE0000, 0xE0FFF},
    {0xF0000, 0x10FFFF},
};

bool escaped_in_debug(char32_t c) {
    auto it = std::upper_bound(std::begin(kEscapedRanges), std::end(kEscapedRanges), c,
                               [](char32_t value, const Range& r) { return value < r.first; });
    return it != std::begin(kEscapedRanges) && c <= std::prev(it)->last;
}


void append_hex(std::string& out, std::uint32_t value) {
    char buf[16];
    auto result = std::to_chars(buf, buf + sizeof buf, value, 16);
    out.append(buf, result.ptr);
}

std::string quoted(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out += '`';
    out += name;
    out += '`';
    return out;
}

}  // namespace

std::string format_read_error(std::string_view context, const ReadError& error) {
    std::string path;
    for (const PathSegment& segment : error.path) {
        if (segment.kind == PathSegment::Kind::Index) {
            path += '[';
            path += std::to_string(segment.index);
            path += ']';
        } else {
            if (!path.empty()) path += '.';
            path += segment.name;
        }
    }
    std::string text = "invalid ";
    text += context;
    text += ": ";
    if (!path.empty()) {
        text += path;
        text += ": ";
    }
    text += strip_location_suffix(error.message);
    return text;
}

std::string_view strip_location_suffix(std::string_view message) {
    static constexpr std::string_view kLine = " at line ";
    static constexpr std::string_view kColumn = " column ";
    const std::size_t at = message.rfind(kLine);
    if (at == std::string_view::npos) return message;
    const std::string_view rest = message.substr(at + kLine.size());
    const std::size_t column = rest.find(kColumn);
    if (column == std::string_view::npos) return message;
    const auto all_digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!all_digits(rest.substr(0, column)) || !all_digits(rest.substr(column + kColumn.size()))) {
        return message;
    }
    return message.substr(0, at);
}

std::string format_float(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view text(buf, static_cast<std::size_t>(result.ptr - buf));
    std::string out;
    if (text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::string_view exp_text = text.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

    // The value is 0.d1d2...dn * 10^kk.
    const int n = static_cast<int>(digits.size());
    const int kk = exponent + 1;
    const int k = kk - n;
    if (k >= 0 && kk <= 16) {
        out += digits;
        out.append(static_cast<std::size_t>(k), '0');
        out += ".0";
    } else if (kk > 0 && kk <= 16) {
        out += std::string_view(digits).substr(0, static_cast<std::size_t>(kk));
        out += '.';
        out += std::string_view(digits).substr(static_cast<std::size_t>(kk));
    } else if (kk > -5 && kk <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-kk), '0');
        out += digits;
    } else {
        out += digits.front();
        if (n > 1) {
            out += '.';
            out += std::string_view(digits).substr(1);
        }
        out += 'e';
        out += std::to_string(kk - 1);
    }
    return out;
}

std::string debug_string(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        const char32_t c = util::utf8::decode_lossy(utf8, i);
        switch (c) {
            case U'"': out += "\\\""; continue;
            case U'\\': out += "\\\\"; continue;
            case U'\0': out += "\\0"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\r': out += "\\r"; continue;
            case U'\n': out += "\\n"; continue;
            default: break;
        }
        if (escaped_in_debug(c)) {
            out += "\\u{";
            append_hex(out, static_cast<std::uint32_t>(c));
            out += '}';
        } else if (c == 0xFFFD) {
            // Also stands for a malformed byte, which is not copied through.
            out += "\xEF\xBF\xBD";
        } else {
            out += utf8.substr(start, i - start);
        }
    }
    out += '"';
    return out;
}

std::string describe_unexpected(const JsonValue& value) {
    switch (value.kind()) {
        case JsonValue::Kind::Null: return "null";
        case JsonValue::Kind::Bool: return *value.if_bool() ? "boolean `true`" : "boolean `false`";
        case JsonValue::Kind::Unsigned: return "integer `" + std::to_string(*value.if_unsigned()) + "`";
        case JsonValue::Kind::Negative: return "integer `" + std::to_string(*value.if_negative()) + "`";
        case JsonValue::Kind::Float: return "floating point `" + format_float(*value.if_float()) + "`";
        case JsonValue::Kind::String: return "string " + debug_string(*value.if_string());
        case JsonValue::Kind::Array: return "sequence";
        case JsonValue::Kind::Object: return "map";
    }
    return "map";
}

std::string one_of(std::span<const std::string_view> names) {
    if (names.size() == 1) return quoted(names[0]);
    if (names.size() == 2) return quoted(names[0]) + " or " + quoted(names[1]);
    std::string out = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += ", ";
        out += quoted(names[i]);
    }
    return out;
}

bool Reader::fail(std::string message) {
    message_ = std::move(message);
    return false;
}

ReadError Reader::take_error() {
    ReadError error{std::move(message_), {}};
    error.path.reserve(path_.size());
    for (const Frame& frame : path_) {
        error.path.push_back({frame.kind, frame.index, std::string(frame.name)});
    }
    return error;
}

bool Reader::invalid_type(const JsonValue& value, std::string_view expected) {
    std::string message = "invalid type: ";
    message += describe_unexpected(value);
    message += ", expected ";
    message += expected;
    return fail(std::move(message));
}

bool unknown_field(Reader& reader, const std::string& key, std::span<const std::string_view> names) {
    return reader.fail("unknown field " + quoted(key) + ", expected " + one_of(names));
}

bool read_bool(Reader& reader, const JsonValue& value, bool& out) {
    const bool* b = value.if_bool();
    if (b == nullptr) return reader.invalid_type(value, "a boolean");
    out = *b;
    return true;
}

bool read_size(Reader& reader, const JsonValue& value, std::size_t& out) {
    if (const std::uint64_t* u = value.if_unsigned()) {
        if (*u > std::numeric_limits<std::size_t>::max()) {
            return reader.fail("invalid value: integer `" + std::to_string(*u) + "`, expected usize");
        }
        out = static_cast<std::size_t>(*u);
        return true;
    }
    if (const std::int64_t* i = value.if_negative()) {
        return reader.fail("invalid value: integer `" + std::to_string(*i) + "`, expected usize");
    }
    return reader.invalid_type(value, "usize");
}

bool read_string(Reader& reader, const JsonValue& value, std::string& out) {
    const std::string* s = value.if_string();
    if (s == nullptr) return reader.invalid_type(value, "a string");
    out = *s;
    return true;
}

bool read_string_list(Reader& reader, const JsonValue& value, std::vector<std::string>& out) {
    return read_list(reader, value, out, read_string);
}

bool read_enum(Reader& reader, const JsonValue& value, std::span<const std::string_view> names,
               std::uint8_t& out) {
    const std::string* name = value.if_string();
    const JsonValue* content = nullptr;
    if (name == nullptr) {
        const JsonValue::Object* object = value.if_object();
        if (object == nullptr) return reader.invalid_type(value, "string or map");
        if (object->size() != 1) {
            return reader.fail("invalid value: map, expected map with a single key");
        }
        name = &object->front().first;
        content = &object->front().second;
    }
    const auto it = std::find(names.begin(), names.end(), *name);
    if (it == names.end()) {
        return reader.fail("unknown variant " + quoted(*name) + ", expected " + one_of(names));
    }
    if (content != nullptr) {
        reader.push_variant(*name);
        if (!content->is_null()) return reader.invalid_type(*content, "unit");
        reader.pop();
    }
    out = static_cast<std::uint8_t>(it - names.begin());
    return true;
}

}  // namespace quorvel::facade::read
