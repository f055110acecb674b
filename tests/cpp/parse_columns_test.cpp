#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "parse/column_template.hpp"
#include "parse/utf8.hpp"
#include "util/work_count.hpp"

namespace {

using quorvel::parse::ColumnParseError;
using quorvel::parse::ColumnSpec;
using quorvel::parse::parse_column_template;
using K = quorvel::parse::ColumnParseErrorKind;

std::string outcome(const std::variant<ColumnSpec, ColumnParseError>& r) {
    if (auto* spec = std::get_if<ColumnSpec>(&r)) return "ok " + std::to_string(spec->columns);
    return std::get<ColumnParseError>(r).display();
}

std::string err(K kind, char32_t c = 0) { return ColumnParseError{kind, c}.display(); }

TEST(ParseColumns, Accepted) {
    struct Case {
        std::string tmpl;
        std::uint64_t columns;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"   ", 0},
        {"lcr", 3},
        {"p{2cm}", 1},
        {"w{c}{1.5em}", 1},
        {"W{r} {1.5em}", 1},
        {"*{3}{c|}", 3},
        {">{\\bfseries}l<{x}", 1},
        {"@{}c@{}", 3},
        {"!{\\qquad}c", 2},
        {"P{3cm}", 1},
        {"M{3cm}B{1in}", 2},
        {"*{0}{c}", 0},
        {"*{10000}{c}", 10000},
        {"*{20000}{>}", 0},
        {"*{9223372036854775807}{}", 0},
        {">{\\}}c", 1},
        {"|c||c:", 3},
        {"p{2.5em}", 1},
        {"p{-.5 pt}", 1},
        {"p{1,5cm}", 1},
        {"p{3.pt}", 1},
        {"p{ +2mm\t}", 1},
        {"p{\u00a02mu\u3000}", 1},
        {"b{10 px}", 1},
        {"w\\{2pt}", 1},
        {"*{1}{w\\{}2pt}", 1},
        {"*{2}{>}c", 1},
        {"*{3}{*{2}{c}}", 6},
        {"*{1}{P}{1pt}", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpl);
        EXPECT_EQ(outcome(parse_column_template(c.tmpl)), "ok " + std::to_string(c.columns));
    }
}

TEST(ParseColumns, Refused) {
    struct Case {
        std::string tmpl;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"x", "Illegal pream-token (x)"},
        {"l}", err(K::IllegalSpecifier, '}')},
        {"c{", err(K::IllegalSpecifier, '{')},
        {"1", err(K::IllegalSpecifier, '1')},
        {"\u00e9", "Illegal pream-token (\u00e9)"},
        {"p", "Missing argument for p column declaration"},
        {"p   ", err(K::MissingArgument, 'p')},
        {"w{c}", err(K::MissingArgument, 'w')},
        {"p{", "Missing close brace"},
        {"p{{2cm}", "Missing close brace"},
        {"p{2cm\\}", "Missing close brace"},
        {"p{}", "Missing dimension or its units for p column declaration"},
        {"p{2}", err(K::MissingDimension, 'p')},
        {"P{2}", err(K::MissingDimension, 'p')},
        {"M{2}", err(K::MissingDimension, 'm')},
        {"W{c}{em}", err(K::MissingDimension, 'W')},
        {"p{em}", err(K::MissingDimension, 'p')},
        {"p{1}", err(K::MissingDimension, 'p')},
        {"p{1 PT}", err(K::MissingDimension, 'p')},
        {"p{1ptx}", err(K::MissingDimension, 'p')},
        {"p{1 pt 2}", err(K::MissingDimension, 'p')},
        {"p{.pt}", err(K::MissingDimension, 'p')},
        {"p{+ 1pt}", err(K::MissingDimension, 'p')},
        {"p{1..2pt}", err(K::MissingDimension, 'p')},
        {"p{1p}", err(K::MissingDimension, 'p')},
        {"p{\uff11pt}", err(K::MissingDimension, 'p')},
        {"*{+3}{c}", "First argument to * column specifier must be a number"},
        {"*{03}{c}", err(K::StarCountNotNumber)},
        {"*{-1}{c}", err(K::StarCountNotNumber)},
        {"*{x}{c}", err(K::StarCountNotNumber)},
        {"*{}{c}", err(K::StarCountNotNumber)},
        {"*{9223372036854775808}{c}", err(K::StarCountNotNumber)},
        {"*{99999999999999999999}{c}", err(K::StarCountNotNumber)},
        {"*{x}", err(K::MissingArgument, '*')},
        {"*{x}{", err(K::MissingCloseBrace)},
        {"*{10001}{c}", "Too many column specifiers (perhaps looping column definitions?)"},
        {"*{20001}{>}", err(K::TooManyItems)},
        {"*{20000}{>}c", err(K::TooManyItems)},
        {"*{9223372036854775807}{c}", err(K::TooManyItems)},
        {"*{9223372036854775807}{*{9223372036854775807}{}}", err(K::TooManyItems)},
        {"*{100000}{x}", err(K::IllegalSpecifier, 'x')},
        {"*{3}{\\{}", err(K::IllegalSpecifier, '\\')},
        {"*{3}}", err(K::IllegalSpecifier, '}')},
        {"*{2}{w\\{}2pt}", err(K::MissingDimension, 'w')},
        {"P\\", err(K::MissingCloseBrace)},
        {"P\\}", err(K::MissingDimension, 'p')},
        {"P}", err(K::MissingDimension, 'p')},
        {"*\\{c}", err(K::StarCountNotNumber)},
        {"*{9223372036854775807}{w\\{}2pt}", err(K::MissingDimension, 'w')},
        {"*{9223372036854775807}{P\\ }", err(K::MissingCloseBrace)},
        {"*{9223372036854775807}{P\\\\}", err(K::MissingCloseBrace)},
        {"p 1", err(K::MissingDimension, 'p')},
        {"w\\{*{9223372036854775807}{}}", err(K::MissingDimension, 'w')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpl);
        EXPECT_EQ(outcome(parse_column_template(c.tmpl)), c.want);
    }
}

