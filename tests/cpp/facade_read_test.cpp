#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "facade/input.hpp"
#include "facade/json_value.hpp"
#include "facade/read.hpp"

namespace {

using quorvel::facade::JsonValue;
namespace input = quorvel::facade::input;
namespace read = quorvel::facade::read;

// A small JSON text reader so that the tables below can state their inputs
// as text. Test inputs are well formed and shallow.
class JsonText {
public:
    explicit JsonText(std::string_view text) : text_(text) {}

    JsonValue parse() {
        skip();
        const char c = text_[pos_];
        if (c == '{') return parse_object();
        if (c == '[') return parse_array();
        if (c == '"') return JsonValue(parse_string());
        if (take("null")) return JsonValue(nullptr);
        if (take("true")) return JsonValue(true);
        if (take("false")) return JsonValue(false);
        return parse_number();
    }

private:
    void skip() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n')) ++pos_;
    }
    bool take(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }
    JsonValue parse_object() {
        ++pos_;
        std::vector<JsonValue::Member> members;
        skip();
        while (text_[pos_] != '}') {
            skip();
            std::string key = parse_string();
            skip();
            ++pos_;  // ':'
            JsonValue value = parse();
            members.emplace_back(std::move(key), std::move(value));
            skip();
            if (text_[pos_] == ',') ++pos_;
            skip();
        }
        ++pos_;
        return JsonValue::object(std::move(members));
    }
    JsonValue parse_array() {
        ++pos_;
        JsonValue::Array items;
        skip();
        while (text_[pos_] != ']') {
            items.push_back(parse());
            skip();
            if (text_[pos_] == ',') ++pos_;
            skip();
        }
        ++pos_;
        return JsonValue(std::move(items));
    }
    std::string parse_string() {
        ++pos_;
        std::string out;
        while (text_[pos_] != '"') {
            if (text_[pos_] == '\\') ++pos_;
            out += text_[pos_++];
        }
        ++pos_;
        return out;
    }
    JsonValue parse_number() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && std::string_view("+-.0123456789e").find(text_[pos_]) !=
                                          std::string_view::npos) {
            ++pos_;
        }
        const std::string_view number = text_.substr(start, pos_ - start);
        const char* first = number.data();
        const char* last = first + number.size();
        if (number.find_first_of(".e") != std::string_view::npos) {
            double d = 0;
            std::from_chars(first, last, d);
            return JsonValue(d);
        }
        if (number.front() == '-') {
            std::int64_t i = 0;
            std::from_chars(first, last, i);
            return JsonValue(i);
        }
        std::uint64_t u = 0;
        std::from_chars(first, last, u);
        return JsonValue(u);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

JsonValue json(std::string_view text) { return JsonText(text).parse(); }

enum class Input { Parse, Normalize, Transform, Serialize, Items, Guards };

template <class Record>
std::string outcome(std::string_view context, const JsonValue& value) {
    auto result = input::read_input<Record>(value);
    if (auto* error = std::get_if<read::ReadError>(&result)) {
        return read::format_read_error(context, *error);
    }
    return "ok";
}

std::string read_as(Input kind, const JsonValue& value) {
    switch (kind) {
        case Input::Parse: return outcome<input::ParseConfigInput>("parse overrides", value);
        case Input::Normalize:
            return outcome<input::NormalizeConfigInput>("normalize overrides", value);
        case Input::Transform:
            return outcome<input::TransformConfigInput>("transform overrides", value);
        case Input::Serialize:
            return outcome<input::SerializeOptionsInput>("serialize options", value);
        case Input::Items: return outcome<std::vector<input::ContextItemInput>>("items", value);
        case Input::Guards: return outcome<input::FlattenGroupsGuardsInput>("guards", value);
    }
    return {};
}

template <class Record>
Record read_ok(std::string_view text) {
    auto result = input::read_input<Record>(json(text));
    if (auto* error = std::get_if<read::ReadError>(&result)) {
        ADD_FAILURE() << text << ": " << read::format_read_error("test", *error);
        return Record{};
    }
    return std::move(std::get<Record>(result));
}

TEST(FacadeReadTest, FormatsFloatsShortestWithPointOrExponent) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {2.0, "2.0"},
        {0.5, "0.5"},
        {1.5, "1.5"},
        {1e100, "1e100"},
        {1e-6, "1e-6"},
        {1e-5, "0.00001"},
        {1.25e-7, "1.25e-7"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e16"},
        {1.5e16, "1.5e16"},
        {123.456, "123.456"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read::format_float(c.value), c.text) << c.text;
    }
}

