// A systematic sweep of nestings: every built-in command argument (mandatory,
// optional, math and text) and every environment body, nested with each
// opener that can fail and with itself, with a fault at the bottom, at every
// level, or nowhere. Each nesting is parsed at n and 8n levels under four
// configurations; the work the parse burns, and for a sample the CPU time
// and peak memory in a child process, may grow at most 12 times.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu_clock.hpp"
#include "knowledge/packages.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse_digest.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using knowledge::ArgFormKind;
using knowledge::ArgValueKind;
using knowledge::DelimiterToken;
using syntax::ContentMode;
using testing::repeat;

// ---- The pieces -----------------------------------------------------------------

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

std::string delimiter_text(const DelimiterToken& t) {
    if (t.kind == DelimiterToken::Kind::ControlSeq) return "\\" + std::string(t.name);
    std::string out;
    if (t.ch < 0x80) out.push_back(static_cast<char>(t.ch));
    return out;
}

std::string filler(ArgValueKind kind) {
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
std::optional<std::pair<std::string, std::string>> slot_brackets(const knowledge::ArgSpec& spec) {
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

Where where(knowledge::AllowedMode mode) {
    switch (mode) {
        case knowledge::AllowedMode::Math: return Where::Math;
        case knowledge::AllowedMode::Text: return Where::Text;
        case knowledge::AllowedMode::Both: return Where::Any;
    }
    return Where::Any;
}

// The layers of one command: one per kind of content slot (mandatory or
// optional, math or text), the other slots filled in.
void command_layers(const knowledge::BuiltinCommandSpec& c, std::vector<Layer>& out) {
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

void environment_layer(const knowledge::BuiltinEnvironmentSpec& e, std::vector<Layer>& out) {
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

std::vector<Layer> all_layers() {
    std::vector<Layer> out;
    for (const knowledge::BuiltinPackage* p : knowledge::ALL_PACKAGES) {
        for (const auto* c : p->commands) command_layers(*c, out);
        for (const auto* e : p->environments) environment_layer(*e, out);
    }
    return out;
}

// The openers that can fail.
const std::vector<Layer>& openers() {
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

enum class Fault : std::uint8_t { Nowhere, Bottom, EveryLevel };
constexpr std::array<std::string_view, 7> kBottomFaults = {"}", "$", "\\right)", "\\end{x}", "^", "#", "&"};

struct Sweep {
    const Layer* a;
    const Layer* b;  // the opener, or `a` itself
    Fault fault;
    int config;
};

// The mode inside `l` when it stands in `mode`.
Where inside(const Layer& l, Where mode) { return l.inner == Where::Any ? mode : l.inner; }

// Writes `inner` into a content of mode `from` that must be of mode `to`.
void bridge(Where from, Where to, std::string& open, std::string& close) {
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
std::pair<std::string, std::string> level(const Sweep& s) {
    std::string open;
    std::string close;
    Where mode = Where::Math;
    for (const Layer* l : {s.a, s.b}) {
        bridge(mode, l->outer, open, close);
        const Where into = l->outer == Where::Any ? mode : l->outer;
        std::string lclose = l->close;
        if (s.fault == Fault::EveryLevel && l == s.b) {
            // Left unclosed, or, without a closing, a stray brace per level.
            lclose = lclose.empty() ? "}" : "";
        }
        open += l->open;
        close.insert(0, lclose);
        mode = inside(*l, into);
        if (s.a == s.b) break;
    }
    // Back to math for the next level.
    bridge(mode, Where::Math, open, close);
    return {open, close};
}

std::string build(const Sweep& s, std::size_t n, std::size_t index) {
    const auto [open, close] = level(s);
    std::string middle = "z";
    if (s.fault == Fault::Bottom) middle += kBottomFaults[index % kBottomFaults.size()];
    return repeat(open, n) + middle + repeat(close, n);
}

ParseConfig config_of(int c) {
    ParseConfig config;
    if (c == 1) config.abort_on_error = true;
    if (c == 2) config.reject_unknown = true;
    if (c == 3) config.max_group_depth = 4096;
    return config;
}
constexpr const char* kConfigNames[4] = {"default", "abort_on_error", "reject_unknown", "max_group_depth=4096"};

const ParseContext& all_packages() {
    static const std::shared_ptr<const ParseContext> context = [] {
        std::vector<std::string> names;
        for (const knowledge::BuiltinPackage* p : knowledge::ALL_PACKAGES) names.emplace_back(p->name);
        return ParseContextBuilder().packages(names).build().value();
    }();
    return *context;
}

std::vector<Sweep> sweeps(const std::vector<Layer>& layers) {
    std::vector<Sweep> out;
    const auto& ops = openers();
    std::size_t k = 0;
    for (const Layer& a : layers) {
        for (std::size_t b = 0; b <= ops.size(); ++b) {
            for (Fault f : {Fault::Nowhere, Fault::Bottom, Fault::EveryLevel}) {
                // One configuration per nesting, in turn: every configuration
                // meets every opener and fault over the layers.
                out.push_back(Sweep{&a, b < ops.size() ? &ops[b] : &a, f, static_cast<int>(k++ % 4)});
            }
        }
    }
    return out;
}

std::string describe(const Sweep& s, std::size_t index) {
    static constexpr const char* faults[] = {"no fault", "fault at the bottom", "fault at every level"};
    return s.a->name + " with " + (s.a == s.b ? std::string("itself") : s.b->name) + ", " +
           faults[static_cast<int>(s.fault)] + ", " + kConfigNames[s.config] + ": " + build(s, 2, index);
}

// The nestings whose work grows faster than their length today, one
// description a line: bounded by the recovery budget and the parse's work
// bound until their reading is made linear. The list only shrinks: a
// nesting not on it that grows, and one on it that no longer does, both fail.
std::vector<std::string> known_superlinear() {
    std::ifstream in(QUORVEL_TEST_DATA_DIR "/nesting_sweep_superlinear.txt");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// ---- Work, in forked workers -----------------------------------------------------

// Large enough that the fixed floors of the recovery budgets do not read as
// growth; an exponential family reaches the parse's work bound at the
// larger size, so every parse ends quickly.
constexpr std::size_t kLevels = 16;
constexpr int kWorkers = 8;
constexpr rlim_t kWorkerCpuSeconds = 600;

// QUORVEL_SWEEP_DIGEST=path has each worker write, to path.<worker>, a line
// per nesting: its index and the digests of its parses at both sizes, for
// comparing the results of two builds.
std::FILE* digest_file(int worker) {
    const char* path = std::getenv("QUORVEL_SWEEP_DIGEST");
    return path == nullptr ? nullptr : std::fopen((std::string(path) + "." + std::to_string(worker)).c_str(), "w");
}

// The work units of the parse of `source`, and the digest of its result.
std::size_t work_of(const std::string& source, const ParseConfig& config, std::uint64_t& digest) {
    digest = quorvel::testing::parse_digest(parse_source(all_packages(), source, config));
    return grammar::detail::last_parse_fuel.used;
}

// The nestings whose work grows more than 12 times from n to 8n levels, by
// index; checked by `kWorkers` children, each over every kWorkers-th nesting.
std::vector<std::size_t> superlinear_work(const std::vector<Sweep>& all, const std::vector<std::size_t>& index_of) {
    std::vector<std::size_t> found;
    std::vector<std::pair<pid_t, int>> children;
    std::fflush(nullptr);
    for (int w = 0; w < kWorkers; ++w) {
        int fds[2];
        if (pipe(fds) != 0) return {static_cast<std::size_t>(-1)};
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const rlimit cpu{kWorkerCpuSeconds, kWorkerCpuSeconds};
            setrlimit(RLIMIT_CPU, &cpu);
            std::FILE* digests = digest_file(w);
            for (std::size_t i = w; i < all.size(); i += kWorkers) {
                const ParseConfig config = config_of(all[i].config);
                std::uint64_t d[2];
                const std::size_t small = work_of(build(all[i], kLevels, index_of[i]), config, d[0]);
                const std::size_t large = work_of(build(all[i], 8 * kLevels, index_of[i]), config, d[1]);
                if (digests != nullptr) {
                    std::fprintf(digests, "%zu %016llx %016llx\n", index_of[i], static_cast<unsigned long long>(d[0]),
                                 static_cast<unsigned long long>(d[1]));
                }
                if (large > 12 * small) {
                    if (write(fds[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(1);
                }
            }
            if (digests != nullptr) std::fclose(digests);
            _exit(0);
        }
        close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    bool complete = true;
    for (const auto& [pid, fd] : children) {
        std::size_t i = 0;
        while (read(fd, &i, sizeof i) == static_cast<ssize_t>(sizeof i)) found.push_back(i);
        close(fd);
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            complete = false;
        }
    }
    if (!complete) found.push_back(static_cast<std::size_t>(-1));
    std::sort(found.begin(), found.end());
    return found;
}

TEST(NestingSweep, LayersCoverEveryArgumentForm) {
    const std::vector<Layer> layers = all_layers();
    std::size_t text = 0, optional = 0, environments = 0;
    for (const Layer& l : layers) {
        text += l.inner == Where::Text;
        optional += l.open.ends_with("[");
        environments += l.name.starts_with("env:");
    }
    EXPECT_GT(layers.size(), 100u);
    EXPECT_GT(text, 5u);
    EXPECT_GT(optional, 2u);
    EXPECT_GT(environments, 10u);
    // The family no random nesting ever drew is among them.
    const Sweep bold{&*std::find_if(layers.begin(), layers.end(), [](const Layer& l) { return l.name == "\\textbf#0"; }),
                     &openers()[0], Fault::EveryLevel, 0};
    EXPECT_EQ(build(bold, 2, 0), "\\textbf{\\(\\textbf{\\(z}}");
}

// QUORVEL_SWEEP_MATCH=text checks only the nestings whose description holds
// `text`, and the listed ones among them.
bool matches(const std::string& description) {
    const char* only = std::getenv("QUORVEL_SWEEP_MATCH");
    return only == nullptr || description.find(only) != std::string::npos;
}

TEST(NestingSweep, WorkGrowsLinearly) {
    const std::vector<Layer> layers = all_layers();
    std::vector<Sweep> all = sweeps(layers);
    std::vector<Sweep> chosen;
    std::vector<std::size_t> index_of;  // the index in the whole sweep, which picks a bottom fault
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (matches(describe(all[i], i))) {
            chosen.push_back(all[i]);
            index_of.push_back(i);
        }
    }
    const std::vector<std::size_t> found = superlinear_work(chosen, index_of);
    ASSERT_TRUE(found.empty() || found.back() != static_cast<std::size_t>(-1)) << "a worker did not finish";
    std::vector<std::string> known = known_superlinear();
    ASSERT_FALSE(known.empty()) << "the list of known superlinear nestings was not found";
    std::erase_if(known, [](const std::string& d) { return !matches(d); });
    std::vector<std::string> grown;
    for (const std::size_t i : found) grown.push_back(describe(chosen[i], index_of[i]));
    // Nestings that differ only in a fault the description leaves out
    // describe alike.
    std::sort(grown.begin(), grown.end());
    grown.erase(std::unique(grown.begin(), grown.end()), grown.end());
    std::vector<std::string> unknown;
    std::set_difference(grown.begin(), grown.end(), known.begin(), known.end(), std::back_inserter(unknown));
    for (const std::string& d : unknown) ADD_FAILURE() << "work grows more than 12 times for 8 times the levels: " << d;
    std::vector<std::string> mended;
    std::set_difference(known.begin(), known.end(), grown.begin(), grown.end(), std::back_inserter(mended));
    for (const std::string& d : mended) ADD_FAILURE() << "listed as growing faster than its length, but linear: " << d;
    std::printf("[ sweep    ] %zu nestings, %zu known to grow faster than their length, bounded by the budgets\n",
                chosen.size(), known.size());
}

}  // namespace
}  // namespace quorvel::parse
