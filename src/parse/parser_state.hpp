// The state of one parse that every grammar rule borrows: the context, the
// settings and the source, the current nesting of braced groups, and the
// failures that error recovery got over.
//
// Neither the depth nor the recovery list is part of the input position:
// rewinding the cursor undoes neither.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "parse/config.hpp"
#include "parse/context.hpp"
#include "parse/failure.hpp"
#include "parse/hash_index.hpp"

namespace quorvel::parse {

class ParserState {
public:
    ParserState(const ParseContext& context, const ParseConfig& config, std::string_view source) noexcept
        : context_(context), config_(config), source_(source) {}
    ParserState(const ParserState&) = delete;
    ParserState& operator=(const ParserState&) = delete;

    const ParseContext& context() const noexcept { return context_; }
    const ParseConfig& config() const noexcept { return config_; }
    std::string_view source() const noexcept { return source_; }

    std::size_t depth() const noexcept { return depth_; }
    // The greatest depth reached since the last reset; the recovery of failed
    // items reads it to know whether a result depended on the depth limit.
    std::size_t depth_peak() const noexcept { return depth_peak_; }
    void reset_depth_peak(std::size_t peak) noexcept { depth_peak_ = peak; }

    // Keeps a failure that recovery got over, unless an equal one
    // (`ParseFailure::matches_recovery_diagnostic`) is kept already.
    void push_recovery_diagnostic(ParseFailure failure);
    // The kept failures in the order they were pushed; the list is left empty.
    std::vector<ParseFailure> take_recovery_diagnostics();
    std::size_t recovery_diagnostic_count() const noexcept { return recovery_.size(); }
    // Drops the kept failures from the `from`th to before the `to`th.
    void drop_recovery_diagnostics_between(std::size_t from, std::size_t to);
    // Drops the kept failures from the `count`th on.
    void drop_recovery_diagnostics_from(std::size_t count) {
        drop_recovery_diagnostics_between(count, recovery_.size());
    }

    // Raises the depth for its lifetime and restores it whatever the outcome.
    class DepthScope {
    public:
        explicit DepthScope(ParserState& state) noexcept : state_(state), saved_(state.depth_) {
            if (++state_.depth_ > state_.depth_peak_) state_.depth_peak_ = state_.depth_;
        }
        ~DepthScope() { state_.depth_ = saved_; }
        DepthScope(const DepthScope&) = delete;
        DepthScope& operator=(const DepthScope&) = delete;

    private:
        ParserState& state_;
        std::size_t saved_;
    };

private:
    const ParseContext& context_;
    const ParseConfig& config_;
    std::string_view source_;
    std::size_t depth_ = 0;
    std::size_t depth_peak_ = 0;
    std::vector<ParseFailure> recovery_;
    // Hash of what the recovery match compares, to the positions in `recovery_`.
    HashIndex recovery_index_;
};

}  // namespace quorvel::parse
