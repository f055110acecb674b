#include "syntax/serializer.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "util/thread_storage.hpp"
#include "util/utf8.hpp"
#include "util/work_count.hpp"

namespace quorvel::syntax {

std::string_view SerializeError::message() const {
    switch (kind_) {
        case Kind::Unsupported: return "unsupported serialization operation";
        case Kind::TooManyPrimes: return "too many primes to serialize";
    }
    return "unsupported serialization operation";
}

namespace {

using ast::Node;
using ast::NodeId;
using TokenKind = SerializationTokenKind;

// The class of the last token written; spacing depends on nothing else.
enum class SpacingClass : std::uint8_t {
    ControlWord,
    TextChar,
    MathChar,
    MathDigit,
    Primes,
    Bracket,
    Delimiter,
    ScriptMarker,
    MathShift,
    ActiveSpace,
    Raw,
    Start = 255,
};

constexpr bool is_ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }


// The text written so far: a string kept at its full capacity beside the
// length used, so that appending a byte is a store and a compare rather
// than a call into the string.
class Output {
public:
    void reserve(std::size_t n) {
        if (n > cap_) grow(n);
    }
    std::size_t size() const { return len_; }
    char back() const { return data_[len_ - 1]; }
    char operator[](std::size_t i) const { return data_[i]; }
    const char* data() const { return data_; }
    operator std::string_view() const { return {data_, len_}; }

    [[gnu::always_inline]] void push_back(char c) {
        if (len_ == cap_) [[unlikely]] grow(len_ + 1);
        data_[len_++] = c;
    }
    [[gnu::always_inline]] void append(std::string_view text) {
        if (text.size() > cap_ - len_) [[unlikely]] grow(len_ + text.size());
        if (!text.empty()) std::memcpy(data_ + len_, text.data(), text.size());
        len_ += text.size();
    }
    void append(std::size_t n, char c) {
        if (n > cap_ - len_) [[unlikely]] grow(len_ + n);
        if (n > 0) std::memset(data_ + len_, c, n);
        len_ += n;
    }
    void insert(std::size_t at, char c) {
        push_back(c);
        std::memmove(data_ + at + 1, data_ + at, len_ - at - 1);
        data_[at] = c;
    }
    std::string take() {
        text_.resize(len_);
        return std::move(text_);
    }

private:
    [[gnu::noinline]] void grow(std::size_t need) {
        text_.resize(std::max({need, text_.size() * 2, std::size_t{64}}));
        data_ = text_.data();
        cap_ = text_.size();
    }

    std::string text_;
    char* data_ = nullptr;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
};

template <class Out>
void append_utf8(Out& out, char32_t c) {
    std::string bytes;
    util::utf8::append(bytes, c);
    out.append(std::string_view(bytes));
}

// Whether an ASCII character is written after a backslash: # $ % _ { }
// in every mode, & in text.
constexpr bool escaped_ascii(char32_t c, ContentMode mode) {
    constexpr std::uint64_t low = (1ull << '#') | (1ull << '$') | (1ull << '%');
    constexpr std::uint64_t high = (1ull << ('_' - 64)) | (1ull << ('{' - 64)) | (1ull << ('}' - 64));
    if (c < 64) return ((low >> c) & 1) != 0 || (c == U'&' && mode == ContentMode::Text);
    return ((high >> (c - 64)) & 1) != 0;
}

template <class Out>
[[gnu::always_inline]] inline void append_char(Out& out, char32_t c, ContentMode mode) {
    if (c >= 0x80) {
        append_utf8(out, c);
        return;
    }
    if (escaped_ascii(c, mode)) out.push_back('\\');
    out.push_back(static_cast<char>(c));
}

// "." for none, the character unescaped, or a backslash and the name.
template <class Out>
void append_delimiter(Out& out, const ast::Delimiter& d) {
    if (const auto* c = d.as_char()) {
        append_utf8(out, c->value);
    } else if (const auto* cs = d.as_control()) {
        out.push_back('\\');
        out.append(std::string_view(cs->name));
    } else {
        out.push_back('.');
    }
}

template <class Out>
void append_scalar_text(Out& out, const ast::ArgumentValue& value) {
    using V = ast::ArgumentValue;
    switch (value.value.index()) {
        case 0:
        case 1:
        case 2: unreachable("content variants must be serialized as child nodes");
        case 3: append_delimiter(out, std::get<V::Delimiter>(value.value).value); return;
        case 4: out.append(std::string_view(std::get<V::CSName>(value.value).value)); return;
        case 5: out.append(std::string_view(std::get<V::Dimension>(value.value).value)); return;
        case 6: out.append(std::string_view(std::get<V::Integer>(value.value).value)); return;
        case 7: out.append(std::string_view(std::get<V::KeyVal>(value.value).value)); return;
        case 8: out.append(std::string_view(std::get<V::Column>(value.value).value)); return;
        default: unreachable("boolean values are only valid in star slots");
    }
}

// Whether `append_scalar_text` would write nothing; a delimiter always
// writes something. Values that cannot be scalars are left to
// `append_scalar_text` to refuse.
bool scalar_text_empty(const ast::ArgumentValue& value) {
    using V = ast::ArgumentValue;
    switch (value.value.index()) {
        case 4: return std::get<V::CSName>(value.value).value.empty();
        case 5: return std::get<V::Dimension>(value.value).value.empty();
        case 6: return std::get<V::Integer>(value.value).value.empty();
        case 7: return std::get<V::KeyVal>(value.value).value.empty();
        case 8: return std::get<V::Column>(value.value).value.empty();
        default: return false;
    }
}

struct NoopRecorder {
    void record(std::string_view, std::size_t, std::size_t, TokenKind, ContentMode) {}
};

// Where the text of each wanted node begins and ends.
struct NodeRanges {
    std::function<bool(NodeId)> wanted;
    std::vector<serialize::NodeRange>& ranges;
    std::vector<std::size_t> open{};  // indices into `ranges` of the nodes being written
};

struct TokenRecorder {
    std::vector<SerializationToken> tokens;
    void record(std::string_view out, std::size_t start, std::size_t end, TokenKind kind,
                ContentMode mode) {
        tokens.push_back(SerializationToken{std::string(out.substr(start, end - start)), start, end, kind, mode});
    }
};

// How the space before a deferred token is decided.
enum class Rule : std::uint8_t {
    Boundary,        // rule B
    ControlNoMode,   // rule C without its mode step (\right)
    NoSpaceClear,    // no space; a nonzero counter is cleared
};

enum class Op : std::uint8_t {
    Visit,        // node in `mode`
    Children,     // children of a Root/Group from `index` on, each in `mode`
    Slots,        // argument slots of a command-like node from `index` on, outer `mode`
    Literal,      // `literal` by `rule`
    Delim,        // `*delim` by `rule`
    InfixName,    // backslash and name of the Infix `node`
    InfixOperand, // `node` as an infix operand
    Subscript,    // `node` as subscript
    Superscript,  // `node` as superscript; `nls`: it follows a base that is primes
    CaretPrimes,  // the Prime `node` as a superscript written `^'`
    EnvEnd,       // \end{name} of the Environment `node`, in `mode`
    Braced,       // `node` in braces, in `mode`
    LeaveBarArgument,  // the content of an argument between two bars is written
    RangeEnd,     // the text of `node` ends here (NodeRanges)
};

// One pending step of the walk. The serializer keeps these on an explicit
// stack instead of recursing, so tree depth costs heap, not call stack.
struct Task {
    Op op = Op::Visit;
    Rule rule = Rule::Boundary;
    ContentMode mode = ContentMode::Math;        // visit mode, outer mode or rule mode
    ContentMode token_mode = ContentMode::Math;  // mode reported with the token
    SpacingClass cls = SpacingClass::Bracket;
    TokenKind kind = TokenKind::Delimiter;
    bool nls = false;  // the no-leading-space flag of rule B
    bool own = false;  // a Delim that delimits an argument: written as it is
    NodeId node{};
    union {
        std::size_t index;
        const ast::Delimiter* delim;
        const char* literal;
    };

