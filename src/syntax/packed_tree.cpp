#include "syntax/packed_tree.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "util/utf8.hpp"

namespace quorvel::syntax {
namespace {

using namespace syntax_node;

// Presence bits of the boxed subtrees of Infix, Environment and Scripted, one
// per subtree in order from kFirst up.
constexpr unsigned char kFirst = 1, kSecond = 2;

// ---- Writing --------------------------------------------------------------------

class Writer {
public:
    std::string out;

    void byte(unsigned char b) { out.push_back(static_cast<char>(b)); }
    void number(std::uint64_t n) {
        while (n >= 0x80) {
            byte(static_cast<unsigned char>(n | 0x80));
            n >>= 7;
        }
        byte(static_cast<unsigned char>(n));
    }
    void text(std::string_view s) {
        number(s.size());
        out.append(s);
    }
    void delimiter(const Delimiter& d) {
        if (const auto* c = d.as_char()) {
            byte(1);
            number(c->value);
        } else if (const auto* control = d.as_control()) {
            byte(2);
            text(control->name);
        } else {
            byte(0);
        }
    }
    // The slots' fields; their content subtrees are added to `subtrees`.
    void slots(const ArgumentSlots& args, std::vector<const SyntaxNode*>& subtrees) {
        number(args.size());
        for (const std::optional<Argument>& slot : args) {
            if (!slot) {
                byte(0);
                continue;
            }
            byte(1);
            const ArgumentKind::Value& kind = slot->kind.value;
            byte(static_cast<unsigned char>(kind.index()));
            if (const auto* d = slot->kind.as_delimited()) {
                delimiter(d->open);
                delimiter(d->close);
            } else if (const auto* p = slot->kind.as_paired()) {
                delimiter(p->open);
                delimiter(p->close);
            }
            byte(slot->no_leading_space ? 1 : 0);
            const ArgumentValue::Value& value = slot->value.value;
            byte(static_cast<unsigned char>(value.index()));
            std::visit(
                [&](const auto& v) {
                    using V = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<V, ArgumentValue::MathContent> ||
                                  std::is_same_v<V, ArgumentValue::TextContent> ||
                                  std::is_same_v<V, ArgumentValue::OperatorNameContent>) {
                        byte(v.node ? 1 : 0);
                        if (v.node) subtrees.push_back(v.node.get());
                    } else if constexpr (std::is_same_v<V, ArgumentValue::Delimiter>) {
                        delimiter(v.value);
                    } else if constexpr (std::is_same_v<V, ArgumentValue::Boolean>) {
                        byte(v.value ? 1 : 0);
                    } else {
                        text(v.value);
                    }
                },
                value);
        }
    }
    // Writes the node's own fields and lists its subtrees in packed order.
    void node(const SyntaxNode& n, std::vector<const SyntaxNode*>& subtrees) {
        byte(static_cast<unsigned char>(n.value.index()));
        auto boxes = [&](std::initializer_list<const SyntaxNode::Box*> list) {
            unsigned char bits = 0, bit = kFirst;
            for (const SyntaxNode::Box* box : list) {
                if (*box) {
                    bits |= bit;
                    subtrees.push_back(box->get());
                }
                bit = static_cast<unsigned char>(bit << 1);
            }
            byte(bits);
        };
        std::visit(
            [&](const auto& v) {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<V, SyntaxNode::Root>) {
                    byte(static_cast<unsigned char>(v.mode));
                    number(v.children.size());
                    for (const SyntaxNode& child : v.children) subtrees.push_back(&child);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Group>) {
                    byte(static_cast<unsigned char>(v.mode));
                    byte(static_cast<unsigned char>(v.kind.index()));
                    if (const auto* d = v.kind.as_delimited()) {
                        delimiter(d->left);
                        delimiter(d->right);
                    }
                    number(v.children.size());
                    for (const SyntaxNode& child : v.children) subtrees.push_back(&child);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Command>) {
                    text(v.name);
                    byte(v.known ? 1 : 0);
                    slots(v.args, subtrees);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Infix>) {
                    text(v.name);
                    slots(v.args, subtrees);
                    boxes({&v.left, &v.right});
                } else if constexpr (std::is_same_v<V, SyntaxNode::Declarative>) {
                    text(v.name);
                    slots(v.args, subtrees);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Environment>) {
                    text(v.name);
                    byte(v.known ? 1 : 0);
                    slots(v.args, subtrees);
                    boxes({&v.body});
                } else if constexpr (std::is_same_v<V, SyntaxNode::Scripted>) {
                    boxes({&v.base, &v.subscript, &v.superscript});
                } else if constexpr (std::is_same_v<V, SyntaxNode::Error>) {
                    text(v.message);
                    text(v.snippet);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Prime>) {
                    number(v.count);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Text>) {
                    text(v.value);
                } else if constexpr (std::is_same_v<V, SyntaxNode::Char>) {
                    number(v.value);
                }
            },
            n.value);
    }
};

