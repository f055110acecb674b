#include "parse/column_template.hpp"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "parse/utf8.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse {

std::string ColumnParseError::display() const {
    std::string spec;
    utf8::append(spec, specifier);
    switch (kind) {
        case ColumnParseErrorKind::TooManyItems:
            return "Too many column specifiers (perhaps looping column definitions?)";
        case ColumnParseErrorKind::IllegalSpecifier:
            return "Illegal pream-token (" + spec + ")";
        case ColumnParseErrorKind::MissingDimension:
            return "Missing dimension or its units for " + spec + " column declaration";
        case ColumnParseErrorKind::MissingArgument:
            return "Missing argument for " + spec + " column declaration";
        case ColumnParseErrorKind::MissingCloseBrace:
            return "Missing close brace";
        case ColumnParseErrorKind::StarCountNotNumber:
            return "First argument to * column specifier must be a number";
    }
    return {};
}

bool is_valid_dimension_unit(std::string_view unit) {
    static constexpr std::string_view kUnits[] = {"em", "ex", "pt", "pc", "px", "in", "cm", "mm", "mu"};
    return std::find(std::begin(kUnits), std::end(kUnits), unit) != std::end(kUnits);
}

namespace {

constexpr std::uint64_t kMaxItems = 10001;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// A T or X argument that runs past the frame holding its opening brace is copied into
// a text of its own; no template is known to need this (such a T always comes with a
// count that is not a number), so the copy is bounded rather than grown without limit.
constexpr std::uint64_t kMaterializeCap = std::uint64_t{1} << 20;

// Brace depth of a scan that runs over skipped repetitions. Counts and lengths are
// below 2^64 each, so 128 bits with saturation far above any reachable depth keep the
// arithmetic exact for every outcome that matters.
using Depth = __int128;
constexpr Depth kDepthCap = Depth{1} << 120;
constexpr Depth kNoClose = Depth{1} << 124;

Depth saturate(Depth d) { return d > kDepthCap ? kDepthCap : d; }

// d + delta * k, saturated; d is never above the cap. A negative step is only ever
// taken as often as the depth allows, so it cannot overflow.
Depth advance(Depth d, Depth delta, std::uint64_t k) {
    if (delta > 0 && Depth(k) > (kDepthCap - d) / delta) return kDepthCap;
    return saturate(d + delta * Depth(k));
}

// The Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}
constexpr bool is_ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One text frames can point into, with two tables built once: where a brace scan
// that starts at a '{' closes, and where the next non-space byte is.
struct Base {
    std::string_view text;
    std::vector<std::size_t> match;           // for a '{' at p: the '}' that closes a scan from p, or kNone
    std::vector<std::size_t> next_non_space;  // first index >= i whose byte is not ' ' (size n + 1)

    explicit Base(std::string_view t) : text(t) { index(); }

