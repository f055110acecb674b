#include "facade/json_value.hpp"

#include <algorithm>

namespace quorvel::facade {

JsonValue::JsonValue(std::int64_t value) noexcept {
    if (value < 0) {
        data_ = value;
    } else {
        data_ = static_cast<std::uint64_t>(value);
    }
}

JsonValue JsonValue::object(std::vector<Member> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Member& a, const Member& b) { return a.first < b.first; });
    // Keep the last of each run of equal keys.
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
        if (out != i) entries[out] = std::move(entries[i]);
        ++out;
    }
    // Dropped duplicates may be deep: let the iterative destructor take them.
    while (entries.size() > out) entries.pop_back();
    JsonValue value;
    value.data_ = std::move(entries);
    return value;
}

JsonValue::JsonValue(JsonValue&& other) noexcept
    : data_(std::exchange(other.data_, std::monostate{})) {}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        JsonValue old(std::move(*this));
        data_ = std::exchange(other.data_, std::monostate{});
    }
    return *this;
}

void JsonValue::take_nested(std::vector<JsonValue>& pending) noexcept {
    if (auto* array = std::get_if<Array>(&data_)) {
        for (JsonValue& item : *array) {
            if (item.is_container()) pending.push_back(std::move(item));
        }
    } else if (auto* object = std::get_if<Object>(&data_)) {
        for (Member& member : *object) {
            if (member.second.is_container()) pending.push_back(std::move(member.second));
        }
    }
}

JsonValue::~JsonValue() {
    if (!is_container()) return;
    std::vector<JsonValue> pending;
    take_nested(pending);
    while (!pending.empty()) {
        JsonValue last = std::move(pending.back());
        pending.pop_back();
        // `last` now holds no nested container, so destroying it recurses
        // at most one level.
        last.take_nested(pending);
    }
}

}  // namespace quorvel::facade
