#include <gtest/gtest.h>

#include "parse/context.hpp"

namespace {

using quorvel::knowledge::AllowedMode;
using quorvel::knowledge::PackageName;
using quorvel::parse::CommandItem;
using quorvel::parse::ContextItem;
using quorvel::parse::ParseContextBuilder;
using quorvel::syntax::ContentMode;

TEST(ParseContext, PackageSelection) {
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> packages;
        std::vector<PackageName> want;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"default", std::nullopt,
         {PackageName::Base, PackageName::Ams, PackageName::Physics, PackageName::Textmacros, PackageName::Bboldx,
          PackageName::Boldsymbol},
         ""},
        {"duplicates collapse", std::vector<std::string>{"physics", "base", "physics"},
         {PackageName::Base, PackageName::Physics}, ""},
        {"first unknown in caller order", std::vector<std::string>{"base", "Physics", "x"}, {},
         "unknown package: Physics"},
        {"explicit empty list", std::vector<std::string>{}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParseContextBuilder b;
        if (c.packages) b.packages(*c.packages);
        auto built = b.build();
        if (!c.error.empty()) {
            ASSERT_FALSE(built);
            EXPECT_EQ(built.error().to_string(), c.error);
            continue;
        }
        ASSERT_TRUE(built);
        EXPECT_EQ((*built)->packages(), c.want);
    }
}

TEST(ParseContext, DefaultLeavesBraketOut) {
    auto ctx = ParseContextBuilder().build().value();
    EXPECT_FALSE(ctx->knows_command_name("Set"));
    EXPECT_TRUE(ctx->knows_command_name("frac"));
    auto with = ParseContextBuilder().packages({"base", "braket"}).build().value();
    EXPECT_TRUE(with->knows_command_name("Set"));
}

TEST(ParseContext, EmptySelectionKnowsNothing) {
    auto ctx = ParseContextBuilder::empty().build().value();
    EXPECT_TRUE(ctx->packages().empty());
    EXPECT_FALSE(ctx->knows_command_name("frac"));
    EXPECT_FALSE(ctx->knows_character_name("alpha"));
    EXPECT_FALSE(ctx->is_delimiter_control("langle"));
}

TEST(ParseContext, ItemsAndRemovalsReplayInOrder) {
    CommandItem textonly{"foo", "m", {}, 0, AllowedMode::Text};
    auto ctx = ParseContextBuilder()
                   .item(ContextItem::command(textonly))
                   .item(ContextItem::delimiter_control("vbar"))
                   .remove_command("frac")
                   .item(ContextItem::command({"frac", "m", {}, 0, AllowedMode::Math}))
                   .item(ContextItem::command({"sqrt", "", {}, 0, AllowedMode::Math}))
                   .remove_command("sqrt")
                   .remove_environment("matrix")
                   .remove_delimiter_control("langle")
                   .build()
                   .value();
    EXPECT_EQ(ctx->lookup_command("foo", ContentMode::Math), nullptr);
    ASSERT_NE(ctx->lookup_command("foo", ContentMode::Text), nullptr);
    EXPECT_TRUE(ctx->knows_command_name("foo"));
    EXPECT_TRUE(ctx->mutations().commands.contains("foo"));
    EXPECT_TRUE(ctx->is_delimiter_control("vbar"));
    EXPECT_FALSE(ctx->mutations().commands.contains("vbar"));

    const auto* frac = ctx->lookup_command("frac", ContentMode::Math);
    ASSERT_NE(frac, nullptr);
    EXPECT_EQ(frac->argspec, "m");
    EXPECT_FALSE(ctx->knows_command_name("sqrt"));
    EXPECT_FALSE(ctx->knows_env_name("matrix"));
    EXPECT_TRUE(ctx->mutations().environments.contains("matrix"));
    EXPECT_FALSE(ctx->is_delimiter_control("langle"));
}

TEST(ParseContext, InvalidItemNamesTheItem) {
    auto built = ParseContextBuilder().item(ContextItem::command({"bad", "m:X", {}, 0, AllowedMode::Math})).build();
    ASSERT_FALSE(built);
    EXPECT_EQ(built.error().to_string(),
              "invalid context item bad: invalid argspec (command bad) at char 3: unsupported value kind "
              "annotation `:X`");
}

TEST(ParseContext, IdsAreConsecutiveAndFailuresTakeNone) {
    auto a = ParseContextBuilder::empty().build().value();
    ASSERT_FALSE(ParseContextBuilder().packages({"nope"}).build());
    auto b = ParseContextBuilder::empty().build().value();
    EXPECT_EQ(b->id(), a->id() + 1);
}

}  // namespace

// A math content asks the text knowledge whether a command splits it only when
// some command is infix in text alone.
TEST(ParseContext, TextOnlyInfix) {
    const auto infix = static_cast<std::uint8_t>(quorvel::knowledge::CommandKind::Infix);
    struct Case {
        const char* name;
        std::vector<ContextItem> items;
        std::vector<std::string> removed;
        bool want;
    };
    const std::vector<Case> cases = {
        {"default packages", {}, {}, false},
        {"infix in text only", {ContextItem::command({"tinf", "", {}, infix, AllowedMode::Text})}, {}, true},
        {"infix in both modes", {ContextItem::command({"tinf", "", {}, infix, AllowedMode::Both})}, {}, false},
        {"prefix in text only", {ContextItem::command({"tinf", "", {}, 0, AllowedMode::Text})}, {}, false},
        {"removed again", {ContextItem::command({"tinf", "", {}, infix, AllowedMode::Text})}, {"tinf"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParseContextBuilder b;
        for (const ContextItem& item : c.items) b.item(item);
        for (const std::string& name : c.removed) b.remove_command(name);
        auto built = b.build();
        ASSERT_TRUE(built);
        EXPECT_EQ((*built)->has_text_only_infix(), c.want);
    }
}
