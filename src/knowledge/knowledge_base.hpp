// What one content mode knows: commands, environments, characters and
// delimiters, built from a selection of built-in packages and then extended or
// pruned with the caller's own items.
//
// Records are plain values of views. A built-in record points into the static
// tables; merged and run-time records point into storage the knowledge base
// owns. Either way a record (and every pointer a lookup returns) stays valid as
// long as the knowledge base lives and is not changed; once built it is shared
// read-only as std::shared_ptr<const KnowledgeBase>.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/expected.hpp"
#include "knowledge/name_map.hpp"
#include "knowledge/packages.hpp"
#include "syntax/content_mode.hpp"

namespace quorvel::knowledge {

// The package name carried by items a caller adds at run time.
inline constexpr std::string_view RUNTIME_PACKAGE = "runtime";

struct ActiveCommandRecord {
    std::span<const ArgSpec> args;
    std::string_view argspec;
    std::string_view name;
    std::span<const std::string_view> tags;
    std::span<const std::string_view> from_packages;
    CommandKind kind = CommandKind::Prefix;
    AllowedMode allowed_mode = AllowedMode::Math;
};

// The control symbols TeX's reader takes as the characters they escape, in
// either mode and whatever the packages: `\#`, `\$`, `\%`, `\&`, `\_`, `\{`
// and `\}`.
constexpr bool is_escaped_character(std::string_view name) noexcept {
    return name.size() == 1 && std::string_view("#$%&_{}").find(name[0]) != std::string_view::npos;
}

// Each reads as the character it escapes but `\&`, which stays a command
// without arguments in either mode: the character `&` would end a cell
// wherever the tree goes. Its record; nullptr for any other name.
const ActiveCommandRecord* escaped_command(std::string_view name) noexcept;

struct ActiveEnvironmentRecord {
    std::span<const ArgSpec> args;
    std::string_view argspec;
    std::string_view name;
    std::span<const std::string_view> tags;
    std::span<const std::string_view> from_packages;
    AllowedMode allowed_mode = AllowedMode::Math;
    syntax::ContentMode body_mode = syntax::ContentMode::Math;
};

struct ActiveCharacterRecord {
    std::string_view name;
    std::string_view text;
    std::string_view package;
    BuiltinCharacterAttributes attributes;
    AllowedMode allowed_mode = AllowedMode::Math;
};

struct ActiveDelimiterRecord {
    std::string_view name;
    std::string_view text;
    std::string_view package;
    BuiltinCharacterAttributes attributes;
    AllowedMode allowed_mode = AllowedMode::Math;
    bool control = false;
};

struct PackageLoadError {
    enum class Kind : std::uint8_t { UnknownPackage };
    Kind kind = Kind::UnknownPackage;
    std::string name;

    // "unknown package: {name}"
    std::string to_string() const;

    friend bool operator==(const PackageLoadError&, const PackageLoadError&) = default;
};

// A command a caller declares. The knowledge base copies everything it keeps.
struct CommandDeclaration {
    std::string_view name;
    std::string_view argspec;
    std::span<const std::string> tags;
    CommandKind kind = CommandKind::Prefix;
    AllowedMode allowed_mode = AllowedMode::Math;
};

struct EnvironmentDeclaration {
    std::string_view name;
    std::string_view argspec;
    std::span<const std::string> tags;
    AllowedMode allowed_mode = AllowedMode::Math;
    syntax::ContentMode body_mode = syntax::ContentMode::Math;
};

// Repeats dropped (first kept); managed packages in import order, then the
// others in input order. The views point into `names`.
std::vector<std::string_view> canonical_package_import_order(std::span<const std::string_view> names);

// Tags of `a` then `b`, each once, sorted by byte value. Views into the inputs.
std::vector<std::string_view> merge_tags(std::span<const std::string_view> a, std::span<const std::string_view> b);

// `a` then `b` in canonical package import order. Views into the inputs.
std::vector<std::string_view> merge_from_packages(std::span<const std::string_view> a,
                                                  std::span<const std::string_view> b);

class KnowledgeBase {
public:
    KnowledgeBase() = default;
    // Records point into the knowledge base's own storage, which a move keeps
    // in place and a copy would not.
    KnowledgeBase(const KnowledgeBase&) = delete;
    KnowledgeBase& operator=(const KnowledgeBase&) = delete;
    KnowledgeBase(KnowledgeBase&&) = default;
    KnowledgeBase& operator=(KnowledgeBase&&) = default;

