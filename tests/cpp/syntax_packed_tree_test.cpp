#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/packed_tree.hpp"
#include "syntax_test_util.hpp"

namespace {

using namespace syntax_test;
using sx::pack_tree;
using sx::unpack_tree;

SyntaxNode every_field() {
    sn::Argument delimited{sn::ArgumentKind::Delimited{sn::Delimiter::character(U'('), sn::Delimiter::control("rangle")},
                           true, sn::ArgumentValue::Delimiter{sn::Delimiter::character(U'\U0001D400')}};
    sn::Argument paired{sn::ArgumentKind::Paired{sn::Delimiter::none(), sn::Delimiter::character(U']')}, false,
                        sn::ArgumentValue::CSName{"foo"}};
    return root({
        SyntaxNode::Error{"Unknown command", "\\foo"},
        command("frac", {std::nullopt, math_arg(math({ch(U'a'), prime(2)})), std::nullopt}, false),
        command("x", {delimited, paired, star_arg(true), star_arg(false), dim_arg("3pt"),
                      sn::Argument{sn::ArgumentKind::Group{}, false, sn::ArgumentValue::Integer{"12"}},
                      sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::KeyVal{"a=b"}},
                      sn::Argument{sn::ArgumentKind::Optional{}, false, sn::ArgumentValue::Column{"c|l"}}}),
        group(ContentMode::Math, {text("\xe2\x88\x80 and a text longer than fifteen bytes"), SyntaxNode::ActiveSpace{}},
              sn::GroupKind::Delimited{sn::Delimiter::control("langle"), sn::Delimiter::none()}),
        group(ContentMode::Text, {group(ContentMode::Math, {ch(U'm')}, sn::GroupKind::InlineMath{})},
              sn::GroupKind::Implicit{}),
        infix("over", ch(U'n'), scripted(ch(U'd'), ch(U'i'), std::nullopt), {opname_arg(ch(U'o'))}),
        SyntaxNode::Declarative{"bf", {text_arg(text(""))}},
        environment("matrix", group(ContentMode::Math, {ch(U'1')}, sn::GroupKind::Implicit{}),
                    {text_arg(group(ContentMode::Text, {text("t")}))}),
        scripted(ch(U'x'), std::nullopt, prime(std::uint64_t{1} << 63)),
        scripted(scripted(ch(U'y'), std::nullopt, std::nullopt), ch(U'\0'), ch(U'\U0010FFFF')),
    });
}

TEST(PackedTree, RoundTrips) {
    const SyntaxNode trees[] = {
        every_field(), root({}), root({ch(U'a')}, ContentMode::Text), math({text("not a root")}),
        SyntaxNode::ActiveSpace{},
    };
    for (const SyntaxNode& tree : trees) {
        const std::string packed = pack_tree(tree);
        auto back = unpack_tree(packed);
        ASSERT_TRUE(back.has_value()) << back.error() << " for " << sx::debug_string(tree);
        EXPECT_TRUE(*back == tree) << sx::debug_string(*back);
        EXPECT_EQ(pack_tree(*back), packed);
    }
}

// A tree that lacks a child the document's arena needs packs, but is refused
// when read, as the nested-dict reader refuses it.
TEST(PackedTree, MissingRequiredChildrenAreRefused) {
    SyntaxNode::ArgumentSlots empty_content;
    empty_content.push_back(sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::MathContent{}});
    const SyntaxNode trees[] = {
        root({SyntaxNode::Infix{"over", {}, {}, ch(U'b')}}),
        root({SyntaxNode::Infix{"over", {}, ch(U'a'), {}}}),
        root({SyntaxNode::Environment{"x", {}, false, {}}}),
        root({SyntaxNode::Scripted{}}),
        root({scripted(SyntaxNode::Scripted{}, ch(U'i'), std::nullopt)}),
        root({command("frac", std::move(empty_content))}),
    };
    for (const SyntaxNode& tree : trees) {
        auto back = unpack_tree(pack_tree(tree));
        ASSERT_FALSE(back.has_value()) << sx::debug_string(tree);
        EXPECT_EQ(back.error(), "missing required child") << sx::debug_string(tree);
    }
}

// Every cut of a valid packing is refused, never read past its end.
TEST(PackedTree, EveryTruncationIsRefused) {
    const std::string packed = pack_tree(every_field());
    for (std::size_t n = 0; n < packed.size(); ++n) {
        auto back = unpack_tree(std::string_view(packed).substr(0, n));
        EXPECT_FALSE(back.has_value()) << "accepted " << n << " of " << packed.size() << " bytes";
    }
}

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

TEST(PackedTree, Refusals) {
    const struct {
        const char* name;
        std::string data;
        const char* reason;
    } cases[] = {
        {"empty", "", "truncated"},
        {"other version", bytes({2, 11}), "unknown packed tree version"},
        {"unknown kind", bytes({1, 12}), "invalid node kind"},
        {"trailing byte", bytes({1, 11, 11}), "trailing bytes"},
        // Each child announced must still fit after those already owed.
        {"forged nested counts", bytes({1, 0, 0, 2, 0, 0, 1, 11}), "count exceeds the data"},
        {"huge count", bytes({1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
         "count exceeds the data"},
        {"number past 64 bits", bytes({1, 8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}),
         "number out of range"},
        {"surrogate", bytes({1, 10, 0x80, 0xB0, 0x03}), "Character must be a Unicode scalar value"},
        {"ill-formed text", bytes({1, 9, 2, 0xC3, 0x28}), "ill-formed UTF-8"},
        {"bad mode", bytes({1, 0, 2, 0}), "invalid content mode"},
        {"bad presence bits", bytes({1, 6, 8}), "invalid presence bits"},
    };
    for (const auto& c : cases) {
        auto back = unpack_tree(c.data);
        ASSERT_FALSE(back.has_value()) << c.name;
        EXPECT_EQ(back.error(), c.reason) << c.name;
    }
}

}  // namespace
