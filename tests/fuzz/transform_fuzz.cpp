// libFuzzer target: any document the parser makes normalises at each profile
// without a crash or a hang (a rule error or a contract violation is a clean
// failure), what the rules build stays within the build limit, the work
// counted (util/work_count.hpp) stays within twice the work bound of a tree
// of as many nodes as the input has bytes, and a normalised tree is written
// back and parsed again. The node
// spans that a transform leaves lie inside the source and never end before
// they start (a tree too deep for their path text may refuse them, as
// documented). For valid input (it parses without a diagnostic) the
// normalised text parses without a diagnostic too, reads back as the tree it
// was written from (each character in the same command or environment slot,
// groups, primes and scripts aside: tests/cpp/tree_shape.hpp) and normalises
// to itself.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "../cpp/malformed_invariants.hpp"
#include "../cpp/tree_shape.hpp"
#include "facade/transform_engine.hpp"
#include "parse/context.hpp"
#include "parse/parse.hpp"
#include "transform/context.hpp"
#include "transform/engine.hpp"
#include "transform/scheduler.hpp"
#include "util/work_count.hpp"

namespace {

using namespace quorvel;

const parse::ParseContext& fuzz_context() {
    static const std::shared_ptr<const parse::ParseContext> context = [] {
        parse::ParseContextBuilder builder;
        builder.packages({"base", "ams", "physics", "textmacros", "bboldx", "boldsymbol"});
        return builder.build().value();
    }();
    return *context;
}

constexpr std::array<const char*, 4> PROFILE_NAMES{"authoring", "faithful", "corpus", "equiv"};

// One engine per profile, built as the facade builds its profiles.
const std::array<transform::TransformContext, 4>& engines() {
    static const std::array<transform::TransformContext, 4> built = [] {
        auto make = [](facade::EngineProfile profile) {
            return transform::TransformContext::from_build_config(facade::profile_defaults(profile), fuzz_context())
                .value();
        };
        return std::array<transform::TransformContext, 4>{
            make(facade::EngineProfile::Authoring), make(facade::EngineProfile::Faithful),
            make(facade::EngineProfile::Corpus), make(facade::EngineProfile::Equiv)};
    }();
    return built;
}

// What the arena holds, by the measure of its build limit.
std::size_t arena_bytes(const syntax::Ast& ast) {
    std::size_t bytes = 0;
    ast.for_each_node([&](syntax::ast::NodeId, const syntax::ast::Node& node) { bytes += syntax::Ast::footprint(node); });
    return bytes;
}

// With QUORVEL_FUZZ_KEEP_GOING set, a valid input whose normalised text does
// not read back clean or does not settle is reported on stderr, the first
// thousand of them, and the run goes on: a known fault would otherwise stop
// every run at once.
bool keep_going() {
    static const bool set = std::getenv("QUORVEL_FUZZ_KEEP_GOING") != nullptr;
    return set;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            out += c;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

void fail(const char* what, std::size_t profile, std::string_view source, std::string_view output,
          std::string_view again) {
    static int reported = 0;
    if (++reported <= 1000 || !keep_going())
        std::fprintf(stderr, "UNSETTLED %s at %s: %s -> %s -> %s\n", what, PROFILE_NAMES[profile],
                     escaped(source).c_str(), escaped(output).c_str(), escaped(again).c_str());
    if (!keep_going()) std::abort();
}

// Normalises `text` with `engine` as the facade does; none when it does not
// parse into a document or a rule fails. Checks the bounds on the way.
struct Normalised {
    bool clean = false;  // parsed without a diagnostic
    std::optional<std::string> text;
    std::string read_shape;  // of the tree as parsed
    std::string shape;       // of the tree as normalised
    std::string first_diagnostic;
};

Normalised normalise(const transform::TransformContext& engine, std::string_view text) {
    Normalised result;
    auto outcome = parse::parse_source(fuzz_context(), text, parse::ParseConfig{});
    result.clean = outcome.diagnostics.empty();
    if (!result.clean) result.first_diagnostic = outcome.diagnostics.front().message;
    if (!outcome.document || outcome.document->read_only()) return result;
    syntax::Ast& ast = outcome.document->ast_mut();
    if (result.clean) result.read_shape = testing::tree_shape(ast);
    const std::size_t before = arena_bytes(ast);
    const std::uint64_t work = util::work_count;
    const bool ran = static_cast<bool>(engine.run_with(ast, fuzz_context(), engine.options));
    // The bound stops a run at its first check past it; between two checks
    // no step does more than a walk of the tree or a copy of it.
    if (util::work_count - work > 2 * transform::engine::work_allowance(text.size() + 16)) {
        std::fprintf(stderr, "WORK %llu units for %zu bytes\n",
                     static_cast<unsigned long long>(util::work_count - work), text.size());
        std::abort();
    }
    if (!invariants::spans_in_range(text, outcome)) std::abort();
    // What the rules built is bounded by the limit; the passes around
    // them change the tree by a few nodes per node at most.
    if (arena_bytes(ast) >
        4 * (before * (transform::scheduler::kBuildMultiple + 1) + transform::scheduler::kBuildConstant))
        std::abort();
    if (!ran) return result;
    if (result.clean) result.shape = testing::tree_shape(ast);
    if (auto latex = outcome.document->to_latex()) result.text = std::move(*latex);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    for (std::size_t p = 0; p < engines().size(); ++p) {
        const Normalised first = normalise(engines()[p], source);
        if (!first.text) continue;
        const Normalised second = normalise(engines()[p], *first.text);
        if (!first.clean) continue;
        if (!second.clean) fail("diagnostic", p, source, *first.text, second.first_diagnostic);
        else if (second.read_shape != first.shape) fail("another tree", p, source, *first.text, first.shape + " | " + second.read_shape);
        else if (second.text != first.text) fail("not settled", p, source, *first.text, second.text.value_or("(fails)"));
    }
    return 0;
}
