// Tree finalisation: merges runs of adjacent primes in math lists and gives
// the text of text lists and text arguments one canonical spacing.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "transform/passes/passes.hpp"
#include "syntax/read_back.hpp"
#include "transform/passes/tree_support.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::passes {

namespace {

using syntax::Ast;
using syntax::ContentMode;
using syntax::NodeKind;
using syntax::Slot;
using syntax::ast::Node;
using syntax::ast::NodeId;
using support::is_spacing_byte;

// Whether a node has nothing below it that the pass could visit.
bool is_leaf(const Node& node) {
    switch (node.kind()) {
        case NodeKind::Prime:
        case NodeKind::Text:
        case NodeKind::Char:
        case NodeKind::ActiveSpace:
        case NodeKind::Error: return true;
        default: return false;
    }
}

// Whether the text of the node may end in a control word, whose name TeX
// ends by skipping the white space after it; an error's snippet may.
bool may_end_in_control_word(const Node& node) {
    return node.is<Node::Error>() || support::is_bare_control_word(node);
}

// Whether a letter written right after the item would continue its text: a
// control word's name, or a unit written bare. The writer parts them with a
// space, which the reader keeps as the start of the text after the item: a
// text that starts with a letter there holds that space, so that it reads
// back as it is.
bool takes_name_end(const Node& before, std::string_view text) {
    if (text.empty() || ((text.front() | 0x20) < 'a' || (text.front() | 0x20) > 'z')) return false;
    if (!before.is<Node::Command>() && !before.is<Node::Declarative>()) return false;
    return syntax::command_tail(std::string_view(*before.name()), *before.args()).letter;
}

// Whether the list ends in a text of spacing alone after a control word:
// the reader drops such spacing before a closing brace.
bool ends_on_lone_spacing(const Ast& ast, std::span<const NodeId> children) {
    if (children.size() < 2 || !may_end_in_control_word(ast.node(children[children.size() - 2]))) return false;
    const auto* text = ast.node(children.back()).get_if<Node::Text>();
    if (text == nullptr) return false;
    const std::string_view value = text->value;
    return !value.empty() && value.find_first_not_of(" \t\n\f\r") == std::string_view::npos;
}

// Whether `normalize_whitespace` would change the text: a spacing character
// other than a lone space.
bool needs_respacing(std::string_view text) noexcept {
    bool after_space = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x20) {
            if (after_space) return true;
            after_space = true;
            continue;
        }
        if (is_spacing_byte(c)) return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0) return true;
        after_space = false;
    }
    return false;
}

struct Step {
    enum Op : std::uint8_t { Visit, ReattachList, ReattachSlot } op;
    NodeId node;
    std::uint32_t depth;
    NodeId placeholder;     // ReattachSlot: what holds the node's slot meanwhile
    std::size_t cut_begin;  // ReattachList: where the node's children wait in cut
};

struct Buffers {
    std::vector<Step> steps;
    std::vector<NodeId> cut;
    std::vector<NodeId> kids;
    std::vector<NodeId> before;
    std::vector<NodeId> after;
    std::string joined;

    void reset() {
        for (auto* list : {&cut, &kids, &before, &after}) support::reset(*list);
        support::reset(steps);
        joined.clear();
        if (joined.capacity() > support::kKeptCapacity) joined.shrink_to_fit();
    }
};

class Finalizer {
public:
    Finalizer(Ast& ast, ReportRecorder& recorder)
        : ast_(ast),
          recorder_(recorder),
          steps_(kept_.get().steps),
          cut_(kept_.get().cut),
          kids_(kept_.get().kids),
          before_(kept_.get().before),
          after_(kept_.get().after),
          joined_(kept_.get().joined) {}
    Finalizer(const Finalizer&) = delete;
    Finalizer& operator=(const Finalizer&) = delete;