// ---- Reading --------------------------------------------------------------------

struct Refusal {
    std::string reason;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    bool done() const { return p_ == end_; }
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

    unsigned char byte() {
        if (p_ == end_) fail("truncated");
        return static_cast<unsigned char>(*p_++);
    }
    unsigned char byte_below(unsigned char bound, const char* what) {
        const unsigned char b = byte();
        if (b >= bound) fail(std::string("invalid ") + what);
        return b;
    }
    bool flag() { return byte_below(2, "flag") == 1; }
    std::uint64_t number() {
        std::uint64_t n = 0;
        for (unsigned shift = 0;; shift += 7) {
            const unsigned char b = byte();
            if (shift == 63 && b > 1) fail("number out of range");
            n |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if ((b & 0x80) == 0) return n;
        }
    }
    // Subtrees announced but not read yet: each takes at least one byte.
    void set_pending(std::size_t n) { pending_ = n; }

    // A count of items that each take at least one byte, beside every
    // subtree still to come: a forged count cannot make the reader allocate
    // more than the data could fill.
    std::size_t count(const std::vector<SyntaxNode*>& holes) {
        const std::uint64_t n = number();
        const std::size_t owed = pending_ + holes.size();
        if (owed > left() || n > left() - owed) fail("count exceeds the data");
        return static_cast<std::size_t>(n);
    }
    std::string_view text() {
        const std::uint64_t n = number();
        if (n > left()) fail("truncated");
        const std::string_view s(p_, static_cast<std::size_t>(n));
        p_ += n;
        const auto* q = reinterpret_cast<const unsigned char*>(s.data());
        for (std::size_t i = 0; i < s.size();) {
            char32_t c = 0;
            const std::size_t len = util::utf8::decode(q + i, s.size() - i, c);
            if (len == 0) fail("ill-formed UTF-8");
            i += len;
        }
        return s;
    }
    char32_t character() {
        const std::uint64_t n = number();
        if (n > 0x10FFFF || !is_scalar_value(static_cast<char32_t>(n))) {
            fail("Character must be a Unicode scalar value");
        }
        return static_cast<char32_t>(n);
    }
    Delimiter delimiter() {
        switch (byte_below(3, "delimiter")) {
            case 1: return Delimiter::character(character());
            case 2: return Delimiter::control(std::string(text()));
            default: return Delimiter::none();
        }
    }
    ContentMode mode() { return static_cast<ContentMode>(byte_below(2, "content mode")); }

