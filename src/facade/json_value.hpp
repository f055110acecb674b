// The JSON-like value into which configuration from Python is converted
// before it is read into typed input records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quorvel::facade {

// Configuration never legitimately nests more than a few levels; the bound
// keeps conversion from Python shallow and its error message short.
inline constexpr std::size_t kMaxJsonDepth = 128;

class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Member = std::pair<std::string, JsonValue>;
    // Keys are unique and kept in ascending byte order.
    using Object = std::vector<Member>;

    enum class Kind : std::uint8_t { Null, Bool, Unsigned, Negative, Float, String, Array, Object };

    JsonValue() noexcept = default;
    JsonValue(std::nullptr_t) noexcept {}
    JsonValue(bool value) noexcept : data_(value) {}
    // Non-negative integers are always held as unsigned, so that an integer
    // has one representation whichever way it was produced.
    JsonValue(std::int64_t value) noexcept;
    JsonValue(std::uint64_t value) noexcept : data_(value) {}
    JsonValue(int value) noexcept : JsonValue(static_cast<std::int64_t>(value)) {}
    JsonValue(double value) noexcept : data_(value) {}
    JsonValue(std::string value) noexcept : data_(std::move(value)) {}
    JsonValue(const char* value) : data_(std::string(value)) {}
    JsonValue(Array value) noexcept : data_(std::move(value)) {}

    // Sorts the entries by key; of entries with equal keys the last one wins.
    static JsonValue object(std::vector<Member> entries);

    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(JsonValue&& other) noexcept;
    JsonValue(const JsonValue&) = delete;
    JsonValue& operator=(const JsonValue&) = delete;
    // Iterative, so that arbitrarily deep values never exhaust the stack.
    ~JsonValue();

    Kind kind() const noexcept { return static_cast<Kind>(data_.index()); }
    bool is_null() const noexcept { return kind() == Kind::Null; }

    const bool* if_bool() const noexcept { return std::get_if<bool>(&data_); }
    const std::uint64_t* if_unsigned() const noexcept { return std::get_if<std::uint64_t>(&data_); }
    // Only negative values are held here.
    const std::int64_t* if_negative() const noexcept { return std::get_if<std::int64_t>(&data_); }
    const double* if_float() const noexcept { return std::get_if<double>(&data_); }
    const std::string* if_string() const noexcept { return std::get_if<std::string>(&data_); }
    const Array* if_array() const noexcept { return std::get_if<Array>(&data_); }
    const Object* if_object() const noexcept { return std::get_if<Object>(&data_); }

private:
    bool is_container() const noexcept {
        return kind() == Kind::Array || kind() == Kind::Object;
    }
    // Moves every container held directly by this value onto `pending`.
    void take_nested(std::vector<JsonValue>& pending) noexcept;

    // Alternatives in the order of Kind.
    std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, Array,
                 Object>
        data_;
};

}  // namespace quorvel::facade