    static Expected<KnowledgeBase, PackageLoadError> try_build_from_packages_for_mode(
        std::span<const std::string_view> package_names, syntax::ContentMode mode);
    static Expected<KnowledgeBase, PackageLoadError> try_build_from_packages_for_mode(
        std::span<const std::string> package_names, syntax::ContentMode mode);

    // Run-time changes, made while the parse context is built.
    std::optional<ArgSpecParseError> insert_command(const CommandDeclaration& item);
    std::optional<ArgSpecParseError> insert_environment(const EnvironmentDeclaration& item);
    void insert_delimiter_control(std::string_view name);
    bool remove_command_by_name(std::string_view name);
    bool remove_environment_by_name(std::string_view name);
    bool remove_delimiter_by_key(std::string_view name, bool control);

    // Lookups: one hash probe each, no allocation; nullptr when unknown.
    const ActiveCommandRecord* lookup_command(std::string_view name) const noexcept;
    const ActiveCommandRecord* lookup_explicit_command(std::string_view name) const noexcept;
    const ActiveEnvironmentRecord* lookup_env(std::string_view name) const noexcept;
    const ActiveCharacterRecord* lookup_character(std::string_view name) const noexcept;
    const ActiveDelimiterRecord* lookup_delimiter(std::string_view name, bool control) const noexcept;
    // A delimiter written as a control sequence (`\|`, `\langle`) that math
    // reads where no command takes its name: it answers as a prefix command
    // without arguments, allowed in math.
    const ActiveCommandRecord* lookup_delimiter_command(std::string_view name) const noexcept;
    // The names of every command record of `kind`, active or not.
    std::vector<std::string_view> command_names_of_kind(CommandKind kind) const;

private:
    struct ActiveCommandSource {
        enum class Kind : std::uint8_t { Command, Character };
        Kind kind;
        std::uint32_t index;
    };
    // Keys are views into the records' own names (static or owned here), so
    // neither building nor lookup allocates for a key.

    void reserve_for(std::span<const BuiltinPackage* const> packages, syntax::ContentMode mode);
    void import_package(const BuiltinPackage& package, std::span<const std::string_view> from, syntax::ContentMode mode);
    void insert_builtin_character_with_package(const BuiltinCharacterSpec& spec,
                                               std::span<const std::string_view> from);
    void insert_builtin_delimiter_with_package(const BuiltinDelimiterSpec& spec,
                                               std::span<const std::string_view> from);
    void import_or_merge_builtin_command_with_package(const BuiltinCommandSpec& spec,
                                                      std::span<const std::string_view> from);
    void import_or_merge_builtin_environment_with_package(const BuiltinEnvironmentSpec& spec,
                                                          std::span<const std::string_view> from);
    void upsert_delimiter_meta(const ActiveDelimiterRecord& record, std::span<const std::string_view> from);
    void point_command(std::string_view name, std::uint32_t index);

    std::string_view own_text(std::string_view text);
    std::span<const std::string_view> own_list(std::vector<std::string_view> list);
    std::span<const std::string_view> own_tags(std::span<const std::string> tags);

    std::vector<ActiveCommandRecord> commands_;
    std::vector<ActiveCharacterRecord> characters_;
    std::vector<ActiveDelimiterRecord> delimiters_;
    std::vector<ActiveCommandRecord> delimiter_commands_;  // one for each of delimiters_
    std::vector<ActiveCommandRecord> character_commands_;
    std::vector<ActiveEnvironmentRecord> environments_;
    NameMap<std::uint32_t> command_index_;
    NameMap<std::uint32_t> character_index_;
    NameMap<std::uint32_t> delimiter_index_[2];  // by name; [1]: control delimiters
    NameMap<ActiveCommandSource> active_commands_;
    std::unordered_set<std::string_view> removed_commands_;
    NameMap<std::uint32_t> environment_index_;

    // Storage behind merged and run-time records. A deque never moves its
    // elements, so views into short (in-place) strings stay valid; a vector's
    // and an ArgSpecList's buffers never move either.
    std::deque<std::string> owned_texts_;
    std::deque<std::vector<std::string_view>> owned_lists_;
    std::deque<ArgSpecList> owned_args_;
};

}  // namespace quorvel::knowledge
