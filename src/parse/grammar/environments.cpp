// Environments: `\begin{name}`, the argument slots of a known environment,
// a body in the environment's body mode, and `\end{name}`.
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/recovery.hpp"
#include "parse/grammar/stack_guard.hpp"

namespace quorvel::parse::grammar {

using Kind = ParseDiagnosticKind;

bool Grammar::environment(ContentMode mode, TrackedNode& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return environment(mode, out); });
    RuleScope scope(in_);
    const std::size_t start = scope.start();
    if (!control_seq("begin", pattern::kBegin)) return scope.pass_on();
    skip_ws();
    std::string name;
    if (!environment_name(in_, name)) return scope.pass_on();
    const Span header = in_.span_since(start);

    std::vector<TrackedArgumentSlot> slots;
    ContentMode body_mode = mode;
    bool known = false;
    const ContentMode other = other_mode(mode);
    if (const auto* record = kb(mode).lookup_env(name)) {
        if (!argument_slots(record->args, pattern::kEnvironmentArgument, slots)) return scope.pass_on();
        body_mode = record->body_mode;
        known = true;
    } else if (kb(other).lookup_env(name) != nullptr) {
        Failure failure = Failure::custom_message(
            header,
            "Environment " + name + " is not allowed in " + std::string(syntax::content_mode_name(mode)) + " mode",
            Kind::EnvironmentModeError);
        failure.at_source(header);
        return scope.fail(std::move(failure));
    } else if (reject_unknown_) {
        Failure failure = Failure::custom_message(header, "Unknown environment: " + name, Kind::UnknownEnvironment);
        failure.at_source(header);
        return scope.fail(std::move(failure));
    }

    const std::size_t body_start = in_.pos();
    TrackedNode body;
    const bool body_read = body_mode == ContentMode::Math ? math_group(main_math(), body) : text_group(body);
    if (!body_read) {
        std::optional<Input::Located> failure = in_.take_alt();
        if (failure) failure->failure.with_context(pattern::kEnvironmentBody, in_.span_since(body_start));
        in_.restore_alt(std::move(failure));
        return scope.pass_on();
    }

    // A text body leaves the white space before `\end` to the environment,
    // as it leaves that before `}` to a braced group; otherwise `\end` must
    // follow at once.
    if (body_mode == ContentMode::Text) {
        const SpannedToken* next = peek_after_ws();
        if (next != nullptr && next->token.is_control("end")) skip_ws();
    }
    const std::size_t after_body = in_.pos();
    std::string missing = "Environment " + name + " missing closing \\end{" + name + "}";
    if (control_seq("end", pattern::kEnd)) {
        skip_ws();
        std::string end_name;
        if (!environment_name(in_, end_name)) {
            return scope.fail(Failure::custom_message(in_.span_since(after_body), std::move(missing)));
        }
        if (end_name != name) {
            const Span marker = in_.span_since(after_body);
            Failure failure = Failure::custom_message(
                marker, "Environment name mismatch: expected \\end{" + name + "}, found \\end{" + end_name + "}",
                Kind::EnvironmentNameMismatch);
            failure.extra().direct = DirectDiagnostic{EnvironmentNames{std::move(end_name), name}, marker};
            return scope.fail(std::move(failure));
        }
    } else {
        const SpannedToken* next = in_.peek();
        if (!is_outer_closing_boundary(next != nullptr ? &next->token : nullptr)) {
            // The body stopped at a token that closes nothing: one item tells
            // why, when it fails there. Its failure is handed on where it
            // lies, whole: offered at `\begin` it would merge into what the
            // alternatives tried there expected, and lose its found token.
            std::optional<Input::Located> probe = lookahead(in_, [&]() -> std::optional<Input::Located> {
                skip_ws();
                TrackedNode item;
                if (mode_item(body_mode, item)) return std::nullopt;
                std::optional<Input::Located> failure = in_.take_alt();
                if (!failure) failure.emplace(Input::Located{in_.pos(), in_.take_failure()});
                return failure;
            });
            if (probe) return scope.fail_at(probe->pos, std::move(probe->failure));
        }
        return scope.fail(in_.err_peek_or_point(std::move(missing)));
    }

    DecomposedArgs args = decompose_args(std::move(slots), in_.token_count());
    out.diagnostics = std::move(args.diagnostics);
    out.diagnostics.append(std::move(body.diagnostics));
    out.spans = std::move(args.spans);
    out.spans.push_back(body.take_span_tree());
    out.node = SyntaxNode::Environment{std::move(name), std::move(args.args), known, std::move(body.node)};
    out.span = in_.span_since(start);
    return true;
}

}  // namespace quorvel::parse::grammar
