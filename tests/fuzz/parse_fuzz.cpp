// libFuzzer target: any bytes parse without a crash or a hang under each
// combination of the recovery settings, with the same outcome as a parse that
// keeps failures from the start, and a document that comes out keeps every
// part of the source and is written back as text that reads back to itself.
// Every span handed out (diagnostics, their contexts, node spans) lies inside
// the source and never ends before it starts. Data that starts with byte 0x01
// declares caller items first (caller_items.hpp), parsed with a parser built
// from them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "../cpp/caller_items.hpp"
#include "../cpp/malformed_invariants.hpp"
#include "parse/context.hpp"
#include "parse/parse.hpp"

namespace {

const quorvel::parse::ParseContext& fuzz_context() {
    static const std::shared_ptr<const quorvel::parse::ParseContext> context =
        quorvel::parse::ParseContextBuilder().build().value();
    return *context;
}

// The parser of the data's items. Mutation mostly changes the source, so
// the last parser built is kept for the next input with the same items.
const quorvel::parse::ParseContext* caller_context(const quorvel::caller_items::Decoded& decoded) {
    static std::string header;
    static std::optional<quorvel::facade::Parser> parser;
    if (!parser || header != decoded.header) {
        parser = quorvel::caller_items::build_parser(decoded.items);
        header = decoded.header;
    }
    return parser ? &parser->context() : nullptr;
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
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoded = quorvel::caller_items::decode(bytes);
    const quorvel::parse::ParseContext* context =
        decoded.header.empty() ? &fuzz_context() : caller_context(decoded);
    if (context == nullptr) return 0;
    const std::string_view source = decoded.source;
    const auto finding = quorvel::invariants::check_source(*context, source);
    if (finding.fault == Fault::None) return 0;
    if (finding.fault != Fault::Unsound || !keep_going()) std::abort();
    report(finding, bytes);
    return 0;
}