    Task() : index(0) {}
};

// The task stack of this thread, kept between calls and taken out while in
// use: the many small trees of a batch then cost no allocation each. One
// grown past this many tasks gives its memory back.
constinit thread_local util::ThreadCache<std::vector<Task>> kept_tasks;
constexpr std::size_t kKeptTasks = 1 << 12;

template <class Recorder>
class Serializer {
public:
    Serializer(const Ast& ast, const SerializeOptions& options, NodeRanges* ranges = nullptr)
        : ast_(ast), opt_(options), ranges_(ranges) {
        stack_.swap(*kept_tasks);
    }
    ~Serializer() {
        stack_.clear();
        if (stack_.capacity() <= kKeptTasks) kept_tasks->swap(stack_);
    }
    Serializer(const Serializer&) = delete;
    Serializer& operator=(const Serializer&) = delete;

    // Writes the whole tree; false when the walk was refused.
    bool run() {
        NodeId root = ast_.root();
        const auto* r = ast_.node(root).template get_if<Node::Root>();
        if (r == nullptr) unreachable("root must be a root node");
        out_.reserve(ast_.node_count() * 3 + 16);
        if (!r->children.empty()) push_children(root, r->mode);
        return count(drain());
    }
    // Writes one subtree.
    bool run_from(NodeId node, ContentMode mode) {
        push_visit(node, mode);
        return count(drain());
    }

    std::string output() { return out_.take(); }
    Recorder& recorder() { return rec_; }

private:
    bool drain() {
        while (!stack_.empty() && !failed_) {
            Task t = stack_.back();
            stack_.pop_back();
            step(t);
        }
        return !failed_;
    }

    // Counts the text written as work, a byte as half a step of a walk, and
    // may end a run past its work bound: checks are written as text.
    bool count(bool written) {
        util::work_count += out_.size() / 2;
        util::check_work();
        return written;
    }

    // ---- Spacing rules ------------------------------------------------------

    bool take_counter() {
        if (suppress_ == 0) return false;
        suppress_ = 0;
        return true;
    }

    // Rule B: braces, brackets and delimiters.
    bool rule_b(ContentMode m, bool nls) {
        if (take_counter()) return false;
        if (m == ContentMode::Text || nls) return false;
        switch (last_) {
            case SpacingClass::Start:
            case SpacingClass::MathShift: return false;
            case SpacingClass::ScriptMarker: return opt_.script_spacing == ScriptSpacing::Spaced;
            case SpacingClass::ControlWord: return opt_.command_spacing == CommandSpacing::Spaced;
            default: return true;
        }
    }

    // Rule C: control sequences and `~`. `CommandSpacing` plays no part.
    bool rule_c(ContentMode m, bool mode_step) {
        if (take_counter()) return false;
        if (mode_step && m == ContentMode::Text) return false;
        switch (last_) {
            case SpacingClass::Start:
            case SpacingClass::MathShift: return false;
            case SpacingClass::ScriptMarker: return opt_.script_spacing == ScriptSpacing::Spaced;
            default: return true;
        }
    }

    // Whether a control word ends where the next token starts: not so after
    // a control symbol in text, where TeX skips no space, so that a space
    // written there would read back as content.
    bool ends_control_word(ContentMode m) const {
        return last_ == SpacingClass::ControlWord && !(m == ContentMode::Text && after_text_symbol_);
    }

    // Whether the text written so far ends in a control word, as a verbatim
    // snippet (an Error's) may: an odd run of backslashes, then letters.
    bool out_ends_control_word() const {
        std::size_t i = out_.size();
        const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
        while (i > 0 && letter(out_[i - 1])) --i;
        if (i == out_.size()) return false;
        std::size_t slashes = 0;
        for (; i > 0 && out_[i - 1] == '\\'; --i) ++slashes;
        return slashes % 2 == 1;
    }

    // Whether a control word just written takes a space before the next
    // token. The reader skips it, but in text content it would read back as
    // part of the text or character after it: there only a letter, which
    // would continue the name, gets one (`end_token` puts it in).
    bool space_after_control_word(ContentMode m, bool text_content) const {
        return ends_control_word(m) && !text_content;
    }

    // Rule T: verbatim runs (Text, Error snippets, delimited scalars).
    bool rule_t(ContentMode m, bool non_empty, bool text_content = false) {
        bool suppressed = non_empty && take_counter();
        if (space_after_control_word(m, text_content)) return true;
        if (last_ == SpacingClass::Start) return false;
        if (m == ContentMode::Text || suppressed) return false;
        if (last_ == SpacingClass::MathShift) return false;
        if (last_ == SpacingClass::ScriptMarker) return opt_.script_spacing == ScriptSpacing::Spaced;
        return true;
    }

    // Rule K: one character.
    bool rule_k(char32_t ch, ContentMode m, bool text_content) {
        bool suppressed = take_counter();
        if (last_ == SpacingClass::Start) return false;
        bool digit = is_ascii_digit(ch);
        if (space_after_control_word(m, text_content) && (m == ContentMode::Text || !digit)) return true;
        if (m == ContentMode::Text || suppressed) return false;
        switch (last_) {
            case SpacingClass::ScriptMarker: return opt_.script_spacing == ScriptSpacing::Spaced;
            case SpacingClass::MathShift: return false;
            case SpacingClass::ActiveSpace:
            case SpacingClass::Raw: return true;
            case SpacingClass::MathChar:
                return opt_.adjacent_char_spacing == AdjacentCharSpacing::Spaced;
            case SpacingClass::MathDigit:
                return !digit && opt_.adjacent_char_spacing == AdjacentCharSpacing::Spaced;
            default: return true;
        }
    }

    bool rule(Rule r, ContentMode m, bool nls) {
        switch (r) {
            case Rule::Boundary: return rule_b(m, nls);
            case Rule::ControlNoMode: return rule_c(m, false);
            case Rule::NoSpaceClear: take_counter(); return false;
        }
        return false;
    }

    // ---- Writing tokens -----------------------------------------------------