TEST(FacadeReadTest, DebugStringEscapes) {
    const struct {
        std::string_view in;
        const char* out;
    } cases[] = {
        {"plain text", R"("plain text")"},
        {"a\"b", R"("a\"b")"},
        {"back\\slash", R"("back\\slash")"},
        {std::string_view("nul\0x", 5), R"("nul\0x")"},
        {"\t\r\n", R"("\t\r\n")"},
        {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
        {"it's", R"("it's")"},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"zero\xE2\x80\x8Bwidth", R"("zero\u{200b}width")"},
        {"e\xCC\x81", R"("e\u{301}")"},
        {"\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read::debug_string(c.in), c.out) << c.out;
    }
}

TEST(FacadeReadTest, StripsOnlyAWellFormedLocationSuffix) {
    const struct {
        std::string_view in;
        std::string_view out;
    } cases[] = {
        {"bad value at line 3 column 17", "bad value"},
        {"bad value at line 3 column 17x", "bad value at line 3 column 17x"},
        {"bad value at line  column 4", "bad value at line  column 4"},
        {"bad value at line 3", "bad value at line 3"},
        {" at line 1 column 2", ""},
        {"a at line 1 column 2 at line 9 column 9", "a at line 1 column 2"},
        {"no suffix", "no suffix"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read::strip_location_suffix(c.in), c.out) << c.in;
    }
}

TEST(FacadeReadTest, FormatsPathsOfReadErrors) {
    using Kind = read::PathSegment::Kind;
    const struct {
        std::vector<read::PathSegment> path;
        const char* text;
    } cases[] = {
        {{}, "invalid ctx: boom"},
        {{{Kind::Key, 0, "max_group_depth"}}, "invalid ctx: max_group_depth: boom"},
        {{{Kind::Key, 0, "rewrite"}, {Kind::Key, 0, "enabled"}}, "invalid ctx: rewrite.enabled: boom"},
        {{{Kind::Index, 2, ""}}, "invalid ctx: [2]: boom"},
        {{{Kind::Index, 0, ""}, {Kind::Key, 0, "tags"}, {Kind::Index, 1, ""}},
         "invalid ctx: [0].tags[1]: boom"},
        {{{Kind::Key, 0, "command_spacing"}, {Kind::Variant, 0, "spaced"}},
         "invalid ctx: command_spacing.spaced: boom"},
        {{{Kind::Key, 0, "[x]"}}, "invalid ctx: [x]: boom"},
        {{{Kind::Index, 0, ""}, {Kind::Key, 0, "[x]"}}, "invalid ctx: [0].[x]: boom"},
    };
    for (const auto& c : cases) {
        read::ReadError error{"boom at line 1 column 1", c.path};
        EXPECT_EQ(read::format_read_error("ctx", error), c.text);
    }
}

struct ReadCase {
    Input kind;
    const char* json;
    const char* expected;  // "ok" or the formatted failure
};

TEST(FacadeReadTest, ReadsOrRefusesWithPathAndMessage) {
    const ReadCase cases[] = {
        // Parse overrides.
        {Input::Parse, R"({})", "ok"},
        {Input::Parse, R"({"max_group_depth": null, "reject_unknown": true})", "ok"},
        {Input::Parse, R"({"max_group_depth": 9223372036854775808})", "ok"},
        {Input::Parse, R"({"max_group_depth": 18446744073709551615})", "ok"},
        {Input::Parse, R"({"max_group_depth": 1.0})",
         "invalid parse overrides: max_group_depth: invalid type: floating point `1.0`, expected usize"},
        {Input::Parse, R"({"max_group_depth": -3})",
         "invalid parse overrides: max_group_depth: invalid value: integer `-3`, expected usize"},
        {Input::Parse, R"({"max_group_depth": true})",
         "invalid parse overrides: max_group_depth: invalid type: boolean `true`, expected usize"},
        {Input::Parse, R"({"max_group_depth": [1]})",
         "invalid parse overrides: max_group_depth: invalid type: sequence, expected usize"},
        {Input::Parse, R"({"max_group_depth": "7"})",
         "invalid parse overrides: max_group_depth: invalid type: string \"7\", expected usize"},
        {Input::Parse, R"({"reject_unknown": 1})",
         "invalid parse overrides: reject_unknown: invalid type: integer `1`, expected a boolean"},
        {Input::Parse, R"({"reject_unknown": {}})",
         "invalid parse overrides: reject_unknown: invalid type: map, expected a boolean"},
        {Input::Parse, R"({"zeta": 1, "abort_on_error": "x"})",
         "invalid parse overrides: abort_on_error: invalid type: string \"x\", expected a boolean"},
        {Input::Parse, R"({"depth": 1})",
         "invalid parse overrides: depth: unknown field `depth`, expected one of `reject_unknown`, "
         "`abort_on_error`, `max_group_depth`"},
        {Input::Parse, R"({"rewrite": {}})",
         "invalid parse overrides: rewrite: unknown field `rewrite`, expected one of "
         "`reject_unknown`, `abort_on_error`, `max_group_depth`"},
        {Input::Parse, R"([])", "invalid parse overrides: invalid type: sequence, expected an object"},
        {Input::Parse, R"("x")", "invalid parse overrides: invalid type: string \"x\", expected an object"},
        {Input::Parse, R"(null)", "invalid parse overrides: invalid type: null, expected an object"},
        // Normalize and transform overrides: nested phase records.
        {Input::Normalize, R"({"rewrite": null, "flatten_groups": {}})", "ok"},
        {Input::Normalize, R"({"rewrite": []})",
         "invalid normalize overrides: rewrite: invalid type: sequence, expected an object"},
        {Input::Normalize, R"({"rewrite": {"max_iterations": 1.5}})",
         "invalid normalize overrides: rewrite.max_iterations: invalid type: floating point `1.5`, "
         "expected usize"},
        {Input::Normalize, R"({"rewrite": {"x": 1}})",
         "invalid normalize overrides: rewrite.x: unknown field `x`, expected `enabled` or "
         "`max_iterations`"},
        {Input::Normalize, R"({"lower_attributes": {"on": true}})",
         "invalid normalize overrides: lower_attributes.on: unknown field `on`, expected `enabled`"},
        {Input::Normalize, R"({"abort_on_error": 0, "finalize_ast": []})",
         "invalid normalize overrides: abort_on_error: invalid type: integer `0`, expected a boolean"},
        {Input::Normalize, R"({"zz": 0})",
         "invalid normalize overrides: zz: unknown field `zz`, expected one of `reject_unknown`, "
         "`abort_on_error`, `max_group_depth`, `lower_attributes`, `rewrite`, `finalize_ast`, "
         "`flatten_groups`"},
        {Input::Transform, R"({"flatten_groups": {"preserve_rendered_spacing": "no"}})",
         "invalid transform overrides: flatten_groups.preserve_rendered_spacing: invalid type: "
         "string \"no\", expected a boolean"},
        {Input::Transform, R"({"max_group_depth": 3})",
         "invalid transform overrides: max_group_depth: unknown field `max_group_depth`, expected "
         "one of `lower_attributes`, `rewrite`, `finalize_ast`, `flatten_groups`"},
        // Serializer options: enumerations of unit values.
        {Input::Serialize, R"({"command_spacing": null, "script_order": {"sup_first": null}})", "ok"},
        {Input::Serialize, R"({"command_spacing": "tight"})",
         "invalid serialize options: command_spacing: unknown variant `tight`, expected `spaced` or "
         "`minimal`"},
        {Input::Serialize, R"({"command_spacing": {"tight": 1}})",
         "invalid serialize options: command_spacing: unknown variant `tight`, expected `spaced` or "
         "`minimal`"},
        {Input::Serialize, R"({"command_spacing": {"spaced": 1}})",
         "invalid serialize options: command_spacing.spaced: invalid type: integer `1`, expected unit"},
        {Input::Serialize, R"({"command_spacing": {"spaced": null, "minimal": null}})",
         "invalid serialize options: command_spacing: invalid value: map, expected map with a "
         "single key"},
        {Input::Serialize, R"({"command_spacing": {}})",
         "invalid serialize options: command_spacing: invalid value: map, expected map with a "
         "single key"},
        {Input::Serialize, R"({"command_spacing": 3})",
         "invalid serialize options: command_spacing: invalid type: integer `3`, expected string or map"},
        {Input::Serialize, R"({"command_spacing": ["spaced"]})",
         "invalid serialize options: command_spacing: invalid type: sequence, expected string or map"},
        // Context items.
        {Input::Items, R"([])", "ok"},
        {Input::Items, R"({})", "invalid items: invalid type: map, expected a sequence"},
        {Input::Items, R"("command")",
         "invalid items: invalid type: string \"command\", expected a sequence"},
        {Input::Items, R"([[]])", "invalid items: [0]: invalid type: sequence, expected an object"},
        {Input::Items, R"([{"target": "commands", "name": "f"}])",
         "invalid items: [0].target: unknown variant `commands`, expected one of `command`, "
         "`environment`, `delimiter`"},
        {Input::Items,
         R"([{"target": "command", "name": "f", "argspec": "m", "kind": "prefix",
              "allowed_mode": "math", "tags": ["a", 3]}])",
         "invalid items: [0].tags[1]: invalid type: integer `3`, expected a string"},
        {Input::Items, R"([{"target": "command", "name": "f"}, {"name": "g"}])",
         "invalid items: [1]: missing field `target`"},
        {Input::Items, R"([{}])", "invalid items: [0]: missing field `target`"},
        {Input::Items, R"([{"target": null, "name": "x"}])",
         "invalid items: [0].target: invalid type: null, expected string or map"},
        {Input::Items, R"([{"target": "command", "name": null}])",
         "invalid items: [0].name: invalid type: null, expected a string"},
        {Input::Items, R"([{"target": "command"}])", "invalid items: [0]: missing field `name`"},
        {Input::Items, R"([{"target": "command", "zzz": 1}])",
         "invalid items: [0].zzz: unknown field `zzz`, expected one of `target`, `name`, `kind`, "
         "`allowed_mode`, `body_mode`, `argspec`, `tags`"},
        {Input::Items, R"([{"target": "command", "name": "f", "tags": "a"}])",
         "invalid items: [0].tags: invalid type: string \"a\", expected a sequence"},
        {Input::Items, R"([{"target": "command", "name": "f", "kind": "postfix"}])",
         "invalid items: [0].kind: unknown variant `postfix`, expected one of `prefix`, `infix`, "
         "`declarative`"},
        {Input::Items, R"([{"target": "environment", "name": "f", "body_mode": "both"}])",
         "invalid items: [0].body_mode: unknown variant `both`, expected `math` or `text`"},
        // Guards: a given key must hold a boolean, null included.
        {Input::Guards, R"({"script_base": false})", "ok"},
        {Input::Guards, R"({"script_base": null})",
         "invalid guards: script_base: invalid type: null, expected a boolean"},
        {Input::Guards, R"({"script_base": 1})",
         "invalid guards: script_base: invalid type: integer `1`, expected a boolean"},
        {Input::Guards, R"({"scriptbase": true})",
         "invalid guards: scriptbase: unknown field `scriptbase`, expected one of "
         "`declarative_scope`, `script_base`, `env_body`, `infix_scope`, `command_contact`, "
         "`command_like_includes_scripted_base`, `command_argument`, `empty_group`, "
         "`lone_atom_spacing_char`, `leading_atom_spacing_char`, `delimited_pair`"},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(read_as(c.kind, json(c.json)), c.expected) << c.json;
    }
}

