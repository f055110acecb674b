// Strict reading of JSON values into typed input records: records must be
// objects, undeclared keys are refused, and a failure carries the path of
// the failing value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "facade/json_value.hpp"

namespace quorvel::facade::read {

struct PathSegment {
    enum class Kind : std::uint8_t { Index, Key, Variant };
    Kind kind;
    std::size_t index = 0;  // for Index
    std::string name;       // for Key and Variant
};

struct ReadError {
    std::string message;
    std::vector<PathSegment> path;  // from the top-level value down
};

template <class T>
using ReadResult = std::variant<T, ReadError>;

// "invalid {context}: {path}: {message}", or without the path when it is empty.
std::string format_read_error(std::string_view context, const ReadError& error);

// The message without a trailing " at line {digits} column {digits}".
std::string_view strip_location_suffix(std::string_view message);

// Shortest round-trip text of a double, always with a decimal point or an
// exponent: "2.0", "0.5", "1e100", "1e-6".
std::string format_float(double value);

// The text in double quotes with debug escaping: \" \\ \0 \t \r \n, and
// \u{hex} for control, format, separator, private-use and combining
// characters.
std::string debug_string(std::string_view utf8);

// How a refused value is described in "invalid type: {}, expected {}".
std::string describe_unexpected(const JsonValue& value);

// `a`, `a` or `b`, one of `a`, `b`, `c`.
std::string one_of(std::span<const std::string_view> names);

// The reading state: the path to the value being read and, once reading has
// failed, the message. Every reader returns false on failure and leaves the
// path pointing at the failing value.
class Reader {
public:
    bool fail(std::string message);
    bool invalid_type(const JsonValue& value, std::string_view expected);

    // Names must outlive the reading (they point into the value read).
    void push_key(std::string_view key) { path_.push_back({PathSegment::Kind::Key, 0, key}); }
    void push_variant(std::string_view name) {
        path_.push_back({PathSegment::Kind::Variant, 0, name});
    }
    void push_index(std::size_t index) { path_.push_back({PathSegment::Kind::Index, index, {}}); }
    void pop() { path_.pop_back(); }

    ReadError take_error();

private:
    struct Frame {
        PathSegment::Kind kind;
        std::size_t index;
        std::string_view name;
    };
    std::vector<Frame> path_;
    std::string message_;
};

// Readers of the scalar kinds; wrap one in read_optional to read null as
// absent.
bool read_bool(Reader& reader, const JsonValue& value, bool& out);
bool read_size(Reader& reader, const JsonValue& value, std::size_t& out);
bool read_string(Reader& reader, const JsonValue& value, std::string& out);
bool read_string_list(Reader& reader, const JsonValue& value, std::vector<std::string>& out);
// An enumeration of unit values: a name, or an object with exactly one key
// naming a value whose value is null. `out` is the position in `names`.
bool read_enum(Reader& reader, const JsonValue& value, std::span<const std::string_view> names,
               std::uint8_t& out);

template <class T, class ReadInner>
bool read_optional(Reader& reader, const JsonValue& value, std::optional<T>& out,
                   ReadInner read_inner) {
    if (value.is_null()) {
        out.reset();
        return true;
    }
    T inner{};
    if (!read_inner(reader, value, inner)) return false;
    out = std::move(inner);
    return true;
}

// One declared key of a record.
template <class Record>
struct Field {
    std::string_view name;
    bool required;
    bool (*read)(Reader&, const JsonValue&, Record&);
};

bool unknown_field(Reader& reader, const std::string& key, std::span<const std::string_view> names);

template <class Record, std::size_t N>
bool read_record(Reader& reader, const JsonValue& value, Record& out,
                 const std::array<Field<Record>, N>& fields) {
    const JsonValue::Object* object = value.if_object();
    if (object == nullptr) return reader.invalid_type(value, "an object");
    std::array<bool, N> seen{};
    for (const auto& [key, item] : *object) {
        std::size_t i = 0;
        while (i < N && fields[i].name != key) ++i;
        reader.push_key(key);
        if (i == N) {
            std::array<std::string_view, N> declared{};
            for (std::size_t j = 0; j < N; ++j) declared[j] = fields[j].name;
            return unknown_field(reader, key, declared);
        }
        if (!fields[i].read(reader, item, out)) return false;
        reader.pop();
        seen[i] = true;
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].required && !seen[i]) {
            return reader.fail("missing field `" + std::string(fields[i].name) + "`");
        }
    }
    return true;
}

template <class T, class ReadElement>
bool read_list(Reader& reader, const JsonValue& value, std::vector<T>& out,
               ReadElement read_element) {
    const JsonValue::Array* array = value.if_array();
    if (array == nullptr) return reader.invalid_type(value, "a sequence");
    out.clear();
    out.reserve(array->size());
    for (std::size_t i = 0; i < array->size(); ++i) {
        reader.push_index(i);
        T element{};
        if (!read_element(reader, (*array)[i], element)) return false;
        reader.pop();
        out.push_back(std::move(element));
    }
    return true;
}

}  // namespace quorvel::facade::read
