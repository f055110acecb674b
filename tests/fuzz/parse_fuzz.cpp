// libFuzzer target: any bytes parse without a crash or a hang under each
// combination of the recovery settings, and a document that comes out is
// written back as LaTeX and parsed again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "parse/context.hpp"
#include "parse/parse.hpp"

namespace {

const quorvel::parse::ParseContext& fuzz_context() {
    static const std::shared_ptr<const quorvel::parse::ParseContext> context =
        quorvel::parse::ParseContextBuilder().build().value();
    return *context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    for (int settings = 0; settings < 4; ++settings) {
        quorvel::parse::ParseConfig config;
        config.reject_unknown = (settings & 1) != 0;
        config.abort_on_error = (settings & 2) != 0;
        auto outcome = quorvel::parse::parse_source(fuzz_context(), source, config);
        if (!outcome.document) continue;
        auto latex = outcome.document->to_latex();
        if (latex) quorvel::parse::parse_source(fuzz_context(), *latex, config);
    }
    return 0;
}