TEST(ParseColumns, DimensionUnits) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"em", true}, {"ex", true}, {"pt", true}, {"pc", true}, {"px", true}, {"in", true},
        {"cm", true}, {"mm", true}, {"mu", true}, {"PT", false}, {"Em", false}, {"m", false},
        {"", false},  {"ptx", false}, {"bp", false}, {"sp", false}, {"dd", false}, {"e", false},
    };
    for (const auto& [unit, want] : cases) EXPECT_EQ(quorvel::parse::is_valid_dimension_unit(unit), want) << unit;
}

// A direct reading of the column state machine: the template is rebuilt as one
// string at every repetition or macro column. Nothing if that string would grow too big.
class Reference {
public:
    static std::optional<std::string> run(std::string tmpl) {
        Reference r;
        r.t_ = std::move(tmpl);
        return r.go();
    }

private:
    static constexpr std::size_t kCap = 60000;
    std::string t_;
    std::size_t i_ = 0;
    char32_t c_ = 0;
    std::uint64_t j_ = 0;
    std::vector<bool> rule_;
    bool too_big_ = false;

    std::string error(K kind, char32_t c = 0) { return ColumnParseError{kind, c}.display(); }

    static bool ws(char32_t c) {
        return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
               (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
               c == 0x3000;
    }

    static std::vector<char32_t> decode(const std::string& s) {
        std::vector<char32_t> out;
        for (std::size_t k = 0; k < s.size();) {
            char32_t c;
            std::size_t len =
                quorvel::parse::utf8::decode(reinterpret_cast<const unsigned char*>(s.data()) + k, s.size() - k, c);
            if (len == 0) {
                c = 0xFFFD;
                len = 1;
            }
            out.push_back(c);
            k += len;
        }
        return out;
    }

    static bool valid_width(const std::string& w) {
        std::vector<char32_t> s = decode(w);
        std::size_t a = 0, b = s.size();
        while (a < b && ws(s[a])) ++a;
        while (b > a && ws(s[b - 1])) --b;
        if (a == b) return false;
        std::size_t k = a;
        if (s[k] == '+' || s[k] == '-') ++k;
        std::size_t digits = 0;
        while (k < b && s[k] >= '0' && s[k] <= '9') ++k, ++digits;
        if (k < b && (s[k] == '.' || s[k] == ',')) {
            ++k;
            while (k < b && s[k] >= '0' && s[k] <= '9') ++k, ++digits;
        }
        if (digits == 0) return false;
        while (k < b && ws(s[k])) ++k;
        std::string unit;
        while (k < b && ((s[k] >= 'a' && s[k] <= 'z') || (s[k] >= 'A' && s[k] <= 'Z'))) unit.push_back(char(s[k++]));
        if (!quorvel::parse::is_valid_dimension_unit(unit)) return false;
        while (k < b && ws(s[k])) ++k;
        return k == b;
    }

    std::size_t char_len(std::size_t at) const {
        char32_t c;
        std::size_t len =
            quorvel::parse::utf8::decode(reinterpret_cast<const unsigned char*>(t_.data()) + at, t_.size() - at, c);
        return len == 0 ? 1 : len;
    }

    std::optional<std::string> get_braces(std::string& out) {
        while (i_ < t_.size() && t_[i_] == ' ') ++i_;
        if (i_ >= t_.size()) return error(K::MissingArgument, c_);
        if (t_[i_] != '{') {
            std::size_t len = char_len(i_);
            out = t_.substr(i_, len);
            i_ += len;
            return std::nullopt;
        }
        const std::size_t start = ++i_;
        int depth = 1;
        while (i_ < t_.size()) {
            const char ch = t_[i_];
            if (ch == '\\') {
                i_ += 2;
                continue;
            }
            if (ch == '{') ++depth;
            if (ch == '}' && --depth == 0) {
                out = t_.substr(start, i_ - start);
                ++i_;
                return std::nullopt;
            }
            ++i_;
        }
        return error(K::MissingCloseBrace);
    }

    void column() {
        ++j_;
    }
    bool rule_at(std::uint64_t j) const { return j < rule_.size() && rule_[j]; }
    void set_rule(std::uint64_t j) {
        if (rule_.size() <= j) rule_.resize(j + 1);
        rule_[j] = true;
    }

    void replace(const std::string& front) {
        if (front.size() + (t_.size() - i_) > kCap) {
            too_big_ = true;
            return;
        }
        t_ = front + t_.substr(i_);
        i_ = 0;
    }

    std::optional<std::string> go() {
        std::uint64_t items = 0;
        while (i_ < t_.size()) {
            if (items == 10001) return error(K::TooManyItems);
            char32_t c;
            std::size_t len = quorvel::parse::utf8::decode(reinterpret_cast<const unsigned char*>(t_.data()) + i_,
                                                           t_.size() - i_, c);
            if (len == 0) c = 0xFFFD, len = 1;
            i_ += len;
            c_ = c;
            std::string arg, arg2;
            switch (c) {
                case ' ': break;
                case 'l': case 'c': case 'r': column(); break;
                case 'w': case 'W':
                    if (auto e = get_braces(arg)) return e;
                    [[fallthrough]];
                case 'p': case 'm': case 'b':
                    if (auto e = get_braces(arg2)) return e;
                    if (!valid_width(arg2)) return error(K::MissingDimension, c);
                    column();
                    break;
                case 'P': case 'M': case 'B': {
                    if (auto e = get_braces(arg)) return e;
                    const std::string macro = std::string(">{$}") + char(c - 'A' + 'a') + "{#1}<{$}";
                    std::string expansion;
                    for (std::size_t k = 0; k < macro.size(); ++k) {
                        if (macro[k] == '#' && k + 1 < macro.size() && macro[k + 1] == '1') {
                            expansion += arg;
                            ++k;
                        } else if (macro[k] == '#' && k + 1 < macro.size() && macro[k + 1] == '#') {
                            expansion += '#';
                            ++k;
                        } else if (macro[k] == '\\' && k + 1 < macro.size()) {
                            expansion += macro.substr(k, 2);
                            ++k;
                        } else {
                            expansion += macro[k];
                        }
                    }
                    replace(expansion);
                    break;
                }
                case '*': {
                    if (auto e = get_braces(arg)) return e;
                    if (auto e = get_braces(arg2)) return e;
                    const bool canonical = !arg.empty() && arg.size() <= 19 &&
                                           arg.find_first_not_of("0123456789") == std::string::npos &&
                                           (arg.size() == 1 || arg[0] != '0') &&
                                           (arg.size() < 19 || arg <= "9223372036854775807");
                    if (!canonical) return error(K::StarCountNotNumber);
                    const std::uint64_t n = std::stoull(arg);
                    if (!arg2.empty() && n > kCap / arg2.size()) {
                        too_big_ = true;
                        break;
                    }
                    std::string rep;
                    for (std::uint64_t k = 0; k < n; ++k) rep += arg2;
                    replace(rep);
                    break;
                }
                case '|': case ':':
                    if (rule_at(j_)) column();
                    set_rule(j_);
                    break;
                case '>': case '<':
                    if (auto e = get_braces(arg)) return e;
                    break;
                case '@': case '!':
                    if (auto e = get_braces(arg)) return e;
                    column();
                    break;
                default: return error(K::IllegalSpecifier, c);
            }
            if (too_big_) return std::nullopt;
            ++items;
        }
        return "ok " + std::to_string(j_);
    }
};

TEST(ParseColumns, AgreesWithDirectReading) {
    const std::vector<std::string> pieces = {
        "l", "c", "r", " ", "  ", "p", "m", "b", "w", "W", "P", "M", "B", "*", "|", ":", ">", "<", "@", "!",
        "{", "}", "\\", "1", "2", "0", "pt", "em", "x", "*{2}{", "*{3}{", "*{0}{", "*{4000}{", "{1pt}", "{2em}",
        "{c}", "P{", "\\{", "\\}", "}}", "{{", "10", "\u00e9", ".", "w\\{", "*\\{", "P\\", "{ 1.5 cm }", "{l}",
        "*{5000}{>}", "{}", "P\\\\", "\\\\", "*{2}{P\\\\", "w\\\\{",
    };
    std::mt19937 rng(2024);
    int compared = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string tmpl;
        const int len = 1 + static_cast<int>(rng() % 10);
        for (int k = 0; k < len; ++k) tmpl += pieces[rng() % pieces.size()];
        const auto want = Reference::run(tmpl);
        if (!want) continue;
        ++compared;
        ASSERT_EQ(outcome(parse_column_template(tmpl)), *want) << tmpl;
    }
    EXPECT_GT(compared, 15000);
}

