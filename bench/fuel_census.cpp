// How far real input stays from the parse's work bound: parses every corpus
// formula and generated mistakes made from them under four configurations,
// and prints the most units a run burnt per token and the largest share of
// its tank.
//
//   fuel_census [mistakes per line]   (default 4)
//   fuel_census -                      (each line of stdin: units per token)
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "../tests/cpp/corpus_mistakes.hpp"
#include "facade/transform_engine.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse/parse.hpp"

int main(int argc, char** argv) {
    using namespace quorvel;
    const bool from_stdin = argc > 1 && std::string(argv[1]) == "-";
    const std::size_t per_line = argc > 1 && !from_stdin ? std::strtoul(argv[1], nullptr, 10) : 4;
    if (from_stdin) {
        facade::TransformEngineBuilder builder;
        builder.profile(facade::EngineProfile::Corpus);
        auto engine = builder.build();
        if (!engine) return 1;
        parse::ParseConfig configs[4];
        configs[1].reject_unknown = true;
        configs[2].abort_on_error = true;
        configs[3].max_group_depth = 100000;
        for (std::string line; std::getline(std::cin, line);) {
            std::printf("%zu bytes:", line.size());
            for (const auto& config : configs) {
                const auto out = parse::parse_source(engine->parser().context(), line, config);
                const auto r = parse::grammar::detail::last_parse_fuel;
                bool spent = false;
                for (const auto& d : out.diagnostics) spent = spent || d.message == "formula too complex to parse";
                std::printf(" %.1f%s", static_cast<double>(r.used) / static_cast<double>(r.tokens ? r.tokens : 1),
                            spent ? "!" : "");
            }
            std::printf("\n");
        }
        return 0;
    }
    const auto corpus = mistakes::read_corpus();
    if (!corpus) {
        std::fprintf(stderr, "corpus not found\n");
        return 1;
    }
    const std::vector<std::string> made = mistakes::corpus_mistakes(*corpus, per_line);
    facade::TransformEngineBuilder builder;
    builder.profile(facade::EngineProfile::Corpus);
    auto engine = builder.build();
    if (!engine) return 1;
    const auto& context = engine->parser().context();
    parse::ParseConfig configs[4];
    configs[1].reject_unknown = true;
    configs[2].abort_on_error = true;
    configs[3].max_group_depth = 2;
    const char* names[4] = {"default", "reject_unknown", "abort_on_error", "max_group_depth=2"};
    using Fuel = parse::grammar::Fuel;
    for (const auto* set : {&*corpus, &made}) {
        for (int c = 0; c < 4; ++c) {
            double per_token = 0, share = 0, long_per_token = 0;
            std::size_t most = 0;
            std::string worst_per_token, worst_share;
            for (const std::string& source : *set) {
                (void)parse::parse_source(context, source, configs[c]);
                const auto r = parse::grammar::detail::last_parse_fuel;
                if (r.tokens == 0) continue;
                const double pt = static_cast<double>(r.used) / static_cast<double>(r.tokens);
                const double sh = static_cast<double>(r.used) /
                                  static_cast<double>(Fuel::kUnitsPerToken * r.tokens + Fuel::kFloor);
                if (pt > per_token) per_token = pt, worst_per_token = source;
                if (r.tokens >= 256 && pt > long_per_token) long_per_token = pt;
                if (r.used > most) most = r.used;
                if (sh > share) share = sh, worst_share = source;
            }
            std::printf(
                "%s, %s: %zu inputs, at most %.1f units per token (%.1f from 256 tokens on), %zu units, "
                "%.5f of the bound\n",
                set == &*corpus ? "corpus" : "mistakes", names[c], set->size(), per_token, long_per_token, most,
                share);
            std::printf("  most per token: %.120s\n  largest share: %.120s\n", worst_per_token.c_str(),
                        worst_share.c_str());
        }
    }
}
