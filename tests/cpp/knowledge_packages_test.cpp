#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/packages.hpp"
#include "knowledge/packages/ams.hpp"
#include "knowledge/packages/base.hpp"
#include "knowledge/packages/bboldx.hpp"
#include "knowledge/packages/physics.hpp"

namespace {

using namespace quorvel::knowledge;
using quorvel::syntax::ContentMode;

// Records are usable where constants are required (rule metadata).
static_assert(builtin::base::cmd_frac.name == "frac");
static_assert(builtin::base::cmd_frac.args.size() == 2);
static_assert(builtin::ams::chr_Bbbk.attributes.mathvariant == std::string_view("double-struck"));
static_assert(ALL_PACKAGES.size() == MANAGED_PACKAGE_IMPORT_ORDER.size());

const BuiltinPackage& pkg(std::string_view name) {
    const BuiltinPackage* p = lookup_package(name);
    if (p == nullptr) throw std::runtime_error("no package " + std::string(name));
    return *p;
}

// Decodes UTF-8 into scalar values; an empty result on malformed input.
std::u32string decode(std::string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return {};
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto cont = static_cast<unsigned char>(s[i + k]);
            if ((cont >> 6) != 2) return {};
            c = (c << 6) | (cont & 0x3F);
        }
        out.push_back(c);
        i += n;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Package names and lists

TEST(BuiltinPackageName, TextRoundTrip) {
    const std::pair<PackageName, std::string_view> table[] = {
        {PackageName::Base, "base"},       {PackageName::Ams, "ams"},
        {PackageName::Braket, "braket"},   {PackageName::Physics, "physics"},
        {PackageName::Textmacros, "textmacros"}, {PackageName::Bboldx, "bboldx"},
        {PackageName::Boldsymbol, "boldsymbol"},
    };
    for (const auto& [id, text] : table) {
        EXPECT_EQ(to_string(id), text);
        EXPECT_EQ(package_name_from_str(text), id) << text;
        ASSERT_NE(lookup_package(text), nullptr) << text;
        EXPECT_EQ(lookup_package(text)->name, text);
        EXPECT_EQ(&builtin_package(id), lookup_package(text));
    }
}

TEST(BuiltinPackageName, RefusesOtherTexts) {
    for (std::string_view text : {"Base", "base ", "", " base", "AMS", "runtime", "bbold", "boldsymbols"}) {
        EXPECT_FALSE(package_name_from_str(text).has_value()) << '"' << text << '"';
        EXPECT_EQ(lookup_package(text), nullptr) << '"' << text << '"';
    }
}

TEST(BuiltinPackageLists, NameOrderAndImportOrder) {
    std::vector<std::string_view> listed;
    for (const BuiltinPackage* p : ALL_PACKAGES) listed.push_back(p->name);
    EXPECT_EQ(listed, (std::vector<std::string_view>{"ams", "base", "bboldx", "boldsymbol", "braket", "physics",
                                                      "textmacros"}));
    for (std::size_t i = 0; i < MANAGED_PACKAGE_IMPORT_ORDER.size(); ++i)
        EXPECT_EQ(static_cast<std::size_t>(MANAGED_PACKAGE_IMPORT_ORDER[i]), i);
    EXPECT_NE(ALL_PACKAGES[0]->name, to_string(MANAGED_PACKAGE_IMPORT_ORDER[0]));
}

TEST(BuiltinPackageLists, LookupBraket) {
    const BuiltinPackage* p = lookup_package("braket");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->commands.size(), 11u);
    EXPECT_TRUE(p->environments.empty());
    EXPECT_TRUE(p->characters.empty());
    EXPECT_TRUE(p->delimiters.empty());
}

TEST(BuiltinKindNames, Written) {
    EXPECT_EQ(to_string(CommandKind::Prefix), "prefix");
    EXPECT_EQ(to_string(CommandKind::Infix), "infix");
    EXPECT_EQ(to_string(CommandKind::Declarative), "declarative");
    EXPECT_EQ(to_string(AllowedMode::Math), "math");
    EXPECT_EQ(to_string(AllowedMode::Text), "text");
    EXPECT_EQ(to_string(AllowedMode::Both), "both");
}

// ---------------------------------------------------------------------------
// Parsed slots agree with their spec texts

