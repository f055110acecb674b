// A control symbol before a letter of a text writes back as it stands: TeX
// skips no space after a control symbol, so no space may be written there.
// Every text of the corpus gets one, and the tree written and read again
// must be the tree that was written.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "transform_pipeline_support.hpp"

namespace quorvel {
namespace {

using syntax::ContentMode;
using syntax::SyntaxNode;
using transform::testing::parse_context;

constexpr std::array<const char*, 8> SYMBOLS{",", ";", ":", "!", "/", "-", " ", "\\"};

// The command node the parser makes of a control symbol in text, with the
// slots its specification gives it there.
SyntaxNode symbol_node(const char* name) {
    const std::string source = std::string("\\text{a\\") + name + "b}";
    auto parsed = parse::parse_source(parse_context(), source, parse::ParseConfig{});
    if (!parsed.document || !parsed.diagnostics.empty()) throw std::runtime_error("no clean parse of " + source);
    const SyntaxNode tree = parsed.document->to_syntax();
    const auto& text = std::get<SyntaxNode::Command>(std::get<SyntaxNode::Root>(tree.value).children.at(0).value);
    const auto& group = std::get<SyntaxNode::Group>(text.args[0]->value.content()->value);
    return group.children.at(1);
}

class SymbolInserter {
public:
    SymbolInserter() {
        for (const char* name : SYMBOLS) symbols_.push_back(symbol_node(name));
    }

    // Puts a control symbol before the first letter of every text in text
    // content; how many it put.
    std::size_t insert(SyntaxNode& node) {
        inserted_ = 0;
        visit(node);
        return inserted_;
    }

private:
    static std::size_t first_letter(std::string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i)
            if ((text[i] | 0x20) >= 'a' && (text[i] | 0x20) <= 'z') return i;
        return std::string_view::npos;
    }

    void list(std::vector<SyntaxNode>& children, ContentMode mode) {
        if (mode == ContentMode::Text) {
            std::vector<SyntaxNode> out;
            for (SyntaxNode& child : children) {
                const auto* text = child.get_if<SyntaxNode::Text>();
                const std::size_t at = text == nullptr ? std::string_view::npos : first_letter(text->value);
                if (at == std::string_view::npos) {
                    out.push_back(std::move(child));
                    continue;
                }
                const std::string value(text->value);
                if (at > 0) out.emplace_back(SyntaxNode::Text{value.substr(0, at)});
                out.push_back(symbols_[inserted_++ % symbols_.size()]);
                out.emplace_back(SyntaxNode::Text{value.substr(at)});
            }
            children = std::move(out);
        }
        for (SyntaxNode& child : children) visit(child);
    }

    void visit(SyntaxNode& node) {
        if (auto* root = node.get_if<SyntaxNode::Root>()) return list(root->children, root->mode);
        if (auto* group = node.get_if<SyntaxNode::Group>()) return list(group->children, group->mode);
        if (SyntaxNode::ArgumentSlots* slots = node.args()) {
            for (auto& slot : *slots) {
                if (!slot || !std::holds_alternative<syntax::syntax_node::ArgumentValue::TextContent>(slot->value.value))
                    continue;
                // A lone text argument is read back as a list of items.
                SyntaxNode& content = *slot->value.content();
                if (content.is<SyntaxNode::Text>()) {
                    std::vector<SyntaxNode> children;
                    children.push_back(std::move(content));
                    content = SyntaxNode::Group{ContentMode::Text, syntax::syntax_node::GroupKind::Implicit{},
                                                std::move(children)};
                }
            }
        }
        node.for_each_child([this](SyntaxNode& child) { visit(child); });
    }

    std::vector<SyntaxNode> symbols_;
    std::size_t inserted_ = 0;
};

TEST(ControlSymbolProperty, TextsOfTheCorpusWithAControlSymbolWriteBackToTheirTree) {
    const auto lines = transform::testing::corpus_lines([](const std::string& line, std::size_t) {
        return line.find("\\text") != std::string::npos || line.find("box") != std::string::npos;
    });
    if (!lines) GTEST_SKIP() << "corpus not found";
    SymbolInserter inserter;
    std::size_t checked = 0;
    std::size_t faults = 0;
    // The tree of a line as written once: the writer's own spelling of the
    // rest of the formula is not what is tested.
    auto written_tree = [](const std::string& source) -> std::optional<SyntaxNode> {
        auto parsed = parse::parse_source(parse_context(), source, parse::ParseConfig{});
        if (!parsed.document || !parsed.diagnostics.empty()) return std::nullopt;
        const auto text = parsed.document->to_latex();
        if (!text) return std::nullopt;
        auto again = parse::parse_source(parse_context(), *text, parse::ParseConfig{});
        if (!again.document || !again.diagnostics.empty()) return std::nullopt;
        return again.document->to_syntax();
    };
    for (const std::string& line : *lines) {
        std::optional<SyntaxNode> written_once = written_tree(line);
        if (!written_once) continue;
        SyntaxNode tree = std::move(*written_once);
        if (inserter.insert(tree) == 0) continue;
        auto document = syntax::document::Document::from_syntax(tree);
        ASSERT_TRUE(document.has_value()) << line;
        const auto written = document->to_latex();
        ASSERT_TRUE(written.has_value()) << line;
        ++checked;
        auto again = parse::parse_source(parse_context(), *written, parse::ParseConfig{});
        const bool same = again.document && again.diagnostics.empty() && again.document->to_syntax() == tree;
        if (!same && faults++ < 5) ADD_FAILURE() << line << "\n  written as " << *written;
    }
    EXPECT_EQ(faults, 0u);
    EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace quorvel
