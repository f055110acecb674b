#include "facade/records_report.hpp"

#include <algorithm>

#include "facade/records_lookup.hpp"

namespace quorvel::facade {
namespace {

AttributeFormCountsDto counts(const transform::AttributeFormCounts& c) {
    return {c.declaratives, c.prefixes};
}

}  // namespace

TransformReportDto transform_report_to_dto(const transform::TransformReport& report) {
    TransformReportDto dto;

    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values: the byte-wise order the rows are sorted by.
    auto& rules = dto.rewrite.rules;
    rules.reserve(report.rewrite.rules.size());
    for (const transform::RewriteRuleStat& stat : report.rewrite.rules) {
        rules.push_back({transform::to_string(stat.key), stat.applied, stat.skipped});
    }
    std::stable_sort(rules.begin(), rules.end(),
                     [](const RewriteRuleDto& a, const RewriteRuleDto& b) { return a.key < b.key; });
    dto.rewrite.iterations = report.rewrite.iterations;

    auto& rows = dto.lower_attributes.attributes;
    rows.reserve(report.lower_attributes.attributes.size());
    for (const auto& [set, stat] : report.lower_attributes.attributes) {
        rows.push_back({transform::to_string(set.attr), attr_value_to_dto_key(set.attr, set.value),
                        counts(stat.consumed), counts(stat.redundant), counts(stat.emitted)});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const LowerAttributeDto& a, const LowerAttributeDto& b) {
        if (const int c = a.attr.compare(b.attr); c != 0) return c < 0;
        return a.value < b.value;
    });
    dto.lower_attributes.eliminated_empty_segments = report.lower_attributes.eliminated_empty_segments;

    dto.finalize_ast = {report.finalize_ast.prime_run_merges, report.finalize_ast.text_normalizations};

    const auto& actions = report.flatten_groups.actions;
    dto.flatten_groups.actions = {actions.removed_empty, actions.replaced_single_child,
                                  actions.inlined_multi_child, actions.unwrapped_slot};
    const auto& hits = report.flatten_groups.guard_hits;
    dto.flatten_groups.guard_hits = {
        hits.declarative_scope,
        hits.script_base,
        hits.env_body,
        hits.infix_scope,
        hits.command_contact,
        hits.command_argument,
        hits.command_contact_via_scripted_base,
        hits.empty_group,
        hits.lone_atom_spacing_char,
        hits.leading_atom_spacing_char,
        hits.delimited_pair,
    };
    return dto;
}

}  // namespace quorvel::facade