TEST(BuiltinPackageTables, CommandSlotsMatchSpecText) {
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinCommandSpec* c : p->commands) {
            auto parsed = parse_arg_specs(c->argspec, "command");
            ASSERT_TRUE(parsed.has_value()) << p->name << ' ' << c->name << ": " << parsed.error().to_string();
            EXPECT_TRUE(parsed.value() == c->args) << p->name << " \\" << c->name << " \"" << c->argspec << '"';
        }
}

TEST(BuiltinPackageTables, EnvironmentSlotsMatchSpecText) {
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinEnvironmentSpec* e : p->environments) {
            auto parsed = parse_arg_specs(e->argspec, "environment");
            ASSERT_TRUE(parsed.has_value()) << p->name << ' ' << e->name << ": " << parsed.error().to_string();
            EXPECT_TRUE(parsed.value() == e->args) << p->name << ' ' << e->name << " \"" << e->argspec << '"';
        }
}

TEST(BuiltinPackageTables, FiftyFiveDistinctSpecTexts) {
    std::set<std::string_view> texts;
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        for (const BuiltinCommandSpec* c : p->commands) texts.insert(c->argspec);
        for (const BuiltinEnvironmentSpec* e : p->environments) texts.insert(e->argspec);
    }
    EXPECT_EQ(texts.size(), 55u);
}

// ---------------------------------------------------------------------------
// Inventory

struct Inventory {
    std::string_view package;
    std::size_t commands, prefix, infix, declarative;
    std::size_t environments, characters, delimiters;
    std::size_t text_commands, both_commands, text_characters;
};

class BuiltinPackageInventory : public ::testing::TestWithParam<Inventory> {};

TEST_P(BuiltinPackageInventory, Counts) {
    const Inventory& want = GetParam();
    const BuiltinPackage& p = pkg(want.package);
    EXPECT_EQ(p.commands.size(), want.commands);
    EXPECT_EQ(p.environments.size(), want.environments);
    EXPECT_EQ(p.characters.size(), want.characters);
    EXPECT_EQ(p.delimiters.size(), want.delimiters);

    std::map<CommandKind, std::size_t> kinds;
    std::map<AllowedMode, std::size_t> modes;
    for (const BuiltinCommandSpec* c : p.commands) {
        ++kinds[c->kind];
        ++modes[c->allowed_mode];
    }
    EXPECT_EQ(kinds[CommandKind::Prefix], want.prefix);
    EXPECT_EQ(kinds[CommandKind::Infix], want.infix);
    EXPECT_EQ(kinds[CommandKind::Declarative], want.declarative);
    EXPECT_EQ(modes[AllowedMode::Text], want.text_commands);
    EXPECT_EQ(modes[AllowedMode::Both], want.both_commands);

    std::size_t text_chars = 0;
    for (const BuiltinCharacterSpec* c : p.characters) {
        EXPECT_NE(c->allowed_mode, AllowedMode::Both) << c->name;
        text_chars += c->allowed_mode == AllowedMode::Text;
    }
    EXPECT_EQ(text_chars, want.text_characters);
    for (const BuiltinEnvironmentSpec* e : p.environments) {
        EXPECT_EQ(e->allowed_mode, AllowedMode::Math) << e->name;
        EXPECT_EQ(e->body_mode, ContentMode::Math) << e->name;
    }
    for (const BuiltinDelimiterSpec* d : p.delimiters) {
        EXPECT_EQ(d->allowed_mode, AllowedMode::Math) << d->name;
        EXPECT_FALSE(d->attributes.mathvariant.has_value()) << d->name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BuiltinPackageInventory,
    ::testing::Values(Inventory{"base", 267, 234, 9, 24, 7, 211, 40, 0, 4, 0},
                      Inventory{"ams", 35, 33, 0, 2, 28, 240, 8, 0, 0, 0},
                      Inventory{"braket", 11, 11, 0, 0, 0, 0, 0, 0, 0, 0},
                      Inventory{"physics", 182, 182, 0, 0, 1, 10, 0, 0, 0, 0},
                      Inventory{"textmacros", 76, 58, 0, 18, 0, 0, 0, 76, 0, 0},
                      Inventory{"bboldx", 12, 12, 0, 0, 0, 168, 0, 6, 0, 84},
                      Inventory{"boldsymbol", 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.package); });

TEST(BuiltinPackageTables, Totals) {
    std::size_t chars = 0, delims = 0, envs = 0;
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        chars += p->characters.size();
        delims += p->delimiters.size();
        envs += p->environments.size();
    }
    EXPECT_EQ(chars, 629u);
    EXPECT_EQ(delims, 48u);
    EXPECT_EQ(envs, 36u);
}