    [[gnu::always_inline]] std::size_t begin_token(bool space) {
        if (after_lone_backslash_) {
            // A backslash that stands for itself reads back as one only at
            // the end of the text or before a line break; before a space it
            // would read as a control space, before anything else as a
            // control sequence.
            out_.push_back('\n');
        } else if (space && !after_white_space_) {
            out_.push_back(' ');
        }
        after_lone_backslash_ = false;
        after_text_symbol_ = false;
        after_white_space_ = false;
        after_open_marker_ = false;
        after_error_ = false;
        glue_next_prime_ = false;
        return out_.size();
    }
    // A verbatim run (a Text value or an Error snippet) brings its own white
    // space: no separating space is written next to it, so text written
    // from a parse of written text comes out the same.
    void put_verbatim(bool space, std::string_view text, SpacingClass cls, TokenKind kind, ContentMode mode) {
        if (!text.empty() && is_white_space(text.front())) space = false;
        put(space, text, cls, kind, mode);
        after_white_space_ = ends_in_white_space(text);
        after_open_marker_ = kind == TokenKind::Error && ends_in_script_marker(text);
        after_error_ = kind == TokenKind::Error;
        after_lone_backslash_ = odd_backslashes_before(text, text.size());
    }
    // True when the backslashes right before `end` are an odd run: the last
    // one escapes nothing.
    static bool odd_backslashes_before(std::string_view text, std::size_t end) {
        std::size_t backslashes = 0;
        for (std::size_t i = end; i > 0 && text[i - 1] == '\\'; --i) ++backslashes;
        return backslashes % 2 == 1;
    }
    // A backslash of a text run that escapes nothing is a character that
    // stood before a line break; the space the break became is written as
    // one again, so that the backslash does not read back as a control space.
    static std::string with_line_breaks_after_lone_backslashes(std::string_view text) {
        std::string out(text);
        std::size_t backslashes = 0;
        for (char& c : out) {
            if (c == ' ' && backslashes % 2 == 1) c = '\n';
            backslashes = c == '\\' ? backslashes + 1 : 0;
        }
        return out;
    }
    // True when the text, white space aside, ends in a `^` or `_` that no
    // backslash escapes: a script marker still waiting for its operand.
    static bool ends_in_script_marker(std::string_view text) {
        while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
        if (text.empty() || (text.back() != '^' && text.back() != '_')) return false;
        return !odd_backslashes_before(text, text.size() - 1);
    }
    // Whether the text of the node starts with its own primes: a prime, or a
    // scripted node whose base is one (a scripted base is braced).
    bool starts_with_prime(const Node& node) const {
        const Node* n = &node;
        if (const auto* s = n->template get_if<Node::Scripted>()) n = &ast_.node(s->base);
        return n->template is<Node::Prime>();
    }
    // Whether the child at `index` is a text of spacing only that ends a
    // group's list after an item other than a text. Spacing alone in a
    // brace group reads back as itself.
    bool ends_on_lone_spacing(NodeId list, std::span<const NodeId> children, std::size_t index) const {
        if (index == 0 || index + 1 != children.size()) return false;
        if (!ast_.node(list).template is<Node::Group>()) return false;
        if (ast_.node(children[index - 1]).template is<Node::Text>()) return false;
        const auto* text = ast_.node(children[index]).template get_if<Node::Text>();
        if (text == nullptr || text->value.empty()) return false;
        const std::string_view value = text->value;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const char c = value[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r') continue;
            if (c == '\xC2' && i + 1 < value.size() && value[i + 1] == '\xA0') {
                ++i;
                continue;
            }
            return false;
        }
        return true;
    }
    // A one-character name that is no letter, as `\,` or `\ `; letters
    // make control words.
    static bool is_control_symbol(std::string_view name) {
        if (name.empty()) return false;
        const unsigned char c = static_cast<unsigned char>(name.front()) | 0x20;
        return c < 'a' || c > 'z';
    }
    // Whether the node stands in text content: a text list, or a text
    // argument. Operator names are written in text mode but read as math,
    // where spaces do not show: their output stays as it was.
    bool in_text_content(NodeId id) const {
        const syntax::ParentLink* link = ast_.parent_link(id);
        if (link == nullptr) return false;
        const Node& parent = ast_.node(link->parent);
        switch (link->slot.kind()) {
            case syntax::Slot::Kind::GroupChild:
                if (const auto* g = parent.template get_if<Node::Group>()) return g->mode == ContentMode::Text;
                if (const auto* r = parent.template get_if<Node::Root>()) return r->mode == ContentMode::Text;
                return false;
            case syntax::Slot::Kind::Argument: {
                const ast::ArgumentSlots* args = parent.args();
                if (args == nullptr || link->slot.index() >= args->size() || !(*args)[link->slot.index()]) return false;
                return std::holds_alternative<ast::ArgumentValue::TextContent>((*args)[link->slot.index()]->value.value);
            }
            default: return false;
        }
    }
    bool is_prime(NodeId id) const { return ast_.node(id).template get_if<Node::Prime>() != nullptr; }
    bool is_empty_math_base(NodeId id) const {
        const auto* g = ast_.node(id).template get_if<Node::Group>();
        return g != nullptr && g->kind.is_implicit() && g->mode == ContentMode::Math && g->children.empty();
    }
    static bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    // True when the text ends in white space that no backslash makes a
    // control symbol.
    static bool ends_in_white_space(std::string_view text) {
        if (text.empty() || !is_white_space(text.back())) return false;
        return !odd_backslashes_before(text, text.size() - 1);
    }
    // Every token ends here, whatever rule spaced it: a letter written right
    // after a control word would continue its name, so one space parts
    // them, in every mode. TeX skips that space when it reads the word.
    // Only a token glued to the last one and starting with a letter asks
    // whether that one ended in a control word.
    [[gnu::always_inline]] void end_token(std::size_t start, SpacingClass cls, TokenKind kind, ContentMode mode) {
        if (out_.size() > start) {
            if (start == last_end_ && is_ascii_letter(out_[start]) &&
                (last_end_ == unit_end_ || last_ends_control_word())) [[unlikely]]
                out_.insert(start++, ' ');
            last_start_ = start;
            last_end_ = out_.size();
            rec_.record(out_, start, out_.size(), kind, mode);
        }
        last_ = cls;
    }
    [[gnu::noinline]] bool last_ends_control_word() const {
        const std::string_view text(out_.data(), last_end_);
        return last_end_ - last_start_ > 1 && is_ascii_letter(text.back()) && ends_in_control_word(text, last_start_);
    }
    static bool is_ascii_letter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
    // Whether the text from `start` on ends in a backslash and letters that
    // no backslash escapes. Letters glued to an earlier token are no name:
    // a control word is never left open into the next token.
    static bool ends_in_control_word(std::string_view text, std::size_t start) {
        std::size_t i = text.size();
        while (i > start && is_ascii_letter(text[i - 1])) --i;
        if (i == text.size() || i == start || text[i - 1] != '\\') return false;
        return odd_backslashes_before(text, i);
    }
    [[gnu::always_inline]] void put(bool space, std::string_view text, SpacingClass cls, TokenKind kind,
             ContentMode mode) {
        std::size_t start = begin_token(space);
        out_.append(text);
        end_token(start, cls, kind, mode);
    }
    [[gnu::always_inline]] void put_control(bool space, std::string_view name, ContentMode mode) {
        std::size_t start = begin_token(space);
        out_.push_back('\\');
        out_.append(name);
        end_token(start, SpacingClass::ControlWord, TokenKind::ControlSequence, mode);
    }
    // `own`: the delimiter of an argument, which pairs with its partner.
    void put_delimiter(bool space, const ast::Delimiter& d, ContentMode token_mode, bool own = false) {
        std::size_t start = begin_token(space);
        if (!own && ends_bar_argument(d)) {
            out_.append("\\vert");
        } else {
            append_delimiter(out_, d);
        }
        end_token(start, SpacingClass::Delimiter, TokenKind::Delimiter, token_mode);
    }
    static bool is_bar(const ast::Delimiter& d) {
        const auto* c = d.as_char();
        return c != nullptr && c->value == U'|';
    }
    // Whether a bar written here would end an argument that bars delimit:
    // its reader sees no nesting, not even of fences. There the bar is
    // written by its name, `\vert`.
    bool ends_bar_argument(const ast::Delimiter& d) const { return bar_arguments_ > 0 && is_bar(d); }
    // A run of primes, after the caller decided the space.
    bool put_primes(bool space, std::uint64_t count, SpacingClass cls, ContentMode mode) {
        if (count > serialize::kMaxPrimes - primes_written_) {
            failed_ = true;
            return false;
        }
        primes_written_ += count;
        std::size_t start = begin_token(space);
        out_.append(static_cast<std::size_t>(count), '\'');
        end_token(start, cls, TokenKind::Character, mode);
        return true;
    }

    // ---- The task stack -----------------------------------------------------

