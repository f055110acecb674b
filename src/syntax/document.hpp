// The document: one formula's arena tree with the source spans of its parsed
// nodes, a process-unique number, the number of the parse context that
// produced it, and a read-only flag.
//
// It hands out handles (`document::NodeId`) that carry its number, so a
// handle given to another document is refused, and read views (`NodeRef`).
// Every edit checks all of its conditions before it changes anything and
// reports the first failed one as an `EditError` value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/expected.hpp"
#include "syntax/from_syntax_error.hpp"
#include "syntax/node_ref.hpp"
#include "syntax/node_spans.hpp"
#include "syntax/serialize_options.hpp"
#include "syntax/serializer.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::syntax {

namespace document {

// A node handle: the arena key and the number of the document that gave it.
struct NodeId {
    ast::NodeId node;
    std::uint64_t document = 0;

    friend bool operator==(const NodeId&, const NodeId&) = default;
};

// Why an edit (or a handle lookup) was refused.
class EditError {
public:
    enum class Kind : std::uint8_t {
        NodeNotFound,
        ReadOnly,
        RootNode,
        NotAContainer,
        SlotShapeMismatch,
        Cycle,
        IndexOutOfBounds,
        DuplicateNode,
        NotDetached,
        ForeignNode,
        // A character that is a surrogate or above U+10FFFF: the tree holds
        // Unicode scalar values only.
        InvalidCharacter,
        // A name, character, text or argument value whose written text would
        // read back as something else; the message names it and says why.
        Unreadable,
    };

    EditError(Kind kind) : kind_(kind) {}  // NOLINT: implicit
    // "slot shape mismatch: expected {}" with one of the words in `shape`.
    static EditError slot_shape_mismatch(std::string_view expected) {
        EditError e(Kind::SlotShapeMismatch);
        e.expected_ = expected;
        return e;
    }
    static EditError unreadable(std::string why) {
        EditError e(Kind::Unreadable);
        e.why_ = std::move(why);
        return e;
    }

    Kind kind() const { return kind_; }
    // The expected shape of a SlotShapeMismatch; empty for the others.
    std::string_view expected() const { return expected_; }
    std::string message() const;

    friend bool operator==(const EditError& a, const EditError& b) {
        return a.kind_ == b.kind_ && a.expected_ == b.expected_ && a.why_ == b.why_;
    }

private:
    Kind kind_;
    std::string_view expected_;
    std::string why_;
};

// The words of "slot shape mismatch: expected {}".
namespace shape {
inline constexpr std::string_view kGroup = "group";
inline constexpr std::string_view kGroupChild = "group child";
inline constexpr std::string_view kBooleanValue = "boolean value";
inline constexpr std::string_view kNonBooleanValue = "non-boolean argument value";
inline constexpr std::string_view kFilledSlot = "filled argument slot";
inline constexpr std::string_view kCommandLike = "command-like node";
inline constexpr std::string_view kCharNode = "char node";
inline constexpr std::string_view kTextNode = "text node";
}  // namespace shape

class Document;

// Reads a written text as the parser a document is read with would. The
// names and values of a tree alone cannot tell whether a command's text
// reads clean: the reader knows which commands take which arguments, and in
// which mode.
class Reader {
public:
    // Where each argument slot read back comes from: a slot of the node
    // (its index), or an empty slot the reader gives a command whose
    // optional argument or star the text leaves out.
    static constexpr std::int32_t kAbsent = -1;
    static constexpr std::int32_t kStarOff = -2;
    struct Slot {
        std::int32_t from = kAbsent;
        ast::ArgumentKind kind;      // as the reader writes it: a brace group may be Mandatory or Group
        bool operator_name = false;  // math content read as an operator name's
        bool operator==(const Slot&) const = default;
    };
    using Slots = std::vector<Slot>;
    // What the reader made of a command-like node's text.
    struct Reading {
        // Whether the packages know the name. An unknown command or
        // environment reads back with no argument slots, whatever it was
        // written with; `slots` is then left empty.
        bool known = true;
        Slots slots;
        std::optional<ContentMode> body_mode;  // an environment's
    };