    void run(NodeId start) {
        steps_.push_back({Step::Visit, start, 0, {}, 0});
        while (!steps_.empty()) {
            const Step step = steps_.back();
            steps_.pop_back();
            switch (step.op) {
                case Step::Visit: visit(step.node, step.depth); break;
                case Step::ReattachList: {
                    const std::span<const NodeId> kids(cut_.data() + step.cut_begin, cut_.size() - step.cut_begin);
                    ast_.replace_children(step.node, kids);
                    support::truncate(cut_, step.cut_begin);
                    break;
                }
                case Step::ReattachSlot: support::replace_in_slot_and_free(ast_, step.placeholder, step.node); break;
            }
        }
    }

    // The list step alone: the runs of a Root or Group's own children.
    void merge_runs(NodeId id, const Node& node) {
        const bool text = node.is<Node::Root>() ? std::get<Node::Root>(node.value).mode == ContentMode::Text
                                                : std::get<Node::Group>(node.value).mode == ContentMode::Text;
        const std::span<const NodeId> children = node.child_list()->span();
        if (text) {
            if (has_text_to_normalize(children) || (node.is<Node::Group>() && ends_on_lone_spacing(ast_, children)))
                merge_text_runs(id);
        } else {
            if (has_prime_run(children)) merge_prime_runs(id);
        }
    }

private:
    void visit(NodeId id, std::uint32_t depth) {
        const Node& node = ast_.node(id);
        switch (node.kind()) {
            case NodeKind::Root:
            case NodeKind::Group: merge_runs(id, node); break;
            case NodeKind::Command:
            case NodeKind::Infix:
            case NodeKind::Declarative:
            case NodeKind::Environment: normalize_text_arguments(id, node); break;
            default: break;
        }
        descend(id, depth);
    }

    // Schedules the children that have anything below them. At the re-root
    // depth the children are first taken out and put back afterwards.
    void descend(NodeId id, std::uint32_t depth) {
        const Node& node = ast_.node(id);
        if (depth + 1 < support::kRerootDepth) {
            // Pushed in order and turned around: the first child is visited first.
            const std::size_t mark = steps_.size();
            syntax::for_each_edge(node, [&](NodeId child, Slot) {
                if (!is_leaf(ast_.node(child))) steps_.push_back({Step::Visit, child, depth + 1, {}, 0});
            });
            std::reverse(steps_.begin() + static_cast<std::ptrdiff_t>(mark), steps_.end());
            return;
        }
        kids_.clear();
        syntax::for_each_edge(node, [&](NodeId child, Slot) { kids_.push_back(child); });
        if (kids_.empty()) return;
        const bool reroot = depth + 1 >= support::kRerootDepth;
        const std::uint32_t child_depth = reroot ? 0 : depth + 1;
        if (reroot && node.child_list() != nullptr) {
            const std::size_t begin = cut_.size();
            cut_.insert(cut_.end(), kids_.begin(), kids_.end());
            ast_.replace_children(id, {});
            steps_.push_back({Step::ReattachList, id, 0, {}, begin});
            push_visits(child_depth);
            return;
        }
        if (reroot) {
            for (std::size_t i = kids_.size(); i-- > 0;) {
                const NodeId child = kids_[i];
                if (is_leaf(ast_.node(child))) continue;
                const NodeId placeholder = support::new_placeholder(ast_, ContentMode::Math);
                ast_.replace_content_child(child, placeholder);
                steps_.push_back({Step::ReattachSlot, child, 0, placeholder, 0});
                steps_.push_back({Step::Visit, child, child_depth, {}, 0});
            }
            return;
        }
        push_visits(child_depth);
    }

    void push_visits(std::uint32_t depth) {
        for (std::size_t i = kids_.size(); i-- > 0;) {
            if (!is_leaf(ast_.node(kids_[i]))) steps_.push_back({Step::Visit, kids_[i], depth, {}, 0});
        }
    }

    // Copies the child list, which the edits below may move.
    void load_children(NodeId id) {
        const std::span<const NodeId> children = ast_.children(id);
        before_.assign(children.begin(), children.end());
    }

    // Sets the new list and frees the children that left it.
    void commit_children(NodeId id) {
        for (NodeId dropped : ast_.replace_children(id, after_)) ast_.remove_detached(dropped);
    }

