#include "facade/records_argspec.hpp"

#include <array>

#include "util/utf8.hpp"

namespace quorvel::facade {
namespace {


DelimiterTokenInfo token_info(const knowledge::DelimiterToken& token) {
    DelimiterTokenInfo info;
    if (token.kind == knowledge::DelimiterToken::Kind::Char) {
        info.type = DelimiterTokenInfo::Type::Char;
        util::utf8::append(info.value, token.ch);
    } else {
        info.type = DelimiterTokenInfo::Type::ControlSeq;
        info.value = std::string(token.name);
    }
    return info;
}

ArgSpecKindInfo kind_info(knowledge::ArgValueKind kind) {
    using K = knowledge::ArgValueKind;
    using T = ArgSpecKindInfo::Type;
    switch (kind) {
        case K::MathContent: return {T::Content, syntax::ContentMode::Math};
        case K::TextContent: return {T::Content, syntax::ContentMode::Text};
        case K::OperatorName: return {T::OperatorName};
        case K::Delimiter: return {T::Delimiter};
        case K::CsName: return {T::CsName};
        case K::Dimension: return {T::Dimension};
        case K::Integer: return {T::Integer};
        case K::KeyVal: return {T::KeyVal};
        case K::Column: return {T::Column};
        case K::Star: return {T::Star};
    }
    return {T::Star};
}

ArgSpecFormInfo form_info(const knowledge::ArgForm& form) {
    using F = knowledge::ArgFormKind;
    using T = ArgSpecFormInfo::Type;
    ArgSpecFormInfo info;
    switch (form.kind) {
        case F::Standard: info.type = T::Standard; break;
        case F::Star: info.type = T::Star; break;
        case F::Group: info.type = T::Group; break;
        case F::Delimited:
            info.type = T::Delimited;
            info.open = token_info(form.open);
            info.close = token_info(form.close);
            break;
        case F::Paired:
            info.type = T::Paired;
            info.pairs.reserve(form.pairs.size());
            for (const knowledge::DelimiterPair& pair : form.pairs) {
                info.pairs.push_back({token_info(pair.open), token_info(pair.close)});
            }
            break;
    }
    return info;
}

}  // namespace

std::string_view type_name(ArgSpecKindInfo::Type type) noexcept {
    constexpr std::array<std::string_view, 9> names{
        "content", "operatorname", "delimiter", "csname", "dimension",
        "integer", "keyval",       "column",    "star",
    };
    return names[static_cast<std::size_t>(type)];
}

std::string_view type_name(ArgSpecFormInfo::Type type) noexcept {
    constexpr std::array<std::string_view, 5> names{"standard", "star", "group", "delimited", "paired"};
    return names[static_cast<std::size_t>(type)];
}

std::string_view type_name(DelimiterTokenInfo::Type type) noexcept {
    return type == DelimiterTokenInfo::Type::Char ? "char" : "control-seq";
}

ParsedArgSpecSlot parsed_arg_spec_slot(const knowledge::ArgSpec& spec) {
    return ParsedArgSpecSlot{spec.required, spec.no_leading_space, spec.nullable, kind_info(spec.kind),
                             form_info(spec.form)};
}

std::vector<ParsedArgSpecSlot> parsed_arg_spec_slots(std::span<const knowledge::ArgSpec> specs) {
    std::vector<ParsedArgSpecSlot> slots;
    slots.reserve(specs.size());
    for (const knowledge::ArgSpec& spec : specs) slots.push_back(parsed_arg_spec_slot(spec));
    return slots;
}

ValidateArgspecResult validate_argspec(std::string_view spec) {
    auto parsed = knowledge::parse_arg_specs(spec, "validate_argspec");
    ValidateArgspecResult result;
    if (!parsed) {
        result.error = parsed.error().to_string();
        return result;
    }
    result.valid = true;
    result.arg_count = parsed->size();
    result.parsed = parsed_arg_spec_slots(parsed->slots());
    return result;
}

}  // namespace quorvel::facade