    virtual ~Reader() = default;
    // Nothing when `text`, standing alone in `mode`, reads without a
    // diagnostic and starts with a node of `node`'s kind (and name, for a
    // command-like one); else what it reads back as ("with an error:
    // ..."). With `reading`, the slots of a known name must also hold
    // the node's filled slots, each with a value of the same kind, in order:
    // `reading` tells where each slot read comes from.
    virtual std::optional<std::string> complaint(std::string_view text, ContentMode mode, const ast::Node& node,
                                                 Reading* reading = nullptr) const = 0;
};

}  // namespace document

// The value given for one argument slot in an edit. Math and Text name a
// detached root of the same document; only Boolean goes into a Star slot,
// and only there.
struct ArgValue {
    struct Math {
        document::NodeId node;
    };
    struct Text {
        document::NodeId node;
    };
    struct Delimiter {
        ast::Delimiter value;
    };
    struct CSName {
        std::string value;
    };
    struct Dimension {
        std::string value;
    };
    struct Integer {
        std::string value;
    };
    struct KeyVal {
        std::string value;
    };
    struct Column {
        std::string value;
    };
    struct Boolean {
        bool value = false;
    };
    using Value =
        std::variant<Math, Text, Delimiter, CSName, Dimension, Integer, KeyVal, Column, Boolean>;

    Value value;

    ArgValue(Math v) : value(v) {}            // NOLINT: implicit
    ArgValue(Text v) : value(v) {}            // NOLINT: implicit
    ArgValue(Delimiter v) : value(std::move(v)) {}  // NOLINT: implicit
    ArgValue(CSName v) : value(std::move(v)) {}     // NOLINT: implicit
    ArgValue(Dimension v) : value(std::move(v)) {}  // NOLINT: implicit
    ArgValue(Integer v) : value(std::move(v)) {}    // NOLINT: implicit
    ArgValue(KeyVal v) : value(std::move(v)) {}     // NOLINT: implicit
    ArgValue(Column v) : value(std::move(v)) {}     // NOLINT: implicit
    ArgValue(Boolean v) : value(v) {}               // NOLINT: implicit

    // The node handle of a Math or Text value.
    const document::NodeId* node() const;
};

// One entry of `Document::node_spans`: the node's tree path and its span.
struct NodeSpanEntry {
    std::string id;
    Span span;

    friend bool operator==(const NodeSpanEntry&, const NodeSpanEntry&) = default;
};

namespace document {

class Document {
public:
    // An empty math document (`Document::new`).
    Document() : Document(ContentMode::Math) {}
    static Document with_mode(ContentMode mode) { return Document(mode); }

    // Validates and builds; a refused tree takes no document number. A tree
    // is refused when the arena cannot hold it, or when a name, character,
    // text or argument value in it would not read back once written.
    static Expected<Document, FromSyntaxError> from_syntax(const SyntaxNode& tree);
    // As `from_syntax`, refusing only what the arena cannot hold: for tools
    // and tests that build trees whose text need not read back.
    static Expected<Document, FromSyntaxError> from_syntax_unchecked(const SyntaxNode& tree);
    // As `from_syntax`, with the spans of the parser's span tree: a node's
    // k-th part (in edge order) takes the k-th span child, and a part left
    // without one gets no span, nor does anything below it.
    static Expected<Document, FromSyntaxError> from_syntax_with_spans(const SyntaxNode& tree,
                                                                     const SpanTree& spans);
    // The same, moving the values out of an accepted tree and freeing both
    // trees on the way (they are left empty shells); refused trees are left
    // as they were.
    static Expected<Document, FromSyntaxError> from_syntax_with_spans(SyntaxNode&& tree, SpanTree&& spans);
    // The moving form for trees the parser built, which need no validation:
    // a tree the arena cannot hold is an internal error. Debug builds still
    // validate, so a parser fault shows as an internal error there too.
    static Document from_parsed_syntax(SyntaxNode&& tree, SpanTree&& spans);
    // The same for a parsed root whose items come in blocks.
    static Document from_parsed_root(ParsedRoot&& root);

