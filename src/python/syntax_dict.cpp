#include "python/syntax_dict.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "python/extract.hpp"
#include "python/interned.hpp"

namespace quorvel::python {
namespace {

using syntax::SyntaxNode;
namespace sn = syntax::syntax_node;

// ===========================================================================
// Reading
// ===========================================================================

// A malformed value; the message is the reader's result.
struct ReadError {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw ReadError{std::move(message)}; }

[[noreturn]] void fail_unexpected_type(nb::handle value, const char* expected) {
    fail("unexpected type: '" + type_qualname(value) + "' object cannot be converted to '" + expected + "'");
}

// The interpreter refused to convert a value (an int out of range, a str
// that UTF-8 cannot hold, a __bool__ that raised): its error, shown as
// "{type}: {text}", becomes the reader's message. Errors that are not about
// the value propagate.
[[noreturn]] void conversion_failed() {
    nb::python_error error;
    if (error.matches(PyExc_MemoryError) || !error.matches(PyExc_Exception)) throw error;
    std::string message;
    nb::object name = nb::steal(PyObject_GetAttrString(error.type().ptr(), "__name__"));
    nb::object text = nb::steal(PyObject_Str(error.value().ptr()));
    if (!name.is_valid() || !text.is_valid()) throw nb::python_error();
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(name.ptr(), &size)) message.assign(data, size);
    message += ": ";
    if (const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size)) message.append(data, size);
    PyErr_Clear();
    fail(std::move(message));
}

std::string_view utf8(nb::handle text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) conversion_failed();
    return std::string_view(data, static_cast<std::size_t>(size));
}

// ---- Enumerations ----------------------------------------------------------

enum class Shape : std::uint8_t { Unit, Newtype, Struct };

struct Variant {
    std::string_view name;
    Shape shape;
};

template <std::size_t N>
using Variants = std::array<Variant, N>;

constexpr Shape U = Shape::Unit;
constexpr Shape N = Shape::Newtype;
constexpr Shape S = Shape::Struct;

constexpr Variants<12> kNodeVariants{{{"Root", S},
                                      {"Group", S},
                                      {"Command", S},
                                      {"Infix", S},
                                      {"Declarative", S},
                                      {"Environment", S},
                                      {"Scripted", S},
                                      {"Error", S},
                                      {"Prime", S},
                                      {"Text", N},
                                      {"Char", N},
                                      {"ActiveSpace", U}}};
constexpr Variants<6> kArgumentKindVariants{
    {{"Mandatory", U}, {"Optional", U}, {"Star", U}, {"Group", U}, {"Delimited", S}, {"Paired", S}}};
constexpr Variants<10> kArgumentValueVariants{{{"MathContent", N},
                                               {"TextContent", N},
                                               {"OperatorNameContent", N},
                                               {"Delimiter", N},
                                               {"CSName", N},
                                               {"Dimension", N},
                                               {"Integer", N},
                                               {"KeyVal", N},
                                               {"Column", N},
                                               {"Boolean", N}}};
constexpr Variants<4> kGroupKindVariants{{{"Explicit", U}, {"Implicit", U}, {"Delimited", S}, {"InlineMath", U}}};
constexpr Variants<3> kDelimiterVariants{{{"None", U}, {"Char", N}, {"Control", N}}};
constexpr Variants<2> kModeVariants{{{"Math", U}, {"Text", U}}};

template <std::size_t Count>
std::size_t find_variant(std::string_view name, const Variants<Count>& variants) {
    for (std::size_t i = 0; i < Count; ++i) {
        if (variants[i].name == name) return i;
    }
    std::string message = "unknown variant `";
    message += name;
    message += "`, expected ";
    if (Count > 2) message += "one of ";
    for (std::size_t i = 0; i < Count; ++i) {
        if (i > 0) message += Count == 2 ? " or " : ", ";
        message += '`';
        message += variants[i].name;
        message += '`';
    }
    fail(std::move(message));
}

// A variant and its content (None for a bare name).
struct Tagged {
    std::size_t index;
    nb::object content;
};