    [[gnu::always_inline]] void push_visit(NodeId node, ContentMode mode) {
        Task t;
        t.op = Op::Visit;
        t.node = node;
        t.mode = mode;
        stack_.push_back(t);
    }
    // `flag`: carried in `nls` for the op to read.
    void push_node_op(Op op, NodeId node, ContentMode mode = ContentMode::Math, bool flag = false) {
        Task t;
        t.op = op;
        t.node = node;
        t.mode = mode;
        t.nls = flag;
        stack_.push_back(t);
    }
    // `brace_closers`: the children stand in a bracket argument, where one
    // that would end it is written in braces (`nls` carries the flag).
    [[gnu::always_inline]] void push_children(NodeId node, ContentMode mode, std::size_t from = 0, bool brace_closers = false) {
        Task t;
        t.op = Op::Children;
        t.node = node;
        t.mode = mode;
        t.index = from;
        t.nls = brace_closers;
        stack_.push_back(t);
    }
    void push_slots(NodeId node, ContentMode outer, std::size_t from = 0) {
        Task t;
        t.op = Op::Slots;
        t.node = node;
        t.mode = outer;
        t.index = from;
        stack_.push_back(t);
    }
    void push_literal(const char* text, Rule r, ContentMode rule_mode, SpacingClass cls,
                      TokenKind kind, ContentMode token_mode) {
        Task t;
        t.op = Op::Literal;
        t.literal = text;
        t.rule = r;
        t.mode = rule_mode;
        t.cls = cls;
        t.kind = kind;
        t.token_mode = token_mode;
        stack_.push_back(t);
    }
    void push_delim(const ast::Delimiter& d, ContentMode rule_mode, bool nls, ContentMode token_mode,
                    bool own = false) {
        Task t;
        t.own = own;
        t.op = Op::Delim;
        t.delim = &d;
        t.rule = Rule::Boundary;
        t.mode = rule_mode;
        t.nls = nls;
        t.token_mode = token_mode;
        stack_.push_back(t);
    }
    // The closing bracket of a content slot or a brace pair.
    void push_close(char ch, bool compact, ContentMode rule_mode, ContentMode token_mode) {
        push_literal(ch == '}' ? "}" : "]", compact ? Rule::NoSpaceClear : Rule::Boundary, rule_mode,
                     SpacingClass::Bracket, TokenKind::Delimiter, token_mode);
    }

    [[gnu::always_inline]] void step(const Task& t) {
        switch (t.op) {
            case Op::Visit: visit(t.node, t.mode); break;
            case Op::Children: list_from(t); break;
            case Op::Slots: {
                auto slots = ast_.arg_slots(t.node);
                if (t.index >= slots.size()) break;
                if (t.index + 1 < slots.size()) push_slots(t.node, t.mode, t.index + 1);
                if (slots[t.index]) argument_slot(*slots[t.index], t.mode);
                break;
            }
            case Op::Literal:
                put(rule(t.rule, t.mode, t.nls), t.literal, t.cls, t.kind, t.token_mode);
                break;
            // The text of an argument that ends in an Error snippet is read
            // again with its recovery, which a space added before the
            // closing delimiter can change: none is added there.
            case Op::Delim:
                put_delimiter(rule(t.rule, t.mode, t.nls) && !after_error_, *t.delim, t.token_mode, t.own);
                break;
            case Op::InfixName: {
                const auto& v = std::get<Node::Infix>(ast_.node(t.node).value);
                put_control(rule_c(ContentMode::Math, false), v.name, ContentMode::Math);
                break;
            }
            case Op::InfixOperand: infix_operand(t.node); break;
            case Op::Subscript: script('_', t.node); break;
            case Op::Superscript: superscript(t.node, t.nls); break;
            case Op::CaretPrimes: caret_primes(t.node); break;
            case Op::Braced: wrapped_content(t.node, t.mode, t.mode, '{', '}', false, false); break;
            case Op::LeaveBarArgument: --bar_arguments_; break;
            case Op::RangeEnd:
                ranges_->ranges[ranges_->open.back()].end = out_.size();
                ranges_->open.pop_back();
                break;
            case Op::EnvEnd: {
                const auto& v = std::get<Node::Environment>(ast_.node(t.node).value);
                environment_head("\\end", v.name, t.mode);
                break;
            }
        }
    }

    // ---- Nodes --------------------------------------------------------------

    // The children of a list from `t.index` on. The rest of the list waits
    // on the stack; while a child leaves no task of its own (a leaf), the
    // next one is written at once instead of going through the stack.
    void list_from(const Task& t) {
        const auto children = ast_.children(t.node);
        std::size_t i = t.index;
        if (i >= children.size()) return;
        if (i + 1 < children.size()) push_children(t.node, t.mode, i + 1, t.nls);
        for (;;) {
            const std::size_t pending = stack_.size();
            list_item(t, children, i);
            if (++i == children.size() || failed_ || stack_.size() != pending) return;
            // The continuation is still on top.
            if (i + 1 < children.size()) {
                ++stack_.back().index;
            } else {
                stack_.pop_back();
            }
        }
    }

    void list_item(const Task& t, std::span<const NodeId> children, std::size_t i) {
        const NodeId child = children[i];
        const Node& node = ast_.node(child);
        // Primes that follow an item of the same math list read back as its
        // superscript, which is written glued to it: glued here too, the
        // text reads back to itself. Unreadable text keeps its space.
        // Operator-name content is written in text mode but read as math:
        // its primes are glued alike.
        glue_next_prime_ = i > 0 && starts_with_prime(node) &&
                           (t.mode == ContentMode::Math || !in_text_content(child));
        if (t.mode == ContentMode::Text && ends_on_lone_spacing(t.node, children, i) &&
            (ends_control_word(ContentMode::Text) || (last_ == SpacingClass::Raw && out_ends_control_word()))) {
            // Spacing between a control word and the closing brace reads as
            // nothing: a control space is the space it renders. After any
            // other item (a control symbol among them) it reads back as
            // itself.
            put_control(rule_c(ContentMode::Text, true), " ", ContentMode::Text);
            return;
        }
        if (t.nls && serialize::closes_bracket_argument(ast_, child)) {
            wrapped_content(child, t.mode, t.mode, '{', '}', false, false);
        } else {
            visit(child, node, t.mode);
        }
    }


    // The text of `id` starts here when it is wanted (NodeRanges), and
    // ends once the tasks pushed after this are done.
    [[gnu::always_inline]] void open_range(NodeId id) {
        if (ranges_ == nullptr || !ranges_->wanted(id)) [[likely]] return;
        push_node_op(Op::RangeEnd, id);
        ranges_->open.push_back(ranges_->ranges.size());
        ranges_->ranges.push_back({id, out_.size(), out_.size()});
    }

    void visit(NodeId id, ContentMode mode) { visit(id, ast_.node(id), mode); }

