#include "parse/parser_state.hpp"

namespace quorvel::parse {

void ParserState::push_recovery_diagnostic(ParseFailure failure) {
    const std::size_t h = diagnostic_match_hash(failure);
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
