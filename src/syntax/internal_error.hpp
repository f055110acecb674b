// The one exception type for broken invariants of the syntax trees.
//
// A failed invariant check is a programming error, not a reported failure:
// the tree may already be partly changed when it is thrown, so no caller
// catches it to carry on. The binding layer turns it into a fatal Python
// error carrying `what()`.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace quorvel::syntax {

class InternalError : public std::exception {
public:
    explicit InternalError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    // The exact text; may hold bytes that `what()` would cut at a NUL.
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

[[noreturn]] inline void internal_error(std::string message) {
    throw InternalError(std::move(message));
}

// "internal error: entered unreachable code: {what}".
[[noreturn]] inline void unreachable(std::string_view what) {
    std::string text = "internal error: entered unreachable code: ";
    text.append(what);
    throw InternalError(std::move(text));
}

// An equality check that failed: the message, then both sides' debug forms.
[[noreturn]] inline void equality_failure(std::string_view message, std::string_view left,
                                          std::string_view right) {
    std::string text = "assertion `left == right` failed: ";
    text.append(message);
    text.append("\n  left: ");
    text.append(left);
    text.append("\n right: ");
    text.append(right);
    throw InternalError(std::move(text));
}

}  // namespace quorvel::syntax