    // Fills the slots; content subtrees to read are added to `holes`.
    ArgumentSlots slots(std::vector<SyntaxNode*>& holes) {
        ArgumentSlots args;
        const std::size_t n = count(holes);
        args.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::optional<Argument>& slot = args.emplace_back();
            if (!flag()) continue;
            Argument& a = slot.emplace();
            switch (byte_below(6, "argument kind")) {
                case 0: a.kind = ArgumentKind::Mandatory{}; break;
                case 1: a.kind = ArgumentKind::Optional{}; break;
                case 2: a.kind = ArgumentKind::Star{}; break;
                case 3: a.kind = ArgumentKind::Group{}; break;
                case 4: {
                    Delimiter open = delimiter();
                    a.kind = ArgumentKind::Delimited{std::move(open), delimiter()};
                    break;
                }
                default: {
                    Delimiter open = delimiter();
                    a.kind = ArgumentKind::Paired{std::move(open), delimiter()};
                    break;
                }
            }
            a.no_leading_space = flag();
            switch (byte_below(10, "argument value")) {
                case 0: a.value = ArgumentValue::MathContent{}; break;
                case 1: a.value = ArgumentValue::TextContent{}; break;
                case 2: a.value = ArgumentValue::OperatorNameContent{}; break;
                case 3: a.value = ArgumentValue::Delimiter{delimiter()}; break;
                case 4: a.value = ArgumentValue::CSName{std::string(text())}; break;
                case 5: a.value = ArgumentValue::Dimension{std::string(text())}; break;
                case 6: a.value = ArgumentValue::Integer{std::string(text())}; break;
                case 7: a.value = ArgumentValue::KeyVal{std::string(text())}; break;
                case 8: a.value = ArgumentValue::Column{std::string(text())}; break;
                default: a.value = ArgumentValue::Boolean{flag()}; break;
            }
            if (SyntaxNode::Box* box = a.value.content_box()) {
                if (!flag()) fail("missing required child");
                *box = SyntaxNode();
                holes.push_back(box->get());
            }
        }
        return args;
    }

    // Boxes present by the bits that follow; each new box is a hole. The
    // `required` ones (an operand, a body, a base) must be there: the tree
    // cannot be stored without them.
    void boxes(std::initializer_list<SyntaxNode::Box*> list, unsigned char required, std::vector<SyntaxNode*>& holes) {
        const unsigned char bits = byte_below(static_cast<unsigned char>(1u << list.size()), "presence bits");
        if ((bits & required) != required) fail("missing required child");
        unsigned char bit = kFirst;
        for (SyntaxNode::Box* box : list) {
            if ((bits & bit) != 0) {
                *box = SyntaxNode();
                holes.push_back(box->get());
            }
            bit = static_cast<unsigned char>(bit << 1);
        }
    }

    // Reads one node into `into`; its subtrees, in packed order, go to `holes`.
    void node(SyntaxNode& into, std::vector<SyntaxNode*>& holes) {
        auto children = [&](std::vector<SyntaxNode>& list) {
            list.resize(count(holes));
            for (SyntaxNode& child : list) holes.push_back(&child);
        };
        switch (byte_below(12, "node kind")) {
            case 0: {
                into = SyntaxNode::Root{mode(), {}};
                children(into.get_if<SyntaxNode::Root>()->children);
                break;
            }
            case 1: {
                SyntaxNode::Group g;
                g.mode = mode();
                switch (byte_below(4, "group kind")) {
                    case 0: g.kind = GroupKind::Explicit{}; break;
                    case 1: g.kind = GroupKind::Implicit{}; break;
                    case 2: {
                        Delimiter left = delimiter();
                        g.kind = GroupKind::Delimited{std::move(left), delimiter()};
                        break;
                    }
                    default: g.kind = GroupKind::InlineMath{}; break;
                }
                into = std::move(g);
                children(into.get_if<SyntaxNode::Group>()->children);
                break;
            }
            case 2: {
                SyntaxNode::Command c;
                c.name = text();
                c.known = flag();
                c.args = slots(holes);
                into = std::move(c);
                break;
            }
            case 3: {
                SyntaxNode::Infix x;
                x.name = text();
                x.args = slots(holes);
                into = std::move(x);
                auto* infix = into.get_if<SyntaxNode::Infix>();
                boxes({&infix->left, &infix->right}, kFirst | kSecond, holes);
                break;
            }
            case 4: {
                SyntaxNode::Declarative d;
                d.name = text();
                d.args = slots(holes);
                into = std::move(d);
                break;
            }
            case 5: {
                SyntaxNode::Environment e;
                e.name = text();
                e.known = flag();
                e.args = slots(holes);
                into = std::move(e);
                boxes({&into.get_if<SyntaxNode::Environment>()->body}, kFirst, holes);
                break;
            }
            case 6: {
                into = SyntaxNode::Scripted{};
                auto* s = into.get_if<SyntaxNode::Scripted>();
                boxes({&s->base, &s->subscript, &s->superscript}, kFirst, holes);
                break;
            }
            case 7: {
                SyntaxNode::Error e;
                e.message = text();
                e.snippet = text();
                into = std::move(e);
                break;
            }
            case 8: into = SyntaxNode::Prime{number()}; break;
            case 9: into = SyntaxNode::Text{CompactString(text())}; break;
            case 10: into = SyntaxNode::Char{character()}; break;
            default: into = SyntaxNode::ActiveSpace{}; break;
        }
    }

    [[noreturn]] static void fail(std::string reason) { throw Refusal{std::move(reason)}; }

private:
    const char* p_;
    const char* end_;
    std::size_t pending_ = 0;
};

}  // namespace

std::string pack_tree(const SyntaxNode& root) {
    Writer writer;
    writer.byte(kPackedTreeVersion);
    std::vector<const SyntaxNode*> stack{&root};
    std::vector<const SyntaxNode*> subtrees;
    while (!stack.empty()) {
        const SyntaxNode* node = stack.back();
        stack.pop_back();
        subtrees.clear();
        writer.node(*node, subtrees);
        // Reversed, so the first subtree is written next (pre-order).
        stack.insert(stack.end(), subtrees.rbegin(), subtrees.rend());
    }
    return std::move(writer.out);
}

util::Expected<SyntaxNode, std::string> unpack_tree(std::string_view bytes) {
    SyntaxNode root;
    try {
        Reader reader(bytes);
        if (reader.byte() != kPackedTreeVersion) Reader::fail("unknown packed tree version");
        std::vector<SyntaxNode*> stack{&root};
        std::vector<SyntaxNode*> holes;
        while (!stack.empty()) {
            SyntaxNode* hole = stack.back();
            stack.pop_back();
            holes.clear();
            reader.set_pending(stack.size());
            reader.node(*hole, holes);
            stack.insert(stack.end(), holes.rbegin(), holes.rend());
        }
        if (!reader.done()) Reader::fail("trailing bytes");
    } catch (Refusal& refusal) {
        return std::move(refusal.reason);
    }
    return root;
}

}  // namespace quorvel::syntax
