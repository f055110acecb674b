// The transform report as plain records, with its rule and attribute rows
// sorted so that the same run always gives the same report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transform/report.hpp"

namespace quorvel::facade {

struct AttributeFormCountsDto {
    std::uint64_t declaratives = 0;
    std::uint64_t prefixes = 0;
    friend bool operator==(const AttributeFormCountsDto&, const AttributeFormCountsDto&) = default;
};

struct LowerAttributeDto {
    std::string_view attr;  // the axis name, "math_font" ... "text_size"
    std::string value;      // attr_value_to_dto_key of the value
    AttributeFormCountsDto consumed;
    AttributeFormCountsDto redundant;
    AttributeFormCountsDto emitted;
    friend bool operator==(const LowerAttributeDto&, const LowerAttributeDto&) = default;
};

struct LowerAttributesReportDto {
    std::vector<LowerAttributeDto> attributes;  // by attr, then value
    std::uint64_t eliminated_empty_segments = 0;
};

struct RewriteRuleDto {
    std::string key;  // "base/over-to-frac"
    std::uint64_t applied_count = 0;
    std::uint64_t skipped_count = 0;
    friend bool operator==(const RewriteRuleDto&, const RewriteRuleDto&) = default;
};

struct RewriteReportDto {
    std::uint64_t iterations = 0;
    std::vector<RewriteRuleDto> rules;  // by key
};

struct FinalizeAstReportDto {
    std::uint64_t prime_run_merges = 0;
    std::uint64_t text_normalizations = 0;
};

struct FlattenGroupsActionCountsDto {
    std::uint64_t removed_empty = 0;
    std::uint64_t replaced_single_child = 0;
    std::uint64_t inlined_multi_child = 0;
    std::uint64_t unwrapped_slot = 0;
};

struct FlattenGroupsGuardCountsDto {
    std::uint64_t declarative_scope = 0;
    std::uint64_t script_base = 0;
    std::uint64_t env_body = 0;
    std::uint64_t infix_scope = 0;
    std::uint64_t command_contact = 0;
    std::uint64_t command_argument = 0;
    std::uint64_t command_contact_via_scripted_base = 0;
    std::uint64_t empty_group = 0;
    std::uint64_t lone_atom_spacing_char = 0;
    std::uint64_t leading_atom_spacing_char = 0;
    std::uint64_t delimited_pair = 0;
};

struct FlattenGroupsReportDto {
    FlattenGroupsActionCountsDto actions;
    FlattenGroupsGuardCountsDto guard_hits;
};

struct TransformReportDto {
    LowerAttributesReportDto lower_attributes;
    RewriteReportDto rewrite;
    FinalizeAstReportDto finalize_ast;
    FlattenGroupsReportDto flatten_groups;
};

TransformReportDto transform_report_to_dto(const transform::TransformReport& report);

}  // namespace quorvel::facade
