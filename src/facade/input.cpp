#include "facade/input.hpp"

#include <array>
#include <type_traits>

namespace quorvel::facade::input {
namespace {

using read::Field;
using read::Reader;

// Field readers, one per kind of member; `M` is the member pointer.

template <class R, auto M>
bool opt_bool(Reader& reader, const JsonValue& value, R& record) {
    return read::read_optional(reader, value, record.*M, read::read_bool);
}

// A guard: null is not absent but a wrong type.
template <class R, auto M>
bool given_bool(Reader& reader, const JsonValue& value, R& record) {
    bool flag = false;
    if (!read::read_bool(reader, value, flag)) return false;
    record.*M = flag;
    return true;
}

template <class R, auto M>
bool opt_size(Reader& reader, const JsonValue& value, R& record) {
    return read::read_optional(reader, value, record.*M, read::read_size);
}

template <class R, auto M>
bool opt_string(Reader& reader, const JsonValue& value, R& record) {
    return read::read_optional(reader, value, record.*M, read::read_string);
}

template <class R, auto M>
bool opt_string_list(Reader& reader, const JsonValue& value, R& record) {
    return read::read_optional(reader, value, record.*M, read::read_string_list);
}

template <class T, const auto& Names>
bool enum_value(Reader& reader, const JsonValue& value, T& out) {
    std::uint8_t position = 0;
    if (!read::read_enum(reader, value, Names, position)) return false;
    out = static_cast<T>(position);
    return true;
}

template <class R, auto M, const auto& Names>
bool opt_enum(Reader& reader, const JsonValue& value, R& record) {
    using T = typename std::remove_reference_t<decltype(record.*M)>::value_type;
    return read::read_optional(reader, value, record.*M, enum_value<T, Names>);
}

template <class R, auto M, const auto& Names>
bool required_enum(Reader& reader, const JsonValue& value, R& record) {
    using T = std::remove_reference_t<decltype(record.*M)>;
    return enum_value<T, Names>(reader, value, record.*M);
}

template <class R, auto M>
bool required_string(Reader& reader, const JsonValue& value, R& record) {
    return read::read_string(reader, value, record.*M);
}

// Value names in declaration order.
constexpr std::array<std::string_view, 2> kSpacedMinimal{"spaced", "minimal"};
constexpr std::array<std::string_view, 2> kPaddedCompact{"padded", "compact"};
constexpr std::array<std::string_view, 2> kSpacedCompact{"spaced", "compact"};
constexpr std::array<std::string_view, 2> kScriptOrder{"sub_first", "sup_first"};
constexpr std::array<std::string_view, 2> kInfixGrouping{"always_explicit", "when_required"};
constexpr std::array<std::string_view, 3> kTargets{"command", "environment", "delimiter"};
constexpr std::array<std::string_view, 3> kCommandKinds{"prefix", "infix", "declarative"};
constexpr std::array<std::string_view, 3> kAllowedModes{"math", "text", "both"};
constexpr std::array<std::string_view, 2> kContentModes{"math", "text"};

// One reader per record type, each over its table of declared keys.
bool read_fields(Reader& reader, const JsonValue& value, ContextItemInput& out);

bool read_fields(Reader& reader, const JsonValue& value, ParseConfigInput& out) {
    using R = ParseConfigInput;
    static constexpr std::array<Field<R>, 3> kFields{{
        {"reject_unknown", false, opt_bool<R, &R::reject_unknown>},
        {"abort_on_error", false, opt_bool<R, &R::abort_on_error>},
        {"max_group_depth", false, opt_size<R, &R::max_group_depth>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, LowerAttributesConfigInput& out) {
    using R = LowerAttributesConfigInput;
    static constexpr std::array<Field<R>, 1> kFields{{
        {"enabled", false, opt_bool<R, &R::enabled>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, RewriteConfigInput& out) {
    using R = RewriteConfigInput;
    static constexpr std::array<Field<R>, 2> kFields{{
        {"enabled", false, opt_bool<R, &R::enabled>},
        {"max_iterations", false, opt_size<R, &R::max_iterations>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, FinalizeAstConfigInput& out) {
    using R = FinalizeAstConfigInput;
    static constexpr std::array<Field<R>, 1> kFields{{
        {"enabled", false, opt_bool<R, &R::enabled>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, FlattenGroupsConfigInput& out) {
    using R = FlattenGroupsConfigInput;
    static constexpr std::array<Field<R>, 2> kFields{{
        {"enabled", false, opt_bool<R, &R::enabled>},
        {"preserve_rendered_spacing", false, opt_bool<R, &R::preserve_rendered_spacing>},
    }};
    return read::read_record(reader, value, out, kFields);
}

template <class Phase>
bool phase(Reader& reader, const JsonValue& value, Phase& out) {
    return read_fields(reader, value, out);
}

template <class R, auto M>
bool opt_phase(Reader& reader, const JsonValue& value, R& record) {
    using Phase = typename std::remove_reference_t<decltype(record.*M)>::value_type;
    return read::read_optional(reader, value, record.*M, phase<Phase>);
}

bool read_fields(Reader& reader, const JsonValue& value, TransformConfigInput& out) {
    using R = TransformConfigInput;
    static constexpr std::array<Field<R>, 4> kFields{{
        {"lower_attributes", false, opt_phase<R, &R::lower_attributes>},
        {"rewrite", false, opt_phase<R, &R::rewrite>},
        {"finalize_ast", false, opt_phase<R, &R::finalize_ast>},
        {"flatten_groups", false, opt_phase<R, &R::flatten_groups>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, NormalizeConfigInput& out) {
    using R = NormalizeConfigInput;
    static constexpr std::array<Field<R>, 7> kFields{{
        {"reject_unknown", false, opt_bool<R, &R::reject_unknown>},
        {"abort_on_error", false, opt_bool<R, &R::abort_on_error>},
        {"max_group_depth", false, opt_size<R, &R::max_group_depth>},
        {"lower_attributes", false, opt_phase<R, &R::lower_attributes>},
        {"rewrite", false, opt_phase<R, &R::rewrite>},
        {"finalize_ast", false, opt_phase<R, &R::finalize_ast>},
        {"flatten_groups", false, opt_phase<R, &R::flatten_groups>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, SerializeOptionsInput& out) {
    using R = SerializeOptionsInput;
    static constexpr std::array<Field<R>, 7> kFields{{
        {"command_spacing", false, opt_enum<R, &R::command_spacing, kSpacedMinimal>},
        {"group_inner_spacing", false, opt_enum<R, &R::group_inner_spacing, kPaddedCompact>},
        {"adjacent_char_spacing", false, opt_enum<R, &R::adjacent_char_spacing, kSpacedCompact>},
        {"script_spacing", false, opt_enum<R, &R::script_spacing, kSpacedCompact>},
        {"script_order", false, opt_enum<R, &R::script_order, kScriptOrder>},
        {"infix_operand_grouping", false, opt_enum<R, &R::infix_operand_grouping, kInfixGrouping>},
        {"environment_name_spacing", false,
         opt_enum<R, &R::environment_name_spacing, kSpacedCompact>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, ContextItemInput& out) {
    using R = ContextItemInput;
    static constexpr std::array<Field<R>, 7> kFields{{
        {"target", true, required_enum<R, &R::target, kTargets>},
        {"name", true, required_string<R, &R::name>},
        {"kind", false, opt_enum<R, &R::kind, kCommandKinds>},
        {"allowed_mode", false, opt_enum<R, &R::allowed_mode, kAllowedModes>},
        {"body_mode", false, opt_enum<R, &R::body_mode, kContentModes>},
        {"argspec", false, opt_string<R, &R::argspec>},
        {"tags", false, opt_string_list<R, &R::tags>},
    }};
    return read::read_record(reader, value, out, kFields);
}

bool read_fields(Reader& reader, const JsonValue& value, std::vector<ContextItemInput>& out) {
    return read::read_list(reader, value, out, phase<ContextItemInput>);
}

bool read_fields(Reader& reader, const JsonValue& value, FlattenGroupsGuardsInput& out) {
    using R = FlattenGroupsGuardsInput;
    static constexpr std::array<Field<R>, 11> kFields{{
        {"declarative_scope", false, given_bool<R, &R::declarative_scope>},
        {"script_base", false, given_bool<R, &R::script_base>},
        {"env_body", false, given_bool<R, &R::env_body>},
        {"infix_scope", false, given_bool<R, &R::infix_scope>},
        {"command_contact", false, given_bool<R, &R::command_contact>},
        {"command_like_includes_scripted_base", false,
         given_bool<R, &R::command_like_includes_scripted_base>},
        {"command_argument", false, given_bool<R, &R::command_argument>},
        {"empty_group", false, given_bool<R, &R::empty_group>},
        {"lone_atom_spacing_char", false, given_bool<R, &R::lone_atom_spacing_char>},
        {"leading_atom_spacing_char", false, given_bool<R, &R::leading_atom_spacing_char>},
        {"delimited_pair", false, given_bool<R, &R::delimited_pair>},
    }};
    return read::read_record(reader, value, out, kFields);
}

std::string required_message(std::string_view field, std::string_view target) {
    std::string message = "`";
    message += field;
    message += "` is required for target `";
    message += target;
    message += "`";
    return message;
}

}  // namespace

template <class Record>
read::ReadResult<Record> read_input(const JsonValue& value) {
    Reader reader;
    Record record{};
    if (!read_fields(reader, value, record)) return reader.take_error();
    return record;
}

template read::ReadResult<ParseConfigInput> read_input(const JsonValue&);
template read::ReadResult<LowerAttributesConfigInput> read_input(const JsonValue&);
template read::ReadResult<RewriteConfigInput> read_input(const JsonValue&);
template read::ReadResult<FinalizeAstConfigInput> read_input(const JsonValue&);
template read::ReadResult<FlattenGroupsConfigInput> read_input(const JsonValue&);
template read::ReadResult<TransformConfigInput> read_input(const JsonValue&);
template read::ReadResult<NormalizeConfigInput> read_input(const JsonValue&);
template read::ReadResult<SerializeOptionsInput> read_input(const JsonValue&);
template read::ReadResult<ContextItemInput> read_input(const JsonValue&);
template read::ReadResult<std::vector<ContextItemInput>> read_input(const JsonValue&);
template read::ReadResult<FlattenGroupsGuardsInput> read_input(const JsonValue&);

std::string_view target_name(ContextTarget target) {
    return kTargets[static_cast<std::size_t>(target)];
}

std::optional<std::string> check_context_item(const ContextItemInput& item) {
    const std::string_view target = target_name(item.target);
    switch (item.target) {
        case ContextTarget::Command:
            if (auto failure = reject_field("body_mode", target, item.body_mode)) return failure;
            if (!item.argspec) return required_message("argspec", target);
            if (!item.kind) return required_message("kind", target);
            if (!item.allowed_mode) return required_message("allowed_mode", target);
            return std::nullopt;
        case ContextTarget::Environment:
            if (auto failure = reject_field("kind", target, item.kind)) return failure;
            if (!item.allowed_mode) return required_message("allowed_mode", target);
            if (!item.body_mode) return required_message("body_mode", target);
            if (!item.argspec) return required_message("argspec", target);
            return std::nullopt;
        case ContextTarget::Delimiter:
            if (auto failure = reject_field("kind", target, item.kind)) return failure;
            if (auto failure = reject_field("allowed_mode", target, item.allowed_mode)) return failure;
            if (auto failure = reject_field("body_mode", target, item.body_mode)) return failure;
            if (auto failure = reject_field("argspec", target, item.argspec)) return failure;
            if (auto failure = reject_field("tags", target, item.tags)) return failure;
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quorvel::facade::input