    bool has_prime_run(std::span<const NodeId> children) const {
        bool previous = false;
        for (NodeId child : children) {
            const bool prime = ast_.node(child).is<Node::Prime>();
            if (prime && previous) return true;
            previous = prime;
        }
        return false;
    }

    // Whether some run of texts is not one text already in canonical form.
    bool has_text_to_normalize(std::span<const NodeId> children) const {
        bool previous = false;
        for (std::size_t i = 0; i < children.size(); ++i) {
            const auto* text = ast_.node(children[i]).get_if<Node::Text>();
            if (text != nullptr && (previous || text->value.empty() || needs_respacing(text->value))) return true;
            if (text != nullptr && i > 0 && takes_name_end(ast_.node(children[i - 1]), text->value)) return true;
            previous = text != nullptr;
        }
        return false;
    }

    // Callers check `has_prime_run` first.
    void merge_prime_runs(NodeId id) {
        load_children(id);
        after_.clear();
        bool merged = false;
        for (std::size_t i = 0; i < before_.size();) {
            const auto* prime = ast_.node(before_[i]).get_if<Node::Prime>();
            std::size_t end = i + 1;
            if (prime != nullptr) {
                std::uint64_t count = prime->count;
                while (end < before_.size()) {
                    const auto* next = ast_.node(before_[end]).get_if<Node::Prime>();
                    if (next == nullptr) break;
                    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - count;
                    count += next->count < room ? next->count : room;
                    ++end;
                }
                if (end - i >= 2) {
                    after_.push_back(ast_.new_node(Node::Prime{count}));
                    recorder_.count(ReportCounter::PrimeRunMerges);
                    merged = true;
                    i = end;
                    continue;
                }
            }
            after_.push_back(before_[i]);
            i = end;
        }
        if (merged) commit_children(id);
    }

    // Callers check `has_text_to_normalize` first.
    void merge_text_runs(NodeId id) {
        load_children(id);
        after_.clear();
        bool changed = false;
        for (std::size_t i = 0; i < before_.size();) {
            const auto* first = ast_.node(before_[i]).get_if<Node::Text>();
            if (first == nullptr) {
                after_.push_back(before_[i++]);
                continue;
            }
            std::size_t end = i + 1;
            while (end < before_.size() && ast_.node(before_[end]).is<Node::Text>()) ++end;
            std::string normalized;
            const bool name_end = i > 0 && takes_name_end(ast_.node(before_[i - 1]), first->value);
            if (end - i == 1) {
                normalized = normalize_whitespace(first->value);
                if (name_end) normalized.insert(0, 1, ' ');
                if (!normalized.empty() && normalized == first->value) {
                    after_.push_back(before_[i++]);
                    continue;
                }
            } else {
                joined_.clear();
                for (std::size_t k = i; k < end; ++k) joined_ += ast_.node(before_[k]).get_if<Node::Text>()->value;
                normalized = normalize_whitespace(joined_);
                if (name_end) normalized.insert(0, 1, ' ');
            }
            if (!normalized.empty()) after_.push_back(ast_.new_node(Node::Text{std::move(normalized)}));
            recorder_.count(ReportCounter::TextNormalizations);
            changed = true;
            i = end;
        }
        // Spacing alone between an item and the closing brace reads back as
        // nothing; the space it renders is a control space.
        if (ast_.node(id).is<Node::Group>() && ends_on_lone_spacing(ast_, after_)) {
            const NodeId space = after_.back();
            after_.back() = ast_.new_node(Node::Command{" ", {}, true});
            // A text made above is no child yet: freed here, not by the commit.
            if (before_.empty() || before_.back() != space) ast_.remove_detached(space);
            recorder_.count(ReportCounter::TextNormalizations);
            changed = true;
        }
        if (changed) commit_children(id);
    }