template <std::size_t Count>
Tagged read_tag(nb::handle value, const Variants<Count>& variants) {
    PyObject* object = value.ptr();
    if (PyUnicode_Check(object)) {
        const std::size_t index = find_variant(utf8(value), variants);
        if (variants[index].shape == Shape::Struct) fail("invalid type: unit variant, expected struct variant");
        if (variants[index].shape == Shape::Newtype) fail("invalid type: unit variant, expected newtype variant");
        return {index, nb::none()};
    }
    if (!is_mapping(value)) fail("expected either a str or dict for enum");
    nb::object key;
    nb::object content;
    if (PyDict_Check(object)) {
        if (PyDict_Size(object) != 1) fail("expected tagged enum dict to have exactly 1 key");
        Py_ssize_t position = 0;
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        PyDict_Next(object, &position, &k, &v);
        key = nb::borrow(k);
        content = nb::borrow(v);
    } else {
        const Py_ssize_t size = PyObject_Size(object);
        if (size < 0) conversion_failed();
        if (size != 1) fail("expected tagged enum dict to have exactly 1 key");
        nb::object keys = nb::steal(PyMapping_Keys(object));
        if (!keys.is_valid()) conversion_failed();
        key = nb::steal(PySequence_GetItem(keys.ptr(), 0));
        if (!key.is_valid()) conversion_failed();
        if (!PyUnicode_Check(key.ptr())) fail("dict keys must have type str");
        content = nb::steal(PyObject_GetItem(object, key.ptr()));
        if (!content.is_valid()) conversion_failed();
    }
    if (!PyUnicode_Check(key.ptr())) fail("dict keys must have type str");
    return {find_variant(utf8(key), variants), std::move(content)};
}

// ---- Leaf values -----------------------------------------------------------

std::string read_text(nb::handle value) {
    if (!PyUnicode_Check(value.ptr())) fail_unexpected_type(value, "PyString");
    return std::string(utf8(value));
}

char32_t read_char(nb::handle value) {
    if (!PyUnicode_Check(value.ptr()) || PyUnicode_GetLength(value.ptr()) != 1) {
        fail("expected a str of length 1 for char");
    }
    const Py_UCS4 c = PyUnicode_ReadChar(value.ptr(), 0);
    // A lone surrogate is one str character but no Unicode scalar value.
    if (c >= 0xD800 && c <= 0xDFFF) fail("Character must be a Unicode scalar value");
    return static_cast<char32_t>(c);
}

bool read_bool(nb::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) conversion_failed();
    return truth != 0;
}

std::uint64_t read_u64(nb::handle value) {
    nb::object number = nb::steal(PyNumber_Index(value.ptr()));
    if (!number.is_valid()) conversion_failed();
    const unsigned long long result = PyLong_AsUnsignedLongLong(number.ptr());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) conversion_failed();
    return result;
}

syntax::ContentMode read_mode(nb::handle value) {
    return read_tag(value, kModeVariants).index == 0 ? syntax::ContentMode::Math : syntax::ContentMode::Text;
}

// The entries of a mapping, one at a time: a dict directly, any other
// mapping through a snapshot of its items.
class Entries {
public:
    explicit Entries(nb::handle mapping) {
        if (!is_mapping(mapping)) fail_unexpected_type(mapping, "Mapping");
        dict_ = PyDict_Check(mapping.ptr());
        if (dict_) {
            source_ = nb::borrow(mapping);
        } else {
            source_ = nb::steal(PyMapping_Items(mapping.ptr()));
            if (!source_.is_valid()) conversion_failed();
        }
    }

    // The next entry; its key must be a str.
    bool next(nb::object& key, nb::object& value) {
        if (dict_) {
            PyObject* k = nullptr;
            PyObject* v = nullptr;
            if (!PyDict_Next(source_.ptr(), &position_, &k, &v)) return false;
            key = nb::borrow(k);
            value = nb::borrow(v);
        } else {
            if (position_ >= PyList_Size(source_.ptr())) return false;
            PyObject* pair = PyList_GetItem(source_.ptr(), position_++);
            key = nb::steal(PySequence_GetItem(pair, 0));
            if (!key.is_valid()) conversion_failed();
            value = nb::steal(PySequence_GetItem(pair, 1));
            if (!value.is_valid()) conversion_failed();
        }
        if (!PyUnicode_Check(key.ptr())) fail("dict keys must have type str");
        return true;
    }

private:
    nb::object source_;
    Py_ssize_t position_ = 0;
    bool dict_ = false;
};

