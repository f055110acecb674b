// What a transform may build: rules that copy an argument at every level of a
// nesting double their output per level, and stop with a TransformError at a
// fixed multiple of the input instead of exhausting memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "facade/transform_engine.hpp"
#include "syntax/ast.hpp"
#include "transform/scheduler.hpp"

namespace {

using namespace quorvel;
using facade::EngineProfile;
using syntax::Ast;
using syntax::ast::Node;

std::string nested(const std::string& open, const std::string& middle, const std::string& close, int levels) {
    std::string out;
    for (int i = 0; i < levels; ++i) out += open;
    out += middle;
    for (int i = 0; i < levels; ++i) out += close;
    return out;
}

facade::TransformEngine engine_for(EngineProfile profile) {
    facade::TransformEngineBuilder builder;
    builder.profile(profile);
    return std::move(builder.build()).value();
}

struct Nesting {
    const char* name;
    const char* open;
    const char* middle;
    const char* close;
};

// A long name at the bottom: what a copy costs counts its strings too.
const std::string kLongName = "\\" + std::string(2000, 'q');

const Nesting kDoubling[] = {
    {"ev", "\\ev{a}{{", "z", "}}"},
    {"dv", "\\dv[{", "z", "}]{a}"},
    {"pdv", "\\pdv[{", "z", "}]{a}{b}"},
    {"braket", "\\braket{", "z", "}"},
    {"braket_long_name", "\\braket{", kLongName.c_str(), "}"},
};

class TransformBuildLimit : public ::testing::TestWithParam<Nesting> {};

// 24 levels would build about a gigabyte: the run's work bound, or the
// build limit, stops the rule that would pass it, `normalize` reports why,
// and `transform` leaves the document as it was.
TEST_P(TransformBuildLimit, DeepNestingFailsCleanly) {
    const Nesting& c = GetParam();
    const std::string source = nested(c.open, c.middle, c.close, 24);
    for (EngineProfile profile : {EngineProfile::Faithful, EngineProfile::Corpus, EngineProfile::Equiv}) {
        const auto engine = engine_for(profile);
        const auto normalized = engine.normalize_with(source, engine.default_normalize_config());
        ASSERT_FALSE(normalized) << c.name;
        const std::string message = normalized.error().message();
        EXPECT_TRUE(message.find("would build more than") != std::string::npos ||
                    message.find("too complex to normalise") != std::string::npos)
            << message;

        auto document = std::move(engine.parser().parse_with(source, {}).document).value();
        const syntax::SyntaxNode before = document.to_syntax();
        const auto run = engine.transform_with(document, engine.default_transform_options());
        ASSERT_FALSE(run) << c.name;
        EXPECT_TRUE(document.to_syntax() == before) << c.name;
    }
}

// A few levels are far from the limit.
TEST_P(TransformBuildLimit, ShallowNestingNormalizes) {
    const Nesting& c = GetParam();
    const auto engine = engine_for(EngineProfile::Equiv);
    EXPECT_TRUE(engine.normalize_with(nested(c.open, c.middle, c.close, 3), engine.default_normalize_config()))
        << c.name;
}

INSTANTIATE_TEST_SUITE_P(Doubling, TransformBuildLimit, ::testing::ValuesIn(kDoubling),
                         [](const auto& info) { return std::string(info.param.name); });

// The limit counts every new node of its arena, string bytes included, and
// a step that passes it takes back what it made.
TEST(AstBuildLimit, CountsNewNodesAndStepTakesBack) {
    Ast ast = Ast::with_root_mode(syntax::ContentMode::Math);
    const auto text = ast.new_node(Node::Text{std::string(1000, 'x')});
    ast.append_child(ast.root(), text);
    const std::size_t before = ast.node_count();
    {
        Ast::BuildLimit limit(ast, 2, 0);
        {
            Ast::Step step(ast);
            ast.clone_subtree(text);
            step.commit();
        }
        EXPECT_EQ(limit.built(), Ast::footprint(ast.node(text)));
        EXPECT_EQ(limit.allowance(), 2 * limit.measured());
        EXPECT_THROW(
            {
                Ast::Step step(ast);
                ast.clone_subtree(text);
                ast.clone_subtree(text);
                step.commit();
            },
            syntax::BuildLimitExceeded);
        EXPECT_EQ(ast.node_count(), before + 1);
    }
    // Closed: no limit.
    for (int i = 0; i < 4; ++i) ast.clone_subtree(text);
    EXPECT_EQ(ast.node_count(), before + 5);
}

}  // namespace
