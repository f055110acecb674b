// The nestings of the sweep (tests/cpp/parse_nesting_sweep_test.cpp): every
// built-in command argument (mandatory, optional, math and text) and every
// environment body, nested with each opener that can fail and with itself,
// with a fault at the bottom, at every level, or nowhere, or with the layer
// left open at every level around the opener, which closes, or inside it,
// each under one of four configurations in turn. Shared by the sweep and by the tool that
// writes them out as fuzzer seeds (bench/sweep_nestings.cpp), so that both
// draw the same nestings.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "knowledge/packages.hpp"
#include "parse/config.hpp"
#include "parse/context.hpp"

namespace quorvel::parse::sweep {

using knowledge::ArgFormKind;
using knowledge::ArgValueKind;
using knowledge::DelimiterToken;
using syntax::ContentMode;

enum class Where : std::uint8_t { Math, Text, Any };

// One level of nesting: what opens it, what closes it, where it may stand and
// what it holds.
struct Layer {
    std::string name;
    std::string open;
    std::string close;
    Where outer = Where::Math;
    Where inner = Where::Math;
};

inline std::string delimiter_text(const DelimiterToken& t) {
    if (t.kind == DelimiterToken::Kind::ControlSeq) return "\\" + std::string(t.name);
    std::string out;
    if (t.ch < 0x80) out.push_back(static_cast<char>(t.ch));
    return out;
}

inline std::string filler(ArgValueKind kind) {
    switch (kind) {
        case ArgValueKind::OperatorName: return "op";
        case ArgValueKind::Delimiter: return "(";
        case ArgValueKind::CsName: return "x";
        case ArgValueKind::Dimension: return "1pt";
        case ArgValueKind::Integer: return "1";
        case ArgValueKind::KeyVal: return "k=v";
        case ArgValueKind::Column: return "c";
        default: return "a";
    }
}

// How a slot opens and closes; none for a slot the sweep cannot write.
inline std::optional<std::pair<std::string, std::string>> slot_brackets(const knowledge::ArgSpec& spec) {
    switch (spec.form.kind) {
        // A standard slot is `{...}` when required, `[...]` when optional.
        case ArgFormKind::Standard:
            return spec.required ? std::pair<std::string, std::string>{"{", "}"}
                                 : std::pair<std::string, std::string>{"[", "]"};
        case ArgFormKind::Group: return std::pair<std::string, std::string>{"{", "}"};
        case ArgFormKind::Delimited: {
            auto open = delimiter_text(spec.form.open);
            auto close = delimiter_text(spec.form.close);
            if (open.empty() || close.empty()) return std::nullopt;
            return std::pair{open, close};
        }
        case ArgFormKind::Paired: {
            if (spec.form.pairs.empty()) return std::nullopt;
            auto open = delimiter_text(spec.form.pairs[0].open);
            auto close = delimiter_text(spec.form.pairs[0].close);
            if (open.empty() || close.empty()) return std::nullopt;
            return std::pair{open, close};
        }
        case ArgFormKind::Star: return std::nullopt;
    }
    return std::nullopt;
}

inline Where where(knowledge::AllowedMode mode) {
    switch (mode) {
        case knowledge::AllowedMode::Math: return Where::Math;
        case knowledge::AllowedMode::Text: return Where::Text;
        case knowledge::AllowedMode::Both: return Where::Any;
    }
    return Where::Any;
}

// The layers of one command: one per kind of content slot (mandatory or
// optional, math or text), the other slots filled in.
inline void command_layers(const knowledge::BuiltinCommandSpec& c, std::vector<Layer>& out) {
    if (c.kind != knowledge::CommandKind::Prefix) return;
    bool seen[2][2] = {};
    for (std::size_t s = 0; s < c.args.size(); ++s) {
        const auto& spec = c.args[s];
        if (spec.kind != ArgValueKind::MathContent && spec.kind != ArgValueKind::TextContent) continue;
        const bool text = spec.kind == ArgValueKind::TextContent;
        if (seen[spec.required][text]) continue;
        const auto brackets = slot_brackets(spec);
        if (!brackets) continue;
        seen[spec.required][text] = true;
        Layer layer;
        layer.name = "\\" + std::string(c.name) + "#" + std::to_string(s);
        layer.open = "\\" + std::string(c.name);
        for (std::size_t i = 0; i < c.args.size(); ++i) {
            const auto& other = c.args[i];
            if (i == s) {
                layer.open += brackets->first;
                continue;
            }
            if (!other.required) continue;
            const auto b = slot_brackets(other);
            if (!b) continue;
            (i < s ? layer.open : layer.close) += b->first + filler(other.kind) + b->second;
        }
        layer.close = brackets->second + layer.close;
        layer.outer = where(c.allowed_mode);
        layer.inner = text ? Where::Text : Where::Math;
        out.push_back(std::move(layer));
    }
}

inline void environment_layer(const knowledge::BuiltinEnvironmentSpec& e, std::vector<Layer>& out) {
    Layer layer;
    layer.name = "env:" + std::string(e.name);
    layer.open = "\\begin{" + std::string(e.name) + "}";
    for (const auto& spec : e.args) {
        if (!spec.required) continue;
        const auto b = slot_brackets(spec);
        if (!b) return;
        layer.open += b->first + filler(spec.kind) + b->second;
    }
    layer.close = "\\end{" + std::string(e.name) + "}";
    layer.outer = where(e.allowed_mode);
    layer.inner = e.body_mode == ContentMode::Text ? Where::Text : Where::Math;
    out.push_back(std::move(layer));
}

inline std::vector<Layer> all_layers() {
    std::vector<Layer> out;
    for (const knowledge::BuiltinPackage* p : knowledge::ALL_PACKAGES) {
        for (const auto* c : p->commands) command_layers(*c, out);
        for (const auto* e : p->environments) environment_layer(*e, out);
    }
    return out;
}

// The openers that can fail.
inline const std::vector<Layer>& openers() {
    static const std::vector<Layer> list = {
        {"\\(", "\\(", "\\)", Where::Text, Where::Math},
        {"$", "$", "$", Where::Text, Where::Math},
        {"\\[", "\\[", "\\]", Where::Text, Where::Math},
        {"{", "{", "}", Where::Any, Where::Any},
        {"\\left(", "\\left(", "\\right)", Where::Math, Where::Math},
        {"\\begin", "\\begin{matrix}", "\\end{matrix}", Where::Math, Where::Math},
        {"^", "x^{", "}", Where::Math, Where::Math},
        {"_", "x_{", "}", Where::Math, Where::Math},
        {"&", "a&", "", Where::Math, Where::Math},
        {"\\\\", "a\\\\", "", Where::Math, Where::Math},
    };
    return list;
}

// Where the levels go wrong: nowhere; at the bottom; the opener left open at
// every level; the layer left open at every level, around the opener, which
// closes (`\begin{matrix}\left(`^n z `\right)`^n), or inside it
// (`\left(\begin{aligned}`^n z `\right)`^n). With itself, the layer is left
// open around a copy of itself that closes.
enum class Fault : std::uint8_t { Nowhere, Bottom, EveryLevel, OpenAroundOpener, OpenInsideOpener };
inline constexpr std::size_t kFaults = 5;
inline constexpr std::array<std::string_view, 7> kBottomFaults = {"}", "$", "\\right)", "\\end{x}", "^", "#", "&"};

struct Sweep {
    const Layer* a;
    const Layer* b;  // the opener, or `a` itself
    Fault fault;
    int config;
};

// The mode inside `l` when it stands in `mode`.
inline Where inside(const Layer& l, Where mode) { return l.inner == Where::Any ? mode : l.inner; }

// Writes `inner` into a content of mode `from` that must be of mode `to`.
inline void bridge(Where from, Where to, std::string& open, std::string& close) {
    if (from == to || to == Where::Any || from == Where::Any) return;
    if (to == Where::Text) {
        open += "\\text{";
        close.insert(0, "}");
    } else {
        open += "\\(";
        close.insert(0, "\\)");
    }
}

// One level of the nesting, standing in math, and the mode it holds.
inline std::pair<std::string, std::string> level(const Sweep& s) {
    std::string open;
    std::string close;
    Where mode = Where::Math;
    // The two layers, outer first, and whether each is left open.
    std::pair<const Layer*, bool> parts[2] = {{s.a, false}, {s.b, s.fault == Fault::EveryLevel}};
    if (s.fault == Fault::OpenAroundOpener) parts[0].second = true;
    if (s.fault == Fault::OpenInsideOpener) parts[0] = {s.b, false}, parts[1] = {s.a, true};
    // With itself, one layer, but for the layer left open around a copy.
    const bool once = s.a == s.b && s.fault != Fault::OpenAroundOpener;
    for (const auto& [l, left_open] : std::span(parts).subspan(once ? 1 : 0)) {
        bridge(mode, l->outer, open, close);
        const Where into = l->outer == Where::Any ? mode : l->outer;
        std::string lclose = l->close;
        if (left_open) {
            // Left unclosed, or, an opener without a closing, a stray brace
            // per level.
            lclose = lclose.empty() ? "}" : "";
        }
        open += l->open;
        close.insert(0, lclose);
        mode = inside(*l, into);
    }
    // Back to math for the next level.
    bridge(mode, Where::Math, open, close);
    return {open, close};
}

// `open` n times, `middle`, then `close` n times.
inline std::string nest(std::string_view open, std::string_view middle, std::string_view close, std::size_t n) {
    std::string out;
    out.reserve((open.size() + close.size()) * n + middle.size());
    for (std::size_t i = 0; i < n; ++i) out += open;
    out += middle;
    for (std::size_t i = 0; i < n; ++i) out += close;
    return out;
}

inline std::string build(const Sweep& s, std::size_t n, std::size_t index) {
    const auto [open, close] = level(s);
    std::string middle = "z";
    if (s.fault == Fault::Bottom) middle += kBottomFaults[index % kBottomFaults.size()];
    return nest(open, middle, close, n);
}

inline ParseConfig config_of(int c) {
    ParseConfig config;
    if (c == 1) config.abort_on_error = true;
    if (c == 2) config.reject_unknown = true;
    if (c == 3) config.max_group_depth = 4096;
    return config;
}
inline constexpr const char* kConfigNames[4] = {"default", "abort_on_error", "reject_unknown", "max_group_depth=4096"};

inline const ParseContext& all_packages() {
    static const std::shared_ptr<const ParseContext> context = [] {
        std::vector<std::string> names;
        for (const knowledge::BuiltinPackage* p : knowledge::ALL_PACKAGES) names.emplace_back(p->name);
        return ParseContextBuilder().packages(names).build().value();
    }();
    return *context;
}

inline std::vector<Sweep> sweeps(const std::vector<Layer>& layers) {
    std::vector<Sweep> out;
    const auto& ops = openers();
    std::size_t k = 0;
    // The layers left open come after the rest, which keep their indices.
    for (const auto& faults : {std::vector{Fault::Nowhere, Fault::Bottom, Fault::EveryLevel},
                               std::vector{Fault::OpenAroundOpener, Fault::OpenInsideOpener}}) {
        for (const Layer& a : layers) {
            for (std::size_t b = 0; b <= ops.size(); ++b) {
                for (Fault f : faults) {
                    // With itself, both orders are one nesting.
                    if (b == ops.size() && f == Fault::OpenInsideOpener) continue;
                    // One configuration per nesting, in turn: every
                    // configuration meets every opener and fault over the
                    // layers.
                    out.push_back(Sweep{&a, b < ops.size() ? &ops[b] : &a, f, static_cast<int>(k++ % 4)});
                }
            }
        }
    }
    return out;
}

inline std::string describe(const Sweep& s, std::size_t index) {
    static constexpr const char* faults[] = {"no fault", "fault at the bottom", "fault at every level",
                                             "left open around it", "left open inside it"};
    return s.a->name + " with " + (s.a == s.b ? std::string("itself") : s.b->name) + ", " +
           faults[static_cast<int>(s.fault)] + ", " + kConfigNames[s.config] + ": " + build(s, 2, index);
}

}  // namespace quorvel::parse::sweep