// A record whose fields are all leaves, read in one go.
template <std::size_t Count, class Read>
void read_flat_record(nb::handle value, const std::array<std::string_view, Count>& names, Read read) {
    Entries entries(value);
    std::array<bool, Count> seen{};
    nb::object key;
    nb::object item;
    while (entries.next(key, item)) {
        const std::string_view name = utf8(key);
        for (std::size_t i = 0; i < Count; ++i) {
            if (names[i] == name) {
                read(i, item);
                seen[i] = true;
            }
        }
    }
    for (std::size_t i = 0; i < Count; ++i) {
        if (!seen[i]) fail("missing field `" + std::string(names[i]) + "`");
    }
}

sn::Delimiter read_delimiter(nb::handle value) {
    Tagged tag = read_tag(value, kDelimiterVariants);
    switch (tag.index) {
        case 0: return sn::Delimiter::none();
        case 1: return sn::Delimiter::character(read_char(tag.content));
        default: return sn::Delimiter::control(read_text(tag.content));
    }
}

std::pair<sn::Delimiter, sn::Delimiter> read_delimiter_pair(nb::handle value,
                                                            const std::array<std::string_view, 2>& names) {
    std::pair<sn::Delimiter, sn::Delimiter> pair;
    read_flat_record(value, names, [&](std::size_t field, nb::handle item) {
        (field == 0 ? pair.first : pair.second) = read_delimiter(item);
    });
    return pair;
}

sn::GroupKind read_group_kind(nb::handle value) {
    Tagged tag = read_tag(value, kGroupKindVariants);
    switch (tag.index) {
        case 0: return sn::GroupKind::Explicit{};
        case 1: return sn::GroupKind::Implicit{};
        case 2: {
            auto [left, right] = read_delimiter_pair(tag.content, {"left", "right"});
            return sn::GroupKind::Delimited{std::move(left), std::move(right)};
        }
        default: return sn::GroupKind::InlineMath{};
    }
}

sn::ArgumentKind read_argument_kind(nb::handle value) {
    Tagged tag = read_tag(value, kArgumentKindVariants);
    switch (tag.index) {
        case 0: return sn::ArgumentKind::Mandatory{};
        case 1: return sn::ArgumentKind::Optional{};
        case 2: return sn::ArgumentKind::Star{};
        case 3: return sn::ArgumentKind::Group{};
        default: {
            auto [open, close] = read_delimiter_pair(tag.content, {"open", "close"});
            if (tag.index == 4) return sn::ArgumentKind::Delimited{std::move(open), std::move(close)};
            return sn::ArgumentKind::Paired{std::move(open), std::move(close)};
        }
    }
}

// ---- Records holding nodes ---------------------------------------------------

// Records whose fields may hold nodes, read one field at a time so that a
// field holding a subtree can suspend its record until the subtree is read.
enum class Record : std::uint8_t {
    Root,
    Group,
    Command,
    Infix,
    Declarative,
    Environment,
    Scripted,
    Error,
    Prime,
    Argument,
};

struct RecordSpec {
    std::array<std::string_view, 4> names;
    std::uint8_t count;
    std::uint8_t required;  // bit i: field i must be given
};

constexpr std::array<RecordSpec, 10> kRecords{{
    {{"mode", "children"}, 2, 0b11},
    {{"mode", "kind", "children"}, 3, 0b111},
    {{"name", "args", "known"}, 3, 0b111},
    {{"name", "args", "left", "right"}, 4, 0b1111},
    {{"name", "args"}, 2, 0b11},
    {{"name", "args", "known", "body"}, 4, 0b1111},
    {{"base", "subscript", "superscript"}, 3, 0b001},
    {{"message", "snippet"}, 2, 0b11},
    {{"count"}, 1, 0b1},
    {{"kind", "no_leading_space", "value"}, 3, 0b101},
}};