    void visit(NodeId id, const Node& node, ContentMode mode) {
        open_range(id);
        switch (node.kind()) {
            case NodeKind::Root: unreachable("root node must be handled by serialize_root");
            case NodeKind::Group: group(id, std::get<Node::Group>(node.value)); return;
            case NodeKind::Command:
            case NodeKind::Declarative: {
                const std::string_view name = *node.name();
                put_control(rule_c(mode, true), name, mode);
                after_text_symbol_ = mode == ContentMode::Text && is_control_symbol(name) && in_text_content(id);
                push_slots(id, mode);
                return;
            }
            case NodeKind::Infix: {
                const auto& v = std::get<Node::Infix>(node.value);
                push_node_op(Op::InfixOperand, v.right);
                push_slots(id, ContentMode::Math);
                push_node_op(Op::InfixName, id);
                push_node_op(Op::InfixOperand, v.left);
                return;
            }
            case NodeKind::Environment: environment(id, std::get<Node::Environment>(node.value), mode); return;
            case NodeKind::Scripted: {
                const auto& v = std::get<Node::Scripted>(node.value);
                bool sub_first = opt_.script_order == ScriptOrder::SubFirst;
                // After an error that ends in an open script marker, the
                // braces of an empty base would become that marker's operand
                // when the text is read again; the marker that follows shows
                // the base is empty just as well. A prime written first shows
                // no marker: it is written `^'`, which reads back as the same
                // prime, and merged primes keep the braces.
                const bool prime_first = v.superscript && (is_prime(*v.superscript) || held_primes(*v.superscript) > 0) &&
                                         (!sub_first || !v.subscript);
                const bool drop_base = after_open_marker_ && is_empty_math_base(v.base) &&
                                       (!prime_first || is_prime(*v.superscript));
                const Op sup = drop_base && prime_first ? Op::CaretPrimes : Op::Superscript;
                // Primes glued to base primes would read back as one run:
                // they are parted by a space, in operator-name text too.
                const bool after_base_prime = prime_first && is_prime(v.base);
                // Pushed in reverse: the base is written first.
                if (sub_first) {
                    if (v.superscript) push_node_op(sup, *v.superscript, ContentMode::Math, after_base_prime);
                    if (v.subscript) push_node_op(Op::Subscript, *v.subscript);
                } else {
                    if (v.subscript) push_node_op(Op::Subscript, *v.subscript);
                    if (v.superscript) push_node_op(sup, *v.superscript, ContentMode::Math, after_base_prime);
                }
                // In operator-name content the base is written in the text
                // mode of its neighbours, so that an item with primes reads
                // the same whether they are its superscript or follow it.
                // A scripted base goes into braces: bare, its scripts would
                // read back as this node's own (`{K'}_l` against `K'_l`),
                // whichever pass left it bare.
                if (drop_base) return;
                // A cell end (`&`, a row end) is never read as a script
                // base: its scripts would take an empty base of their own
                // after it. They are written on that base, `\\ {}^{2}`,
                // which TeX sets as it sets the scripted cell end and which
                // reads back as the cell end followed by the scripted empty
                // group.
                if (mode == ContentMode::Math && ast_.node(v.base).ends_cell()) {
                    const bool compact = opt_.group_inner_spacing == MathGroupInnerSpacing::Compact;
                    push_close('}', compact, ContentMode::Math, ContentMode::Math);
                    push_literal("{", Rule::Boundary, ContentMode::Math, SpacingClass::Bracket,
                                 TokenKind::Delimiter, ContentMode::Math);
                }
                if (ast_.node(v.base).template is<Node::Scripted>()) {
                    push_node_op(Op::Braced, v.base, mode);
                } else {
                    push_visit(v.base, mode);
                }
                return;
            }
            case NodeKind::Prime: prime(std::get<Node::Prime>(node.value).count, mode); return;
            case NodeKind::Text: {
                std::string_view s = std::get<Node::Text>(node.value).value;
                const bool space = rule_t(mode, !s.empty(), mode == ContentMode::Text && in_text_content(id));
                if (s.find('\\') == std::string_view::npos) {
                    put_verbatim(space, s, SpacingClass::TextChar, TokenKind::Text, mode);
                } else {
                    put_verbatim(space, with_line_breaks_after_lone_backslashes(s), SpacingClass::TextChar,
                                 TokenKind::Text, mode);
                }
                return;
            }
            case NodeKind::Char: {
                char32_t ch = std::get<Node::Char>(node.value).value;
                if (mode == ContentMode::Math && bar_arguments_ > 0 && ch == U'|') {
                    put_control(rule_c(mode, true), "vert", mode);
                    return;
                }
                std::size_t start = begin_token(rule_k(ch, mode, mode == ContentMode::Text && in_text_content(id)));
                // Operator-name content is written in text mode but read as
                // math, where `&` is the cell separator, as it is here.
                const bool bare_separator = ch == U'&' && mode == ContentMode::Text && !in_text_content(id);
                append_char(out_, ch, bare_separator ? ContentMode::Math : mode);
                SpacingClass cls = mode == ContentMode::Text ? SpacingClass::TextChar
                                   : is_ascii_digit(ch)      ? SpacingClass::MathDigit
                                                             : SpacingClass::MathChar;
                end_token(start, cls, TokenKind::Character, mode);
                after_lone_backslash_ = ch == U'\\';
                return;
            }
            case NodeKind::ActiveSpace:
                put(rule_c(mode, true), "~", SpacingClass::ActiveSpace, TokenKind::Character, mode);
                return;
            case NodeKind::Error: {
                std::string_view s = std::get<Node::Error>(node.value).snippet;
                put_verbatim(rule_t(mode, !s.empty()), s, SpacingClass::Raw, TokenKind::Error, mode);
                return;
            }
        }
    }

    void prime(std::uint64_t count, ContentMode mode) {
        bool space;
        if (mode == ContentMode::Math) {
            if (count > 0 && take_counter()) {
                space = false;
            } else if (glue_next_prime_ && last_ != SpacingClass::Raw) {
                space = false;
            } else {
                space = last_ != SpacingClass::Start && last_ != SpacingClass::MathChar &&
                        last_ != SpacingClass::MathDigit && last_ != SpacingClass::Primes;
            }
            put_primes(space, count, SpacingClass::Primes, mode);
        } else {
            if (count > 0) take_counter();
            put_primes(ends_control_word(mode) && !glue_next_prime_, count, SpacingClass::TextChar, mode);
        }
    }

    void group(NodeId id, const Node::Group& g) {
        if (g.kind.is_explicit() || g.kind.is_implicit()) {
            // Callers that want an implicit group without braces take its
            // children themselves.
            if (g.mode == ContentMode::Text) {
                put(rule_b(ContentMode::Text, false), "{", SpacingClass::Bracket, TokenKind::Delimiter,
                    ContentMode::Text);
                push_close('}', false, ContentMode::Text, ContentMode::Text);
                if (!g.children.empty()) push_children(id, ContentMode::Text);
                return;
            }
            put(rule_b(ContentMode::Math, false), "{", SpacingClass::Bracket, TokenKind::Delimiter,
                ContentMode::Math);
            bool compact = opt_.group_inner_spacing == MathGroupInnerSpacing::Compact;
            // Compact: the first child gets no space (the rule just cleared
            // the counter, so the saved value is 0).
            if (compact) suppress_ += 1;
            push_close('}', compact, ContentMode::Math, ContentMode::Math);
            if (!g.children.empty()) push_children(id, ContentMode::Math);
            return;
        }
        if (const auto* d = g.kind.as_delimited()) {
            put_control(rule_c(ContentMode::Math, false), "left", ContentMode::Math);
            put_delimiter(rule_b(ContentMode::Math, false), d->left, ContentMode::Math);
            push_delim(d->right, ContentMode::Math, false, ContentMode::Math);
            push_literal("\\right", Rule::ControlNoMode, ContentMode::Math, SpacingClass::ControlWord,
                         TokenKind::ControlSequence, ContentMode::Math);
            if (!g.children.empty()) push_children(id, ContentMode::Math);
            return;
        }
        // Inline math.
        take_counter();
        put(false, "$", SpacingClass::MathShift, TokenKind::Delimiter, ContentMode::Text);
        push_literal("$", Rule::NoSpaceClear, ContentMode::Text, SpacingClass::MathShift,
                     TokenKind::Delimiter, ContentMode::Text);
        if (!g.children.empty()) push_children(id, ContentMode::Math);
    }

    void environment(NodeId id, const Node::Environment& env, ContentMode mode) {
        environment_head("\\begin", env.name, mode);
        push_node_op(Op::EnvEnd, id, mode);
        const Node& body = ast_.node(env.body);
        const auto* g = body.get_if<Node::Group>();
        if (g == nullptr) {
            std::string what = "environment body must remain a group, got ";
            what.append(debug_string(body.kind()));
            unreachable(what);
        }
        // The body is read up to `\end`, never as a brace group of its own:
        // braces around it would read back as one cell holding a group.
        if (g->kind.is_implicit() || g->kind.is_explicit()) {
            if (!g->children.empty()) push_children(env.body, g->mode);
        } else {
            push_visit(env.body, g->mode);
        }
        push_slots(id, mode);
    }

