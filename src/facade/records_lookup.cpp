#include "facade/records_lookup.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvel::facade {
namespace {

std::vector<std::string> owned(std::span<const std::string_view> texts) {
    return std::vector<std::string>(texts.begin(), texts.end());
}

}  // namespace

CommandInfoDto command_info_to_dto(const knowledge::ActiveCommandRecord& record) {
    return CommandInfoDto{
        std::string(record.name),
        knowledge::to_string(record.kind),
        knowledge::to_string(record.allowed_mode),
        std::string(record.argspec),
        owned(record.from_packages),
        owned(record.tags),
        parsed_arg_spec_slots(record.args),
    };
}

EnvInfoDto env_info_to_dto(const knowledge::ActiveEnvironmentRecord& record) {
    return EnvInfoDto{
        std::string(record.name),
        knowledge::to_string(record.allowed_mode),
        syntax::content_mode_name(record.body_mode),
        std::string(record.argspec),
        owned(record.from_packages),
        owned(record.tags),
        parsed_arg_spec_slots(record.args),
    };
}

CharacterInfoDto character_info_to_dto(const knowledge::ActiveCharacterRecord& record) {
    CharacterInfoDto dto{
        std::string(record.name),
        knowledge::to_string(record.allowed_mode),
        std::string(record.text),
        {},
        std::string(record.package),
    };
    if (record.attributes.mathvariant) dto.attributes.mathvariant = std::string(*record.attributes.mathvariant);
    return dto;
}

std::string string_to_dto_token(std::string_view text) {
    constexpr std::string_view prefix = "VARIANT.";
    if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    std::string out;
    out.reserve(text.size());
    bool after_separator = false;
    // Byte-wise: every byte of a non-ASCII character is a separator, and a run
    // of separators gives one "_" however many bytes it spans.
    for (const char c : text) {
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
            after_separator = false;
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += c;
            after_separator = false;
        } else {
            if (!out.empty() && !after_separator) out += '_';
            after_separator = true;
        }
    }
    if (!out.empty() && out.back() == '_') out.pop_back();
    if (out.empty()) return "unknown";
    return out;
}

std::string math_font_value_to_dto_key(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, std::string_view>, 8> fixed{{
        {"VARIANT.BOLD", "bold"},
        {"-tex-oldstyle", "oldstyle"},
        {"VARIANT.ITALIC", "italic"},
        {"VARIANT.NORMAL", "normal"},
        {"VARIANT.SANSSERIF", "sans_serif"},
        {"VARIANT.MONOSPACE", "monospace"},
        {"VARIANT.MATHITALIC", "mathitalic"},
        {"VARIANT.CALLIGRAPHIC", "calligraphic"},
    }};
    for (const auto& [from, key] : fixed) {
        if (name == from) return std::string(key);
    }
    return string_to_dto_token(name);
}

std::string style_value_to_dto_key(const transform::attr::MathStyle& style) {
    const auto is = [&](std::string_view name, bool display, std::uint8_t level) {
        return style.name == name && style.display == display && style.level == level;
    };
    if (is("D", true, 0)) return "displaystyle";
    if (is("T", false, 0)) return "textstyle";
    if (is("S", false, 1)) return "scriptstyle";
    if (is("SS", false, 2)) return "scriptscriptstyle";
    std::string key = "style_";
    key += string_to_dto_token(style.name);
    key += style.display ? "_display_" : "_inline_";
    key += std::to_string(style.level);
    return key;
}

namespace {

std::string size_key(std::int32_t scale) {
    // Widened so that the most negative scale has a magnitude.
    const std::int64_t magnitude = std::abs(static_cast<std::int64_t>(scale));
    const std::int64_t hundredths = magnitude % 100;
    std::string key = scale < 0 ? "minus_scale_" : "scale_";
    key += std::to_string(magnitude / 100);
    key += '_';
    key += static_cast<char>('0' + hundredths / 10);
    key += static_cast<char>('0' + hundredths % 10);
    return key;
}

}  // namespace

std::string attr_value_to_dto_key(transform::Attr, const transform::AttrValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            namespace attr = transform::attr;
            if constexpr (std::is_same_v<V, attr::MathVariant>) {
                return math_font_value_to_dto_key(v.name);
            } else if constexpr (std::is_same_v<V, attr::Size>) {
                return size_key(v.scale);
            } else if constexpr (std::is_same_v<V, attr::MathStyle>) {
                return style_value_to_dto_key(v);
            } else if constexpr (std::is_same_v<V, attr::TextFamily>) {
                constexpr std::array<std::string_view, 6> names{
                    "roman", "sans_serif", "typewriter", "calligraphic", "italic", "oldstyle",
                };
                const auto index = static_cast<std::size_t>(v);
                return std::string(index < names.size() ? names[index] : "unknown");
            } else if constexpr (std::is_same_v<V, attr::TextSeries>) {
                return v == attr::TextSeries::Bold ? "bold" : "medium";
            } else {
                static_assert(std::is_same_v<V, attr::TextShape>);
                constexpr std::array<std::string_view, 4> names{"upright", "italic", "slanted", "small_caps"};
                const auto index = static_cast<std::size_t>(v);
                return std::string(index < names.size() ? names[index] : "unknown");
            }
        },
        value);
}

}  // namespace quorvel::facade