// One suspended read: a record being read field by field, or the elements
// of a "children" or "args" list.
struct Frame {
    enum class Type : std::uint8_t { Record, Children, Args };
    Type type;
    Record record = Record::Root;
    std::uint8_t seen = 0;
    void* target;  // the record's struct, std::vector<SyntaxNode> or ArgumentSlots
    std::optional<Entries> entries;
    nb::object items;  // a tuple of the list's elements
    Py_ssize_t next = 0;
};

class Reader {
public:
    SyntaxNode read(nb::handle value) {
        SyntaxNode top;
        begin_node(value, top);
        while (!stack_.empty()) step();
        return top;
    }

private:
    void step() {
        Frame& frame = stack_.back();
        if (frame.type == Frame::Type::Record) {
            nb::object key;
            nb::object item;
            if (!frame.entries->next(key, item)) {
                finish(frame);
                stack_.pop_back();
                return;
            }
            const RecordSpec& spec = kRecords[static_cast<std::size_t>(frame.record)];
            const std::string_view name = utf8(key);
            for (std::size_t i = 0; i < spec.count; ++i) {
                if (spec.names[i] != name) continue;
                frame.seen = static_cast<std::uint8_t>(frame.seen | (1u << i));
                // May push a frame, which moves `frame`.
                read_field(frame.record, i, frame.target, item);
                return;
            }
            return;  // a key that names no field is skipped unexamined
        }
        if (frame.next >= PyTuple_Size(frame.items.ptr())) {
            stack_.pop_back();
            return;
        }
        const Py_ssize_t index = frame.next++;
        nb::handle element = PyTuple_GetItem(frame.items.ptr(), index);
        const auto position = static_cast<std::size_t>(index);
        if (frame.type == Frame::Type::Children) {
            auto& children = *static_cast<std::vector<SyntaxNode>*>(frame.target);
            begin_node(element, children[position]);
        } else if (!element.is_none()) {
            auto& slots = *static_cast<SyntaxNode::ArgumentSlots*>(frame.target);
            slots[position].emplace();
            begin_record(Record::Argument, &*slots[position], element);
        }
    }

    static void finish(const Frame& frame) {
        const RecordSpec& spec = kRecords[static_cast<std::size_t>(frame.record)];
        for (std::size_t i = 0; i < spec.count; ++i) {
            if ((spec.required & (1u << i)) && !(frame.seen & (1u << i))) {
                fail("missing field `" + std::string(spec.names[i]) + "`");
            }
        }
    }

    void begin_record(Record record, void* target, nb::handle value) {
        Frame frame{Frame::Type::Record, record, 0, target, Entries(value), {}, 0};
        stack_.push_back(std::move(frame));
    }

    void begin_list(Frame::Type type, void* target, nb::handle value) {
        PyObject* object = value.ptr();
        if (!PyAnySet_Check(object) && !is_sequence(value)) fail_unexpected_type(value, "Sequence");
        // A snapshot: Python code run while reading the elements cannot
        // change their number.
        nb::object items = nb::steal(PySequence_Tuple(object));
        if (!items.is_valid()) conversion_failed();
        const auto size = static_cast<std::size_t>(PyTuple_Size(items.ptr()));
        if (type == Frame::Type::Children) {
            auto& children = *static_cast<std::vector<SyntaxNode>*>(target);
            children.clear();
            children.resize(size);
        } else {
            auto& slots = *static_cast<SyntaxNode::ArgumentSlots*>(target);
            slots.clear();
            slots.reserve(size);
            for (std::size_t i = 0; i < size; ++i) slots.emplace_back();
        }
        if (size > 0) stack_.push_back(Frame{type, Record::Root, 0, target, std::nullopt, std::move(items), 0});
    }

