#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "knowledge/knowledge_base.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_TEST_ASAN 1
#endif
#endif

#ifdef QUORVEL_TEST_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes(void);
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
#else
#include <malloc.h>
#endif

namespace {

using namespace quorvel::knowledge;
using quorvel::syntax::ContentMode;
using Names = std::vector<std::string_view>;
using Strings = std::vector<std::string>;

const Names kAll = {"base", "ams", "braket", "physics", "textmacros", "bboldx", "boldsymbol"};
const Names kDefault = {"base", "ams", "physics", "textmacros", "bboldx", "boldsymbol"};

KnowledgeBase build(const Names& names, ContentMode mode) {
    auto result = KnowledgeBase::try_build_from_packages_for_mode(std::span<const std::string_view>(names), mode);
    if (!result) {
        ADD_FAILURE() << result.error().to_string();
        return KnowledgeBase{};
    }
    return std::move(result).value();
}

Strings strings(std::span<const std::string_view> list) { return Strings(list.begin(), list.end()); }

// Every answer the knowledge base gives for every name the tables know, as
// text, so that two knowledge bases can be compared as a whole.
std::string describe(const KnowledgeBase& kb) {
    std::string out;
    auto add_list = [&](std::span<const std::string_view> list) {
        for (auto s : list) out.append(s).append(",");
        out += ';';
    };
    auto add_command = [&](const ActiveCommandRecord* r) {
        if (!r) return void(out += "-\n");
        out.append(r->name).append("|").append(r->argspec).append("|");
        add_list(r->tags);
        add_list(r->from_packages);
        out += std::to_string(int(r->kind)) + std::to_string(int(r->allowed_mode)) + "\n";
    };
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        for (const auto* c : p->commands) {
            add_command(kb.lookup_command(c->name));
            add_command(kb.lookup_explicit_command(c->name));
        }
        for (const auto* c : p->characters) {
            add_command(kb.lookup_command(c->name));
            const auto* r = kb.lookup_character(c->name);
            out.append(r ? std::string(r->name) + "|" + std::string(r->text) + "|" + std::string(r->package) : "-")
                .append("\n");
        }
        for (const auto* e : p->environments) {
            const auto* r = kb.lookup_env(e->name);
            if (!r) {
                out += "-\n";
                continue;
            }
            out.append(r->name).append("|").append(r->argspec).append("|");
            add_list(r->tags);
            add_list(r->from_packages);
            out += std::to_string(int(r->allowed_mode)) + "\n";
        }
        for (const auto* d : p->delimiters) {
            const auto* r = kb.lookup_delimiter(d->name, d->control);
            out.append(r ? std::string(r->text) + "|" + std::string(r->package) : "-").append("\n");
        }
    }
    return out;
}

const BuiltinCommandSpec* table_command(PackageName package, std::string_view name) {
    for (const auto* c : builtin_package(package).commands)
        if (c->name == name) return c;
    return nullptr;
}

// ------------------------------------------------------------ package order

struct OrderCase {
    Names input;
    Names expected;
};

class CanonicalOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(CanonicalOrder, ManagedFirstThenOthersInInputOrder) {
    const auto out = canonical_package_import_order(GetParam().input);
    EXPECT_EQ(Names(out.begin(), out.end()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, CanonicalOrder,
    ::testing::Values(OrderCase{{"physics", "base", "x", "ams", "base"}, {"base", "ams", "physics", "x"}},
                      OrderCase{{}, {}}, OrderCase{{"z", "y", "z", "boldsymbol"}, {"boldsymbol", "z", "y"}},
                      OrderCase{{"boldsymbol", "bboldx", "textmacros", "physics", "braket", "ams", "base"}, kAll},
                      OrderCase{{"Base", "base "}, {"Base", "base "}}));

TEST(MergeHelpers, TagsDedupedAndSorted) {
    const Names a = {"spacing", "invisible", "spacing"};
    const Names b = {"invisible", "decoration"};
    const auto out = merge_tags(a, b);
    EXPECT_EQ(Names(out.begin(), out.end()), (Names{"decoration", "invisible", "spacing"}));
}

TEST(MergeHelpers, PackagesInCanonicalOrder) {
    const Names a = {"physics", "base"};
    const Names b = {"ams"};
    const auto out = merge_from_packages(a, b);
    EXPECT_EQ(Names(out.begin(), out.end()), (Names{"base", "ams", "physics"}));
}

// ------------------------------------------------------------ building

struct BuildFailureCase {
    Names packages;
    std::string message;
};

class BuildFailure : public ::testing::TestWithParam<BuildFailureCase> {};

TEST_P(BuildFailure, ReportsFirstUnknownName) {
    for (ContentMode mode : {ContentMode::Math, ContentMode::Text}) {
        const auto result = KnowledgeBase::try_build_from_packages_for_mode(
            std::span<const std::string_view>(GetParam().packages), mode);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().to_string(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, BuildFailure,
                         ::testing::Values(BuildFailureCase{{"base", "nosuch", "alsono"}, "unknown package: nosuch"},
                                           BuildFailureCase{{"alsono", "base", "nosuch"}, "unknown package: alsono"},
                                           BuildFailureCase{{"Base"}, "unknown package: Base"},
                                           BuildFailureCase{{""}, "unknown package: "}));

TEST(KnowledgeBaseBuild, OwnedNamesBuildTheSame) {
    const Strings owned = {"physics", "base"};
    auto result = KnowledgeBase::try_build_from_packages_for_mode(std::span<const std::string>(owned), ContentMode::Math);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(describe(result.value()), describe(build({"base", "physics"}, ContentMode::Math)));
}

TEST(KnowledgeBaseBuild, EmptySelectionKnowsNothing) {
    const KnowledgeBase kb = build({}, ContentMode::Math);
    const KnowledgeBase fresh;
    EXPECT_EQ(describe(kb), describe(fresh));
    EXPECT_EQ(kb.lookup_command("frac"), nullptr);
    EXPECT_EQ(kb.lookup_character("alpha"), nullptr);
    EXPECT_EQ(kb.lookup_delimiter("(", false), nullptr);
    EXPECT_EQ(kb.lookup_env("matrix"), nullptr);
}

struct SameCase {
    Names a;
    Names b;
};

class SameKnowledge : public ::testing::TestWithParam<SameCase> {};

TEST_P(SameKnowledge, OrderAndRepeatsDoNotMatter) {
    for (ContentMode mode : {ContentMode::Math, ContentMode::Text})
        EXPECT_EQ(describe(build(GetParam().a, mode)), describe(build(GetParam().b, mode)));
}

INSTANTIATE_TEST_SUITE_P(Lists, SameKnowledge,
                         ::testing::Values(SameCase{{"base", "base"}, {"base"}}, SameCase{{"ams", "base"}, {"base", "ams"}},
                                           SameCase{{"boldsymbol", "physics", "ams", "base", "textmacros", "braket",
                                                     "bboldx", "physics"},
                                                    kAll}));

// ------------------------------------------------------------ command lookups

struct CommandCase {
    std::string label;
    Names packages;
    ContentMode mode;
    std::string name;
    bool explicit_only;
    std::optional<std::string> argspec;  // none: not found
    Strings from_packages;
    CommandKind kind = CommandKind::Prefix;
    AllowedMode allowed_mode = AllowedMode::Math;
};

class CommandLookup : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLookup, Resolves) {
    const auto& c = GetParam();
    const KnowledgeBase kb = build(c.packages, c.mode);
    const ActiveCommandRecord* r = c.explicit_only ? kb.lookup_explicit_command(c.name) : kb.lookup_command(c.name);
    if (!c.argspec) {
        EXPECT_EQ(r, nullptr);
        return;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, c.name);
    EXPECT_EQ(r->argspec, *c.argspec);
    EXPECT_TRUE(parse_arg_specs(*c.argspec, "test").value() == r->args);
    EXPECT_EQ(strings(r->from_packages), c.from_packages);
    EXPECT_EQ(r->kind, c.kind);
    EXPECT_EQ(r->allowed_mode, c.allowed_mode);
}

const auto M = ContentMode::Math;
const auto T = ContentMode::Text;

INSTANTIATE_TEST_SUITE_P(
    Names, CommandLookup,
    ::testing::Values(
        CommandCase{"FracMerged", kAll, M, "frac", false, "m m", {"base", "ams"}},
        CommandCase{"FracExplicit", kAll, M, "frac", true, "m m", {"base", "ams"}},
        CommandCase{"BoxedMerged", kAll, M, "boxed", false, "m", {"base", "ams"}},
        CommandCase{"DddotMerged", kAll, M, "dddot", false, "m", {"base", "ams"}},
        CommandCase{"MathbbMerged", kAll, M, "mathbb", false, "m", {"base", "bboldx"}},
        CommandCase{"SinFromPhysics", kAll, M, "sin", false, "o", {"physics"}},
        CommandCase{"SinWithoutPhysics", {"base", "ams"}, M, "sin", false, "", {"base"}},
        CommandCase{"PrNotMerged", kAll, M, "Pr", false, "", {"physics"}},
        CommandCase{"DetNotMerged", kAll, M, "det", false, "", {"physics"}},
        CommandCase{"ExpNotMerged", kAll, M, "exp", false, "", {"physics"}},
        CommandCase{"DivIsPhysicsCommand", kAll, M, "div", false, "d<(,)><[,]><{,}>", {"physics"}},
        CommandCase{"ImIsPhysicsCommand", kAll, M, "Im", false, "d<{,}>", {"physics"}},
        CommandCase{"BraFromPhysics", kAll, M, "bra", false, "s m", {"physics"}},
        CommandCase{"BraFromBraket", {"base", "braket"}, M, "bra", false, "m", {"braket"}},
        CommandCase{"AlphaAsCommand", kAll, M, "alpha", false, "", {"base"}},
        CommandCase{"AlphaNotExplicit", kAll, M, "alpha", true, std::nullopt, {}},
        CommandCase{"AAInMathIsCharacter", kDefault, M, "AA", false, "", {"base"}},
        CommandCase{"AAInTextIsTextmacros", kDefault, T, "AA", false, "", {"textmacros"}, CommandKind::Prefix,
                    AllowedMode::Text},
        CommandCase{"OverIsInfix", kAll, M, "over", false, "", {"base"}, CommandKind::Infix},
        CommandCase{"AbovewithdelimsIsInfix", kAll, M, "abovewithdelims", false, "m:D m:D m:L", {"base"},
                    CommandKind::Infix},
        CommandCase{"BfInMath", kDefault, M, "bf", false, "", {"base"}, CommandKind::Declarative},
        CommandCase{"BfInText", kDefault, T, "bf", false, "", {"textmacros"}, CommandKind::Declarative,
                    AllowedMode::Text},
        CommandCase{"QuadInText", kDefault, T, "quad", false, "", {"textmacros"}, CommandKind::Prefix,
                    AllowedMode::Text},
        CommandCase{"BmodInBothModes", kDefault, T, "bmod", false, "", {"base"}, CommandKind::Prefix,
                    AllowedMode::Both},
        CommandCase{"NewlineInText", kDefault, T, "\\", false, "!s !o:L", {"textmacros"}, CommandKind::Prefix,
                    AllowedMode::Text},
        CommandCase{"FracNotInText", kDefault, T, "frac", false, std::nullopt, {}},
        CommandCase{"TextbbInText", kDefault, T, "textbb", false, "m:T", {"bboldx"}, CommandKind::Prefix,
                    AllowedMode::Text},
        CommandCase{"TextbbNotInMath", kDefault, M, "textbb", false, std::nullopt, {}},
        CommandCase{"TxtbbalphaInText", kDefault, T, "txtbbalpha", false, "", {"bboldx"}, CommandKind::Prefix,
                    AllowedMode::Text},
        CommandCase{"GenfracFromAms", kAll, M, "genfrac", false, "m:D? m:D? m{}:L? m:I? m m", {"ams"}},
        CommandCase{"UnknownName", kAll, M, "nosuch", false, std::nullopt, {}},
        CommandCase{"CaseSensitive", kAll, M, "Frac", false, std::nullopt, {}},
        CommandCase{"NoBackslashStripping", kAll, M, "\\frac", false, std::nullopt, {}}),
    [](const auto& info) { return info.param.label; });

TEST(KnowledgeBaseMerge, MergedTagsAndModes) {
    const KnowledgeBase kb = build(kAll, M);
    struct Merged {
        std::string_view name;
        PackageName second;
    };
    for (const Merged m : {Merged{"frac", PackageName::Ams}, Merged{"boxed", PackageName::Ams},
                           Merged{"ddddot", PackageName::Ams}, Merged{"mathbb", PackageName::Bboldx}}) {
        const ActiveCommandRecord* r = kb.lookup_command(m.name);
        ASSERT_NE(r, nullptr) << m.name;
        const auto* base = table_command(PackageName::Base, m.name);
        const auto* other = table_command(m.second, m.name);
        ASSERT_TRUE(base && other) << m.name;
        const auto tags = merge_tags(base->tags, other->tags);
        EXPECT_EQ(strings(r->tags), strings(tags)) << m.name;
        EXPECT_EQ(r->args.data(), base->args.data()) << m.name;  // the first record's slots, not a copy
    }
}

// Names whose active command came from more than one package.
std::set<std::string> merged_names(const KnowledgeBase& kb) {
    std::set<std::string> out;
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const auto* c : p->commands)
            if (const auto* r = kb.lookup_command(c->name); r && r->from_packages.size() > 1) out.emplace(c->name);
    return out;
}

TEST(KnowledgeBaseMerge, ExactlyTheSharedDefinitionsMerge) {
    EXPECT_EQ(merged_names(build(kAll, M)), (std::set<std::string>{"boxed", "dddot", "ddddot", "frac", "mathbb"}));
    EXPECT_EQ(merged_names(build(kAll, T)), std::set<std::string>{});
}

TEST(KnowledgeBaseMerge, PhysicsReplacesEarlierDefinitions) {
    const KnowledgeBase kb = build(kAll, M);
    for (std::string_view name :
         {"arccos", "arcsin", "arctan", "cos", "cosh", "cot", "coth", "csc", "ln", "log", "sec", "sin", "sinh", "tan",
          "tanh", "Pr", "det", "exp", "bra", "braket", "ket", "ketbra", "div", "Im", "Re"}) {
        const ActiveCommandRecord* r = kb.lookup_command(name);
        ASSERT_NE(r, nullptr) << name;
        EXPECT_EQ(strings(r->from_packages), Strings{"physics"}) << name;
        EXPECT_EQ(kb.lookup_explicit_command(name), r) << name;
    }
}

TEST(KnowledgeBaseMerge, UnmergedBuiltinRecordsPointIntoTheTables) {
    const KnowledgeBase kb = build(kAll, M);
    const ActiveCommandRecord* r = kb.lookup_command("sqrt");
    const auto* table = table_command(PackageName::Base, "sqrt");
    ASSERT_TRUE(r && table);
    EXPECT_EQ(r->args.data(), table->args.data());
    EXPECT_EQ(r->name.data(), table->name.data());
    EXPECT_EQ(r->tags.data(), table->tags.data());
}

// ------------------------------------------------------------ environments, characters, delimiters

struct EnvCase {
    Names packages;
    ContentMode mode;
    std::string name;
    std::optional<std::string> argspec;
    Strings from_packages;
    Strings tags;
};

class EnvironmentLookup : public ::testing::TestWithParam<EnvCase> {};

TEST_P(EnvironmentLookup, Resolves) {
    const auto& c = GetParam();
    const KnowledgeBase kb = build(c.packages, c.mode);
    const ActiveEnvironmentRecord* r = kb.lookup_env(c.name);
    if (!c.argspec) {
        EXPECT_EQ(r, nullptr);
        return;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->argspec, *c.argspec);
    EXPECT_EQ(strings(r->from_packages), c.from_packages);
    EXPECT_EQ(strings(r->tags), c.tags);
    EXPECT_EQ(r->body_mode, ContentMode::Math);
    EXPECT_EQ(r->allowed_mode, AllowedMode::Math);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EnvironmentLookup,
    ::testing::Values(EnvCase{kAll, M, "smallmatrix", "", {"ams", "physics"}, {"matrix", "nestable"}},
                      EnvCase{{"ams"}, M, "smallmatrix", "", {"ams"}, {"matrix", "nestable"}},
                      EnvCase{{"physics"}, M, "smallmatrix", "", {"physics"}, {"matrix", "nestable"}},
                      EnvCase{kAll, M, "array", "o m:C", {"base"}, {"math-alignment", "nestable"}},
                      EnvCase{kAll, M, "alignedat", "o m:I", {"ams"}, {"math-alignment", "nestable"}},
                      EnvCase{kAll, M, "nosuch", std::nullopt, {}, {}},
                      EnvCase{kDefault, T, "array", std::nullopt, {}, {}},
                      EnvCase{kDefault, T, "smallmatrix", std::nullopt, {}, {}}));

struct CharacterCase {
    Names packages;
    ContentMode mode;
    std::string name;
    std::optional<std::string> text;
    std::string package;
    std::optional<std::string> mathvariant;
};

class CharacterLookup : public ::testing::TestWithParam<CharacterCase> {};

TEST_P(CharacterLookup, Resolves) {
    const auto& c = GetParam();
    const KnowledgeBase kb = build(c.packages, c.mode);
    const ActiveCharacterRecord* r = kb.lookup_character(c.name);
    if (!c.text) {
        EXPECT_EQ(r, nullptr);
        return;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, c.name);
    EXPECT_EQ(r->text, *c.text);
    EXPECT_EQ(r->package, c.package);
    EXPECT_EQ(r->attributes.mathvariant ? std::optional<std::string>(std::string(*r->attributes.mathvariant))
                                        : std::nullopt,
              c.mathvariant);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CharacterLookup,
    ::testing::Values(CharacterCase{kAll, M, "div", "\u00F7", "base", std::nullopt},
                      CharacterCase{kAll, M, "alpha", "\u03B1", "base", "italic"},
                      CharacterCase{kAll, M, "Bbbk", "k", "ams", "double-struck"},
                      CharacterCase{kAll, M, "AA", "\u212B", "base", "italic"},
                      CharacterCase{kAll, M, "bbalpha", "\u03B1", "bboldx", "-bboldx"},
                      CharacterCase{kAll, M, "txtbbalpha", std::nullopt, "", std::nullopt},
                      CharacterCase{kDefault, T, "txtbfbbalpha", "\u03B1", "bboldx", "-bboldx-bold"},
                      CharacterCase{kDefault, T, "alpha", std::nullopt, "", std::nullopt},
                      CharacterCase{kAll, M, "frac", std::nullopt, "", std::nullopt}));

struct DelimiterCase {
    Names packages;
    ContentMode mode;
    std::string name;
    bool control;
    std::optional<std::string> text;
    std::string package;
};

class DelimiterLookup : public ::testing::TestWithParam<DelimiterCase> {};

TEST_P(DelimiterLookup, Resolves) {
    const auto& c = GetParam();
    const KnowledgeBase kb = build(c.packages, c.mode);
    const ActiveDelimiterRecord* r = kb.lookup_delimiter(c.name, c.control);
    if (!c.text) {
        EXPECT_EQ(r, nullptr);
        return;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, c.name);
    EXPECT_EQ(r->text, *c.text);
    EXPECT_EQ(r->package, c.package);
    EXPECT_EQ(r->control, c.control);
}

INSTANTIATE_TEST_SUITE_P(Names, DelimiterLookup,
                         ::testing::Values(DelimiterCase{kAll, M, "|", false, "|", "base"},
                                           DelimiterCase{kAll, M, "|", true, "\u2016", "base"},
                                           DelimiterCase{kAll, M, ".", false, "", "base"},
                                           DelimiterCase{kAll, M, "langle", true, "\u27E8", "base"},
                                           DelimiterCase{kAll, M, "langle", false, std::nullopt, ""},
                                           DelimiterCase{kAll, M, "lvert", true, "|", "ams"},
                                           DelimiterCase{{"base"}, M, "lvert", true, std::nullopt, ""},
                                           DelimiterCase{kDefault, T, "(", false, std::nullopt, ""},
                                           DelimiterCase{kDefault, T, "langle", true, std::nullopt, ""}));

TEST(KnowledgeBaseText, DefaultPackagesHaveNoEnvironmentsOrDelimiters) {
    const KnowledgeBase kb = build(kDefault, T);
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        for (const auto* e : p->environments) EXPECT_EQ(kb.lookup_env(e->name), nullptr) << e->name;
        for (const auto* d : p->delimiters) EXPECT_EQ(kb.lookup_delimiter(d->name, d->control), nullptr) << d->name;
    }
}

// ------------------------------------------------------------ run-time changes

TEST(KnowledgeBaseRuntime, RemoveThenInsertCommand) {
    KnowledgeBase kb = build(kAll, M);
    EXPECT_TRUE(kb.remove_command_by_name("frac"));
    EXPECT_EQ(kb.lookup_command("frac"), nullptr);
    EXPECT_EQ(kb.lookup_explicit_command("frac"), nullptr);
    EXPECT_FALSE(kb.remove_command_by_name("frac"));
    EXPECT_FALSE(kb.remove_command_by_name("nosuch"));

    std::string name = "frac";
    std::string spec = "s m{} m:T";
    const Strings tags = {"presentation", "custom"};
    ASSERT_FALSE(kb.insert_command({name, spec, tags, CommandKind::Prefix, AllowedMode::Both}).has_value());
    name.assign("xxxx");  // the knowledge base keeps its own copies
    spec.assign("#########");
    for (const ActiveCommandRecord* r : {kb.lookup_command("frac"), kb.lookup_explicit_command("frac")}) {
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->name, "frac");
        EXPECT_EQ(r->argspec, "s m{} m:T");
        EXPECT_EQ(r->args.size(), 3u);
        EXPECT_TRUE(parse_arg_specs("s m{} m:T", "x").value() == r->args);
        EXPECT_EQ(strings(r->tags), tags);
        EXPECT_EQ(strings(r->from_packages), Strings{"runtime"});
        EXPECT_EQ(r->allowed_mode, AllowedMode::Both);
    }
}

