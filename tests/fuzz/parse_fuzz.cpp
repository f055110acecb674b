// libFuzzer target: any bytes parse without a crash or a hang under each
// combination of the recovery settings, with the same outcome as a parse that
// keeps failures from the start, and a document that comes out keeps every
// part of the source and is written back as text that reads back to itself.
// Every span handed out (diagnostics, their contexts, node spans) lies inside
// the source and never ends before it starts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "../cpp/malformed_invariants.hpp"
#include "parse/context.hpp"
#include "parse/parse.hpp"

namespace {

const quorvel::parse::ParseContext& fuzz_context() {
    static const std::shared_ptr<const quorvel::parse::ParseContext> context =
        quorvel::parse::ParseContextBuilder().build().value();
    return *context;
}

// With QUORVEL_FUZZ_KEEP_GOING set, a document that breaks what recovery
// must keep (an Error node for each diagnostic, every character, a fixed
// point) is reported on stderr, the first hundred of them, and the run goes
// on: a known fault of recovery would otherwise stop every run at once.
bool keep_going() {
    static const bool set = std::getenv("QUORVEL_FUZZ_KEEP_GOING") != nullptr;
    return set;
}

void report(const quorvel::invariants::Finding& finding, std::string_view source) {
    static int reported = 0;
    if (++reported > 100) return;
    std::string escaped;
    for (const char c : source) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            escaped += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            escaped += c == '\\' ? std::string("\\\\") : std::string(hex);
        }
    }
    std::fprintf(stderr, "UNSOUND %s (abort_on_error=%d reject_unknown=%d): %s\n",
                 quorvel::invariants::to_string(finding.check.violation), finding.config.abort_on_error,
                 finding.config.reject_unknown, escaped.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quorvel::invariants::Fault;
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const auto finding = quorvel::invariants::check_source(fuzz_context(), source);
    if (finding.fault == Fault::None) return 0;
    if (finding.fault != Fault::Unsound || !keep_going()) std::abort();
    report(finding, source);
    return 0;
}
