// Engines and documents for the transform pipeline tests: a parse context,
// a prepared transform, and
// normalisation of parsed sources or of exchange trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parse/context.hpp"
#include "parse/parse.hpp"
#include "syntax/document.hpp"
#include "syntax/serializer.hpp"
#include "syntax/syntax_node.hpp"
#include "transform/context.hpp"
#include "transform/rules/registry.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform {

// Readable failure messages for the report rows.
inline void PrintTo(const RewriteRuleStat& stat, std::ostream* out) {
    *out << to_string(stat.key) << " applied " << stat.applied << " skipped " << stat.skipped;
}

}  // namespace quorvel::transform

namespace quorvel::transform::testing {

// The work (see util/work_count.hpp) that `run` does: a count, so a test
// comparing sizes holds on any machine and in any build.
template <class F>
std::uint64_t work_of(F&& run) {
    const std::uint64_t before = util::work_count;
    run();
    return util::work_count - before;
}

inline std::shared_ptr<const parse::ParseContext> make_parse_context(
    std::vector<std::string> packages = {"base", "ams", "physics", "textmacros", "bboldx", "boldsymbol"},
    std::vector<std::string> removed_commands = {}) {
    parse::ParseContextBuilder builder;
    builder.packages(std::move(packages));
    for (std::string& name : removed_commands) builder.remove_command(std::move(name));
    return std::move(builder.build()).value();
}

// The level masks of the four profiles.
inline constexpr std::uint8_t AUTHORING = 1;
inline constexpr std::uint8_t FAITHFUL = 3;
inline constexpr std::uint8_t CORPUS = 7;
inline constexpr std::uint8_t EQUIV = 15;

inline TransformContext make_engine(const parse::ParseContext& context, std::uint8_t level_mask,
                                    RuleSelection selection = RuleSelection::all()) {
    BuildConfig config{std::move(selection), TransformOptions{}, level_mask};
    auto built = TransformContext::from_build_config(std::move(config), context);
    if (!built) throw std::runtime_error(built.error().to_string());
    return std::move(built).value();
}

// Output written without optional spaces, so that comparisons do not depend
// on the serializer's spacing.
inline syntax::SerializeOptions compact_options() {
    syntax::SerializeOptions o;
    o.command_spacing = syntax::CommandSpacing::Minimal;
    o.group_inner_spacing = syntax::MathGroupInnerSpacing::Compact;
    o.adjacent_char_spacing = syntax::AdjacentCharSpacing::Compact;
    o.script_spacing = syntax::ScriptSpacing::Compact;
    o.environment_name_spacing = syntax::EnvironmentNameSpacing::Compact;
    return o;
}

inline std::string compact(const syntax::Ast& ast) {
    auto text = syntax::serialize::serialize_with(ast, compact_options());
    if (!text) return "<serialize error>";
    return std::move(text).value();
}

// The text with only the spaces it cannot do without: a control space, and
// one space between a control word and a letter. Spacing choices of the
// serializer then do not matter to a comparison.
inline std::string strip_spacing(std::string_view text) {
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    // Whether `out` ends with a control word: letters after an unescaped backslash.
    auto ends_with_control_word = [&](const std::string& out) {
        std::size_t i = out.size();
        while (i > 0 && letter(out[i - 1])) --i;
        if (i == out.size() || i == 0 || out[i - 1] != '\\') return false;
        std::size_t backslashes = 0;
        while (i > 0 && out[i - 1] == '\\') --i, ++backslashes;
        return backslashes % 2 == 1;
    };
    std::string out;
    std::size_t backslashes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' && backslashes % 2 == 0) {
            std::size_t next = i;
            while (next < text.size() && text[next] == ' ') ++next;
            if (next < text.size() && letter(text[next]) && ends_with_control_word(out)) out += ' ';
            i = next - 1;
            backslashes = 0;
            continue;
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
        out += c;
    }
    return out;
}

