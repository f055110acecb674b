#include "knowledge/knowledge_base.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvel::knowledge {

namespace {

using syntax::ContentMode;

// One-element package lists with static storage: the `from_packages` of every
// unmerged built-in record, and of every run-time record.
const std::array<std::string_view, 7>& single_package_lists() {
    static const std::array<std::string_view, 7> lists = [] {
        std::array<std::string_view, 7> out{};
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = to_string(static_cast<PackageName>(i));
        return out;
    }();
    return lists;
}

std::span<const std::string_view> single_package(PackageName package) {
    return std::span<const std::string_view>(&single_package_lists()[static_cast<std::size_t>(package)], 1);
}

constexpr std::string_view kRuntimeList[1] = {RUNTIME_PACKAGE};

constexpr ActiveCommandRecord kEscapedAmpersand{{}, "", "&", {}, {}, CommandKind::Prefix, AllowedMode::Both};

// Records allowed only in the other mode are not imported.
bool excluded(AllowedMode allowed, ContentMode mode) {
    return mode == ContentMode::Math ? allowed == AllowedMode::Text : allowed == AllowedMode::Math;
}

AllowedMode unite(AllowedMode a, AllowedMode b) { return a == b ? a : AllowedMode::Both; }

bool contains(std::span<const std::string_view> list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

bool all_managed(std::span<const std::string_view> packages) {
    return std::all_of(packages.begin(), packages.end(),
                       [](std::string_view p) { return package_name_from_str(p).has_value(); });
}

// Both lists non-empty and every entry a managed package.
bool managed_merge(std::span<const std::string_view> existing, std::span<const std::string_view> incoming) {
    return !existing.empty() && all_managed(existing) && !incoming.empty() && all_managed(incoming);
}

}  // namespace

std::string PackageLoadError::to_string() const { return "unknown package: " + name; }

std::vector<std::string_view> canonical_package_import_order(std::span<const std::string_view> names) {
    std::vector<std::string_view> unique;
    unique.reserve(names.size());
    for (std::string_view name : names)
        if (!contains(unique, name)) unique.push_back(name);
    std::vector<std::string_view> out;
    out.reserve(unique.size());
    for (PackageName package : MANAGED_PACKAGE_IMPORT_ORDER) {
        const std::string_view name = to_string(package);
        if (contains(unique, name)) out.push_back(name);  // the static name
    }
    for (std::string_view name : unique)
        if (!package_name_from_str(name)) out.push_back(name);
    return out;
}

std::vector<std::string_view> merge_tags(std::span<const std::string_view> a, std::span<const std::string_view> b) {
    std::vector<std::string_view> out;
    out.reserve(a.size() + b.size());
    for (auto list : {a, b})
        for (std::string_view tag : list)
            if (!contains(out, tag)) out.push_back(tag);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string_view> merge_from_packages(std::span<const std::string_view> a,
                                                  std::span<const std::string_view> b) {
    std::vector<std::string_view> joined(a.begin(), a.end());
    joined.insert(joined.end(), b.begin(), b.end());
    return canonical_package_import_order(joined);
}

// ---------------------------------------------------------------- building

Expected<KnowledgeBase, PackageLoadError> KnowledgeBase::try_build_from_packages_for_mode(
    std::span<const std::string> package_names, ContentMode mode) {
    std::vector<std::string_view> views(package_names.begin(), package_names.end());
    return try_build_from_packages_for_mode(std::span<const std::string_view>(views), mode);
}

Expected<KnowledgeBase, PackageLoadError> KnowledgeBase::try_build_from_packages_for_mode(
    std::span<const std::string_view> package_names, ContentMode mode) {
    std::vector<const BuiltinPackage*> packages;
    std::vector<PackageName> ids;
    for (std::string_view name : canonical_package_import_order(package_names)) {
        const auto id = package_name_from_str(name);
        if (!id) return PackageLoadError{PackageLoadError::Kind::UnknownPackage, std::string(name)};
        ids.push_back(*id);
        packages.push_back(&builtin_package(*id));
    }
    KnowledgeBase kb;
    kb.reserve_for(packages, mode);
    for (std::size_t i = 0; i < packages.size(); ++i) kb.import_package(*packages[i], single_package(ids[i]), mode);
    return kb;
}

const ActiveCommandRecord* escaped_command(std::string_view name) noexcept {
    return name == kEscapedAmpersand.name ? &kEscapedAmpersand : nullptr;
}

void KnowledgeBase::reserve_for(std::span<const BuiltinPackage* const> packages, ContentMode mode) {
    std::size_t commands = 0, environments = 0, characters = 0, delimiters = 0;
    auto count = [mode](const auto& list) {
        return static_cast<std::size_t>(
            std::count_if(list.begin(), list.end(), [mode](const auto* r) { return !excluded(r->allowed_mode, mode); }));
    };
    for (const BuiltinPackage* p : packages) {
        commands += count(p->commands);
        environments += count(p->environments);
        characters += count(p->characters);
        delimiters += count(p->delimiters);
    }
    commands_.reserve(commands);
    environments_.reserve(environments);
    characters_.reserve(characters);
    character_commands_.reserve(characters);
    delimiters_.reserve(delimiters);
    delimiter_commands_.reserve(delimiters);
    command_index_.reserve(commands);
    environment_index_.reserve(environments);
    character_index_.reserve(characters);
    active_commands_.reserve(commands + characters);
    delimiter_index_[0].reserve(delimiters);
    delimiter_index_[1].reserve(delimiters);
}

void KnowledgeBase::import_package(const BuiltinPackage& package, std::span<const std::string_view> from,
                                   ContentMode mode) {
    for (const BuiltinCharacterSpec* spec : package.characters)
        if (!excluded(spec->allowed_mode, mode)) insert_builtin_character_with_package(*spec, from);
    for (const BuiltinDelimiterSpec* spec : package.delimiters)
        if (!excluded(spec->allowed_mode, mode)) insert_builtin_delimiter_with_package(*spec, from);
    for (const BuiltinCommandSpec* spec : package.commands)
        if (!excluded(spec->allowed_mode, mode)) import_or_merge_builtin_command_with_package(*spec, from);
    for (const BuiltinEnvironmentSpec* spec : package.environments)
        if (!excluded(spec->allowed_mode, mode)) import_or_merge_builtin_environment_with_package(*spec, from);
}

void KnowledgeBase::insert_builtin_character_with_package(const BuiltinCharacterSpec& spec,
                                                          std::span<const std::string_view> from) {
    const auto index = static_cast<std::uint32_t>(characters_.size());
    characters_.push_back({spec.name, spec.text, from.front(), spec.attributes, spec.allowed_mode});
    character_index_.insert_or_assign(spec.name, index);
    // The character also answers as a prefix command without arguments.
    const auto view = static_cast<std::uint32_t>(character_commands_.size());
    character_commands_.push_back({{}, "", spec.name, {}, from, CommandKind::Prefix, spec.allowed_mode});
    active_commands_.insert_or_assign(spec.name, ActiveCommandSource{ActiveCommandSource::Kind::Character, view});
}

void KnowledgeBase::insert_builtin_delimiter_with_package(const BuiltinDelimiterSpec& spec,
                                                          std::span<const std::string_view> from) {
    upsert_delimiter_meta({spec.name, spec.text, from.front(), spec.attributes, spec.allowed_mode, spec.control},
                          from);
}

void KnowledgeBase::upsert_delimiter_meta(const ActiveDelimiterRecord& record, std::span<const std::string_view> from) {
    const auto index = static_cast<std::uint32_t>(delimiters_.size());
    delimiters_.push_back(record);
    delimiter_commands_.push_back({{}, "", record.name, {}, from, CommandKind::Prefix, AllowedMode::Math});
    delimiter_index_[record.control ? 1 : 0].insert_or_assign(record.name, index);
}

void KnowledgeBase::import_or_merge_builtin_command_with_package(const BuiltinCommandSpec& spec,
                                                                 std::span<const std::string_view> from) {
    if (auto it = command_index_.find(spec.name); it != nullptr) {
        const ActiveCommandRecord existing = commands_[it->second];
        // Pr, det and exp look the same in base and physics, but physics
        // typesets them differently: its definition replaces base's.
        const bool physics_operator =
            (spec.name == "Pr" || spec.name == "det" || spec.name == "exp") &&
            (contains(existing.from_packages, "physics") || contains(from, "physics"));
        if (existing.kind == spec.kind && existing.argspec == spec.argspec &&
            managed_merge(existing.from_packages, from) && !physics_operator) {
            ActiveCommandRecord merged = existing;
            merged.allowed_mode = unite(existing.allowed_mode, spec.allowed_mode);
            merged.tags = own_list(merge_tags(existing.tags, spec.tags));
            merged.from_packages = own_list(merge_from_packages(existing.from_packages, from));
            commands_.push_back(merged);
            point_command(merged.name, static_cast<std::uint32_t>(commands_.size() - 1));
            return;
        }
    }
    commands_.push_back({spec.args, spec.argspec, spec.name, spec.tags, from, spec.kind, spec.allowed_mode});
    point_command(spec.name, static_cast<std::uint32_t>(commands_.size() - 1));
}

void KnowledgeBase::import_or_merge_builtin_environment_with_package(const BuiltinEnvironmentSpec& spec,
                                                                     std::span<const std::string_view> from) {
    if (auto it = environment_index_.find(spec.name); it != nullptr) {
        const ActiveEnvironmentRecord existing = environments_[it->second];
        if (existing.argspec == spec.argspec && existing.body_mode == spec.body_mode &&
            managed_merge(existing.from_packages, from)) {
            ActiveEnvironmentRecord merged = existing;
            merged.allowed_mode = unite(existing.allowed_mode, spec.allowed_mode);
            merged.tags = own_list(merge_tags(existing.tags, spec.tags));
            merged.from_packages = own_list(merge_from_packages(existing.from_packages, from));
            environments_.push_back(merged);
            environment_index_.insert_or_assign(merged.name, static_cast<std::uint32_t>(environments_.size() - 1));
            return;
        }
    }
    environments_.push_back({spec.args, spec.argspec, spec.name, spec.tags, from, spec.allowed_mode, spec.body_mode});
    environment_index_.insert_or_assign(spec.name, static_cast<std::uint32_t>(environments_.size() - 1));
}

void KnowledgeBase::point_command(std::string_view name, std::uint32_t index) {
    command_index_.insert_or_assign(name, index);
    active_commands_.insert_or_assign(name, ActiveCommandSource{ActiveCommandSource::Kind::Command, index});
}

// ---------------------------------------------------------------- owned storage

std::string_view KnowledgeBase::own_text(std::string_view text) {
    if (text.empty()) return {};
    return owned_texts_.emplace_back(text);
}

std::span<const std::string_view> KnowledgeBase::own_list(std::vector<std::string_view> list) {
    if (list.empty()) return {};
    return owned_lists_.emplace_back(std::move(list));
}

std::span<const std::string_view> KnowledgeBase::own_tags(std::span<const std::string> tags) {
    std::vector<std::string_view> list;
    list.reserve(tags.size());
    for (const std::string& tag : tags) list.push_back(own_text(tag));
    return own_list(std::move(list));
}

// ---------------------------------------------------------------- run-time changes

std::optional<ArgSpecParseError> KnowledgeBase::insert_command(const CommandDeclaration& item) {
    std::string context = "command ";
    context += item.name;
    auto parsed = parse_arg_specs(item.argspec, context);
    if (!parsed) return std::move(parsed).error();
    const ArgSpecList& args = owned_args_.emplace_back(std::move(parsed).value());
    const std::string_view name = own_text(item.name);
    commands_.push_back(
        {args.slots(), own_text(item.argspec), name, own_tags(item.tags), kRuntimeList, item.kind, item.allowed_mode});
    point_command(name, static_cast<std::uint32_t>(commands_.size() - 1));
    removed_commands_.erase(name);
    return std::nullopt;
}

std::optional<ArgSpecParseError> KnowledgeBase::insert_environment(const EnvironmentDeclaration& item) {
    std::string context = "environment ";
    context += item.name;
    auto parsed = parse_arg_specs(item.argspec, context);
    if (!parsed) return std::move(parsed).error();
    const ArgSpecList& args = owned_args_.emplace_back(std::move(parsed).value());
    const std::string_view name = own_text(item.name);
    environments_.push_back({args.slots(), own_text(item.argspec), name, own_tags(item.tags), kRuntimeList,
                             item.allowed_mode, item.body_mode});
    environment_index_.insert_or_assign(name, static_cast<std::uint32_t>(environments_.size() - 1));
    return std::nullopt;
}

void KnowledgeBase::insert_delimiter_control(std::string_view name) {
    if (lookup_delimiter(name, true)) return;
    upsert_delimiter_meta({own_text(name), "", RUNTIME_PACKAGE, {}, AllowedMode::Both, true}, kRuntimeList);
}

bool KnowledgeBase::remove_command_by_name(std::string_view name) {
    // The removed set keeps the erased key, which views a record's own name.
    std::string_view key;
    bool held = false;
    if (auto it = command_index_.find(name); it != nullptr) {
        key = it->first;
        command_index_.erase(it);
        held = true;
    }
    if (auto it = active_commands_.find(name); it != nullptr) {
        key = it->first;
        active_commands_.erase(it);
        held = true;
    }
    if (held) removed_commands_.insert(key);
    return held;
}

bool KnowledgeBase::remove_environment_by_name(std::string_view name) { return environment_index_.erase(name); }

bool KnowledgeBase::remove_delimiter_by_key(std::string_view name, bool control) {
    return delimiter_index_[control ? 1 : 0].erase(name);
}

// ---------------------------------------------------------------- lookups

const ActiveCommandRecord* KnowledgeBase::lookup_command(std::string_view name) const noexcept {
    if (!removed_commands_.empty() && removed_commands_.contains(name)) return nullptr;
    const auto it = active_commands_.find(name);
    if (it == nullptr) return nullptr;
    const ActiveCommandSource source = it->second;
    return source.kind == ActiveCommandSource::Kind::Command ? &commands_[source.index]
                                                             : &character_commands_[source.index];
}

std::vector<std::string_view> KnowledgeBase::command_names_of_kind(CommandKind kind) const {
    std::vector<std::string_view> names;
    for (const auto* records : {&commands_, &character_commands_}) {
        for (const ActiveCommandRecord& r : *records) {
            if (r.kind == kind) names.push_back(r.name);
        }
    }
    return names;
}

const ActiveCommandRecord* KnowledgeBase::lookup_explicit_command(std::string_view name) const noexcept {
    const auto it = command_index_.find(name);
    return it == nullptr ? nullptr : &commands_[it->second];
}

const ActiveEnvironmentRecord* KnowledgeBase::lookup_env(std::string_view name) const noexcept {
    const auto it = environment_index_.find(name);
    return it == nullptr ? nullptr : &environments_[it->second];
}

const ActiveCharacterRecord* KnowledgeBase::lookup_character(std::string_view name) const noexcept {
    const auto it = character_index_.find(name);
    return it == nullptr ? nullptr : &characters_[it->second];
}

const ActiveDelimiterRecord* KnowledgeBase::lookup_delimiter(std::string_view name, bool control) const noexcept {
    const auto it = delimiter_index_[control ? 1 : 0].find(name);
    return it == nullptr ? nullptr : &delimiters_[it->second];
}

const ActiveCommandRecord* KnowledgeBase::lookup_delimiter_command(std::string_view name) const noexcept {
    const auto it = delimiter_index_[1].find(name);
    return it == nullptr ? nullptr : &delimiter_commands_[it->second];
}

}  // namespace quorvel::knowledge