TEST(KnowledgeBaseRuntime, RemovingACharacterCommandKeepsTheCharacter) {
    KnowledgeBase kb = build(kAll, M);
    EXPECT_TRUE(kb.remove_command_by_name("alpha"));
    EXPECT_EQ(kb.lookup_command("alpha"), nullptr);
    ASSERT_NE(kb.lookup_character("alpha"), nullptr);

    ASSERT_FALSE(kb.insert_command({"alpha", "m", {}, CommandKind::Prefix, AllowedMode::Math}).has_value());
    const ActiveCommandRecord* r = kb.lookup_command("alpha");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(strings(r->from_packages), Strings{"runtime"});
    EXPECT_EQ(kb.lookup_explicit_command("alpha"), r);
    EXPECT_EQ(kb.lookup_character("alpha")->package, "base");
}

TEST(KnowledgeBaseRuntime, InsertReplacesBuiltinWithoutMerging) {
    KnowledgeBase kb = build(kAll, M);
    ASSERT_FALSE(kb.insert_command({"sqrt", "o m", {}, CommandKind::Prefix, AllowedMode::Math}).has_value());
    EXPECT_EQ(strings(kb.lookup_command("sqrt")->from_packages), Strings{"runtime"});
    ASSERT_FALSE(kb.insert_command({"mycmd", "", {}, CommandKind::Infix, AllowedMode::Text}).has_value());
    EXPECT_EQ(kb.lookup_command("mycmd")->kind, CommandKind::Infix);
}