TEST(FacadeReadTest, KeepsTheValuesRead) {
    const auto normalize = read_ok<input::NormalizeConfigInput>(
        R"({"rewrite": {"enabled": false}, "max_group_depth": 0, "flatten_groups": null})");
    EXPECT_EQ(normalize.max_group_depth, std::optional<std::size_t>(0));
    ASSERT_TRUE(normalize.rewrite.has_value());
    EXPECT_EQ(normalize.rewrite->enabled, std::optional<bool>(false));
    EXPECT_FALSE(normalize.rewrite->max_iterations.has_value());
    EXPECT_FALSE(normalize.flatten_groups.has_value());
    EXPECT_FALSE(normalize.reject_unknown.has_value());

    const auto options = read_ok<input::SerializeOptionsInput>(
        R"({"infix_operand_grouping": "always_explicit", "script_order": {"sup_first": null},
            "group_inner_spacing": "compact"})");
    EXPECT_EQ(options.infix_operand_grouping, std::optional<std::uint8_t>(0));
    EXPECT_EQ(options.script_order, std::optional<std::uint8_t>(1));
    EXPECT_EQ(options.group_inner_spacing, std::optional<std::uint8_t>(1));
    EXPECT_FALSE(options.command_spacing.has_value());

    const auto guards = read_ok<input::FlattenGroupsGuardsInput>(R"({"script_base": false})");
    EXPECT_EQ(guards.script_base, std::optional<bool>(false));
    EXPECT_FALSE(guards.declarative_scope.has_value());
    EXPECT_FALSE(guards.delimited_pair.has_value());

    const auto items = read_ok<std::vector<input::ContextItemInput>>(
        R"([{"target": "environment", "name": "env", "allowed_mode": "both",
             "body_mode": "text", "argspec": "", "tags": ["x", "y"]},
            {"target": {"delimiter": null}, "name": "\\x", "kind": null}])");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].target, input::ContextTarget::Environment);
    EXPECT_EQ(items[0].allowed_mode, input::ContextAllowedMode::Both);
    EXPECT_EQ(items[0].body_mode, input::ContextContentMode::Text);
    EXPECT_EQ(items[0].argspec, std::optional<std::string>(""));
    EXPECT_EQ(items[0].tags, (std::optional<std::vector<std::string>>({"x", "y"})));
    EXPECT_EQ(items[1].target, input::ContextTarget::Delimiter);
    EXPECT_EQ(items[1].name, "\\x");
    EXPECT_FALSE(items[1].kind.has_value());
}