    void environment_head(std::string_view keyword, std::string_view name, ContentMode mode) {
        put(rule_c(mode, true), keyword, SpacingClass::ControlWord, TokenKind::ControlSequence, mode);
        if (opt_.environment_name_spacing == EnvironmentNameSpacing::Spaced) out_.push_back(' ');
        take_counter();
        put(false, "{", SpacingClass::Bracket, TokenKind::Delimiter, mode);
        if (!name.empty()) take_counter();
        put(false, name, SpacingClass::Raw, TokenKind::Raw, mode);
        put(false, "}", SpacingClass::Bracket, TokenKind::Delimiter, mode);
    }

    void script_marker(char marker) {
        bool space = false;
        if (!take_counter()) {
            space = opt_.script_spacing == ScriptSpacing::Spaced && last_ != SpacingClass::Start &&
                    last_ != SpacingClass::MathShift;
        }
        put(space, marker == '_' ? "_" : "^", SpacingClass::ScriptMarker, TokenKind::Character,
            ContentMode::Math);
    }
    void script(char marker, NodeId node) {
        script_marker(marker);
        wrapped_content(node, ContentMode::Math, ContentMode::Math, '{', '}', false, true);
    }

    // `after_base_prime`: the superscript follows a base that is primes.
    void superscript(NodeId node, bool after_base_prime) {
        if (const auto* p = ast_.node(node).template get_if<Node::Prime>()) {
            // Glued to the base: no space, counter untouched; a base prime
            // is parted from them by a space.
            put_primes(after_base_prime, p->count, SpacingClass::Primes, ContentMode::Math);
            return;
        }
        if (const std::size_t held = held_primes(node); held > 0) {
            merged_superscript(node, held, after_base_prime);
            return;
        }
        script('^', node);
    }

    void caret_primes(NodeId node) {
        script_marker('^');
        put_primes(false, std::get<Node::Prime>(ast_.node(node).value).count, SpacingClass::Primes, ContentMode::Math);
    }

    // How many primes lead a merged superscript: an implicit math group
    // whose first children are primes, as `x'^2` reads.
    std::size_t held_primes(NodeId node) const {
        const auto* g = ast_.node(node).template get_if<Node::Group>();
        if (g == nullptr || !g->kind.is_implicit() || g->mode != ContentMode::Math) return 0;
        std::size_t held = 0;
        for (NodeId child : g->children) {
            const auto* p = ast_.node(child).template get_if<Node::Prime>();
            if (p == nullptr || p->count == 0) break;
            ++held;
        }
        return held;
    }

    // The held primes glued to the base as in `x'`, then the rest as the
    // operand of a `^` glued to them: `x'^{2}` reads back as the same merged
    // superscript, while `x^{'2}` would put the prime on an empty base
    // inside the superscript and raise it twice. TeX looks for the `^` right
    // after the primes, so no space goes between them.
    void merged_superscript(NodeId node, std::size_t held, bool after_base_prime) {
        auto children = ast_.children(node);
        for (std::size_t i = 0; i < held; ++i)
            if (!put_primes(i == 0 && after_base_prime, std::get<Node::Prime>(ast_.node(children[i]).value).count,
                            SpacingClass::Primes, ContentMode::Math))
                return;
        if (held == children.size()) return;
        take_counter();
        put(false, "^", SpacingClass::ScriptMarker, TokenKind::Character, ContentMode::Math);
        if (held + 1 == children.size()) {
            wrapped_content(children[held], ContentMode::Math, ContentMode::Math, '{', '}', false, true);
            return;
        }
        put(rule_b(ContentMode::Math, false), "{", SpacingClass::Bracket, TokenKind::Delimiter, ContentMode::Math);
        const bool compact = opt_.group_inner_spacing == MathGroupInnerSpacing::Compact;
        if (compact) suppress_ += 1;
        push_close('}', compact, ContentMode::Math, ContentMode::Math);
        push_children(node, ContentMode::Math, held);
    }

    void infix_operand(NodeId id) {
        const Node& node = ast_.node(id);
        const auto* g = node.get_if<Node::Group>();
        if (g != nullptr && g->kind.is_implicit() && g->mode == ContentMode::Math && g->children.empty()) {
            return;
        }
        // Read bare, an infix or a cell separator would end the operand.
        bool braced =
            opt_.infix_grouping == InfixGrouping::AlwaysExplicit || node.is<Node::Infix>() || node.ends_cell();
        if (!braced && g != nullptr) {
            if (g->kind.is_explicit()) {
                braced = true;
            } else if (g->kind.is_implicit()) {
                for (NodeId child : g->children) {
                    const Node& member = ast_.node(child);
                    if (member.is<Node::Infix>() || member.ends_cell()) {
                        braced = true;
                        break;
                    }
                }
                if (!braced) {
                    if (!g->children.empty()) push_children(id, g->mode);
                    return;
                }
            }
        }
        if (braced) {
            wrapped_content(id, ContentMode::Math, ContentMode::Math, '{', '}', false, true);
        } else {
            push_visit(id, ContentMode::Math);
        }
    }

    // ---- Argument slots -----------------------------------------------------

    static const Node::Group* brace_group(const Node& node) {
        const auto* g = node.get_if<Node::Group>();
        return g != nullptr && (g->kind.is_explicit() || g->kind.is_implicit()) ? g : nullptr;
    }

    void argument_slot(const ast::Argument& arg, ContentMode outer) {
        using V = ast::ArgumentValue;
        using K = ast::ArgumentKind;
        bool nls = arg.no_leading_space;
        const auto& kind = arg.kind.value;
        if (std::holds_alternative<K::Star>(kind)) {
            const auto* b = std::get_if<V::Boolean>(&arg.value.value);
            if (b == nullptr) unreachable("star slots must carry boolean values");
            if (b->value) {
                // Glued to what precedes; counter and class stay as they were.
                std::size_t start = out_.size();
                out_.push_back('*');
                rec_.record(out_, start, out_.size(), TokenKind::Character, outer);
            }
            return;
        }
        const ast::Delimiter* open = nullptr;
        const ast::Delimiter* close = nullptr;
        if (const auto* d = arg.kind.as_delimited()) {
            open = &d->open;
            close = &d->close;
        } else if (const auto* p = arg.kind.as_paired()) {
            open = &p->open;
            close = &p->close;
        }
        bool square = std::holds_alternative<K::Optional>(kind);
        char lb = square ? '[' : '{';
        char rb = square ? ']' : '}';
        const V::Value& value = arg.value.value;
        switch (value.index()) {
            case 0:
            case 1: {
                ContentMode content = value.index() == 0 ? ContentMode::Math : ContentMode::Text;
                NodeId node = *arg.value.content();
                if (open != nullptr) {
                    recorded_delimiters(*open, *close, node, content, outer, nls);
                } else {
                    wrapped_content(node, outer, content, lb, rb, nls, false);
                }
                return;
            }
            case 2: {
                NodeId node = std::get<V::OperatorNameContent>(value).node;
                if (open != nullptr) {
                    put_delimiter(rule_b(outer, nls), *open, outer, true);
                    // The close delimiter never gets a space.
                    push_delim(*close, outer, true, outer, true);
                } else {
                    put(rule_b(outer, nls), lb == '[' ? "[" : "{", SpacingClass::Bracket,
                        TokenKind::Delimiter, outer);
                    push_close(rb, true, outer, outer);
                }
                operator_name_content(node);
                return;
            }
            default: break;
        }
        if (open != nullptr) {
            // Delimited scalar.
            put_delimiter(rule_b(outer, nls), *open, outer, true);
            std::size_t start = begin_token(rule_t(outer, !scalar_text_empty(arg.value)));
            append_scalar_text(out_, arg.value);
            end_token(start, SpacingClass::Raw, TokenKind::Raw, outer);
            put_delimiter(rule_b(outer, false), *close, outer, true);
            return;
        }
        if (const auto* d = std::get_if<V::Delimiter>(&value);
            d != nullptr && std::holds_alternative<K::Mandatory>(kind)) {
            put_delimiter(rule_b(outer, nls), d->value, outer);
            return;
        }
        if (const auto* dimension = std::get_if<V::Dimension>(&value);
            dimension != nullptr && !dimension->value.empty() && std::holds_alternative<K::Mandatory>(kind)) {
            // A primitive (`\kern`, `\mskip`) reads its dimension bare: in
            // braces it finds no number. A macro that takes its dimension in
            // braces (`\hspace`) has a group slot. What follows is spaced as
            // after a control word, so that no letter extends the unit. In
            // text a space parts it from the name too: it is no content.
            std::size_t start = begin_token(rule_t(outer, true));
            out_.append(std::string_view(dimension->value));
            end_token(start, SpacingClass::ControlWord, TokenKind::Raw, outer);
            unit_end_ = out_.size();
            return;
        }
        if (const auto* name = std::get_if<V::CSName>(&value);
            name != nullptr && name->value == "}" && std::holds_alternative<K::Mandatory>(kind)) {
            // A `}` read bare as a mandatory name: in braces it would close
            // them and leave one `}` over.
            put(rule_b(outer, nls), "}", SpacingClass::Raw, TokenKind::Raw, outer);
            return;
        }
        scalar_wrapped(arg.value, lb, rb, outer, nls);
    }