    void begin_node(nb::handle value, SyntaxNode& node) {
        Tagged tag = read_tag(value, kNodeVariants);
        switch (tag.index) {
            case 0: begin_struct<SyntaxNode::Root>(node, Record::Root, tag.content); break;
            case 1: begin_struct<SyntaxNode::Group>(node, Record::Group, tag.content); break;
            case 2: begin_struct<SyntaxNode::Command>(node, Record::Command, tag.content); break;
            case 3: begin_struct<SyntaxNode::Infix>(node, Record::Infix, tag.content); break;
            case 4: begin_struct<SyntaxNode::Declarative>(node, Record::Declarative, tag.content); break;
            case 5: begin_struct<SyntaxNode::Environment>(node, Record::Environment, tag.content); break;
            case 6: begin_struct<SyntaxNode::Scripted>(node, Record::Scripted, tag.content); break;
            case 7: begin_struct<SyntaxNode::Error>(node, Record::Error, tag.content); break;
            case 8: begin_struct<SyntaxNode::Prime>(node, Record::Prime, tag.content); break;
            case 9: node.value = SyntaxNode::Text{read_text(tag.content)}; break;
            case 10: node.value = SyntaxNode::Char{read_char(tag.content)}; break;
            default: node.value = SyntaxNode::ActiveSpace{}; break;
        }
    }

    template <class T>
    void begin_struct(SyntaxNode& node, Record record, nb::handle fields) {
        node.value = T{};
        begin_record(record, &std::get<T>(node.value), fields);
    }

    void begin_box(SyntaxNode::Box& box, nb::handle value) {
        box = SyntaxNode::Box(SyntaxNode());
        begin_node(value, *box);
    }

    void begin_optional_box(SyntaxNode::Box& box, nb::handle value) {
        if (value.is_none()) {
            box.reset();
        } else {
            begin_box(box, value);
        }
    }

    void begin_children(std::vector<SyntaxNode>& children, nb::handle value) {
        begin_list(Frame::Type::Children, &children, value);
    }

    void begin_args(SyntaxNode::ArgumentSlots& args, nb::handle value) {
        begin_list(Frame::Type::Args, &args, value);
    }

    void read_argument_value(sn::ArgumentValue& target, nb::handle value) {
        Tagged tag = read_tag(value, kArgumentValueVariants);
        switch (tag.index) {
            case 0: begin_content<sn::ArgumentValue::MathContent>(target, tag.content); break;
            case 1: begin_content<sn::ArgumentValue::TextContent>(target, tag.content); break;
            case 2: begin_content<sn::ArgumentValue::OperatorNameContent>(target, tag.content); break;
            case 3: target = sn::ArgumentValue::Delimiter{read_delimiter(tag.content)}; break;
            case 4: target = sn::ArgumentValue::CSName{read_text(tag.content)}; break;
            case 5: target = sn::ArgumentValue::Dimension{read_text(tag.content)}; break;
            case 6: target = sn::ArgumentValue::Integer{read_text(tag.content)}; break;
            case 7: target = sn::ArgumentValue::KeyVal{read_text(tag.content)}; break;
            case 8: target = sn::ArgumentValue::Column{read_text(tag.content)}; break;
            default: target = sn::ArgumentValue::Boolean{read_bool(tag.content)}; break;
        }
    }

    template <class Content>
    void begin_content(sn::ArgumentValue& target, nb::handle value) {
        auto& content = target.value.emplace<Content>();
        begin_box(content.node, value);
    }

