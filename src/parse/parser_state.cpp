#include "parse/parser_state.hpp"

#include <algorithm>

namespace quorvel::parse {

void ParserState::push_recovery_diagnostic(ParseFailure failure) {
    const std::size_t h = diagnostic_match_hash(failure);
    if (recovery_index_.any_of(h, [&](std::size_t i) { return recovery_[i].matches_recovery_diagnostic(failure); })) {
        return;
    }
    recovery_index_.insert(h, recovery_.size());
    recovery_.push_back(std::move(failure));
}

void ParserState::drop_recovery_diagnostics_between(std::size_t from, std::size_t to) {
    to = std::min(to, recovery_.size());
    if (from >= to) return;
    std::vector<ParseFailure> kept = take_recovery_diagnostics();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i < from || i >= to) push_recovery_diagnostic(std::move(kept[i]));
    }
}

std::vector<ParseFailure> ParserState::take_recovery_diagnostics() {
    recovery_index_.clear();
    return std::exchange(recovery_, {});
}

}  // namespace quorvel::parse