    void scalar_wrapped(const ast::ArgumentValue& value, char lb, char rb, ContentMode outer, bool nls) {
        put(rule_b(outer, nls), lb == '[' ? "[" : "{", SpacingClass::Bracket, TokenKind::Delimiter, outer);
        std::size_t start = out_.size();
        append_scalar_text(out_, value);
        if (out_.size() > start) take_counter();
        end_token(start, SpacingClass::Raw, TokenKind::Raw, outer);
        take_counter();
        put(false, rb == ']' ? "]" : "}", SpacingClass::Bracket, TokenKind::Delimiter, outer);
    }

    // A content node between two brackets; the close is deferred until the
    // content has been written.
    // True when the snippet is one braced group from its first byte to its
    // last (no comment could hide a brace in it).
    static bool is_one_braced_group(std::string_view s) {
        if (s.size() < 2 || s.front() != '{' || s.back() != '}') return false;
        std::size_t depth = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '\\') {
                ++i;
            } else if (c == '%') {
                return false;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                return i + 1 == s.size();
            }
        }
        return false;
    }

    // `operand`: a script or infix operand, which the parser reads as one
    // item, braces included; an argument's braces are the argument's own.
    void wrapped_content(NodeId node, ContentMode outer, ContentMode content, char lb, char rb, bool nls,
                         bool operand) {
        // An operand the parser could not read whole, braces and all (a
        // group past the depth limit), brings its own braces: a pair around
        // it would read back as one level more, every round. The text of an
        // argument that could not be read lies inside the argument's braces,
        // even when it is one braced group itself.
        if (const auto* e = ast_.node(node).template get_if<Node::Error>();
            operand && e != nullptr && lb == '{' && is_one_braced_group(e->snippet)) {
            push_visit(node, content);
            return;
        }
        // An argument read without braces whose text does not pair its
        // braces (an Error snippet in a delimited argument of its own, which
        // sees no braces) is written as it was read: braces around it would
        // end at its first unpaired `}`.
        const Node& n = ast_.node(node);
        if (!operand && lb == '{' && brace_group(n) == nullptr && holds_unpaired_brace(node, n)) {
            take_counter();
            push_visit(node, content);
            return;
        }
        if (lb == '{' && bare_for_buildrel(node, n, operand)) {
            push_visit(node, content);
            return;
        }
        put(rule_b(outer, nls), lb == '[' ? "[" : "{", SpacingClass::Bracket, TokenKind::Delimiter, outer);
        bool compact =
            content == ContentMode::Math && opt_.group_inner_spacing == MathGroupInnerSpacing::Compact;
        if (compact) suppress_ += 1;
        if (const auto* g = brace_group(n)) {
            if (g->children.empty()) {
                if (g->mode == ContentMode::Math &&
                    opt_.group_inner_spacing == MathGroupInnerSpacing::Padded) {
                    // "{ }": the inner space is no token and sets no class.
                    take_counter();
                    out_.push_back(' ');
                    put(false, rb == ']' ? "]" : "}", SpacingClass::Bracket, TokenKind::Delimiter, outer);
                    return;
                }
                push_close(rb, compact, content, outer);
                return;
            }
            push_close(rb, compact, content, outer);
            open_range(node);
            push_children(node, g->mode, 0, lb == '[');
            return;
        }
        push_close(rb, compact, content, outer);
        if (lb == '[' && serialize::closes_bracket_argument(ast_, node)) {
            push_node_op(Op::Braced, node, content);
        } else {
            push_visit(node, content);
        }
    }

    // `\buildrel` reads its top up to its `\over`, braces or none: a
    // `\buildrel` script in braces would lose its `\over`, and braces
    // around a declarative read bare as its argument would end that
    // declarative's reach over the rest of the top.
    bool bare_for_buildrel(NodeId node, const Node& n, bool operand) const {
        const ParentLink* link = ast_.parent_link(node);
        if (link == nullptr) return false;
        if (operand) {
            const auto* command = n.template get_if<Node::Command>();
            return command != nullptr && command->name == "buildrel" &&
                   (link->slot.kind() == Slot::Kind::ScriptSub || link->slot.kind() == Slot::Kind::ScriptSup);
        }
        if (!n.template is<Node::Declarative>() || !link->slot.is_argument()) return false;
        const auto* command = ast_.node(link->parent).template get_if<Node::Command>();
        return command != nullptr && command->name == "buildrel";
    }

    static bool pairs_braces(std::string_view text) {
        std::size_t depth = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\') {
                ++i;
            } else if (text[i] == '{') {
                ++depth;
            } else if (text[i] == '}' && depth-- == 0) {
                return false;
            }
        }
        return depth == 0;
    }
    // Whether an Error snippet at or below `node` does not pair its braces.
    // A leaf answers for itself. Else the first argument that asks has every
    // such snippet found in one sweep of the nodes, and their ancestors
    // marked: valid trees hold none, and error documents may be deep.
    bool holds_unpaired_brace(NodeId node, const Node& n) {
        switch (n.kind()) {
            case NodeKind::Prime:
            case NodeKind::Text:
            case NodeKind::Char:
            case NodeKind::ActiveSpace: return false;
            case NodeKind::Error: return !pairs_braces(std::get<Node::Error>(n.value).snippet);
            default: break;
        }
        if (!scanned_) {
            scanned_ = true;
            ast_.for_each_node([&](NodeId id, const Node& n) {
                const auto* e = n.template get_if<Node::Error>();
                if (e == nullptr || pairs_braces(e->snippet)) return;
                for (std::optional<NodeId> at = id; at && unpaired_.insert(at->index).second;)
                    at = ast_.parent_id(*at);
            });
            util::work_count += ast_.node_count();
        }
        return !unpaired_.empty() && unpaired_.contains(node.index);
    }

    void recorded_delimiters(const ast::Delimiter& open, const ast::Delimiter& close, NodeId node,
                             ContentMode content, ContentMode outer, bool nls) {
        // Spaced by the content mode, reported in the outer mode.
        put_delimiter(rule_b(content, nls), open, outer, true);
        push_delim(close, content, false, outer, true);
        // Only where both ends are bars: with a different opening, a bar
        // may be the partner of one inside, which the reader pairs.
        if (is_bar(open) && is_bar(close)) {
            ++bar_arguments_;
            push_node_op(Op::LeaveBarArgument, node);
        }
        const Node& n = ast_.node(node);
        if (const auto* g = brace_group(n)) {
            if (!g->children.empty()) push_children(node, g->mode);
            return;
        }
        push_visit(node, content);
    }

    // Operator-name content is written in text mode whatever its group says.
    void operator_name_content(NodeId node) {
        const Node& n = ast_.node(node);
        if (const auto* g = brace_group(n)) {
            if (!g->children.empty()) push_children(node, ContentMode::Text);
            return;
        }
        push_visit(node, ContentMode::Text);
    }

    const Ast& ast_;
    const SerializeOptions& opt_;
    Output out_;
    Recorder rec_;
    NodeRanges* ranges_;
    std::uint64_t suppress_ = 0;
    SpacingClass last_ = SpacingClass::Start;
    bool after_white_space_ = false;
    // Where the last non-empty token starts and ends.
    std::size_t last_start_ = 0;
    std::size_t last_end_ = std::string::npos;
    // Where the last bare dimension ends: a letter glued to it would extend
    // its unit. In text content nothing else spaces a letter from it.
    std::size_t unit_end_ = std::string::npos;
    std::size_t bar_arguments_ = 0;  // arguments between two bars around the next token
    bool scanned_ = false;  // the nodes were searched for unpaired braces
    std::unordered_set<std::uint32_t> unpaired_;  // nodes that hold an Error snippet with an unpaired brace
    bool after_open_marker_ = false;
    bool after_error_ = false;  // the last token is an Error snippet
    bool glue_next_prime_ = false;  // the next token is primes that follow a list item
    bool after_lone_backslash_ = false;
    bool after_text_symbol_ = false;  // the last token is a control symbol in text content
    std::vector<Task> stack_;
    std::uint64_t primes_written_ = 0;
    bool failed_ = false;
};

}  // namespace

