// The immutable vocabulary a formula is parsed under: the enabled packages,
// one knowledge base per content mode, the names the caller added or removed,
// and a process-unique number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/expected.hpp"
#include "knowledge/knowledge_base.hpp"
#include "knowledge/packages.hpp"
#include "syntax/content_mode.hpp"

namespace quorvel::parse {

using knowledge::ActiveCharacterRecord;
using knowledge::ActiveCommandRecord;
using knowledge::ActiveEnvironmentRecord;
using knowledge::KnowledgeBase;
using syntax::ContentMode;

// A command or environment a caller declares. `kind_or_body` is the
// `CommandKind` of a command and the body's `ContentMode` of an environment.
struct CommandItem {
    std::string name;
    std::string argspec;
    std::vector<std::string> tags;
    std::uint8_t kind_or_body = 0;
    knowledge::AllowedMode allowed_mode = knowledge::AllowedMode::Math;
};

struct ContextItem {
    enum class Kind : std::uint8_t { Command, Environment, DelimiterControl };
    Kind kind = Kind::Command;
    CommandItem item;  // for DelimiterControl only `item.name` is used

    static ContextItem command(CommandItem item) { return {Kind::Command, std::move(item)}; }
    static ContextItem environment(CommandItem item) { return {Kind::Environment, std::move(item)}; }
    static ContextItem delimiter_control(std::string name) {
        ContextItem out{Kind::DelimiterControl, {}};
        out.item.name = std::move(name);
        return out;
    }
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using NameSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

// The names a caller added or removed; the rule plan stays clear of them.
struct MutationSummary {
    NameSet commands;
    NameSet environments;
};

struct ContextBuildError {
    struct InvalidContextItem {
        std::string name;
        knowledge::ArgSpecParseError error;
    };
    std::variant<knowledge::PackageLoadError, InvalidContextItem> value;

    // "unknown package: {}" or "invalid context item {}: {}"
    std::string to_string() const;
};

class ParseContext;

class ParseContextBuilder {
public:
    // The default selection: every built-in package but braket.
    ParseContextBuilder() = default;
    static ParseContextBuilder empty();

    ParseContextBuilder& packages(std::vector<std::string> names);
    ParseContextBuilder& item(ContextItem item);
    ParseContextBuilder& remove_command(std::string name);
    ParseContextBuilder& remove_environment(std::string name);
    ParseContextBuilder& remove_delimiter_control(std::string name);

    knowledge::Expected<std::shared_ptr<const ParseContext>, ContextBuildError> build() const;

private:
    enum class Selection : std::uint8_t { Default, Explicit, Empty };
    struct Op {
        enum class Kind : std::uint8_t { AddItem, RemoveCommand, RemoveEnvironment, RemoveDelimiterControl };
        Kind kind;
        ContextItem item;  // AddItem; otherwise item.item.name holds the name
    };

    Selection selection_ = Selection::Default;
    std::vector<std::string> explicit_names_;
    std::vector<Op> ops_;
};

inline constexpr std::string_view DEFAULT_PACKAGES[] = {"base", "ams", "physics", "textmacros", "bboldx", "boldsymbol"};

// The built-in packages named in `names`, in import order; the first name that
// is not one of them fails the call.
knowledge::Expected<std::vector<knowledge::PackageName>, knowledge::PackageLoadError>
canonical_enabled_package_names(std::span<const std::string_view> names);

class ParseContext {
public:
    const std::vector<knowledge::PackageName>& packages() const noexcept { return packages_; }
    const std::shared_ptr<const KnowledgeBase>& math() const noexcept { return math_; }
    const std::shared_ptr<const KnowledgeBase>& text() const noexcept { return text_; }
    const KnowledgeBase& knowledge(ContentMode mode) const noexcept {
        return mode == ContentMode::Math ? *math_ : *text_;
    }
    const MutationSummary& mutations() const noexcept { return mutations_; }
    std::uint64_t id() const noexcept { return id_; }

    // What the parser reads `\name` as in that mode: a command of the
    // knowledge, else `\&`, else in math a delimiter written as a control
    // sequence (see knowledge::escaped_command, lookup_delimiter_command).
    const ActiveCommandRecord* lookup_command(std::string_view name, ContentMode mode) const noexcept;
    const ActiveCommandRecord* lookup_explicit_command(std::string_view name, ContentMode mode) const noexcept {
        return knowledge(mode).lookup_explicit_command(name);
    }
    const ActiveEnvironmentRecord* lookup_env(std::string_view name, ContentMode mode) const noexcept {
        return knowledge(mode).lookup_env(name);
    }
    const ActiveCharacterRecord* lookup_character(std::string_view name, ContentMode mode) const noexcept {
        return knowledge(mode).lookup_character(name);
    }

    bool knows_command_name(std::string_view name) const noexcept;
    bool knows_env_name(std::string_view name) const noexcept;
    bool knows_character_name(std::string_view name) const noexcept;
    bool is_delimiter_control(std::string_view name) const noexcept;
    // Whether some command is infix in text but not in math: only then does
    // a math content ask the text knowledge whether a command splits it.
    bool has_text_only_infix() const noexcept { return text_only_infix_; }

private:
    friend class ParseContextBuilder;
    ParseContext() = default;

    std::vector<knowledge::PackageName> packages_;
    std::shared_ptr<const KnowledgeBase> math_;
    std::shared_ptr<const KnowledgeBase> text_;
    MutationSummary mutations_;
    std::uint64_t id_ = 0;
    bool text_only_infix_ = false;
};

}  // namespace quorvel::parse
