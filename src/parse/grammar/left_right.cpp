// `\left` delimiter, math content, `\right` delimiter: a delimited group.
#include "parse/grammar/arguments.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"

namespace quorvel::parse::grammar {

using syntax::syntax_node::Delimiter;
using syntax::syntax_node::GroupKind;


bool Grammar::delimited_group(TrackedNode& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return delimited_group(out); });
    RuleScope scope(in_);
    const std::size_t start = scope.start();
    if (!control_seq("left", pattern::kLeft)) return scope.pass_on();

    // The rule's own failures replace what the selector and `\right` expected.
    auto own_failure = [&](Failure failure) {
        failure.with_context(pattern::kLeftDelimitedGroup, in_.span_since(start));
        failure.kind = ParseDiagnosticKind::LeftRightDelimiter;
        return scope.fail(std::move(failure));
    };

    skip_ws();
    Delimiter left;
    if (!read_delimiter(in_, math_kb_, left)) return own_failure(in_.err_peek_or_point("invalid \\left delimiter"));
    DecomposedChildren items;
    if (!math_content(main_math(), items)) return scope.pass_on();
    if (!control_seq("right", pattern::kRight)) {
        return own_failure(
            Failure::custom_message(in_.span_since(start), "missing \\right for \\left-delimited group"));
    }
    skip_ws();
    Delimiter right;
    if (!read_delimiter(in_, math_kb_, right)) return own_failure(in_.err_peek_or_point("invalid \\right delimiter"));

    set_group(out, ContentMode::Math, GroupKind::Delimited{std::move(left), std::move(right)}, std::move(items),
              in_.span_since(start), in_.token_count());
    return true;
}

}  // namespace quorvel::parse::grammar