    void index() {
        const std::size_t n = text.size();
        next_non_space.resize(n + 1);
        next_non_space[n] = n;
        for (std::size_t i = n; i-- > 0;) next_non_space[i] = text[i] == ' ' ? next_non_space[i + 1] : i;
        // A scan from a '{' at p reads p+1.. with no pending escape. Since text[p] is not
        // a backslash, a byte there is escaped exactly when an odd run of backslashes
        // precedes it, as in a scan of the whole text. So one pass over the whole text
        // matches every scan: the scan from p closes at the first '}' that takes the
        // whole-text depth below the depth right after p.
        match.assign(n, kNone);
        std::vector<std::pair<std::int64_t, std::size_t>> open;  // (depth after p, p), depths non-decreasing
        std::int64_t depth = 0;
        std::size_t backslashes = 0;
        for (std::size_t x = 0; x < n; ++x) {
            const char ch = text[x];
            const bool escaped = (backslashes & 1) != 0;
            if (ch == '\\') {
                ++backslashes;
                continue;
            }
            backslashes = 0;
            if (ch == '{') {
                if (!escaped) ++depth;
                open.emplace_back(depth, x);
            } else if (ch == '}' && !escaped) {
                while (!open.empty() && open.back().first == depth) {
                    match[open.back().second] = x;
                    open.pop_back();
                }
                --depth;
            }
        }
        util::work_count += n;
    }
};

// A pending stretch of template: the view [a, b) of a base, read `reps` times (the
// current pass included). `balanced` marks a text read as a braced argument: a brace
// scan entering a pass of it with no pending escape cannot close inside it and leaves
// it with no pending escape.
struct Frame {
    const Base* base;
    std::size_t a, b, pos;
    std::uint64_t reps;
    bool balanced;
};

// A piece of an argument: [a, b) of a base, `reps` times in a row.
struct Segment {
    const Base* base;
    std::size_t a, b;
    std::uint64_t reps;
};

// Effect of one pass of a frame on a brace scan: depth change, lowest depth reached
// at a '}' (relative, kNoClose when there is none), pending escape afterwards.
struct PassSummary {
    Depth delta;
    Depth min;
    bool escape_out;
};

// The width grammar after trimming: sign? digits [sep digits] ws* unit, as a left to
// right automaton. Its states only move forward, so feeding the same text again either
// keeps the state or advances it; repeated text settles after a few passes.
class WidthCheck {
public:
    void feed(std::string_view text) {
        const auto* s = reinterpret_cast<const unsigned char*>(text.data());
        std::size_t i = 0;
        util::work_count += text.size();
        while (i < text.size() && state_ != Fail) {
            char32_t c;
            std::size_t len = utf8::decode(s + i, text.size() - i, c);
            if (len == 0) {
                state_ = Fail;
                break;
            }
            i += len;
            step(c);
        }
    }
    bool failed() const { return state_ == Fail; }
    bool accepts() const { return state_ == Trail || (state_ == Unit2 && unit_ok()); }
    bool operator==(const WidthCheck& o) const {
        return state_ == o.state_ && unit_[0] == o.unit_[0] && unit_[1] == o.unit_[1];
    }

private:
    enum State : std::uint8_t { Lead, Sign, Int, SepNoInt, SepAfterInt, Frac, WsMid, Unit1, Unit2, Trail, Fail };

    bool unit_ok() const { return is_valid_dimension_unit(std::string_view(unit_, 2)); }

    void step(char32_t c) {
        const bool digit = is_ascii_digit(c);
        const bool sep = c == '.' || c == ',';
        const bool ws = is_white_space(c);
        const bool letter = is_ascii_letter(c);
        switch (state_) {
            case Lead:
                state_ = ws ? Lead : (c == '+' || c == '-') ? Sign : digit ? Int : sep ? SepNoInt : Fail;
                break;
            case Sign: state_ = digit ? Int : sep ? SepNoInt : Fail; break;
            case Int: state_ = digit ? Int : sep ? SepAfterInt : ws ? WsMid : letter ? first_letter(c) : Fail; break;
            case SepNoInt: state_ = digit ? Frac : Fail; break;
            case SepAfterInt:
            case Frac: state_ = digit ? Frac : ws ? WsMid : letter ? first_letter(c) : Fail; break;
            case WsMid: state_ = ws ? WsMid : letter ? first_letter(c) : Fail; break;
            case Unit1:
                if (letter) {
                    unit_[1] = static_cast<char>(c);
                    state_ = Unit2;
                } else {
                    state_ = Fail;
                }
                break;
            case Unit2: state_ = ws && unit_ok() ? Trail : Fail; break;
            case Trail: state_ = ws ? Trail : Fail; break;
            case Fail: break;
        }
    }
    State first_letter(char32_t c) {
        unit_[0] = static_cast<char>(c);
        return Unit1;
    }

    State state_ = Lead;
    char unit_[2] = {0, 0};
};

struct ViewKey {
    const Base* base;
    std::size_t a, b;
    bool operator==(const ViewKey&) const = default;
};
struct ViewKeyHash {
    std::size_t operator()(const ViewKey& k) const {
        std::size_t h = std::hash<const void*>()(k.base);
        h ^= k.a + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h ^= k.b + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        return h;
    }
};

class ColumnRun {
public:
    explicit ColumnRun(std::string_view tmpl) {
        const Base* bottom = &bases_.emplace_back(tmpl);
        if (!tmpl.empty()) frames_.push_back(Frame{bottom, 0, tmpl.size(), 0, 1, false});
    }

