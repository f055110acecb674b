// A parse lexes into a token buffer an earlier parse on the same thread left
// behind, and fills its lists in blocks earlier document builds emptied.
// Whatever came before, the outcome must be that of a parse on a thread that
// has parsed nothing yet.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "parse_grammar_support.hpp"
#include "syntax/list_buffers.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::repeat;

TEST(ReusedBuffers, ParsesInTurnMatchFreshThreads) {
    // Short and long sources in turn (the long ones past the size of a kept
    // buffer, one just below it), failures that start the parse again, and
    // lexer errors between them.
    const std::vector<std::string> sources = {
        "a",
        repeat("x_{i}+", 400),
        "\\frac{a}{b}",
        "a\x01" "b",
        "x^",
        repeat("y", 1000),
        "b",
        repeat("{", 300) + "\xc3(",
        repeat("\\alpha ", 200) + "\\left( a",
        "",
        "c'",
        // Lists past a first block, arguments and scripts.
        repeat("\\frac{a_{1}}{b^{2}} ", 12),
        "\\sqrt[3]{x} + \\mathrm{d} y \\over z",
    };
    const ParseConfig config;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& source : sources) {
            SCOPED_TRACE("round " + std::to_string(round) + ", source of " + std::to_string(source.size()) +
                         " bytes: " + source.substr(0, 40));
            const ParseOutcome here = parse_source(default_context(), source, config);
            std::optional<ParseOutcome> fresh;
            std::thread([&] { fresh.emplace(parse_source(default_context(), source, config)); }).join();
            ASSERT_EQ(here.document.has_value(), fresh->document.has_value());
            if (here.document) {
                EXPECT_EQ(here.document->to_syntax(), fresh->document->to_syntax());
                EXPECT_EQ(here.document->node_spans(), fresh->document->node_spans());
            }
            EXPECT_EQ(here.diagnostics, fresh->diagnostics);
        }
    }
}

TEST(ReusedBuffers, OnlyFirstBlocksAreKeptUpToTheBound) {
    namespace lists = syntax::list_buffers;
    struct Case {
        const char* name;
        std::size_t capacity;
        bool kept;
    };
    const Case cases[] = {
        {"first block", lists::kFirstBlock, true},
        {"grown list", 2 * lists::kFirstBlock, false},
        {"short exact list", 3, false},
        {"no block", 0, false},
    };
    // On a thread of its own, which starts with nothing kept.
    std::thread([&] {
        const auto& kept = *lists::detail::kept<lists::detail::KeptLists<std::vector<std::string>>>();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::vector<std::string> list;
            list.reserve(c.capacity);
            list.assign(list.capacity(), std::string(40, 'x'));
            lists::give_back(list);
            EXPECT_EQ(list.capacity(), 0u);
            ASSERT_EQ(kept.size(), c.kept ? 1u : 0u);
            const std::vector<std::string> taken = lists::take<std::string>();
            EXPECT_TRUE(taken.empty());
            EXPECT_EQ(taken.capacity(), lists::kFirstBlock);
            EXPECT_TRUE(kept.empty());
        }
        std::vector<std::vector<std::string>> lists_in_use(lists::kKept + 3);
        for (auto& l : lists_in_use) l = lists::take<std::string>();
        for (auto& l : lists_in_use) lists::give_back(l);
        EXPECT_EQ(kept.size(), lists::kKept);
    }).join();
}

// A parse made while its thread ends, after the thread's kept blocks are
// gone, makes and frees its own.
struct ParseWhenThreadEnds {
    std::string source;
    std::optional<syntax::SyntaxNode> tree;
    ~ParseWhenThreadEnds() {
        const ParseOutcome out = parse_source(default_context(), source, ParseConfig{});
        EXPECT_TRUE(out.document.has_value());
        if (out.document) {
            EXPECT_EQ(out.document->to_syntax(), *tree);
        }
    }
};

TEST(ReusedBuffers, ParseWhileTheThreadEnds) {
    const std::string source = "\\frac{a_{1}}{b^{2}} + \\sqrt{x} " + repeat("y", 20);
    const ParseOutcome expected = parse_source(default_context(), source, ParseConfig{});
    ASSERT_TRUE(expected.document.has_value());
    std::thread([&] {
        // Made before the first parse on the thread, so destroyed after the
        // kept blocks that parse sets up.
        thread_local ParseWhenThreadEnds late;
        late.source = source;
        late.tree = expected.document->to_syntax();
        const ParseOutcome first = parse_source(default_context(), source, ParseConfig{});
        EXPECT_TRUE(first.document.has_value());
    }).join();
}

}  // namespace
}  // namespace quorvel::parse
