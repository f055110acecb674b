#include "transform/attributes.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>

namespace quorvel::transform {

using syntax::ContentMode::Math;
using syntax::ContentMode::Text;

// clang-format off
constexpr std::array<AttributeCommandSpec, 40> DECLARATIVE_FORMS{{
    // Math mode, package base.
    {attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont, "base", "bf", "base:bf", Math},
    {attr::MathVariant{"VARIANT.CALLIGRAPHIC"}, Attr::MathFont, "base", "cal", "base:cal", Math},
    {attr::MathVariant{"VARIANT.MATHITALIC"}, Attr::MathFont, "base", "it", "base:it", Math},
    {attr::MathVariant{"VARIANT.NORMAL"}, Attr::MathFont, "base", "rm", "base:rm", Math},
    {attr::MathVariant{"VARIANT.SANSSERIF"}, Attr::MathFont, "base", "sf", "base:sf", Math},
    {attr::MathVariant{"VARIANT.MONOSPACE"}, Attr::MathFont, "base", "tt", "base:tt", Math},
    {attr::MathVariant{"VARIANT.ITALIC"}, Attr::MathFont, "base", "mit", "base:mit", Math},
    {attr::MathVariant{"-tex-oldstyle"}, Attr::MathFont, "base", "oldstyle", "base:oldstyle", Math},
    {attr::Size{249}, Attr::MathSize, "base", "Huge", "base:Huge", Math},
    {attr::Size{207}, Attr::MathSize, "base", "huge", "base:huge", Math},
    {attr::Size{173}, Attr::MathSize, "base", "LARGE", "base:LARGE", Math},
    {attr::Size{144}, Attr::MathSize, "base", "Large", "base:Large", Math},
    {attr::Size{120}, Attr::MathSize, "base", "large", "base:large", Math},
    {attr::Size{100}, Attr::MathSize, "base", "normalsize", "base:normalsize", Math},
    {attr::Size{85}, Attr::MathSize, "base", "small", "base:small", Math},
    {attr::Size{70}, Attr::MathSize, "base", "scriptsize", "base:scriptsize", Math},
    {attr::Size{60}, Attr::MathSize, "base", "Tiny", "base:Tiny", Math},
    {attr::Size{50}, Attr::MathSize, "base", "tiny", "base:tiny", Math},
    {attr::MathStyle{"D", 0, true}, Attr::MathStyle, "base", "displaystyle", "base:displaystyle", Math},
    {attr::MathStyle{"T", 0, false}, Attr::MathStyle, "base", "textstyle", "base:textstyle", Math},
    {attr::MathStyle{"S", 1, false}, Attr::MathStyle, "base", "scriptstyle", "base:scriptstyle", Math},
    {attr::MathStyle{"SS", 2, false}, Attr::MathStyle, "base", "scriptscriptstyle", "base:scriptscriptstyle", Math},
    // Text mode, package textmacros.
    {attr::TextFamily::Roman, Attr::TextFamily, "textmacros", "rm", "textmacros:rm", Text},
    {attr::TextFamily::SansSerif, Attr::TextFamily, "textmacros", "sf", "textmacros:sf", Text},
    {attr::TextFamily::Typewriter, Attr::TextFamily, "textmacros", "tt", "textmacros:tt", Text},
    {attr::TextFamily::Calligraphic, Attr::TextFamily, "textmacros", "cal", "textmacros:cal", Text},
    {attr::TextFamily::Italic, Attr::TextFamily, "textmacros", "mit", "textmacros:mit", Text},
    {attr::TextFamily::Oldstyle, Attr::TextFamily, "textmacros", "oldstyle", "textmacros:oldstyle", Text},
    {attr::TextSeries::Bold, Attr::TextSeries, "textmacros", "bf", "textmacros:bf", Text},
    {attr::TextShape::Italic, Attr::TextShape, "textmacros", "it", "textmacros:it", Text},
    {attr::Size{249}, Attr::TextSize, "textmacros", "Huge", "textmacros:Huge", Text},
    {attr::Size{207}, Attr::TextSize, "textmacros", "huge", "textmacros:huge", Text},
    {attr::Size{173}, Attr::TextSize, "textmacros", "LARGE", "textmacros:LARGE", Text},
    {attr::Size{144}, Attr::TextSize, "textmacros", "Large", "textmacros:Large", Text},
    {attr::Size{120}, Attr::TextSize, "textmacros", "large", "textmacros:large", Text},
    {attr::Size{100}, Attr::TextSize, "textmacros", "normalsize", "textmacros:normalsize", Text},
    {attr::Size{85}, Attr::TextSize, "textmacros", "small", "textmacros:small", Text},
    {attr::Size{70}, Attr::TextSize, "textmacros", "scriptsize", "textmacros:scriptsize", Text},
    {attr::Size{60}, Attr::TextSize, "textmacros", "Tiny", "textmacros:Tiny", Text},
    {attr::Size{50}, Attr::TextSize, "textmacros", "tiny", "textmacros:tiny", Text},
}};

constexpr std::array<AttributeCommandSpec, 12> PREFIX_FORMS{{
    {attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont, "base", "mathbf", "base:mathbf", Math},
    {attr::MathVariant{"VARIANT.CALLIGRAPHIC"}, Attr::MathFont, "base", "mathcal", "base:mathcal", Math},
    {attr::MathVariant{"VARIANT.MATHITALIC"}, Attr::MathFont, "base", "mathit", "base:mathit", Math},
    {attr::MathVariant{"VARIANT.NORMAL"}, Attr::MathFont, "base", "mathrm", "base:mathrm", Math},
    {attr::MathVariant{"VARIANT.SANSSERIF"}, Attr::MathFont, "base", "mathsf", "base:mathsf", Math},
    {attr::MathVariant{"VARIANT.MONOSPACE"}, Attr::MathFont, "base", "mathtt", "base:mathtt", Math},
    {attr::MathVariant{"VARIANT.ITALIC"}, Attr::MathFont, "base", "symit", "base:symit", Math},
    {attr::TextFamily::Roman, Attr::TextFamily, "textmacros", "textrm", "textmacros:textrm", Text},
    {attr::TextFamily::SansSerif, Attr::TextFamily, "textmacros", "textsf", "textmacros:textsf", Text},
    {attr::TextFamily::Typewriter, Attr::TextFamily, "textmacros", "texttt", "textmacros:texttt", Text},
    {attr::TextSeries::Bold, Attr::TextSeries, "textmacros", "textbf", "textmacros:textbf", Text},
    {attr::TextShape::Italic, Attr::TextShape, "textmacros", "textit", "textmacros:textit", Text},
}};

// One line per value: math declarative, math prefix, text declarative, text prefix.
constexpr std::array<CanonicalForm, 40> CANONICAL_FORMS{{
    {attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont, CommandForm{"base", "bf"}, CommandForm{"base", "mathbf"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.CALLIGRAPHIC"}, Attr::MathFont, CommandForm{"base", "cal"}, CommandForm{"base", "mathcal"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.MATHITALIC"}, Attr::MathFont, CommandForm{"base", "it"}, CommandForm{"base", "mathit"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.NORMAL"}, Attr::MathFont, CommandForm{"base", "rm"}, CommandForm{"base", "mathrm"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.SANSSERIF"}, Attr::MathFont, CommandForm{"base", "sf"}, CommandForm{"base", "mathsf"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.MONOSPACE"}, Attr::MathFont, CommandForm{"base", "tt"}, CommandForm{"base", "mathtt"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"VARIANT.ITALIC"}, Attr::MathFont, CommandForm{"base", "mit"}, CommandForm{"base", "symit"},
     std::nullopt, std::nullopt},
    {attr::MathVariant{"-tex-oldstyle"}, Attr::MathFont, CommandForm{"base", "oldstyle"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{249}, Attr::MathSize, CommandForm{"base", "Huge"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{207}, Attr::MathSize, CommandForm{"base", "huge"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{173}, Attr::MathSize, CommandForm{"base", "LARGE"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{144}, Attr::MathSize, CommandForm{"base", "Large"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{120}, Attr::MathSize, CommandForm{"base", "large"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{100}, Attr::MathSize, CommandForm{"base", "normalsize"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{85}, Attr::MathSize, CommandForm{"base", "small"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{70}, Attr::MathSize, CommandForm{"base", "scriptsize"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{60}, Attr::MathSize, CommandForm{"base", "Tiny"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::Size{50}, Attr::MathSize, CommandForm{"base", "tiny"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::MathStyle{"D", 0, true}, Attr::MathStyle, CommandForm{"base", "displaystyle"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::MathStyle{"T", 0, false}, Attr::MathStyle, CommandForm{"base", "textstyle"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::MathStyle{"S", 1, false}, Attr::MathStyle, CommandForm{"base", "scriptstyle"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::MathStyle{"SS", 2, false}, Attr::MathStyle, CommandForm{"base", "scriptscriptstyle"}, std::nullopt,
     std::nullopt, std::nullopt},
    {attr::TextFamily::Roman, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "rm"}, CommandForm{"textmacros", "textrm"}},
    {attr::TextFamily::SansSerif, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "sf"}, CommandForm{"textmacros", "textsf"}},
    {attr::TextFamily::Typewriter, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "tt"}, CommandForm{"textmacros", "texttt"}},
    {attr::TextFamily::Calligraphic, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "cal"}, std::nullopt},
    {attr::TextFamily::Italic, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "mit"}, std::nullopt},
    {attr::TextFamily::Oldstyle, Attr::TextFamily, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "oldstyle"}, std::nullopt},
    {attr::TextSeries::Bold, Attr::TextSeries, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "bf"}, CommandForm{"textmacros", "textbf"}},
    {attr::TextShape::Italic, Attr::TextShape, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "it"}, CommandForm{"textmacros", "textit"}},
    {attr::Size{249}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "Huge"}, std::nullopt},
    {attr::Size{207}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "huge"}, std::nullopt},
    {attr::Size{173}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "LARGE"}, std::nullopt},
    {attr::Size{144}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "Large"}, std::nullopt},
    {attr::Size{120}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "large"}, std::nullopt},
    {attr::Size{100}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "normalsize"}, std::nullopt},
    {attr::Size{85}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "small"}, std::nullopt},
    {attr::Size{70}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "scriptsize"}, std::nullopt},
    {attr::Size{60}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "Tiny"}, std::nullopt},
    {attr::Size{50}, Attr::TextSize, std::nullopt, std::nullopt,
     CommandForm{"textmacros", "tiny"}, std::nullopt},
}};
// clang-format on