struct BadSpecCase {
    bool environment;
    std::string name;
    std::string spec;
    std::string message;
};

class RuntimeBadSpec : public ::testing::TestWithParam<BadSpecCase> {};

TEST_P(RuntimeBadSpec, RefusedAndNothingChanges) {
    const auto& c = GetParam();
    KnowledgeBase kb = build(kAll, M);
    const std::string before = describe(kb);
    const auto* before_cmd = kb.lookup_command(c.name);
    const auto* before_env = kb.lookup_env(c.name);
    const auto error = c.environment ? kb.insert_environment({c.name, c.spec, {}, AllowedMode::Math, M})
                                     : kb.insert_command({c.name, c.spec, {}, CommandKind::Prefix, AllowedMode::Math});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->to_string(), c.message);
    EXPECT_EQ(describe(kb), before);
    EXPECT_EQ(kb.lookup_command(c.name), before_cmd);
    EXPECT_EQ(kb.lookup_env(c.name), before_env);
}

INSTANTIATE_TEST_SUITE_P(
    Specs, RuntimeBadSpec,
    ::testing::Values(
        BadSpecCase{false, "foo", "m:X", "invalid argspec (command foo) at char 3: unsupported value kind annotation `:X`"},
        BadSpecCase{false, "frac", "m m{", "invalid argspec (command frac) at char 4: `m` only supports required braced group syntax `m{}`"},
        BadSpecCase{true, "foo", "!", "invalid argspec (environment foo) at char 1: expected argument token"},
        BadSpecCase{true, "matrix", "O{", "invalid argspec (environment matrix) at char 2: unterminated default block for `O`"}));

