// The parser facade: an immutable parse context with the parse configuration
// used when a caller gives none, its builder, and target counting on top of
// it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facade/error.hpp"
#include "knowledge/expected.hpp"
#include "parse/config.hpp"
#include "parse/context.hpp"

namespace quorvel::facade {

class Parser {
public:
    const parse::ParseContext& context() const noexcept { return *context_; }
    const std::shared_ptr<const parse::ParseContext>& shared_context() const noexcept { return context_; }
    const parse::ParseConfig& default_parse_config() const noexcept { return default_parse_config_; }

    // Never fails: malformed input shows as diagnostics and a partial or
    // missing document.
    ParseResult parse_with(std::string_view source, const parse::ParseConfig& config) const;

    const parse::ActiveCommandRecord* lookup_command(std::string_view name, syntax::ContentMode mode) const noexcept {
        return context_->lookup_command(name, mode);
    }
    const parse::ActiveCommandRecord* lookup_explicit_command(std::string_view name,
                                                              syntax::ContentMode mode) const noexcept {
        return context_->lookup_explicit_command(name, mode);
    }
    const parse::ActiveCharacterRecord* lookup_character(std::string_view name,
                                                         syntax::ContentMode mode) const noexcept {
        return context_->lookup_character(name, mode);
    }
    const parse::ActiveEnvironmentRecord* lookup_env(std::string_view name, syntax::ContentMode mode) const noexcept {
        return context_->lookup_env(name, mode);
    }

    bool knows_command_name(std::string_view name) const noexcept { return context_->knows_command_name(name); }
    bool knows_env_name(std::string_view name) const noexcept { return context_->knows_env_name(name); }
    bool knows_character_name(std::string_view name) const noexcept {
        return context_->knows_character_name(name);
    }
    bool is_delimiter_control(std::string_view name) const noexcept {
        return context_->is_delimiter_control(name);
    }

private:
    friend class ParserBuilder;
    Parser(std::shared_ptr<const parse::ParseContext> context, parse::ParseConfig config)
        : context_(std::move(context)), default_parse_config_(config) {}

    std::shared_ptr<const parse::ParseContext> context_;
    parse::ParseConfig default_parse_config_;
};

// Collects the package selection, the caller's items and removals (replayed
// in call order) and the default parse configuration.
class ParserBuilder {
public:
    // An explicit package list: names kept in order, duplicates included;
    // recorded items and removals stay.
    ParserBuilder& packages(std::vector<std::string> names);
    // No packages at all; discards every item and removal recorded so far.
    ParserBuilder& empty_knowledge();
    ParserBuilder& item(parse::ContextItem item);
    ParserBuilder& remove_command(std::string name);
    ParserBuilder& remove_environment(std::string name);
    ParserBuilder& remove_delimiter_control(std::string name);
    ParserBuilder& default_parse_config(parse::ParseConfig config);

    // Each build takes a fresh parse-context number.
    knowledge::Expected<Parser, ParserBuildError> build() const;

private:
    parse::ParseContextBuilder context_;
    parse::ParseConfig default_parse_config_;
};

// One counted target: "cmd:{name}", "env:{name}" or "char:{name}", with its
// count over both content modes.
struct TargetCount {
    std::string key;
    std::uint64_t count = 0;
    friend bool operator==(const TargetCount&, const TargetCount&) = default;
};

// Keys in ascending byte order.
using TargetCounts = std::vector<TargetCount>;

// Parses with the parser's default configuration, then counts.
syntax::Expected<TargetCounts, ParseError> count_targets(const Parser& parser, std::string_view source);
syntax::Expected<TargetCounts, ParseError> count_targets_with(const Parser& parser, std::string_view source,
                                                              const parse::ParseConfig& config);
// Counts every command-like node, environment and character of a complete
// parse; an incomplete one is refused as it is.
syntax::Expected<TargetCounts, ParseError> count_targets_from_output(ParseResult&& result);

}  // namespace quorvel::facade
