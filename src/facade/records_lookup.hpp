// The records a knowledge lookup answers with, and the short lower-case keys
// under which reports show lowered attribute values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/records_argspec.hpp"
#include "knowledge/knowledge_base.hpp"
#include "transform/attributes.hpp"

namespace quorvel::facade {

struct CommandInfoDto {
    std::string name;
    std::string_view kind;          // "prefix", "infix", "declarative"
    std::string_view allowed_mode;  // "math", "text", "both"
    std::string spec_string;
    std::vector<std::string> from_packages;
    std::vector<std::string> tags;
    std::vector<ParsedArgSpecSlot> args;
};

struct EnvInfoDto {
    std::string name;
    std::string_view allowed_mode;
    std::string_view body_mode;  // "math", "text"
    std::string spec_string;
    std::vector<std::string> from_packages;
    std::vector<std::string> tags;
    std::vector<ParsedArgSpecSlot> args;
};

struct CharacterAttributesInfoDto {
    std::optional<std::string> mathvariant;  // as stored, not turned into a key
};

struct CharacterInfoDto {
    std::string name;
    std::string_view allowed_mode;
    std::string unicode_value;
    CharacterAttributesInfoDto attributes;
    std::string package;
};

CommandInfoDto command_info_to_dto(const knowledge::ActiveCommandRecord& record);
EnvInfoDto env_info_to_dto(const knowledge::ActiveEnvironmentRecord& record);
CharacterInfoDto character_info_to_dto(const knowledge::ActiveCharacterRecord& record);

// The key depends on the value alone; the axis only names the value's axis.
std::string attr_value_to_dto_key(transform::Attr attr, const transform::AttrValue& value);

// "VARIANT.SANSSERIF" -> "sans_serif"; names outside the fixed table go
// through string_to_dto_token.
std::string math_font_value_to_dto_key(std::string_view name);

// "displaystyle", "textstyle", "scriptstyle", "scriptscriptstyle" for the four
// standard styles, else "style_{token}_{display|inline}_{level}".
std::string style_value_to_dto_key(const transform::attr::MathStyle& style);

// One leading "VARIANT." dropped, ASCII letters lower-cased, digits kept, every
// run of other characters one "_" (none leading or trailing); "unknown" when
// nothing is left.
std::string string_to_dto_token(std::string_view text);

}  // namespace quorvel::facade