    // A document owns its number: it can be moved, never copied.
    Document(Document&&) noexcept = default;
    Document& operator=(Document&&) noexcept = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    std::uint64_t id() const { return id_; }
    std::optional<std::uint64_t> parse_context_id() const {
        if (!has_parse_context_id_) return std::nullopt;
        return parse_context_id_;
    }
    // Stamped by the parse context after it built the document.
    void set_parse_context_id(std::uint64_t id) {
        parse_context_id_ = id;
        has_parse_context_id_ = true;
    }
    bool read_only() const { return read_only_; }

    const Ast& ast() const { return ast_; }
    // For the transform pipeline, which edits the arena in place through
    // its own operations.
    Ast& ast_mut() { return ast_; }

    NodeId root() const { return handle(ast_.root()); }
    NodeId handle(ast::NodeId id) const { return NodeId{id, id_}; }
    // The recorded source span of a node; none for nodes made by edits.
    std::optional<Span> span(ast::NodeId id) const;

    // ---- Reading ------------------------------------------------------------

    Expected<NodeRef, EditError> node(NodeId handle) const;
    Expected<ast::NodeId, EditError> check_node_owner(NodeId handle) const;

    std::vector<NodeRef> errors() const;
    bool has_errors() const;
    std::vector<NodeRef> find_commands(std::string_view name) const;
    std::vector<NodeRef> find_environments(std::string_view name) const;
    // Every entry spells its whole path, so the text grows with the square of
    // the depth: past `kNodeSpanPathBudget` bytes of paths (a tree thousands of
    // levels deep) it throws std::bad_alloc instead of exhausting memory.
    static constexpr std::size_t kNodeSpanPathBudget = std::size_t{1} << 30;
    std::vector<NodeSpanEntry> node_spans() const;
    SyntaxNode to_syntax() const { return ast_.to_syntax(); }

    // ---- Writing ------------------------------------------------------------

    Expected<std::string, SerializeError> to_latex() const { return to_latex_with(SerializeOptions{}); }
    Expected<std::string, SerializeError> to_latex_with(const SerializeOptions& options) const {
        return serialize::serialize_with(ast_, options);
    }
    Expected<TokenizedLatex, SerializeError> to_tokenized_latex_with(
        const SerializeOptions& options) const {
        return serialize::serialize_tokenized_with(ast_, options);
    }

    // ---- Edits --------------------------------------------------------------

    Expected<NodeId, EditError> create_char(char32_t ch);
    Expected<NodeId, EditError> create_active_space();
    Expected<NodeId, EditError> create_group(ContentMode mode);
    // The made node stands nowhere yet; the content it is given stands in
    // its slots, and with a reader a command given as content is read back
    // there.
    Expected<NodeId, EditError> create_command(std::string name, std::vector<ArgValue> values,
                                               const Reader* reader = nullptr);
    Expected<NodeId, EditError> create_declarative(std::string name, std::vector<ArgValue> values,
                                                   const Reader* reader = nullptr);
    Expected<NodeId, EditError> create_environment(std::string name, std::vector<ArgValue> values,
                                                   NodeId body, const Reader* reader = nullptr);
    // A new detached node holding `value`. Every node it names must be a
    // detached root of this arena, named once; its argument slots and
    // environment body must have the shapes the arena requires.
    Expected<NodeId, EditError> create_node(ast::Node value, const Reader* reader = nullptr);