inline syntax::document::Document parse_document(const parse::ParseContext& context, std::string_view source) {
    auto outcome = parse::parse_source(context, source, parse::ParseConfig{});
    if (!outcome.document) throw std::runtime_error("no document for " + std::string(source));
    if (!outcome.diagnostics.empty())
        throw std::runtime_error("diagnostics for " + std::string(source) + ": " + outcome.diagnostics[0].message);
    return std::move(*outcome.document);
}

inline syntax::document::Document tree_document(const syntax::SyntaxNode& tree) {
    auto document = syntax::document::Document::from_syntax_unchecked(tree);
    if (!document) throw std::runtime_error("tree refused");
    return std::move(document).value();
}

// Only the named rules of one package.
inline RuleSelection only_rules(knowledge::PackageName package, std::span<const char* const> names) {
    std::vector<RuleKey> keys;
    for (const char* name : names) keys.push_back({name, package});
    return RuleSelection::only(std::move(keys));
}

// The parse context of the default packages, made once for all the tests.
inline const parse::ParseContext& parse_context() {
    static const auto made = make_parse_context();
    return *made;
}

// A case's input: a source to parse, or an exchange tree.
struct Input {
    std::string source;                      // parsed when not empty
    std::optional<syntax::SyntaxNode> tree;  // otherwise this exchange tree
};
inline Input src(std::string s) { return {std::move(s), std::nullopt}; }
inline Input tree(syntax::SyntaxNode node) { return {"", std::move(node)}; }

inline std::string describe(const Input& input) {
    return input.tree ? syntax::debug_string(*input.tree) : input.source;
}

inline syntax::document::Document document_of(const Input& input,
                                              const parse::ParseContext& context = parse_context()) {
    return input.tree ? tree_document(*input.tree) : parse_document(context, input.source);
}

// Nodes reachable from the root: a run that leaves no detached node behind
// has exactly the arena's node count.
inline std::size_t reachable(const syntax::Ast& ast) {
    std::size_t count = 0;
    ast.walk_preorder(ast.root(), [&](syntax::ast::NodeId, const syntax::ast::Node&) {
        ++count;
        return true;
    });
    return count;
}

// Only the rewrite runs: outputs show what the rules did, not what the
// attribute, finalising and group passes make of it.
inline TransformOptions rewrite_only() {
    TransformOptions options;
    options.lower_attributes.enabled = false;
    options.finalize_ast.enabled = false;
    options.flatten_groups.enabled = false;
    return options;
}

// The corpus lines, file by file, that `keep(line, index in its file)`
// accepts; nothing when a corpus file is missing.
template <class Keep>
std::optional<std::vector<std::string>> corpus_lines(Keep keep) {
    const std::string dir = QUORVEL_CORPUS_DIR;
    std::vector<std::string> lines;
    for (const char* name : {"/arxiv.txt", "/exam.txt"}) {
        std::ifstream in(dir + name);
        if (!in) return std::nullopt;
        std::string line;
        for (std::size_t i = 0; std::getline(in, line); ++i)
            if (keep(line, i)) lines.push_back(line);
    }
    return lines;
}

// Every `every`-th line of each file: a sample keeps the sanitised build quick.
inline std::optional<std::vector<std::string>> corpus_sample(std::size_t every) {
    return corpus_lines([every](const std::string&, std::size_t i) { return i % every == 0; });
}

// The lines that contain one of the triggers.
inline std::optional<std::vector<std::string>> corpus_lines_with(std::initializer_list<std::string_view> triggers) {
    return corpus_lines([triggers](const std::string& line, std::size_t) {
        for (std::string_view trigger : triggers)
            if (line.find(trigger) != std::string::npos) return true;
        return false;
    });
}

// The output of a run without optional spaces, and the error's text or the
// report.
struct RunResult {
    std::string output;
    std::string error;
    TransformReport report;
};

inline RunResult run(const TransformContext& engine, const parse::ParseContext& context, syntax::Ast& ast,
                     const TransformOptions& options) {
    RunResult result;
    auto report = engine.run_with_report(ast, context, options);
    if (!report) {
        result.error = report.error().to_string();
    } else {
        result.report = std::move(report).value();
    }
    result.output = strip_spacing(compact(ast));
    return result;
}

}  // namespace quorvel::transform::testing