TEST(KnowledgeBaseRuntime, EnvironmentInsertAndRemove) {
    KnowledgeBase kb = build(kAll, M);
    const Strings tags = {"mine"};
    ASSERT_FALSE(kb.insert_environment({"smallmatrix", "o m:C", tags, AllowedMode::Both, T}).has_value());
    const ActiveEnvironmentRecord* r = kb.lookup_env("smallmatrix");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->argspec, "o m:C");
    EXPECT_EQ(r->args.size(), 2u);
    EXPECT_EQ(strings(r->from_packages), Strings{"runtime"});
    EXPECT_EQ(strings(r->tags), tags);
    EXPECT_EQ(r->body_mode, T);
    EXPECT_EQ(r->allowed_mode, AllowedMode::Both);

    EXPECT_TRUE(kb.remove_environment_by_name("smallmatrix"));
    EXPECT_EQ(kb.lookup_env("smallmatrix"), nullptr);
    EXPECT_FALSE(kb.remove_environment_by_name("smallmatrix"));
    EXPECT_FALSE(kb.remove_environment_by_name("nosuch"));
    EXPECT_NE(kb.lookup_env("matrix"), nullptr);
}

TEST(KnowledgeBaseRuntime, DelimiterControls) {
    KnowledgeBase kb = build(kAll, M);
    const ActiveDelimiterRecord* langle = kb.lookup_delimiter("langle", true);
    kb.insert_delimiter_control("langle");
    EXPECT_EQ(kb.lookup_delimiter("langle", true), langle);
    EXPECT_EQ(langle->package, "base");

    std::string name = "foo";
    kb.insert_delimiter_control(name);
    name.assign("bar");
    const ActiveDelimiterRecord* foo = kb.lookup_delimiter("foo", true);
    ASSERT_NE(foo, nullptr);
    EXPECT_EQ(foo->text, "");
    EXPECT_EQ(foo->package, "runtime");
    EXPECT_EQ(foo->allowed_mode, AllowedMode::Both);
    EXPECT_FALSE(foo->attributes.mathvariant.has_value());
    EXPECT_EQ(kb.lookup_delimiter("foo", false), nullptr);

    EXPECT_TRUE(kb.remove_delimiter_by_key("foo", true));
    EXPECT_EQ(kb.lookup_delimiter("foo", true), nullptr);
    EXPECT_FALSE(kb.remove_delimiter_by_key("foo", true));
    EXPECT_FALSE(kb.remove_delimiter_by_key("langle", false));
    EXPECT_TRUE(kb.remove_delimiter_by_key("|", true));
    EXPECT_EQ(kb.lookup_delimiter("|", true), nullptr);
    EXPECT_NE(kb.lookup_delimiter("|", false), nullptr);
    kb.insert_delimiter_control("|");  // removed, so added again as a run-time control
    EXPECT_EQ(kb.lookup_delimiter("|", true)->package, "runtime");
}