    std::variant<ColumnSpec, ColumnParseError> run() {
        std::uint64_t items = 0;
        std::uint64_t j = 0;
        bool rule_here = false;  // rule[j] is set
        auto next_column = [&] {
            ++j;
            rule_here = false;
        };
        while (settle()) {
            if (items == kMaxItems) return ColumnParseError{ColumnParseErrorKind::TooManyItems};
            const char32_t c = read_char();
            switch (c) {
                case ' ': break;
                case 'l':
                case 'c':
                case 'r': next_column(); break;
                case 'p':
                case 'm':
                case 'b':
                case 'w':
                case 'W':
                    if (c == 'w' || c == 'W') {
                        if (auto err = read_argument(c)) return *err;  // the alignment
                    }
                    if (auto err = read_argument(c)) return *err;
                    if (!argument_is_width()) return ColumnParseError{ColumnParseErrorKind::MissingDimension, c};
                    next_column();
                    break;
                case 'P':
                case 'M':
                case 'B': {
                    if (auto err = read_argument(c)) return *err;
                    // The expansion ">{$}p{#1}<{$}" with the argument for #1, pushed as
                    // three frames in front of the rest of the template.
                    push_literal(3);
                    if (!push_argument(1)) return ColumnParseError{ColumnParseErrorKind::TooManyItems};
                    push_literal(c == 'P' ? 0 : c == 'M' ? 1 : 2);
                    break;
                }
                case '*': {
                    if (auto err = read_argument(c)) return *err;
                    const std::optional<std::uint64_t> count = argument_as_count();
                    if (auto err = read_argument(c)) return *err;
                    if (!count) return ColumnParseError{ColumnParseErrorKind::StarCountNotNumber, c};
                    if (*count > 0 && !push_argument(*count)) {
                        return ColumnParseError{ColumnParseErrorKind::TooManyItems};
                    }
                    break;
                }
                case '|':
                case ':':
                    if (rule_here) next_column();  // a rule after a rule: inter-column material first
                    rule_here = true;
                    break;
                case '>':
                case '<':
                    if (auto err = read_argument(c)) return *err;
                    break;
                case '@':
                case '!':
                    if (auto err = read_argument(c)) return *err;
                    next_column();
                    break;
                default: return ColumnParseError{ColumnParseErrorKind::IllegalSpecifier, c};
            }
            ++items;
        }
        return ColumnSpec{j};
    }

private:
    // Drops finished passes and frames; false at the end of the template.
    bool settle() {
        while (!frames_.empty()) {
            Frame& f = frames_.back();
            if (f.pos < f.b) return true;
            if (f.reps > 1) {
                --f.reps;
                f.pos = f.a;
                return true;
            }
            frames_.pop_back();
        }
        return false;
    }

    // Length of the character at the top frame's position (1 for a bad byte).
    std::size_t char_len(const Frame& f, char32_t& c) const {
        const auto* s = reinterpret_cast<const unsigned char*>(f.base->text.data());
        std::size_t len = utf8::decode(s + f.pos, f.b - f.pos, c);
        if (len == 0) {
            c = 0xFFFD;
            len = 1;
        }
        return len;
    }

    char32_t read_char() {
        ++util::work_count;
        Frame& f = frames_.back();
        char32_t c;
        f.pos += char_len(f, c);
        return c;
    }

    // Skips spaces; false when the template ends first.
    bool skip_spaces() {
        while (settle()) {
            Frame& f = frames_.back();
            const std::size_t y = f.base->next_non_space[f.pos];
            if (y < f.b) {
                f.pos = y;
                return true;
            }
            if (f.pos == f.a) {
                frames_.pop_back();  // the whole text is spaces, so is every pass left
            } else {
                f.pos = f.b;
            }
        }
        return false;
    }

    void push_segment(const Base* base, std::size_t a, std::size_t b, std::uint64_t reps) {
        if (a < b && reps > 0) segments_.push_back(Segment{base, a, b, reps});
    }

    // The fixed texts of the macro columns: ">{$}p{", ">{$}m{", ">{$}b{" and "}<{$}".
    void push_literal(int which) {
        static const Base kLiterals[4] = {Base(">{$}p{"), Base(">{$}m{"), Base(">{$}b{"), Base("}<{$}")};
        const Base* base = &kLiterals[which];
        frames_.push_back(Frame{base, 0, base->text.size(), 0, 1, false});
    }

