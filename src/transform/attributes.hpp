// The attribute model of attribute lowering: the seven axes, the values they
// take, the state of values in force at a point of the tree, the report's
// per-value counters, and the three static command tables (declarative forms,
// prefix forms, canonical forms). The pass recognises these commands from the
// tables alone, never from the knowledge base.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "syntax/content_mode.hpp"

namespace quorvel::transform {

enum class Attr : std::uint8_t {
    MathFont = 0,
    MathSize = 1,
    MathStyle = 2,
    TextFamily = 3,
    TextSeries = 4,
    TextShape = 5,
    TextSize = 6,
};

inline constexpr std::size_t ATTR_COUNT = 7;

// The name reports show: "math_font", "math_size", ..., "text_size".
constexpr std::string_view to_string(Attr attr) noexcept {
    constexpr std::array<std::string_view, ATTR_COUNT> names{
        "math_font", "math_size", "math_style", "text_family", "text_series", "text_shape", "text_size",
    };
    return names[static_cast<std::size_t>(attr)];
}

// The axes of each content mode in the order they are compared and wrapped;
// the first is innermost. Text puts shape first and size last.
inline constexpr std::array<Attr, 3> MATH_AXES{Attr::MathFont, Attr::MathSize, Attr::MathStyle};
inline constexpr std::array<Attr, 4> TEXT_AXES{Attr::TextShape, Attr::TextSeries, Attr::TextFamily,
                                               Attr::TextSize};

namespace attr {

// A math font variant name such as "VARIANT.BOLD"; compared by content.
struct MathVariant {
    std::string_view name;
    friend constexpr bool operator==(const MathVariant&, const MathVariant&) = default;
};

// A scale relative to normal size, in hundredths (100 is normal).
struct Size {
    std::int32_t scale = 100;
    friend constexpr bool operator==(const Size&, const Size&) = default;
};

// "D", "T", "S" or "SS" with its script level and display flag.
struct MathStyle {
    std::string_view name;
    std::uint8_t level = 0;
    bool display = false;
    friend constexpr bool operator==(const MathStyle&, const MathStyle&) = default;
};

enum class TextFamily : std::uint8_t {
    Roman = 0,
    SansSerif = 1,
    Typewriter = 2,
    Calligraphic = 3,
    Italic = 4,  // the math-italic family
    Oldstyle = 5,
};

enum class TextSeries : std::uint8_t { Medium = 0, Bold = 1 };

enum class TextShape : std::uint8_t { Upright = 0, Italic = 1, Slanted = 2, SmallCaps = 3 };

}  // namespace attr

// A lowered attribute value; equal when the same variant with equal contents.
using AttrValue = std::variant<attr::MathVariant, attr::Size, attr::MathStyle, attr::TextFamily,
                               attr::TextSeries, attr::TextShape>;

// One row of DECLARATIVE_FORMS or PREFIX_FORMS.
struct AttributeCommandSpec {
    AttrValue value;
    Attr attr;
    std::string_view package;
    std::string_view name;            // without backslash
    std::string_view qualified_name;  // "base:bf"
    syntax::ContentMode mode;         // the mode the command is recognised in
};

// A command the pass can write: its package and name.
struct CommandForm {
    std::string_view package;
    std::string_view name;
    friend constexpr bool operator==(const CommandForm&, const CommandForm&) = default;
};

// How the pass writes one attribute value in each content mode.
struct CanonicalForm {
    AttrValue value;
    Attr attr;
    std::optional<CommandForm> math_declarative;
    std::optional<CommandForm> math_prefix;
    std::optional<CommandForm> text_declarative;
    std::optional<CommandForm> text_prefix;

    constexpr const std::optional<CommandForm>& declarative(syntax::ContentMode mode) const noexcept {
        return mode == syntax::ContentMode::Math ? math_declarative : text_declarative;
    }
    constexpr const std::optional<CommandForm>& prefix(syntax::ContentMode mode) const noexcept {
        return mode == syntax::ContentMode::Math ? math_prefix : text_prefix;
    }
};

// A short list of axes held inline, so comparing states never allocates.
class AxisList {
public:
    constexpr void push_back(Attr attr) noexcept {
        if (size_ < items_.size()) items_[size_++] = attr;
    }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }
    constexpr Attr operator[](std::size_t i) const noexcept { return items_[i]; }
    constexpr const Attr* begin() const noexcept { return items_.data(); }
    constexpr const Attr* end() const noexcept { return items_.data() + size_; }

    friend constexpr bool operator==(const AxisList& a, const AxisList& b) noexcept {
        if (a.size_ != b.size_) return false;
        for (std::size_t i = 0; i < a.size_; ++i)
            if (a.items_[i] != b.items_[i]) return false;
        return true;
    }

private:
    std::array<Attr, ATTR_COUNT> items_{};
    std::size_t size_ = 0;
};

// Which value is in force on each axis; all empty when fresh. A plain value,
// copied wherever the pass branches.
class AttributeState {
public:
    const std::optional<AttrValue>& get(Attr attr) const noexcept {
        return slots_[static_cast<std::size_t>(attr)];
    }

    // Writes the value into its axis; false exactly when the slot already
    // held an equal value.
    bool set(Attr attr, const AttrValue& value);
    bool set(const AttributeCommandSpec& entry) { return set(entry.attr, entry.value); }

    // The listed axes, in list order, on which the two states differ; an empty
    // slot differs from any value but equals an empty one.
    AxisList diff_axes(const AttributeState& other, std::span<const Attr> axes) const;

    void clear(std::span<const Attr> axes) noexcept;

    friend bool operator==(const AttributeState&, const AttributeState&) = default;

private:
    std::array<std::optional<AttrValue>, ATTR_COUNT> slots_{};
};

// The report key of one attribute value.
struct AttributeSet {
    AttrValue value;
    Attr attr;
    friend constexpr bool operator==(const AttributeSet&, const AttributeSet&) = default;
};

struct AttributeFormCounts {
    std::uint64_t declaratives = 0;
    std::uint64_t prefixes = 0;
    friend constexpr bool operator==(const AttributeFormCounts&, const AttributeFormCounts&) = default;
};

struct AttributeStat {
    AttributeFormCounts consumed;   // recognised and removed
    AttributeFormCounts redundant;  // of those, the ones that changed nothing
    AttributeFormCounts emitted;    // wrappers written
    friend constexpr bool operator==(const AttributeStat&, const AttributeStat&) = default;
};

// Hashes with a per-process random seed, like every hash table of the system.
struct AttributeSetHash {
    std::size_t operator()(const AttributeSet& set) const noexcept;
};

extern const std::array<AttributeCommandSpec, 40> DECLARATIVE_FORMS;
extern const std::array<AttributeCommandSpec, 12> PREFIX_FORMS;
extern const std::array<CanonicalForm, 40> CANONICAL_FORMS;

// The first declarative row of that mode and name (the package is not compared).
const AttributeCommandSpec* lookup_declarative_form(syntax::ContentMode mode, std::string_view name) noexcept;
// The prefix row of that name among the mode's prefixes.
const AttributeCommandSpec* lookup_prefix_form(syntax::ContentMode mode, std::string_view name) noexcept;
// The first canonical row of that axis and value.
const CanonicalForm* lookup_canonical_form(Attr attr, const AttrValue& value) noexcept;

}  // namespace quorvel::transform