namespace serialize {

namespace {

bool is_closing(const ast::Delimiter& d) {
    const auto* c = d.as_char();
    return c != nullptr && c->value == U']';
}

bool is_brace_list(const Node& node) {
    const auto* g = node.get_if<Node::Group>();
    return g != nullptr && (g->kind.is_explicit() || g->kind.is_implicit());
}

}  // namespace

bool own_text_closes_bracket(const Ast& ast, NodeId node) {
    using K = ast::ArgumentKind;
    const Node& n = ast.node(node);
    if (const auto* c = n.get_if<Node::Char>()) return c->value == U']';
    if (const auto* t = n.get_if<Node::Text>()) return std::string_view(t->value).find(']') != std::string_view::npos;
    if (const auto* g = n.get_if<Node::Group>()) {
        const auto* d = g->kind.as_delimited();
        return d != nullptr && (is_closing(d->left) || is_closing(d->right));
    }
    const auto* args = n.args();
    if (args == nullptr || n.is<Node::Scripted>()) return false;
    for (const auto& arg : *args) {
        if (!arg) continue;
        // A filled bracket argument writes its own `]`.
        if (std::holds_alternative<K::Optional>(arg->kind.value)) return true;
        const ast::Delimiter* open = nullptr;
        const ast::Delimiter* close = nullptr;
        if (const auto* d = arg->kind.as_delimited()) {
            open = &d->open;
            close = &d->close;
        } else if (const auto* p = arg->kind.as_paired()) {
            open = &p->open;
            close = &p->close;
        }
        if (open == nullptr) {
            // Braced, but for a bare delimiter.
            const auto* delimiter = std::get_if<ast::ArgumentValue::Delimiter>(&arg->value.value);
            if (delimiter != nullptr && std::holds_alternative<K::Mandatory>(arg->kind.value) &&
                is_closing(delimiter->value))
                return true;
            continue;
        }
        if (is_closing(*open) || is_closing(*close)) return true;
        if (const auto* c = open->as_char(); c != nullptr && c->value == U'{') continue;
        if (!arg->value.content() && !std::holds_alternative<ast::ArgumentValue::Boolean>(arg->value.value)) {
            std::string text;
            append_scalar_text(text, arg->value);
            if (text.find(']') != std::string::npos) return true;
        }
    }
    return false;
}

BracketReach bracket_reach(const Ast& ast, NodeId parent, Slot slot) {
    const Node& n = ast.node(parent);
    switch (slot.kind()) {
        case Slot::Kind::GroupChild: {
            // A brace group hides its children; the root is no item.
            const auto* g = n.get_if<Node::Group>();
            return g != nullptr && !is_brace_list(n) ? BracketReach::Whole : BracketReach::Hidden;
        }
        case Slot::Kind::ScriptBase: return BracketReach::Whole;
        case Slot::Kind::ScriptSub:
        case Slot::Kind::ScriptSup: return BracketReach::Hidden;  // scripts are written in braces
        case Slot::Kind::InfixLeft:
        case Slot::Kind::InfixRight:
        case Slot::Kind::EnvBody: return BracketReach::Content;
        case Slot::Kind::Argument: {
            const auto& arg = (*n.args())[slot.index()];
            const ast::Delimiter* open = nullptr;
            if (const auto* d = arg->kind.as_delimited()) open = &d->open;
            if (const auto* p = arg->kind.as_paired()) open = &p->open;
            // Braced arguments hide their content; a bracket argument's
            // own `]` is its node's.
            if (open == nullptr) return BracketReach::Hidden;
            if (const auto* c = open->as_char(); c != nullptr && c->value == U'{') return BracketReach::Hidden;
            return BracketReach::Content;
        }
    }
    return BracketReach::Hidden;
}

bool closes_bracket_argument(const Ast& ast, NodeId node) {
    util::check_work();
    // The nodes whose text is written bare, without braces of their own.
    std::vector<NodeId> bare{node};
    while (!bare.empty()) {
        const NodeId id = bare.back();
        bare.pop_back();
        util::work_count += 2;
        if (own_text_closes_bracket(ast, id)) return true;
        for_each_edge(ast.node(id), [&](NodeId child, Slot slot) {
            switch (bracket_reach(ast, id, slot)) {
                case BracketReach::Hidden: return;
                case BracketReach::Whole: bare.push_back(child); return;
                case BracketReach::Content:
                    // A group there is written as its children alone.
                    if (is_brace_list(ast.node(child))) {
                        const auto children = ast.children(child);
                        bare.insert(bare.end(), children.begin(), children.end());
                    } else {
                        bare.push_back(child);
                    }
                    return;
            }
        });
    }
    return false;
}

Expected<std::string, SerializeError> serialize_node_with(const Ast& ast, NodeId node, ContentMode mode,
                                                          const SerializeOptions& options) {
    Serializer<NoopRecorder> s(ast, options);
    if (!s.run_from(node, mode)) return SerializeError(SerializeError::Kind::TooManyPrimes);
    return s.output();
}

Expected<std::string, SerializeError> serialize_node_ranges(const Ast& ast, NodeId node, ContentMode mode,
                                                            const SerializeOptions& options,
                                                            std::function<bool(NodeId)> wanted,
                                                            std::vector<NodeRange>& ranges) {
    NodeRanges marks{std::move(wanted), ranges};
    Serializer<NoopRecorder> s(ast, options, &marks);
    if (!s.run_from(node, mode)) return SerializeError(SerializeError::Kind::TooManyPrimes);
    return s.output();
}

Expected<std::string, SerializeError> serialize_with(const Ast& ast, const SerializeOptions& options) {
    Serializer<NoopRecorder> s(ast, options);
    if (!s.run()) return SerializeError(SerializeError::Kind::TooManyPrimes);
    return s.output();
}

Expected<TokenizedLatex, SerializeError> serialize_tokenized_with(const Ast& ast,
                                                                  const SerializeOptions& options) {
    Serializer<TokenRecorder> s(ast, options);
    if (!s.run()) return SerializeError(SerializeError::Kind::TooManyPrimes);
    std::string text = s.output();
    return TokenizedLatex{std::move(text), std::move(s.recorder().tokens)};
}

std::string serialized_char(char32_t ch, ContentMode mode) {
    std::string out;
    append_char(out, ch, mode);
    return out;
}

}  // namespace serialize
}  // namespace quorvel::syntax