bool AttributeState::set(Attr attr, const AttrValue& value) {
    std::optional<AttrValue>& slot = slots_[static_cast<std::size_t>(attr)];
    if (slot.has_value() && *slot == value) return false;
    slot = value;
    return true;
}

AxisList AttributeState::diff_axes(const AttributeState& other, std::span<const Attr> axes) const {
    AxisList differing;
    for (Attr attr : axes) {
        if (get(attr) != other.get(attr)) differing.push_back(attr);
    }
    return differing;
}

void AttributeState::clear(std::span<const Attr> axes) noexcept {
    for (Attr attr : axes) slots_[static_cast<std::size_t>(attr)].reset();
}

namespace {

std::uint64_t mix(std::uint64_t x) noexcept {
    // splitmix64 finaliser
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// Differs between processes (address-space layout and start time) without
// reading any file or device.
std::uint64_t process_seed() noexcept {
    static const std::uint64_t seed = [] {
        static const int anchor = 0;
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&anchor));
        const auto now =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return mix(address ^ mix(now));
    }();
    return seed;
}

std::uint64_t value_hash(const AttrValue& value) noexcept {
    struct Visitor {
        std::uint64_t operator()(const attr::MathVariant& v) const noexcept {
            return std::hash<std::string_view>{}(v.name);
        }
        std::uint64_t operator()(const attr::Size& v) const noexcept {
            return static_cast<std::uint32_t>(v.scale);
        }
        std::uint64_t operator()(const attr::MathStyle& v) const noexcept {
            return std::hash<std::string_view>{}(v.name) ^ (std::uint64_t{v.level} << 1) ^ (v.display ? 1 : 0);
        }
        std::uint64_t operator()(attr::TextFamily v) const noexcept { return static_cast<std::uint64_t>(v); }
        std::uint64_t operator()(attr::TextSeries v) const noexcept { return static_cast<std::uint64_t>(v); }
        std::uint64_t operator()(attr::TextShape v) const noexcept { return static_cast<std::uint64_t>(v); }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace

std::size_t AttributeSetHash::operator()(const AttributeSet& set) const noexcept {
    std::uint64_t h = mix(process_seed() ^ (static_cast<std::uint64_t>(set.value.index()) << 8) ^
                          static_cast<std::uint64_t>(set.attr));
    return static_cast<std::size_t>(mix(h ^ value_hash(set.value)));
}

const AttributeCommandSpec* lookup_declarative_form(syntax::ContentMode mode, std::string_view name) noexcept {
    for (const AttributeCommandSpec& row : DECLARATIVE_FORMS)
        if (row.mode == mode && row.name == name) return &row;
    return nullptr;
}

// The first letters and the shortest and longest names of the prefix forms:
// the flattening asks about every command it meets, and most are none.
struct NameShape {
    std::uint64_t first_letters[4] = {};
    std::size_t shortest = std::string_view::npos;
    std::size_t longest = 0;
    constexpr bool may_be(std::string_view name) const noexcept {
        if (name.size() < shortest || name.size() > longest) return false;
        const auto c = static_cast<unsigned char>(name.front());
        return (first_letters[c / 64] >> (c % 64) & 1) != 0;
    }
};
constexpr NameShape PREFIX_NAMES = [] {
    NameShape shape;
    for (const AttributeCommandSpec& row : PREFIX_FORMS) {
        const auto c = static_cast<unsigned char>(row.name.front());
        shape.first_letters[c / 64] |= std::uint64_t{1} << (c % 64);
        shape.shortest = std::min(shape.shortest, row.name.size());
        shape.longest = std::max(shape.longest, row.name.size());
    }
    return shape;
}();

const AttributeCommandSpec* lookup_prefix_form(syntax::ContentMode mode, std::string_view name) noexcept {
    if (!PREFIX_NAMES.may_be(name)) return nullptr;
    for (const AttributeCommandSpec& row : PREFIX_FORMS)
        if (row.mode == mode && row.name == name) return &row;
    return nullptr;
}

const CanonicalForm* lookup_canonical_form(Attr attr, const AttrValue& value) noexcept {
    for (const CanonicalForm& row : CANONICAL_FORMS)
        if (row.attr == attr && row.value == value) return &row;
    return nullptr;
}

}  // namespace quorvel::transform