// Templates whose direct expansion could not be held in memory, or whose arguments the
// direct reading would scan again and again, are still decided at once.
TEST(ParseColumns, AdversarialTemplatesTakeLinearWork) {
    auto nest = [](const std::string& open, int depth, const std::string& inner) {
        std::string s;
        for (int k = 0; k < depth; ++k) s += open;
        s += inner;
        s += std::string(static_cast<std::size_t>(depth), '}');
        return s;
    };
    const std::string big(12000, 'x');
    const std::string spaces(12000, ' ');
    struct Case {
        std::string name;
        std::string tmpl;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"nested repeats", nest("*{9000}{", 1000, "c"), err(K::TooManyItems)},
        {"nested repeats of nothing", nest("*{9000}{", 1000, ""), err(K::TooManyItems)},
        {"nested single repeats", nest("*{1}{", 2000, "c"), "ok 1"},
        {"long argument repeated", "*{10000}{>{" + big + "}}", "ok 0"},
        {"long width repeated", "*{10000}{p{" + spaces + "1pt}}", "ok 10000"},
        {"long width repeated within the limit", "*{5000}{p{" + spaces + "1pt}}", "ok 5000"},
        {"long macro argument repeated", "*{3000}{P{" + spaces + "1pt}}", err(K::TooManyItems)},
        {"escaped brace over huge repeats", "*{9223372036854775807}{w\\{" + big + "}2pt}", err(K::MissingDimension, 'w')},
        {"pending escape across huge repeats", "*{9223372036854775807}{P\\\\" + big + "}", err(K::MissingCloseBrace)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t before = quorvel::util::work_count;
        EXPECT_EQ(outcome(parse_column_template(c.tmpl)), c.want);
        // Linear in the template and the item limit, whatever the counts.
        EXPECT_LE(quorvel::util::work_count - before, 8 * (c.tmpl.size() + 10001));
    }
}

}  // namespace
