// libFuzzer target: any document the parser makes normalises at each profile
// without a crash or a hang (a rule error or a contract violation is a clean
// failure), what the rules build stays within the build limit, and a
// normalised tree is written back and parsed again. The node
// spans that a transform leaves lie inside the source and never end before
// they start (a tree too deep for their path text may refuse them, as
// documented).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "../cpp/malformed_invariants.hpp"
#include "parse/context.hpp"
#include "parse/parse.hpp"
#include "syntax/serializer.hpp"
#include "transform/context.hpp"
#include "transform/scheduler.hpp"

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

// One engine per profile: authoring, faithful, corpus, equiv.
const std::array<transform::TransformContext, 4>& engines() {
    static const std::array<transform::TransformContext, 4> built = [] {
        auto make = [](std::uint8_t mask) {
            transform::BuildConfig config{transform::RuleSelection::all(), transform::TransformOptions{}, mask};
            return transform::TransformContext::from_build_config(std::move(config), fuzz_context()).value();
        };
        return std::array<transform::TransformContext, 4>{make(1), make(3), make(7), make(15)};
    }();
    return built;
}

// What the arena holds, by the measure of its build limit.
std::size_t arena_bytes(const syntax::Ast& ast) {
    std::size_t bytes = 0;
    ast.for_each_node([&](syntax::ast::NodeId, const syntax::ast::Node& node) { bytes += syntax::Ast::footprint(node); });
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    for (const transform::TransformContext& engine : engines()) {
        auto outcome = parse::parse_source(fuzz_context(), source, parse::ParseConfig{});
        if (!outcome.document || outcome.document->read_only()) return 0;
        syntax::Ast& ast = outcome.document->ast_mut();
        const std::size_t before = arena_bytes(ast);
        const bool ran = static_cast<bool>(engine.run_with(ast, fuzz_context(), engine.options));
        if (!invariants::spans_in_range(source, outcome)) std::abort();
        // What the rules built is bounded by the limit; the passes around
        // them change the tree by a few nodes per node at most.
        if (arena_bytes(ast) > 4 * (before * (transform::scheduler::kBuildMultiple + 1) +
                                    transform::scheduler::kBuildConstant))
            std::abort();
        if (!ran) continue;
        auto latex = syntax::serialize::serialize_with(ast, syntax::SerializeOptions{});
        if (latex) parse::parse_source(fuzz_context(), *latex, parse::ParseConfig{});
    }
    return 0;
}
