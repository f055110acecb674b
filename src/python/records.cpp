#include "python/records.hpp"

#include <cstdint>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
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

// One str object per distinct text of a batch of records: the diagnostics of
// one parse repeat the same messages and expected items many times over.
// Keys view the UTF-8 form of the str objects the table holds, so the
// records may be freed as the batch goes. Past a bound the table stops
// growing, so a batch of all-different texts costs no more than before.
class SharedTexts {
public:
    SharedTexts() = default;
    SharedTexts(const SharedTexts&) = delete;
    SharedTexts& operator=(const SharedTexts&) = delete;
    ~SharedTexts() {
        for (auto& entry : table_) Py_DECREF(entry.second);
    }

    nb::object get(std::string_view value) {
        if (auto it = table_.find(value); it != table_.end()) return nb::borrow(it->second);
        nb::object object = text(value);
        if (table_.size() < kMaxEntries) {
            // The UTF-8 form of an ASCII str is its own buffer; others keep
            // theirs inside the object once asked.
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(object.ptr(), &size);
            if (utf8 == nullptr) throw nb::python_error();
            table_.emplace(std::string_view(utf8, static_cast<std::size_t>(size)), object.ptr());
            Py_INCREF(object.ptr());
        }
        return object;
    }

    template <class T>
    nb::object get(const std::optional<T>& value) {
        return value ? get(std::string_view(*value)) : nb::none();
    }

private:
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 16;
    std::unordered_map<std::string_view, PyObject*> table_;
};

void set(nb::handle dict, Key& k, const nb::object& value) {
    if (PyDict_SetItem(dict.ptr(), k.get(), value.ptr()) != 0) throw nb::python_error();
}

// New dicts with a fixed list of keys, in its order: copying a dict of the
// same keys clones its table whole, where inserting one by one would grow it.
class Shape {
public:
    explicit Shape(std::initializer_list<Key*> keys)
        : template_(nb::steal<nb::dict>(checked(PyDict_New()).release())) {
        for (Key* k : keys) set(template_, *k, nb::none());
    }
    nb::dict copy() const { return nb::steal<nb::dict>(checked(PyDict_Copy(template_.ptr())).release()); }

private:
    nb::dict template_;
};

// Writes the diagnostic records of one batch, sharing their texts.
class DiagnosticWriter {
public:
    nb::dict write(const facade::ParseDiagnosticDto& d) {
        nb::dict dict = diagnostic_.copy();
        set(dict, key::kind, d.kind ? texts_.get(*d.kind) : nb::none());
        set(dict, key::message, texts_.get(d.message));
        set(dict, key::span, span(d.span));
        set(dict, key::expected, expected(d.expected));
        set(dict, key::found, texts_.get(d.found));
        set(dict, key::contexts, list_of(d.contexts, [&](const facade::ParseDiagnosticContextDto& c) {
                nb::dict context = context_.copy();
                set(context, key::label, texts_.get(c.label));
                set(context, key::span, span(c.span));
                return context;
            }));
        return dict;
    }

    // The same, and the record's expected items may be kept for the next.
    nb::dict write(facade::ParseDiagnosticDto&& d) {
        nb::dict dict = write(static_cast<const facade::ParseDiagnosticDto&>(d));
        if (last_list_.ptr() != nullptr && &d.expected == last_expected_) {
            last_items_ = std::move(d.expected);
            last_expected_ = &last_items_;
        }
        return dict;
    }

private:
    nb::dict span(const parse::Span& s) {
        nb::dict dict = span_.copy();
        set(dict, key::start, count(s.start));
        set(dict, key::end, count(s.end));
        return dict;
    }

    // Neighbouring diagnostics often expect the same items: a run copies
    // the last list instead of looking each item up again.
    nb::list expected(const std::vector<std::string>& items) {
        if (last_expected_ != nullptr && *last_expected_ == items) {
            return nb::steal<nb::list>(
                checked(PyList_GetSlice(last_list_.ptr(), 0, std::numeric_limits<Py_ssize_t>::max())).release());
        }
        nb::list list = list_of(items, [&](const std::string& item) { return texts_.get(item); });
        last_expected_ = &items;
        last_list_ = list;
        return list;
    }

    SharedTexts texts_;
    Shape diagnostic_{&key::kind, &key::message, &key::span, &key::expected, &key::found, &key::contexts};
    Shape context_{&key::label, &key::span};
    Shape span_{&key::start, &key::end};
    // The items of `last_list_`: a record's own, or kept here once the
    // record is freed.
    const std::vector<std::string>* last_expected_ = nullptr;
    std::vector<std::string> last_items_;
    nb::object last_list_;
};

// The interpreter takes its small objects from arenas of its own, never from
// the blocks the C++ records free: handing those pages back to the system as
// the records go keeps them from adding to the peak of a large batch. Each
// hand-back walks the whole heap (tens of milliseconds on a large one), so it
// comes only every 2^18 records (about 170 MB of a million-diagnostic batch).
constexpr std::size_t kTrimEvery = std::size_t{1} << 18;

void return_free_pages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Pauses the cycle collector for a scope, restoring the caller's setting.
// Python 3.9 has no C calls for it: there the collector keeps running.
class GcPause {
public:
#if PY_VERSION_HEX >= 0x030A0000
    GcPause() : was_enabled_(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
#else
    GcPause() : was_enabled_(false) {}
#endif
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_;
};

}  // namespace

nb::dict to_python(const parse::Span& span) {
    return std::move(Dict().put(key::start, count(span.start)).put(key::end, count(span.end))).done();
}

nb::list to_python(std::vector<facade::ParseDiagnosticDto>&& diagnostics) {
    // While the list is built no Python code runs (no finalizer, no other
    // thread), so the cycle collector has nothing to find among the new
    // containers: pausing it spares it walking them again and again as they
    // pile up. The caller's setting is restored on every path.
    GcPause pause;
    DiagnosticWriter writer;
    nb::list list = nb::steal<nb::list>(checked(PyList_New(static_cast<Py_ssize_t>(diagnostics.size()))).release());
    // From the back, freeing each record once written, so the records and
    // their Python form are not both held whole.
    std::size_t written = 0;
    while (!diagnostics.empty()) {
        nb::dict dict = writer.write(std::move(diagnostics.back()));
        diagnostics.pop_back();
        // Steals the reference; it cannot fail on a fresh list of this size.
        PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(diagnostics.size()), dict.release().ptr());
        if (++written % kTrimEvery == 0) return_free_pages();
    }
    return list;
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