    // Reads one argument into `segments_`: a braced group without its braces, or the
    // next character.
    std::optional<ColumnParseError> read_argument(char32_t spec) {
        segments_.clear();
        braced_ = false;
        if (!skip_spaces()) return ColumnParseError{ColumnParseErrorKind::MissingArgument, spec};
        Frame& f = frames_.back();
        if (f.base->text[f.pos] != '{') {
            char32_t c;
            const std::size_t len = char_len(f, c);
            push_segment(f.base, f.pos, f.pos + len, 1);
            f.pos += len;
            return std::nullopt;
        }
        braced_ = true;
        return scan_braced();
    }

    std::optional<ColumnParseError> scan_braced() {
        Frame& f = frames_.back();
        const std::size_t p = f.pos;
        const std::size_t q = f.base->match[p];
        if (q != kNone && q < f.b) {
            push_segment(f.base, p + 1, q, 1);
            f.pos = q + 1;
            return std::nullopt;
        }
        // The group runs past this frame: scan on through the frames below.
        Depth d = 1;
        bool escape = false;
        f.pos = p + 1;
        for (;;) {
            Frame& g = frames_.back();
            if (g.pos == g.a && !escape && g.balanced) {
                push_segment(g.base, g.a, g.b, g.reps);
                frames_.pop_back();
            } else {
                const char* s = g.base->text.data();
                const std::size_t from = g.pos;
                for (std::size_t x = from; x < g.b; ++x) {
                    if (escape) {
                        escape = false;
                        continue;
                    }
                    const char ch = s[x];
                    if (ch == '\\') {
                        escape = true;
                    } else if (ch == '{') {
                        ++d;
                    } else if (ch == '}' && --d == 0) {
                        util::work_count += x - from;
                        push_segment(g.base, from, x, 1);
                        g.pos = x + 1;
                        return std::nullopt;
                    }
                }
                util::work_count += g.b - from;
                push_segment(g.base, from, g.b, 1);
                g.pos = g.b;
                if (g.reps > 1) {
                    const std::uint64_t left = skip_passes(g, g.reps - 1, d, escape);
                    if (left > 0) {
                        g.reps = left;
                        g.pos = g.a;
                        continue;
                    }
                }
                frames_.pop_back();
            }
            if (frames_.empty()) return ColumnParseError{ColumnParseErrorKind::MissingCloseBrace};
        }
    }

    static PassSummary summarize(const Frame& g, bool escape) {
        PassSummary s{0, kNoClose, escape};
        util::work_count += g.b - g.a;
        const char* t = g.base->text.data();
        for (std::size_t x = g.a; x < g.b; ++x) {
            if (s.escape_out) {
                s.escape_out = false;
                continue;
            }
            if (t[x] == '\\') {
                s.escape_out = true;
            } else if (t[x] == '{') {
                ++s.delta;
            } else if (t[x] == '}') {
                --s.delta;
                s.min = std::min(s.min, s.delta);
            }
        }
        return s;
    }

    // Passes (at most `cap`) that start `room` above closing and lose `drop` each
    // before the scan closes in one of them.
    static std::uint64_t passes_before_close(Depth room, Depth drop, std::uint64_t cap) {
        const Depth k = (room + drop - 1) / drop;
        return k < Depth(cap) ? static_cast<std::uint64_t>(k) : cap;
    }

