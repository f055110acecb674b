#include "knowledge/packages.hpp"

namespace quorvel::knowledge {

namespace {

// Indexed by PackageName.
constexpr std::array<std::string_view, 7> PACKAGE_NAMES{
    "base", "ams", "braket", "physics", "textmacros", "bboldx", "boldsymbol",
};

constexpr std::array<const BuiltinPackage*, 7> PACKAGES_BY_ID{
    &builtin::BASE_PACKAGE,       &builtin::AMS_PACKAGE,    &builtin::BRAKET_PACKAGE,
    &builtin::PHYSICS_PACKAGE,    &builtin::TEXTMACROS_PACKAGE, &builtin::BBOLDX_PACKAGE,
    &builtin::BOLDSYMBOL_PACKAGE,
};

}  // namespace

std::string_view to_string(PackageName name) noexcept {
    const auto index = static_cast<std::size_t>(name);
    return index < PACKAGE_NAMES.size() ? PACKAGE_NAMES[index] : std::string_view{};
}

std::optional<PackageName> package_name_from_str(std::string_view text) noexcept {
    for (std::size_t i = 0; i < PACKAGE_NAMES.size(); ++i)
        if (PACKAGE_NAMES[i] == text) return static_cast<PackageName>(i);
    return std::nullopt;
}

std::string_view to_string(CommandKind kind) noexcept {
    switch (kind) {
        case CommandKind::Prefix: return "prefix";
        case CommandKind::Infix: return "infix";
        case CommandKind::Declarative: return "declarative";
    }
    return "prefix";
}

std::string_view to_string(AllowedMode mode) noexcept {
    switch (mode) {
        case AllowedMode::Math: return "math";
        case AllowedMode::Text: return "text";
        case AllowedMode::Both: return "both";
    }
    return "math";
}

CharacterAttributes CharacterAttributes::from(const BuiltinCharacterAttributes& builtin) {
    CharacterAttributes owned;
    if (builtin.mathvariant) owned.mathvariant.emplace(*builtin.mathvariant);
    return owned;
}

const BuiltinPackage* lookup_package(std::string_view name) noexcept {
    const auto id = package_name_from_str(name);
    return id ? PACKAGES_BY_ID[static_cast<std::size_t>(*id)] : nullptr;
}

const BuiltinPackage& builtin_package(PackageName name) noexcept {
    return *PACKAGES_BY_ID[static_cast<std::size_t>(name)];
}

}  // namespace quorvel::knowledge