    void read_field(Record record, std::size_t field, void* target, nb::handle item) {
        switch (record) {
            case Record::Root: {
                auto& v = *static_cast<SyntaxNode::Root*>(target);
                if (field == 0) v.mode = read_mode(item);
                else begin_children(v.children, item);
                break;
            }
            case Record::Group: {
                auto& v = *static_cast<SyntaxNode::Group*>(target);
                if (field == 0) v.mode = read_mode(item);
                else if (field == 1) v.kind = read_group_kind(item);
                else begin_children(v.children, item);
                break;
            }
            case Record::Command: {
                auto& v = *static_cast<SyntaxNode::Command*>(target);
                if (field == 0) v.name = read_text(item);
                else if (field == 1) begin_args(v.args, item);
                else v.known = read_bool(item);
                break;
            }
            case Record::Infix: {
                auto& v = *static_cast<SyntaxNode::Infix*>(target);
                if (field == 0) v.name = read_text(item);
                else if (field == 1) begin_args(v.args, item);
                else begin_box(field == 2 ? v.left : v.right, item);
                break;
            }
            case Record::Declarative: {
                auto& v = *static_cast<SyntaxNode::Declarative*>(target);
                if (field == 0) v.name = read_text(item);
                else begin_args(v.args, item);
                break;
            }
            case Record::Environment: {
                auto& v = *static_cast<SyntaxNode::Environment*>(target);
                if (field == 0) v.name = read_text(item);
                else if (field == 1) begin_args(v.args, item);
                else if (field == 2) v.known = read_bool(item);
                else begin_box(v.body, item);
                break;
            }
            case Record::Scripted: {
                auto& v = *static_cast<SyntaxNode::Scripted*>(target);
                if (field == 0) begin_box(v.base, item);
                else begin_optional_box(field == 1 ? v.subscript : v.superscript, item);
                break;
            }
            case Record::Error: {
                auto& v = *static_cast<SyntaxNode::Error*>(target);
                (field == 0 ? v.message : v.snippet) = read_text(item);
                break;
            }
            case Record::Prime: static_cast<SyntaxNode::Prime*>(target)->count = read_u64(item); break;
            case Record::Argument: {
                auto& v = *static_cast<sn::Argument*>(target);
                if (field == 0) v.kind = read_argument_kind(item);
                else if (field == 1) v.no_leading_space = read_bool(item);
                else read_argument_value(v.value, item);
                break;
            }
        }
    }

    std::vector<Frame> stack_;
};

// ===========================================================================
// Writing
// ===========================================================================

// The keys and variant names recur in every node: each is made once.
using Name = InternedKey;

namespace word {
Name Root{"Root"}, Group{"Group"}, Command{"Command"}, Infix{"Infix"}, Declarative{"Declarative"};
Name Environment{"Environment"}, Scripted{"Scripted"}, Error{"Error"}, Prime{"Prime"}, Text{"Text"};
Name Char{"Char"}, ActiveSpace{"ActiveSpace"};
Name mode{"mode"}, children{"children"}, kind{"kind"}, name{"name"}, args{"args"}, known{"known"};
Name left{"left"}, right{"right"}, body{"body"}, base{"base"}, subscript{"subscript"};
Name superscript{"superscript"}, message{"message"}, snippet{"snippet"}, count{"count"};
Name no_leading_space{"no_leading_space"}, value{"value"}, open{"open"}, close{"close"};
Name Math{"Math"}, Explicit{"Explicit"}, Implicit{"Implicit"}, Delimited{"Delimited"};
Name InlineMath{"InlineMath"}, None{"None"}, Control{"Control"}, Delimiter{"Delimiter"};
Name Mandatory{"Mandatory"}, Optional{"Optional"}, Star{"Star"}, Paired{"Paired"};
Name MathContent{"MathContent"}, TextContent{"TextContent"}, OperatorNameContent{"OperatorNameContent"};
Name CSName{"CSName"}, Dimension{"Dimension"}, Integer{"Integer"}, KeyVal{"KeyVal"}, Column{"Column"};
Name Boolean{"Boolean"};
}  // namespace word

nb::object checked(PyObject* object) {
    if (object == nullptr) throw nb::python_error();
    return nb::steal(object);
}

nb::object new_dict() { return checked(PyDict_New()); }

void put(const nb::object& dict, Name& key, const nb::object& value) {
    if (PyDict_SetItem(dict.ptr(), key.get(), value.ptr()) != 0) throw nb::python_error();
}

// {name: content}
nb::object tagged(Name& variant, const nb::object& content) {
    nb::object dict = new_dict();
    put(dict, variant, content);
    return dict;
}