    // The brace scan stands at the start of `passes` full passes of `g`. Consumes, in
    // constant time per regime, the passes in which it cannot close and returns how
    // many passes are left (the first of them closes), or 0 when all were consumed.
    std::uint64_t skip_passes(const Frame& g, std::uint64_t passes, Depth& d, bool& escape) {
        while (passes > 0) {
            if (!escape && g.balanced) {
                push_segment(g.base, g.a, g.b, passes);
                return 0;
            }
            const PassSummary s = summarize(g, escape);
            if (d + s.min <= 0) return passes;
            if (s.escape_out == escape) {
                const std::uint64_t k = s.delta >= 0 ? passes : passes_before_close(d + s.min, -s.delta, passes);
                push_segment(g.base, g.a, g.b, k);
                d = advance(d, s.delta, k);
                passes -= k;
                continue;
            }
            if (passes >= 2) {
                // The pending escape alternates: take two passes as one unit.
                const PassSummary s2 = summarize(g, s.escape_out);
                if (s2.escape_out == escape) {
                    const Depth delta = s.delta + s2.delta;
                    const Depth low = std::min(s.min, s.delta + s2.min);
                    if (d + low > 0) {
                        const std::uint64_t units =
                            delta >= 0 ? passes / 2 : passes_before_close(d + low, -delta, passes / 2);
                        push_segment(g.base, g.a, g.b, 2 * units);
                        d = advance(d, delta, units);
                        passes -= 2 * units;
                        continue;
                    }
                }
            }
            push_segment(g.base, g.a, g.b, 1);
            d = advance(d, s.delta, 1);
            escape = s.escape_out;
            --passes;
        }
        return 0;
    }

    std::uint64_t argument_length() const {
        util::work_count += segments_.size();
        std::uint64_t total = 0;
        for (const Segment& s : segments_) {
            const std::uint64_t len = s.b - s.a;
            if (s.reps > (std::numeric_limits<std::uint64_t>::max() - total) / len) {
                return std::numeric_limits<std::uint64_t>::max();
            }
            total += len * s.reps;
        }
        return total;
    }

    // Only called when argument_length() is small.
    std::string argument_text() const {
        std::string out;
        for (const Segment& s : segments_) {
            for (std::uint64_t r = 0; r < s.reps; ++r) out.append(s.base->text.substr(s.a, s.b - s.a));
        }
        util::work_count += out.size();
        return out;
    }

    // The canonical decimal form of a non-negative integer that fits a signed 64-bit
    // value: digits only, no sign, no leading zero except "0" itself.
    std::optional<std::uint64_t> argument_as_count() const {
        if (argument_length() > 19) return std::nullopt;
        const std::string text = argument_text();
        if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
        std::uint64_t value = 0;
        for (char ch : text) {
            if (ch < '0' || ch > '9') return std::nullopt;
            value = value * 10 + static_cast<std::uint64_t>(ch - '0');  // 19 digits fit in 64 bits
        }
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return value;
    }

    bool argument_is_width() {
        const bool single = segments_.size() == 1 && segments_[0].reps == 1;
        std::optional<ViewKey> key;
        if (single && segments_[0].b - segments_[0].a >= 32) {
            key = ViewKey{segments_[0].base, segments_[0].a, segments_[0].b};
            if (auto it = width_memo_.find(*key); it != width_memo_.end()) return it->second;
        }
        WidthCheck check;
        for (const Segment& s : segments_) {
            const std::string_view text = s.base->text.substr(s.a, s.b - s.a);
            check.feed(text);
            for (std::uint64_t r = 1; r < s.reps && !check.failed(); ++r) {
                const WidthCheck before = check;
                check.feed(text);
                if (check == before) break;  // every further pass leaves it there too
            }
            if (check.failed()) break;
        }
        const bool ok = check.accepts();
        if (key) width_memo_.emplace(*key, ok);
        return ok;
    }

    // Pushes the argument just read as a frame repeated `reps` times; false only when
    // an argument spread over several frames is too long to copy.
    bool push_argument(std::uint64_t reps) {
        if (segments_.empty()) return true;
        if (segments_.size() == 1 && segments_[0].reps == 1) {
            const Segment& s = segments_[0];
            frames_.push_back(Frame{s.base, s.a, s.b, s.a, reps, braced_});
            return true;
        }
        if (argument_length() > kMaterializeCap) return false;
        const std::string& text = owned_.emplace_back(argument_text());
        const Base* base = &bases_.emplace_back(text);
        frames_.push_back(Frame{base, 0, text.size(), 0, reps, braced_});
        return true;
    }

    std::deque<std::string> owned_;
    std::deque<Base> bases_;
    std::vector<Frame> frames_;
    std::vector<Segment> segments_;
    bool braced_ = false;
    std::unordered_map<ViewKey, bool, ViewKeyHash> width_memo_;
};

}  // namespace

std::variant<ColumnSpec, ColumnParseError> parse_column_template(std::string_view tmpl) {
    return ColumnRun(tmpl).run();
}

}  // namespace quorvel::parse
