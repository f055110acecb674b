#include "facade/parser.hpp"

#include <algorithm>

#include "parse/parse.hpp"
#include "syntax/target_counter.hpp"

namespace quorvel::facade {

ParseResult Parser::parse_with(std::string_view source, const parse::ParseConfig& config) const {
    return parse::parse_source(*context_, source, config);
}

ParserBuilder& ParserBuilder::packages(std::vector<std::string> names) {
    context_.packages(std::move(names));
    return *this;
}

ParserBuilder& ParserBuilder::empty_knowledge() {
    context_ = parse::ParseContextBuilder::empty();
    return *this;
}

ParserBuilder& ParserBuilder::item(parse::ContextItem item) {
    context_.item(std::move(item));
    return *this;
}

ParserBuilder& ParserBuilder::remove_command(std::string name) {
    context_.remove_command(std::move(name));
    return *this;
}

ParserBuilder& ParserBuilder::remove_environment(std::string name) {
    context_.remove_environment(std::move(name));
    return *this;
}

ParserBuilder& ParserBuilder::remove_delimiter_control(std::string name) {
    context_.remove_delimiter_control(std::move(name));
    return *this;
}

ParserBuilder& ParserBuilder::default_parse_config(parse::ParseConfig config) {
    default_parse_config_ = config;
    return *this;
}

knowledge::Expected<Parser, ParserBuildError> ParserBuilder::build() const {
    auto context = context_.build();
    if (!context) return std::move(context).error();
    return Parser(std::move(context).value(), default_parse_config_);
}

syntax::Expected<TargetCounts, ParseError> count_targets(const Parser& parser, std::string_view source) {
    return count_targets_with(parser, source, parser.default_parse_config());
}

syntax::Expected<TargetCounts, ParseError> count_targets_with(const Parser& parser, std::string_view source,
                                                              const parse::ParseConfig& config) {
    return count_targets_from_output(parser.parse_with(source, config));
}

syntax::Expected<TargetCounts, ParseError> count_targets_from_output(ParseResult&& result) {
    auto complete = try_into_document(std::move(result));
    if (!complete) return std::move(complete).error();

    syntax::TargetCounter counter;
    {
        const syntax::SyntaxNode tree = complete->document.to_syntax();
        syntax::target_counter::count_node(tree, counter);
    }
    // The counter's map is hash-ordered; callers see byte order.
    TargetCounts counts;
    auto logical = counter.logical_counts();
    counts.reserve(logical.size());
    while (!logical.empty()) {
        auto entry = logical.extract(logical.begin());
        counts.push_back({std::move(entry.key()), entry.mapped()});
    }
    std::sort(counts.begin(), counts.end(),
              [](const TargetCount& a, const TargetCount& b) { return a.key < b.key; });
    return counts;
}

}  // namespace quorvel::facade