nb::object text(std::string_view value) {
    return checked(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

nb::object character(char32_t value) { return checked(PyUnicode_FromOrdinal(static_cast<int>(value))); }

nb::object flag(bool value) { return nb::borrow(value ? Py_True : Py_False); }

nb::object mode(syntax::ContentMode value) {
    return value == syntax::ContentMode::Math ? word::Math.object() : word::Text.object();
}

nb::object delimiter(const sn::Delimiter& value) {
    if (const auto* c = value.as_char()) return tagged(word::Char, character(c->value));
    if (const auto* control = value.as_control()) return tagged(word::Control, text(control->name));
    return word::None.object();
}

nb::object delimiter_pair(Name& first, const sn::Delimiter& a, Name& second, const sn::Delimiter& b) {
    nb::object fields = new_dict();
    put(fields, first, delimiter(a));
    put(fields, second, delimiter(b));
    return fields;
}

nb::object group_kind(const sn::GroupKind& kind) {
    if (kind.is_explicit()) return word::Explicit.object();
    if (kind.is_implicit()) return word::Implicit.object();
    if (kind.is_inline_math()) return word::InlineMath.object();
    const auto& d = *kind.as_delimited();
    return tagged(word::Delimited, delimiter_pair(word::left, d.left, word::right, d.right));
}

nb::object argument_kind(const sn::ArgumentKind& kind) {
    switch (kind.value.index()) {
        case 0: return word::Mandatory.object();
        case 1: return word::Optional.object();
        case 2: return word::Star.object();
        case 3: return word::Group.object();
        case 4: {
            const auto& d = *kind.as_delimited();
            return tagged(word::Delimited, delimiter_pair(word::open, d.open, word::close, d.close));
        }
        default: {
            const auto& p = *kind.as_paired();
            return tagged(word::Paired, delimiter_pair(word::open, p.open, word::close, p.close));
        }
    }
}

class Writer {
public:
    nb::object write(const SyntaxNode& top) {
        nb::object result = shell(top);
        while (!jobs_.empty()) {
            Job job = jobs_.back();
            jobs_.pop_back();
            nb::object value = shell(*job.node);
            if (job.key != nullptr) {
                if (PyDict_SetItem(job.container, job.key->get(), value.ptr()) != 0) throw nb::python_error();
            } else {
                PyList_SetItem(job.container, job.index, value.release().ptr());
            }
        }
        return result;
    }

private:
    // A node still to write and its place: a dict item or a list position.
    // The container is owned by the result built so far.
    struct Job {
        const SyntaxNode* node;
        PyObject* container;
        Name* key;
        Py_ssize_t index;
    };

    // A list of `size` Nones, each to be replaced.
    static nb::object placeholder_list(std::size_t size) {
        nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(size)));
        for (std::size_t i = 0; i < size; ++i) {
            PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), nb::none().release().ptr());
        }
        return list;
    }

    nb::object children(const std::vector<SyntaxNode>& nodes) {
        nb::object list = placeholder_list(nodes.size());
        for (std::size_t i = nodes.size(); i-- > 0;) {
            jobs_.push_back({&nodes[i], list.ptr(), nullptr, static_cast<Py_ssize_t>(i)});
        }
        return list;
    }

    // Puts None under `key` now, to hold the key's place, and the node later.
    void put_node(const nb::object& fields, Name& key, const SyntaxNode::Box& node) {
        put(fields, key, nb::none());
        if (node) jobs_.push_back({node.get(), fields.ptr(), &key, 0});
    }

    nb::object argument_value(const sn::ArgumentValue& value) {
        static Name* const kContent[] = {&word::MathContent, &word::TextContent, &word::OperatorNameContent};
        switch (value.value.index()) {
            case 0:
            case 1:
            case 2: {
                nb::object dict = new_dict();
                put_node(dict, *kContent[value.value.index()], *value.content_box());
                return dict;
            }
            case 3:
                return tagged(word::Delimiter, delimiter(std::get<sn::ArgumentValue::Delimiter>(value.value).value));
            case 4: return tagged(word::CSName, text(std::get<sn::ArgumentValue::CSName>(value.value).value));
            case 5: return tagged(word::Dimension, text(std::get<sn::ArgumentValue::Dimension>(value.value).value));
            case 6: return tagged(word::Integer, text(std::get<sn::ArgumentValue::Integer>(value.value).value));
            case 7: return tagged(word::KeyVal, text(std::get<sn::ArgumentValue::KeyVal>(value.value).value));
            case 8: return tagged(word::Column, text(std::get<sn::ArgumentValue::Column>(value.value).value));
            default: return tagged(word::Boolean, flag(std::get<sn::ArgumentValue::Boolean>(value.value).value));
        }
    }

    nb::object args(const SyntaxNode::ArgumentSlots& slots) {
        nb::object list = placeholder_list(slots.size());
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i]) continue;
            nb::object argument = new_dict();
            put(argument, word::kind, argument_kind(slots[i]->kind));
            put(argument, word::no_leading_space, flag(slots[i]->no_leading_space));
            put(argument, word::value, argument_value(slots[i]->value));
            PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), argument.release().ptr());
        }
        return list;
    }

    // The node's own object; its child nodes are left to jobs.
    nb::object shell(const SyntaxNode& node) {
        switch (node.kind()) {
            case syntax::NodeKind::Text: return tagged(word::Text, text(std::get<SyntaxNode::Text>(node.value).value));
            case syntax::NodeKind::Char:
                return tagged(word::Char, character(std::get<SyntaxNode::Char>(node.value).value));
            case syntax::NodeKind::ActiveSpace: return word::ActiveSpace.object();
            default: break;
        }
        nb::object fields = new_dict();
        switch (node.kind()) {
            case syntax::NodeKind::Root: {
                const auto& v = std::get<SyntaxNode::Root>(node.value);
                put(fields, word::mode, mode(v.mode));
                put(fields, word::children, children(v.children));
                return tagged(word::Root, fields);
            }
            case syntax::NodeKind::Group: {
                const auto& v = std::get<SyntaxNode::Group>(node.value);
                put(fields, word::mode, mode(v.mode));
                put(fields, word::kind, group_kind(v.kind));
                put(fields, word::children, children(v.children));
                return tagged(word::Group, fields);
            }
            case syntax::NodeKind::Command: {
                const auto& v = std::get<SyntaxNode::Command>(node.value);
                put(fields, word::name, text(v.name));
                put(fields, word::args, args(v.args));
                put(fields, word::known, flag(v.known));
                return tagged(word::Command, fields);
            }
            case syntax::NodeKind::Infix: {
                const auto& v = std::get<SyntaxNode::Infix>(node.value);
                put(fields, word::name, text(v.name));
                put(fields, word::args, args(v.args));
                put_node(fields, word::left, v.left);
                put_node(fields, word::right, v.right);
                return tagged(word::Infix, fields);
            }
            case syntax::NodeKind::Declarative: {
                const auto& v = std::get<SyntaxNode::Declarative>(node.value);
                put(fields, word::name, text(v.name));
                put(fields, word::args, args(v.args));
                return tagged(word::Declarative, fields);
            }
            case syntax::NodeKind::Environment: {
                const auto& v = std::get<SyntaxNode::Environment>(node.value);
                put(fields, word::name, text(v.name));
                put(fields, word::args, args(v.args));
                put(fields, word::known, flag(v.known));
                put_node(fields, word::body, v.body);
                return tagged(word::Environment, fields);
            }
            case syntax::NodeKind::Scripted: {
                const auto& v = std::get<SyntaxNode::Scripted>(node.value);
                put_node(fields, word::base, v.base);
                put_node(fields, word::subscript, v.subscript);
                put_node(fields, word::superscript, v.superscript);
                return tagged(word::Scripted, fields);
            }
            case syntax::NodeKind::Error: {
                const auto& v = std::get<SyntaxNode::Error>(node.value);
                put(fields, word::message, text(v.message));
                put(fields, word::snippet, text(v.snippet));
                return tagged(word::Error, fields);
            }
            default: {
                put(fields, word::count,
                    checked(PyLong_FromUnsignedLongLong(std::get<SyntaxNode::Prime>(node.value).count)));
                return tagged(word::Prime, fields);
            }
        }
    }

    std::vector<Job> jobs_;
};

}  // namespace

util::Expected<SyntaxNode, std::string> syntax_from_python(nb::handle value) {
    try {
        return Reader().read(value);
    } catch (ReadError& error) {
        return std::move(error.message);
    }
}

nb::object syntax_to_python(const SyntaxNode& node) { return Writer().write(node); }

}  // namespace quorvel::python