struct TagCounts {
    std::string_view package;
    std::map<std::string_view, std::size_t> tags;
    std::size_t untagged;
};

class BuiltinCommandTags : public ::testing::TestWithParam<TagCounts> {};

TEST_P(BuiltinCommandTags, CountsAndOrder) {
    const TagCounts& want = GetParam();
    std::map<std::string_view, std::size_t> got;
    std::size_t untagged = 0;
    for (const BuiltinCommandSpec* c : pkg(want.package).commands) {
        EXPECT_LE(c->tags.size(), 3u) << c->name;
        EXPECT_TRUE(std::is_sorted(c->tags.begin(), c->tags.end())) << c->name;
        EXPECT_EQ(std::adjacent_find(c->tags.begin(), c->tags.end()), c->tags.end()) << c->name;
        for (std::string_view t : c->tags) ++got[t];
        untagged += c->tags.empty();
    }
    EXPECT_EQ(got, want.tags);
    EXPECT_EQ(untagged, want.untagged);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BuiltinCommandTags,
    ::testing::Values(
        TagCounts{"base",
                  {{"presentation", 99}, {"spacing", 36}, {"discouraged", 33}, {"decoration", 28},
                   {"invisible", 20}, {"mathjax-extension", 9}, {"newdefine", 1}},
                  70},
        TagCounts{"ams",
                  {{"spacing", 5}, {"decoration", 3}, {"invisible", 2}, {"newdefine", 1}, {"presentation", 1}},
                  24},
        TagCounts{"braket", {}, 11},
        TagCounts{"physics", {{"mathjax-extension", 21}, {"spacing", 2}, {"presentation", 2}}, 157},
        TagCounts{"textmacros",
                  {{"presentation", 29}, {"spacing", 24}, {"decoration", 12}, {"invisible", 8},
                   {"discouraged", 8}, {"mathjax-extension", 4}},
                  10},
        TagCounts{"bboldx", {{"mathjax-extension", 8}, {"presentation", 4}}, 0},
        TagCounts{"boldsymbol", {{"presentation", 1}}, 0}),
    [](const auto& info) { return std::string(info.param.package); });

TEST(BuiltinPackageTables, InfixCommandsAreDiscouraged) {
    std::size_t infix = 0;
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinCommandSpec* c : p->commands)
            if (c->kind == CommandKind::Infix) {
                ++infix;
                EXPECT_EQ(p->name, "base");
                EXPECT_NE(std::find(c->tags.begin(), c->tags.end(), "discouraged"), c->tags.end()) << c->name;
            }
    EXPECT_EQ(infix, 9u);
    EXPECT_EQ(builtin::base::cmd_abovewithdelims.argspec, "m:D m:D m:L");
}

TEST(BuiltinPackageTables, NewdefineMarksDefiningCommands) {
    std::vector<std::string_view> marked;
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinCommandSpec* c : p->commands)
            if (std::find(c->tags.begin(), c->tags.end(), "newdefine") != c->tags.end()) marked.push_back(c->name);
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(marked, (std::vector<std::string_view>{"DeclareMathOperator", "newcolumntype"}));
}

TEST(BuiltinPackageTables, BothModeCommands) {
    std::vector<std::string_view> both;
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinCommandSpec* c : p->commands)
            if (c->allowed_mode == AllowedMode::Both) both.push_back(c->name);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (std::vector<std::string_view>{"bmod", "mathstrut", "pmb", "skew"}));
}

TEST(BuiltinPackageTables, EnvironmentTagsAsDeclared) {
    EXPECT_EQ(std::vector<std::string_view>(builtin::base::env_darray.tags.begin(),
                                            builtin::base::env_darray.tags.end()),
              (std::vector<std::string_view>{"math-alignment", "nestable", "mathjax-extension"}));
    EXPECT_TRUE(builtin::ams::env_equation_star.tags.empty());
    EXPECT_EQ(builtin::ams::env_equation_star.name, "equation*");
    EXPECT_EQ(builtin::physics::env_smallmatrix.name, builtin::ams::env_smallmatrix.name);
}

