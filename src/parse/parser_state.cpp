#include "parse/parser_state.hpp"

#include <functional>
#include <string>

namespace quorvel::parse {

namespace {

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

// Consistent with `matches_recovery_diagnostic`: equal failures hash equal.
std::size_t recovery_match_hash(const ParseFailure& f) {
    std::hash<std::string> text;
    std::size_t h = f.kind ? static_cast<std::size_t>(*f.kind) + 1 : 0;
    h = combine(h, f.span.start);
    h = combine(h, f.span.end);
    if (f.direct) {
        h = combine(h, f.direct->span.start);
        h = combine(h, f.direct->span.end);
        if (f.direct->environment_names) {
            h = combine(h, text(f.direct->environment_names->found));
            h = combine(h, text(f.direct->environment_names->expected));
        }
    }
    h = combine(h, text(reason_display(f.reason)));
    for (const auto& entry : f.context) {
        h = combine(h, text(entry.label.display()));
        h = combine(h, entry.span.start);
        h = combine(h, entry.span.end);
    }
    return h;
}

}  // namespace

void ParserState::push_recovery_diagnostic(ParseFailure failure) {
    const std::size_t h = recovery_match_hash(failure);
    auto [first, last] = recovery_index_.equal_range(h);
    for (auto it = first; it != last; ++it) {
        if (recovery_[it->second].matches_recovery_diagnostic(failure)) return;
    }
    recovery_index_.emplace(h, recovery_.size());
    recovery_.push_back(std::move(failure));
}

std::vector<ParseFailure> ParserState::take_recovery_diagnostics() {
    recovery_index_.clear();
    return std::exchange(recovery_, {});
}

}  // namespace quorvel::parse