// ------------------------------------------------------------ ownership and cost

TEST(KnowledgeBaseOwnership, RecordsSurviveTheMoveIntoSharedOwnership) {
    KnowledgeBase kb = build(kAll, M);
    ASSERT_FALSE(kb.insert_command({"mine", "d<\\langle,\\rangle>", Strings{"t"}, CommandKind::Prefix,
                                    AllowedMode::Math})
                     .has_value());
    const ActiveCommandRecord* frac = kb.lookup_command("frac");
    const ActiveCommandRecord* mine = kb.lookup_command("mine");
    const std::shared_ptr<const KnowledgeBase> shared = std::make_shared<const KnowledgeBase>(std::move(kb));
    EXPECT_EQ(shared->lookup_command("frac"), frac);
    EXPECT_EQ(shared->lookup_command("mine"), mine);
    EXPECT_EQ(strings(mine->from_packages), Strings{"runtime"});
    EXPECT_EQ(strings(frac->from_packages), (Strings{"base", "ams"}));
    ASSERT_EQ(mine->args.size(), 1u);
    EXPECT_EQ(mine->args[0].form.pairs[0].open.name, "langle");
    EXPECT_EQ(strings(mine->tags), Strings{"t"});
}

std::size_t allocated_bytes() {
#ifdef QUORVEL_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST(KnowledgeBaseOwnership, RepeatedBuildsDoNotGrowMemory) {
    // Merged records are made on every build; they must be freed with their
    // knowledge base, not kept for the life of the process.
    auto build_both = [] {
        for (ContentMode mode : {M, T}) {
            auto kb = KnowledgeBase::try_build_from_packages_for_mode(std::span<const std::string_view>(kAll), mode);
            ASSERT_TRUE(kb.has_value());
            ASSERT_FALSE(kb->insert_command({"mine", "m", Strings{"t"}, CommandKind::Prefix, AllowedMode::Math}));
        }
    };
    build_both();  // warm up once-only state
    const std::size_t before = allocated_bytes();
#ifdef QUORVEL_TEST_ASAN
    constexpr int kRounds = 1'000;  // each build is slow under the sanitizer
#else
    constexpr int kRounds = 5'000;
#endif
    for (int i = 0; i < kRounds; ++i) build_both();
    const std::size_t after = allocated_bytes();
    EXPECT_LT(after, before + 64 * 1024) << "grew by " << (after - before) << " bytes";
}

#ifdef QUORVEL_TEST_ASAN
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_allocations{0};

void count_malloc(const volatile void*, std::size_t) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
void ignore_free(const volatile void*) {}

TEST(KnowledgeBaseOwnership, LookupsDoNotAllocate) {
    static const int installed = __sanitizer_install_malloc_and_free_hooks(count_malloc, ignore_free);
    ASSERT_NE(installed, 0);
    KnowledgeBase kb = build(kAll, M);
    ASSERT_TRUE(kb.remove_command_by_name("sqrt"));
    const std::string long_name(200, 'q');  // longer than any in-place string
    std::size_t found = 0;
    g_allocations = 0;
    g_counting = true;
    for (std::string_view name : {std::string_view("frac"), std::string_view("alpha"), std::string_view("sqrt"),
                                  std::string_view(long_name)}) {
        found += kb.lookup_command(name) != nullptr;
        found += kb.lookup_explicit_command(name) != nullptr;
        found += kb.lookup_env(name) != nullptr;
        found += kb.lookup_character(name) != nullptr;
        found += kb.lookup_delimiter(name, true) != nullptr;
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0u);
    EXPECT_EQ(found, 4u);  // frac twice, alpha as command and as character
}
#endif

}  // namespace