// Per package, a name occurs once per record type; delimiters are keyed by (name, control).
TEST(BuiltinPackageTables, NamesUniquePerRecordType) {
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        std::set<std::string_view> commands, environments, characters;
        std::set<std::pair<std::string_view, bool>> delimiters;
        for (const auto* c : p->commands) EXPECT_TRUE(commands.insert(c->name).second) << p->name << ' ' << c->name;
        for (const auto* e : p->environments)
            EXPECT_TRUE(environments.insert(e->name).second) << p->name << ' ' << e->name;
        for (const auto* c : p->characters)
            EXPECT_TRUE(characters.insert(c->name).second) << p->name << ' ' << c->name;
        for (const auto* d : p->delimiters)
            EXPECT_TRUE(delimiters.insert({d->name, d->control}).second) << p->name << ' ' << d->name;
    }
}

TEST(BuiltinPackageTables, SharedCommandNames) {
    std::map<std::string_view, std::vector<std::string_view>> owners;  // name -> packages, in import order
    for (PackageName id : MANAGED_PACKAGE_IMPORT_ORDER)
        for (const BuiltinCommandSpec* c : builtin_package(id).commands) owners[c->name].push_back(to_string(id));
    std::map<std::string, std::size_t> pairs;
    std::size_t shared = 0;
    for (const auto& [name, packages] : owners) {
        if (packages.size() < 2) continue;
        ++shared;
        ASSERT_EQ(packages.size(), 2u) << name;
        std::string a(packages[0]), b(packages[1]);
        if (b < a) std::swap(a, b);
        ++pairs[a + "+" + b];
    }
    EXPECT_EQ(shared, 85u);
    EXPECT_EQ(pairs, (std::map<std::string, std::size_t>{{"base+textmacros", 57},
                                                         {"base+physics", 18},
                                                         {"ams+base", 4},
                                                         {"braket+physics", 4},
                                                         {"ams+textmacros", 1},
                                                         {"base+bboldx", 1}}));
    for (const auto* c : {&builtin::base::cmd_Pr, &builtin::base::cmd_det, &builtin::base::cmd_exp}) {
        const BuiltinCommandSpec* other = nullptr;
        for (const BuiltinCommandSpec* pc : pkg("physics").commands)
            if (pc->name == c->name) other = pc;
        ASSERT_NE(other, nullptr) << c->name;
        EXPECT_EQ(other->argspec, c->argspec);
        EXPECT_EQ(other->kind, c->kind);
        EXPECT_EQ(other->allowed_mode, c->allowed_mode);
    }
}

TEST(BuiltinPackageTables, NamesThatAreCommandAndCharacter) {
    std::set<std::string_view> commands, characters;
    for (const BuiltinPackage* p : ALL_PACKAGES) {
        for (const auto* c : p->commands) commands.insert(c->name);
        for (const auto* c : p->characters) characters.insert(c->name);
    }
    std::vector<std::string_view> both;
    std::set_intersection(commands.begin(), commands.end(), characters.begin(), characters.end(),
                          std::back_inserter(both));
    EXPECT_EQ(both, (std::vector<std::string_view>{"AA", "Im", "Re", "S", "dagger", "ddagger", "div", "ldots",
                                                    "vdots"}));
}

// ---------------------------------------------------------------------------
// Characters and delimiters

struct VariantCounts {
    std::string_view package;
    std::map<std::string_view, std::size_t> variants;  // "" counts characters without one
};

class BuiltinCharacterVariants : public ::testing::TestWithParam<VariantCounts> {};

TEST_P(BuiltinCharacterVariants, Counts) {
    std::map<std::string_view, std::size_t> got;
    for (const BuiltinCharacterSpec* c : pkg(GetParam().package).characters)
        ++got[c->attributes.mathvariant.value_or("")];
    EXPECT_EQ(got, GetParam().variants);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BuiltinCharacterVariants,
    ::testing::Values(VariantCounts{"base", {{"italic", 37}, {"normal", 36}, {"", 138}}},
                      VariantCounts{"ams", {{"italic", 42}, {"normal", 2}, {"double-struck", 1}, {"", 195}}},
                      VariantCounts{"physics", {{"bold", 3}, {"normal", 2}, {"", 5}}},
                      VariantCounts{"bboldx", {{"-bboldx", 84}, {"-bboldx-bold", 84}}}),
    [](const auto& info) { return std::string(info.param.package); });

TEST(BuiltinPackageTables, CharacterTextsAreOneScalar) {
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinCharacterSpec* c : p->characters)
            EXPECT_EQ(decode(c->text).size(), 1u) << p->name << ' ' << c->name;
}