    // The edits that put a node in place or name a command take a reader:
    // once the node stands in the tree, its name and slots are read back
    // alone where it stands, and an edit whose text does not read clean, or
    // reads back as something else, is refused.
    Expected<void, EditError> append_child(NodeId parent, NodeId child, const Reader* reader = nullptr);
    Expected<void, EditError> insert_child(NodeId parent, std::size_t index, NodeId child,
                                           const Reader* reader = nullptr) {
        return insert_child_at(parent, index, child, reader);
    }
    Expected<void, EditError> insert_child_at(NodeId parent, std::size_t index, NodeId child,
                                              const Reader* reader = nullptr);
    Expected<void, EditError> insert_before(NodeId anchor, NodeId node, const Reader* reader = nullptr);
    Expected<void, EditError> insert_after(NodeId anchor, NodeId node, const Reader* reader = nullptr);
    Expected<void, EditError> replace_with(NodeId old_node, NodeId new_node, const Reader* reader = nullptr);
    Expected<NodeId, EditError> wrap(NodeId target, NodeId wrapper, const Reader* reader = nullptr);
    Expected<std::vector<NodeId>, EditError> unwrap(NodeId group);
    Expected<void, EditError> remove(NodeId node);
    Expected<NodeId, EditError> extract(NodeId node);
    Expected<void, EditError> clear(NodeId container);
    Expected<void, EditError> set_char(NodeId node, char32_t ch);
    Expected<void, EditError> set_text(NodeId node, std::string text);
    Expected<void, EditError> set_command_name(NodeId node, std::string name, const Reader* reader = nullptr);
    Expected<void, EditError> set_arg(NodeId node, std::size_t index, ArgValue value,
                                      const Reader* reader = nullptr);

private:
    // With `reader`, a command-like `node`, put in place by the open step,
    // read back where it stands with its content left out: nothing when the
    // reader takes its name and slots there, else why not. The node takes
    // the empty slots and the slot kinds the reader gives it. It costs what
    // the name and the slots' values cost, never what the content holds.
    // A `renamed` node whose name the packages do not know drops the slots
    // it writes as nothing.
    std::optional<EditError> read_back(ast::NodeId node, const Reader* reader, bool renamed = false);
    // The content values of `node`, in the slots they now stand in: each
    // checked where it stands, and read back when it is a command.
    std::optional<EditError> check_contents(ast::NodeId node, const Reader* reader);
    // Every node of the tree where it stands, as edits check what they
    // place (but for the reader's checks): the first refusal.
    std::optional<EditError> check_tree() const;
    explicit Document(ContentMode mode);
    static Expected<Document, FromSyntaxError> from_syntax(const SyntaxNode& tree, Validation validation);
    // An empty arena with room for `node_count` nodes, to build into; it
    // takes its number once the build is done.
    Document(std::size_t node_count, bool has_spans) : ast_(node_count), has_spans_(has_spans) {}

    std::optional<EditError> check_writable() const;
    std::optional<EditError> check_detached(ast::NodeId id) const;
    std::optional<EditError> check_value(const ArgValue& value) const;
    std::optional<EditError> check_values(const std::vector<ArgValue>& values) const;
    Expected<ast::ArgumentValue, EditError> build_arg_value_for_kind(const ast::ArgumentKind& kind,
                                                                     const ArgValue& value) const;
    static ast::ArgumentSlots build_arg_slots(std::string_view name, const std::vector<ArgValue>& values);
    std::vector<NodeRef> collect(bool (*pred)(const ast::Node&, std::string_view),
                                 std::string_view name) const;

    // The flags take the room the arena leaves at its end.
    [[no_unique_address]] Ast ast_;
    // Valid when `has_parse_context_id_`: a flag beside the others keeps the
    // document a word smaller than an optional would.
    bool has_parse_context_id_ = false;
    bool has_spans_ = false;
    bool read_only_ = false;
    [[no_unique_address]] NodeSpans spans_;
    std::uint64_t id_ = 0;
    std::uint64_t parse_context_id_ = 0;
};

}  // namespace document
}  // namespace quorvel::syntax
