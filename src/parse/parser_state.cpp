#include "parse/parser_state.hpp"

namespace quorvel::parse {

void ParserState::push_recovery_diagnostic(ParseFailure failure) {
    const std::size_t h = diagnostic_match_hash(failure);
    if (recovery_index_.any_of(h, [&](std::size_t i) { return recovery_[i].matches_recovery_diagnostic(failure); })) {
        return;
    }
    recovery_index_.insert(h, recovery_.size());
    recovery_.push_back(std::move(failure));
}

void ParserState::drop_recovery_diagnostics_from(std::size_t count) {
    if (count >= recovery_.size()) return;
    std::vector<ParseFailure> kept = take_recovery_diagnostics();
    kept.resize(count);
    for (ParseFailure& f : kept) push_recovery_diagnostic(std::move(f));
}

std::vector<ParseFailure> ParserState::take_recovery_diagnostics() {
    recovery_index_.clear();
    return std::exchange(recovery_, {});
}

}  // namespace quorvel::parse