    // A `Text` node standing directly in a text argument gets the canonical
    // spacing in place; an empty one becomes an empty text group.
    void normalize_text_arguments(NodeId id, const Node& node) {
        const syntax::ast::ArgumentSlots* args = node.args();
        const std::size_t count = args->size();
        for (std::size_t i = 0; i < count; ++i) {
            // Read anew each time: a replacement below stores into the arena.
            if (i > 0) args = ast_.node(id).args();
            const auto& slot = (*args)[i];
            if (!slot) continue;
            const auto* content = std::get_if<syntax::ast::ArgumentValue::TextContent>(&slot->value.value);
            if (content == nullptr) continue;
            const NodeId text_id = content->node;
            const auto* text = ast_.node(text_id).get_if<Node::Text>();
            if (text == nullptr || !(text->value.empty() || needs_respacing(text->value))) continue;
            std::string normalized = normalize_whitespace(text->value);
            if (normalized.empty()) {
                ast_.replace_node(text_id, Node::Group{{}, syntax::ast::GroupKind::Implicit{}, ContentMode::Text});
            } else if (normalized != text->value) {
                ast_.replace_node(text_id, Node::Text{std::move(normalized)});
            } else {
                continue;
            }
            recorder_.count(ReportCounter::TextNormalizations);
        }
    }

    // Declared first: the work-list references below bind into it.
    support::KeptBuffers<Buffers> kept_;
    Ast& ast_;
    ReportRecorder& recorder_;
    std::vector<Step>& steps_;
    std::vector<NodeId>& cut_;
    std::vector<NodeId>& kids_;
    std::vector<NodeId>& before_;
    std::vector<NodeId>& after_;
    std::string& joined_;
};

// Whether some live node of the arena, detached ones included, may have a
// run to merge or a text to respace: a prime or a text followed by one of
// its kind, a text that is empty or not canonically spaced, or spacing
// alone at the end of a group after an item.
bool holds_anything_to_finalize(const Ast& ast) {
    return ast.any_node([&](NodeId id, const Node& node) {
        const auto* text = node.get_if<Node::Text>();
        if (text == nullptr && !node.is<Node::Prime>()) return false;
        if (text != nullptr && (text->value.empty() || needs_respacing(text->value))) return true;
        const syntax::ParentLink* link = ast.parent_link(id);
        if (link == nullptr || !link->slot.is_group_child()) return false;
        const std::span<const NodeId> siblings = ast.children(link->parent);
        const std::size_t next = link->slot.index() + 1;
        if (text != nullptr && ast.node(link->parent).is<Node::Group>() && ends_on_lone_spacing(ast, siblings))
            return true;
        if (text != nullptr && link->slot.index() > 0 &&
            takes_name_end(ast.node(siblings[link->slot.index() - 1]), text->value))
            return true;
        return next < siblings.size() && ast.node(siblings[next]).kind() == node.kind();
    });
}

}  // namespace

std::string normalize_whitespace(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool in_run = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t width = 0;
        if (is_spacing_byte(c)) {
            width = 1;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xA0) {
            width = 2;  // U+00A0
        }
        if (width == 0) {
            out.push_back(text[i++]);
            in_run = false;
            continue;
        }
        if (!in_run) out.push_back(' ');
        in_run = true;
        i += width;
    }
    return out;
}

void finalize_ast(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder) {
    util::work_count += ast.node_count();  // the walk, counted at once
    util::check_work();
    // Without anything to change, the walk would only re-root, which a tree
    // of so few nodes is too shallow for.
    if (ast.node_count() <= support::kRerootDepth && !holds_anything_to_finalize(ast)) return;
    Finalizer(ast, recorder).run(root);
}

void finalize_lists(syntax::Ast& ast, std::span<const syntax::ast::NodeId> lists, ReportRecorder& recorder) {
    if (lists.empty()) return;
    Finalizer finalizer(ast, recorder);
    for (const NodeId id : lists) {
        const Node* node = ast.node_opt(id);
        if (node != nullptr && node->child_list() != nullptr) finalizer.merge_runs(id, *node);
    }
}

}  // namespace quorvel::transform::passes
