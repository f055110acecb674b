#include "python/records.hpp"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "python/interned.hpp"

namespace quorvel::python {
namespace {

using Key = InternedKey;

namespace key {
Key start{"start"}, end{"end"};
Key label{"label"}, span{"span"};
Key kind{"kind"}, message{"message"}, expected{"expected"}, found{"found"}, contexts{"contexts"};
Key text{"text"}, start_byte{"start_byte"}, end_byte{"end_byte"}, mode{"mode"};
Key latex{"latex"}, tokens{"tokens"};
Key id{"id"};
Key name{"name"}, commands{"commands"}, environments{"environments"};
Key allowed_mode{"allowed_mode"}, body_mode{"body_mode"}, spec_string{"spec_string"};
Key from_packages{"from_packages"}, tags{"tags"}, args{"args"};
Key unicode_value{"unicode_value"}, attributes{"attributes"}, mathvariant{"mathvariant"}, package{"package"};
Key lower_attributes{"lower_attributes"}, rewrite{"rewrite"}, finalize_ast{"finalize_ast"};
Key flatten_groups{"flatten_groups"};
Key eliminated_empty_segments{"eliminated_empty_segments"};
Key attr{"attr"}, value{"value"}, consumed{"consumed"}, redundant{"redundant"}, emitted{"emitted"};
Key declaratives{"declaratives"}, prefixes{"prefixes"};
Key iterations{"iterations"}, rules{"rules"}, rule_key{"key"};
Key applied_count{"applied_count"}, skipped_count{"skipped_count"};
Key prime_run_merges{"prime_run_merges"}, text_normalizations{"text_normalizations"};
Key actions{"actions"}, guard_hits{"guard_hits"};
Key removed_empty{"removed_empty"}, replaced_single_child{"replaced_single_child"};
Key inlined_multi_child{"inlined_multi_child"}, unwrapped_slot{"unwrapped_slot"};
Key declarative_scope{"declarative_scope"}, script_base{"script_base"}, env_body{"env_body"};
Key infix_scope{"infix_scope"}, command_contact{"command_contact"}, command_argument{"command_argument"};
Key command_contact_via_scripted_base{"command_contact_via_scripted_base"}, empty_group{"empty_group"};
Key lone_atom_spacing_char{"lone_atom_spacing_char"};
Key leading_atom_spacing_char{"leading_atom_spacing_char"}, delimited_pair{"delimited_pair"};
Key valid{"valid"}, error{"error"}, arg_count{"arg_count"}, parsed{"parsed"};
Key required{"required"}, no_leading_space{"no_leading_space"}, nullable{"nullable"}, form{"form"};
Key type{"type"}, open{"open"}, close{"close"}, pairs{"pairs"};
}  // namespace key

nb::object checked(PyObject* object) {
    if (object == nullptr) throw nb::python_error();
    return nb::steal(object);
}

nb::object text(std::string_view value) {
    return checked(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

nb::object count(std::uint64_t value) { return checked(PyLong_FromUnsignedLongLong(value)); }

nb::object flag(bool value) { return nb::borrow(value ? Py_True : Py_False); }

template <class T>
nb::object optional_text(const std::optional<T>& value) {
    return value ? text(*value) : nb::none();
}

// Builds a dict entry by entry; the caller inserts in field order.
class Dict {
public:
    Dict() : dict_(nb::steal<nb::dict>(checked(PyDict_New()).release())) {}

    Dict& put(Key& key, const nb::object& value) {
        if (PyDict_SetItem(dict_.ptr(), key.get(), value.ptr()) != 0) throw nb::python_error();
        return *this;
    }

    nb::dict done() && { return std::move(dict_); }

private:
    nb::dict dict_;
};

template <class Items, class Write>
nb::list list_of(const Items& items, Write write) {
    nb::list list = nb::steal<nb::list>(checked(PyList_New(static_cast<Py_ssize_t>(items.size()))).release());
    Py_ssize_t index = 0;
    for (const auto& item : items) {
        nb::object value = write(item);
        // Steals the reference; it cannot fail on a fresh list of this size.
        PyList_SetItem(list.ptr(), index++, value.release().ptr());
    }
    return list;
}

nb::list text_list(const std::vector<std::string>& texts) {
    return list_of(texts, [](const std::string& t) { return text(t); });
}

nb::dict counters(std::initializer_list<std::pair<Key*, std::uint64_t>> entries) {
    Dict dict;
    for (const auto& [k, n] : entries) dict.put(*k, count(n));
    return std::move(dict).done();
}

nb::dict context_to_python(const facade::ParseDiagnosticContextDto& context) {
    return std::move(Dict().put(key::label, text(context.label)).put(key::span, to_python(context.span))).done();
}

nb::dict token_to_python(const facade::SerializationTokenDto& token) {
    return std::move(Dict()
                         .put(key::text, text(token.text))
                         .put(key::start_byte, count(token.start_byte))
                         .put(key::end_byte, count(token.end_byte))
                         .put(key::kind, text(token.kind))
                         .put(key::mode, text(token.mode)))
        .done();
}

nb::list slots_to_python(const std::vector<facade::ParsedArgSpecSlot>& slots) {
    return list_of(slots, [](const facade::ParsedArgSpecSlot& slot) { return to_python(slot); });
}

nb::dict form_counts(const facade::AttributeFormCountsDto& c) {
    return counters({{&key::declaratives, c.declaratives}, {&key::prefixes, c.prefixes}});
}

nb::dict attribute_row(const facade::LowerAttributeDto& row) {
    return std::move(Dict()
                         .put(key::attr, text(row.attr))
                         .put(key::value, text(row.value))
                         .put(key::consumed, form_counts(row.consumed))
                         .put(key::redundant, form_counts(row.redundant))
                         .put(key::emitted, form_counts(row.emitted)))
        .done();
}

nb::dict rule_row(const facade::RewriteRuleDto& row) {
    return std::move(Dict()
                         .put(key::rule_key, text(row.key))
                         .put(key::applied_count, count(row.applied_count))
                         .put(key::skipped_count, count(row.skipped_count)))
        .done();
}

nb::dict delimiter_token(const facade::DelimiterTokenInfo& token) {
    return std::move(Dict().put(key::type, text(type_name(token.type))).put(key::value, text(token.value))).done();
}

nb::dict kind_info(const facade::ArgSpecKindInfo& kind) {
    Dict dict;
    dict.put(key::type, text(type_name(kind.type)));
    if (kind.type == facade::ArgSpecKindInfo::Type::Content) {
        dict.put(key::mode, text(syntax::content_mode_name(kind.mode)));
    }
    return std::move(dict).done();
}

nb::dict form_info(const facade::ArgSpecFormInfo& form) {
    using T = facade::ArgSpecFormInfo::Type;
    Dict dict;
    dict.put(key::type, text(type_name(form.type)));
    if (form.type == T::Delimited) {
        dict.put(key::open, delimiter_token(form.open)).put(key::close, delimiter_token(form.close));
    } else if (form.type == T::Paired) {
        dict.put(key::pairs, list_of(form.pairs, [](const facade::DelimiterTokenPairInfo& pair) {
                     return std::move(Dict()
                                          .put(key::open, delimiter_token(pair.open))
                                          .put(key::close, delimiter_token(pair.close)))
                         .done();
                 }));
    }
    return std::move(dict).done();
}

}  // namespace

nb::dict to_python(const parse::Span& span) {
    return std::move(Dict().put(key::start, count(span.start)).put(key::end, count(span.end))).done();
}

nb::dict to_python(const facade::ParseDiagnosticDto& diagnostic) {
    return std::move(Dict()
                         .put(key::kind, optional_text(diagnostic.kind))
                         .put(key::message, text(diagnostic.message))
                         .put(key::span, to_python(diagnostic.span))
                         .put(key::expected, text_list(diagnostic.expected))
                         .put(key::found, optional_text(diagnostic.found))
                         .put(key::contexts, list_of(diagnostic.contexts, context_to_python)))
        .done();
}

nb::list to_python(const std::vector<facade::ParseDiagnosticDto>& diagnostics) {
    return list_of(diagnostics, [](const facade::ParseDiagnosticDto& d) { return to_python(d); });
}

nb::dict to_python(const facade::TokenizedLatexDto& tokenized) {
    return std::move(Dict()
                         .put(key::latex, text(tokenized.latex))
                         .put(key::tokens, list_of(tokenized.tokens, token_to_python)))
        .done();
}

nb::list to_python(const std::vector<facade::NodeSpanEntryDto>& spans) {
    return list_of(spans, [](const facade::NodeSpanEntryDto& entry) {
        return std::move(Dict().put(key::id, text(entry.id)).put(key::span, to_python(entry.span))).done();
    });
}

nb::list to_python(const std::vector<facade::PackageInfoDto>& packages) {
    return list_of(packages, [](const facade::PackageInfoDto& package) {
        return std::move(Dict()
                             .put(key::name, text(package.name))
                             .put(key::commands, count(package.commands))
                             .put(key::environments, count(package.environments)))
            .done();
    });
}

nb::dict to_python(const facade::CommandInfoDto& command) {
    return std::move(Dict()
                         .put(key::name, text(command.name))
                         .put(key::kind, text(command.kind))
                         .put(key::allowed_mode, text(command.allowed_mode))
                         .put(key::spec_string, text(command.spec_string))
                         .put(key::from_packages, text_list(command.from_packages))
                         .put(key::tags, text_list(command.tags))
                         .put(key::args, slots_to_python(command.args)))
        .done();
}

nb::dict to_python(const facade::EnvInfoDto& environment) {
    return std::move(Dict()
                         .put(key::name, text(environment.name))
                         .put(key::allowed_mode, text(environment.allowed_mode))
                         .put(key::body_mode, text(environment.body_mode))
                         .put(key::spec_string, text(environment.spec_string))
                         .put(key::from_packages, text_list(environment.from_packages))
                         .put(key::tags, text_list(environment.tags))
                         .put(key::args, slots_to_python(environment.args)))
        .done();
}

nb::dict to_python(const facade::CharacterInfoDto& character) {
    nb::dict attributes =
        std::move(Dict().put(key::mathvariant, optional_text(character.attributes.mathvariant))).done();
    return std::move(Dict()
                         .put(key::name, text(character.name))
                         .put(key::allowed_mode, text(character.allowed_mode))
                         .put(key::unicode_value, text(character.unicode_value))
                         .put(key::attributes, attributes)
                         .put(key::package, text(character.package)))
        .done();
}

nb::dict to_python(const facade::TransformReportDto& report) {
    const auto& lower = report.lower_attributes;
    nb::dict lower_attributes = std::move(Dict()
                                              .put(key::attributes, list_of(lower.attributes, attribute_row))
                                              .put(key::eliminated_empty_segments,
                                                   count(lower.eliminated_empty_segments)))
                                    .done();
    nb::dict rewrite = std::move(Dict()
                                     .put(key::iterations, count(report.rewrite.iterations))
                                     .put(key::rules, list_of(report.rewrite.rules, rule_row)))
                           .done();
    nb::dict finalize_ast = counters({
        {&key::prime_run_merges, report.finalize_ast.prime_run_merges},
        {&key::text_normalizations, report.finalize_ast.text_normalizations},
    });
    const auto& actions = report.flatten_groups.actions;
    nb::dict action_counts = counters({
        {&key::removed_empty, actions.removed_empty},
        {&key::replaced_single_child, actions.replaced_single_child},
        {&key::inlined_multi_child, actions.inlined_multi_child},
        {&key::unwrapped_slot, actions.unwrapped_slot},
    });
    const auto& hits = report.flatten_groups.guard_hits;
    nb::dict guard_counts = counters({
        {&key::declarative_scope, hits.declarative_scope},
        {&key::script_base, hits.script_base},
        {&key::env_body, hits.env_body},
        {&key::infix_scope, hits.infix_scope},
        {&key::command_contact, hits.command_contact},
        {&key::command_argument, hits.command_argument},
        {&key::command_contact_via_scripted_base, hits.command_contact_via_scripted_base},
        {&key::empty_group, hits.empty_group},
        {&key::lone_atom_spacing_char, hits.lone_atom_spacing_char},
        {&key::leading_atom_spacing_char, hits.leading_atom_spacing_char},
        {&key::delimited_pair, hits.delimited_pair},
    });
    nb::dict flatten_groups =
        std::move(Dict().put(key::actions, action_counts).put(key::guard_hits, guard_counts)).done();
    return std::move(Dict()
                         .put(key::lower_attributes, lower_attributes)
                         .put(key::rewrite, rewrite)
                         .put(key::finalize_ast, finalize_ast)
                         .put(key::flatten_groups, flatten_groups))
        .done();
}

nb::dict to_python(const facade::ValidateArgspecResult& result) {
    return std::move(Dict()
                         .put(key::valid, flag(result.valid))
                         .put(key::error, optional_text(result.error))
                         .put(key::arg_count, result.arg_count ? count(*result.arg_count) : nb::none())
                         .put(key::parsed, result.parsed ? nb::object(slots_to_python(*result.parsed)) : nb::none()))
        .done();
}

nb::dict to_python(const facade::ParsedArgSpecSlot& slot) {
    return std::move(Dict()
                         .put(key::required, flag(slot.required))
                         .put(key::no_leading_space, flag(slot.no_leading_space))
                         .put(key::nullable, flag(slot.nullable))
                         .put(key::kind, kind_info(slot.kind))
                         .put(key::form, form_info(slot.form)))
        .done();
}

}  // namespace quorvel::python
