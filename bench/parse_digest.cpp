// A digest of every parse of the corpus and of generated mistakes made from
// it, under four configurations: one line per input and configuration, so
// that two builds can be compared with `diff` (documents, spans and
// diagnostics byte for byte).
//
//   parse_digest [mistakes per line]   (default 4)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/cpp/corpus_mistakes.hpp"
#include "../tests/cpp/parse_digest.hpp"
#include "facade/transform_engine.hpp"
#include "parse/parse.hpp"

int main(int argc, char** argv) {
    using namespace quorvel;
    const std::size_t per_line = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4;
    const auto lines = mistakes::read_corpus();
    if (!lines) {
        std::fprintf(stderr, "corpus not found under %s\n", QUORVEL_CORPUS_DIR);
        return 1;
    }
    std::vector<std::string> inputs = *lines;
    const std::vector<std::string> made = mistakes::corpus_mistakes(*lines, per_line);
    inputs.insert(inputs.end(), made.begin(), made.end());
    facade::TransformEngineBuilder builder;
    builder.profile(facade::EngineProfile::Corpus);
    auto engine = builder.build();
    if (!engine) return 1;
    const auto& context = engine->parser().context();
    parse::ParseConfig configs[4];
    configs[1].reject_unknown = true;
    configs[2].abort_on_error = true;
    configs[3].max_group_depth = 2;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::printf("%zu", i);
        for (const auto& config : configs) {
            std::printf(" %016llx",
                        static_cast<unsigned long long>(quorvel::testing::parse_digest(quorvel::parse::parse_source(context, inputs[i], config))));
        }
        std::printf("\n");
    }
    return 0;
}
