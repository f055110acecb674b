#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transform/attributes.hpp"

namespace quorvel::transform {
namespace {

using syntax::ContentMode;

const AttrValue BOLD = attr::MathVariant{"VARIANT.BOLD"};
const AttrValue DISPLAY = attr::MathStyle{"D", 0, true};

TEST(TransformAttributes, StateSet) {
    AttributeState state;
    EXPECT_TRUE(state.set(Attr::MathFont, BOLD));  // empty slot
    const AttributeState before = state;
    EXPECT_FALSE(state.set(Attr::MathFont, attr::MathVariant{"VARIANT.BOLD"}));  // equal by content
    EXPECT_EQ(state, before);
    EXPECT_TRUE(state.set(Attr::MathFont, attr::MathVariant{"VARIANT.NORMAL"}));
    EXPECT_TRUE(state.set(Attr::MathFont, attr::Size{100}));  // another variant
    EXPECT_EQ(state.get(Attr::MathFont), AttrValue(attr::Size{100}));
    EXPECT_FALSE(state.get(Attr::TextSize).has_value());

    // Same name, different display flag: different values.
    EXPECT_TRUE(state.set(Attr::MathStyle, DISPLAY));
    EXPECT_TRUE(state.set(Attr::MathStyle, attr::MathStyle{"D", 0, false}));

    // A table row sets its own axis.
    const AttributeCommandSpec& huge = *lookup_declarative_form(ContentMode::Math, "huge");
    EXPECT_TRUE(state.set(huge));
    EXPECT_FALSE(state.set(huge));
    EXPECT_EQ(state.get(Attr::MathSize), AttrValue(attr::Size{207}));
}

TEST(TransformAttributes, DiffAxesAndClear) {
    const AttributeState fresh;
    AttributeState sized;
    sized.set(Attr::TextSize, attr::Size{120});
    AttributeState both = sized;
    both.set(Attr::MathFont, BOLD);
    both.set(Attr::TextShape, attr::TextShape::Italic);

    const struct {
        std::string name;
        const AttributeState& a;
        const AttributeState& b;
        std::span<const Attr> axes;
        std::vector<Attr> expected;
    } cases[] = {
        {"FreshStates", fresh, fresh, TEXT_AXES, {}},
        {"NoAxes", both, fresh, std::span<const Attr>(), {}},
        {"TextSizeOnly", sized, fresh, TEXT_AXES, {Attr::TextSize}},
        {"TextSizeOnlyFromTheOtherSide", fresh, sized, TEXT_AXES, {Attr::TextSize}},
        {"TextSizeOnlyMathAxes", sized, fresh, MATH_AXES, {}},
        {"TextAxesInShapeFirstOrder", both, fresh, TEXT_AXES, {Attr::TextShape, Attr::TextSize}},
        {"EqualValues", both, both, MATH_AXES, {}},
    };
    for (const auto& c : cases) {
        const AxisList diff = c.a.diff_axes(c.b, c.axes);
        EXPECT_EQ(std::vector<Attr>(diff.begin(), diff.end()), c.expected) << c.name;
    }

    both.clear(TEXT_AXES);
    EXPECT_FALSE(both.get(Attr::TextSize).has_value());
    EXPECT_FALSE(both.get(Attr::TextShape).has_value());
    EXPECT_EQ(both.get(Attr::MathFont), BOLD);
}

TEST(TransformAttributes, AxisNames) {
    const std::vector<std::string_view> names{"math_font",   "math_size",  "math_style", "text_family",
                                              "text_series", "text_shape", "text_size"};
    for (std::size_t i = 0; i < ATTR_COUNT; ++i) EXPECT_EQ(to_string(static_cast<Attr>(i)), names[i]);
}

struct FormCase {
    ContentMode mode;
    std::string_view name;
    bool prefix;
    std::optional<std::pair<Attr, AttrValue>> expected;
};

TEST(TransformAttributes, Lookups) {
    const FormCase cases[] = {
        {ContentMode::Math, "it", false, {{Attr::MathFont, attr::MathVariant{"VARIANT.MATHITALIC"}}}},
        {ContentMode::Text, "it", false, {{Attr::TextShape, attr::TextShape::Italic}}},
        {ContentMode::Math, "mit", false, {{Attr::MathFont, attr::MathVariant{"VARIANT.ITALIC"}}}},
        {ContentMode::Text, "mit", false, {{Attr::TextFamily, attr::TextFamily::Italic}}},
        {ContentMode::Math, "bf", false, {{Attr::MathFont, BOLD}}},
        {ContentMode::Text, "bf", false, {{Attr::TextSeries, attr::TextSeries::Bold}}},
        {ContentMode::Text, "cal", false, {{Attr::TextFamily, attr::TextFamily::Calligraphic}}},
        {ContentMode::Math, "oldstyle", false, {{Attr::MathFont, attr::MathVariant{"-tex-oldstyle"}}}},
        {ContentMode::Math, "Tiny", false, {{Attr::MathSize, attr::Size{60}}}},
        {ContentMode::Math, "tiny", false, {{Attr::MathSize, attr::Size{50}}}},
        {ContentMode::Text, "LARGE", false, {{Attr::TextSize, attr::Size{173}}}},
        {ContentMode::Math, "scriptscriptstyle", false, {{Attr::MathStyle, attr::MathStyle{"SS", 2, false}}}},
        {ContentMode::Text, "displaystyle", false, std::nullopt},
        {ContentMode::Math, "mathbf", false, std::nullopt},
        {ContentMode::Math, "symit", true, {{Attr::MathFont, attr::MathVariant{"VARIANT.ITALIC"}}}},
        {ContentMode::Text, "textbf", true, {{Attr::TextSeries, attr::TextSeries::Bold}}},
        {ContentMode::Text, "textsf", true, {{Attr::TextFamily, attr::TextFamily::SansSerif}}},
        {ContentMode::Text, "mathbf", true, std::nullopt},
        {ContentMode::Math, "textit", true, std::nullopt},
        {ContentMode::Math, "bf", true, std::nullopt},
    };
    for (const FormCase& c : cases) {
        const AttributeCommandSpec* row =
            c.prefix ? lookup_prefix_form(c.mode, c.name) : lookup_declarative_form(c.mode, c.name);
        if (!c.expected) {
            EXPECT_EQ(row, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(row, nullptr) << c.name;
        EXPECT_EQ(row->attr, c.expected->first) << c.name;
        EXPECT_EQ(row->value, c.expected->second) << c.name;
        EXPECT_EQ(row->mode, c.mode) << c.name;
        const std::string package = c.mode == ContentMode::Math ? "base" : "textmacros";
        EXPECT_EQ(row->package, package);
        EXPECT_EQ(row->qualified_name, package + ":" + std::string(c.name));
    }
}

TEST(TransformAttributes, TablesAgree) {
    std::size_t math = 0;
    for (const AttributeCommandSpec& row : DECLARATIVE_FORMS) math += row.mode == ContentMode::Math;
    EXPECT_EQ(math, 22u);
    EXPECT_EQ(DECLARATIVE_FORMS.size() - math, 18u);

    // Every recognised value has exactly one canonical line with a
    // declarative in the row's mode, which writes back the same command.
    for (const auto* table : {&DECLARATIVE_FORMS}) {
        for (const AttributeCommandSpec& row : *table) {
            int lines = 0;
            for (const CanonicalForm& form : CANONICAL_FORMS) lines += form.attr == row.attr && form.value == row.value;
            EXPECT_EQ(lines, 1) << row.name;
            const CanonicalForm* form = lookup_canonical_form(row.attr, row.value);
            ASSERT_NE(form, nullptr);
            ASSERT_TRUE(form->declarative(row.mode).has_value()) << row.name;
            EXPECT_EQ(form->declarative(row.mode)->name, row.name);
        }
    }
    for (const AttributeCommandSpec& row : PREFIX_FORMS) {
        const CanonicalForm* form = lookup_canonical_form(row.attr, row.value);
        ASSERT_NE(form, nullptr) << row.name;
        ASSERT_TRUE(form->prefix(row.mode).has_value()) << row.name;
        EXPECT_EQ(form->prefix(row.mode)->name, row.name);
        EXPECT_FALSE(form->prefix(row.mode == ContentMode::Math ? ContentMode::Text : ContentMode::Math));
    }

    const CanonicalForm* oldstyle = lookup_canonical_form(Attr::MathFont, attr::MathVariant{"-tex-oldstyle"});
    ASSERT_NE(oldstyle, nullptr);
    EXPECT_FALSE(oldstyle->math_prefix.has_value());
    // A value on an axis it does not belong to has no line.
    EXPECT_EQ(lookup_canonical_form(Attr::MathSize, attr::TextShape::Italic), nullptr);
    EXPECT_EQ(lookup_canonical_form(Attr::TextShape, attr::TextShape::Slanted), nullptr);
}

TEST(TransformAttributes, SetHashKeysEqualSets) {
    const AttributeSetHash hash;
    EXPECT_EQ(hash({BOLD, Attr::MathFont}), hash({attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont}));
    EXPECT_EQ(hash({attr::Size{120}, Attr::TextSize}), hash({attr::Size{120}, Attr::TextSize}));
}

}  // namespace
}  // namespace quorvel::transform