TEST(FacadeReadTest, ObjectKeepsLastOfEqualKeysInByteOrder) {
    std::vector<JsonValue::Member> members;
    members.emplace_back("max_group_depth", JsonValue(1));
    members.emplace_back("abort_on_error", JsonValue(true));
    members.emplace_back("max_group_depth", JsonValue(2));
    const JsonValue value = JsonValue::object(std::move(members));
    const JsonValue::Object& object = *value.if_object();
    ASSERT_EQ(object.size(), 2u);
    EXPECT_EQ(object[0].first, "abort_on_error");
    EXPECT_EQ(object[1].first, "max_group_depth");
    EXPECT_EQ(*object[1].second.if_unsigned(), 2u);
}

TEST(FacadeReadTest, ChecksContextItemsPerTarget) {
    const struct {
        const char* json;
        const char* expected;  // "" when the item is accepted
    } cases[] = {
        {R"({"target": "command", "name": "foo", "argspec": "m", "kind": "prefix",
             "allowed_mode": "math"})",
         ""},
        {R"({"target": "command", "name": "foo", "argspec": "m", "allowed_mode": "math"})",
         "`kind` is required for target `command`"},
        {R"({"target": "command", "name": "foo", "body_mode": "math"})",
         "`body_mode` is not allowed for target `command`"},
        {R"({"target": "command", "name": "f"})", "`argspec` is required for target `command`"},
        {R"({"target": "command", "name": "f", "argspec": "m", "kind": "infix"})",
         "`allowed_mode` is required for target `command`"},
        {R"({"target": "environment", "name": "env", "kind": "prefix"})",
         "`kind` is not allowed for target `environment`"},
        {R"({"target": "environment", "name": "env"})",
         "`allowed_mode` is required for target `environment`"},
        {R"({"target": "environment", "name": "env", "allowed_mode": "math"})",
         "`body_mode` is required for target `environment`"},
        {R"({"target": "environment", "name": "env", "allowed_mode": "math", "body_mode": "math"})",
         "`argspec` is required for target `environment`"},
        {R"({"target": "environment", "name": "env", "allowed_mode": "math", "body_mode": "math",
             "argspec": "", "tags": []})",
         ""},
        {R"({"target": "delimiter", "name": "x", "tags": []})",
         "`tags` is not allowed for target `delimiter`"},
        {R"({"target": "delimiter", "name": "x", "tags": null})", ""},
        {R"({"target": "delimiter", "name": "x", "tags": [], "kind": "prefix"})",
         "`kind` is not allowed for target `delimiter`"},
        {R"({"target": "delimiter", "name": "x", "argspec": "m", "body_mode": "text"})",
         "`body_mode` is not allowed for target `delimiter`"},
    };
    for (const auto& c : cases) {
        const auto item = read_ok<input::ContextItemInput>(c.json);
        EXPECT_EQ(input::check_context_item(item).value_or(""), c.expected) << c.json;
    }
}

// Far more levels than a recursive walk could survive: reading stops at the
// first level and destroying the value must not recurse per level.
TEST(FacadeReadTest, DeeplyNestedValuesAreReadAndFreedWithoutRecursion) {
    constexpr int kLevels = 150'000;
    JsonValue value{JsonValue::Array{}};
    for (int i = 0; i < kLevels; ++i) {
        JsonValue::Array outer;
        outer.push_back(std::move(value));
        value = JsonValue(std::move(outer));
    }
    EXPECT_EQ(read_as(Input::Parse, value),
              "invalid parse overrides: invalid type: sequence, expected an object");
    EXPECT_EQ(read_as(Input::Items, value),
              "invalid items: [0]: invalid type: sequence, expected an object");

    JsonValue nested_object{nullptr};
    for (int i = 0; i < kLevels; ++i) {
        std::vector<JsonValue::Member> members;
        members.emplace_back("rewrite", std::move(nested_object));
        nested_object = JsonValue::object(std::move(members));
    }
    EXPECT_EQ(read_as(Input::Normalize, nested_object),
              "invalid normalize overrides: rewrite.rewrite: unknown field `rewrite`, expected "
              "`enabled` or `max_iterations`");
}

}  // namespace