struct CharCase {
    const BuiltinCharacterSpec* record;
    char32_t text;
    std::optional<std::string_view> variant;
    AllowedMode mode;
};

class BuiltinCharacterTexts : public ::testing::TestWithParam<CharCase> {};

TEST_P(BuiltinCharacterTexts, Text) {
    const CharCase& c = GetParam();
    EXPECT_EQ(decode(c.record->text), std::u32string(1, c.text)) << c.record->name;
    EXPECT_EQ(c.record->attributes.mathvariant, c.variant) << c.record->name;
    EXPECT_EQ(c.record->allowed_mode, c.mode) << c.record->name;
}

namespace b = builtin::base;
namespace a = builtin::ams;
namespace ph = builtin::physics;
namespace bb = builtin::bboldx;
constexpr auto M = AllowedMode::Math;
constexpr auto T = AllowedMode::Text;

INSTANTIATE_TEST_SUITE_P(
    Tables, BuiltinCharacterTexts,
    ::testing::Values(CharCase{&b::chr_alpha, U'\u03B1', "italic", M}, CharCase{&b::chr_approx, U'\u2248', {}, M},
                      CharCase{&b::chr_bigcap, U'\u22C2', {}, M}, CharCase{&b::chr_AA, U'\u212B', "italic", M},
                      CharCase{&b::chr_backslash, U'\\', "normal", M}, CharCase{&b::chr_Gamma, U'\u0393', "normal", M},
                      CharCase{&b::chr_lt, U'<', {}, M}, CharCase{&b::chr_iddots, U'\u22F0', {}, M},
                      CharCase{&a::chr_Bbbk, U'k', "double-struck", M},
                      CharCase{&a::chr_varGamma, U'\u0393', "italic", M},
                      CharCase{&a::chr_iiiint, U'\u2A0C', {}, M}, CharCase{&ph::chr_vdot, U'\u22C5', "bold", M},
                      CharCase{&ph::chr_gradientnabla, U'\u2207', "bold", M},
                      CharCase{&ph::chr_real, U'\u211C', "normal", M}, CharCase{&ph::chr_cp, U'\u00D7', {}, M},
                      CharCase{&bb::chr_bbalpha, U'\u03B1', "-bboldx", M},
                      CharCase{&bb::chr_txtbbalpha, U'\u03B1', "-bboldx", T},
                      CharCase{&bb::chr_bfbbdotlessi, U'\u0131', "-bboldx-bold", M},
                      CharCase{&bb::chr_txtbfbbLangle, U'\u27E8', "-bboldx-bold", T},
                      CharCase{&bb::chr_bbRparen, U')', "-bboldx", M}));

TEST(BuiltinDelimiters, BarTwiceWithDifferentTexts) {
    const BuiltinDelimiterSpec* bare = nullptr;
    const BuiltinDelimiterSpec* control = nullptr;
    for (const BuiltinDelimiterSpec* d : pkg("base").delimiters)
        if (d->name == "|") (d->control ? control : bare) = d;
    ASSERT_NE(bare, nullptr);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(bare->text, "|");
    EXPECT_EQ(decode(control->text), U"\u2016");
}

TEST(BuiltinDelimiters, NullDelimiterIsEmptyAndControlCounts) {
    EXPECT_EQ(b::del_char_dot.name, ".");
    EXPECT_TRUE(b::del_char_dot.text.empty());
    EXPECT_FALSE(b::del_char_dot.control);
    std::map<std::pair<std::string_view, bool>, std::size_t> counts;
    for (const BuiltinPackage* p : ALL_PACKAGES)
        for (const BuiltinDelimiterSpec* d : p->delimiters) {
            ++counts[{p->name, d->control}];
            if (d->name != ".") {
                EXPECT_EQ(decode(d->text).size(), 1u) << d->name;
            }
        }
    EXPECT_EQ((counts[{"base", false}]), 9u);
    EXPECT_EQ((counts[{"base", true}]), 31u);
    EXPECT_EQ((counts[{"ams", true}]), 8u);
    EXPECT_EQ(decode(a::del_lVert.text), U"\u2016");
}

TEST(BuiltinAttributes, OwnedCopy) {
    EXPECT_EQ(CharacterAttributes::from(a::chr_Bbbk.attributes).mathvariant, std::optional<std::string>("double-struck"));
    EXPECT_FALSE(CharacterAttributes::from(b::chr_approx.attributes).mathvariant.has_value());
}

}  // namespace
