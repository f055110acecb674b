// Corpus formulas and the small mistakes people and machines make in them:
// the input of the property tests over malformed formulas.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::mistakes {

// Every line of both corpus files, in order; nothing when a file is missing.
inline std::optional<std::vector<std::string>> read_corpus() {
    const std::string dir = QUORVEL_CORPUS_DIR;
    std::vector<std::string> lines;
    for (const char* name : {"/arxiv.txt", "/exam.txt"}) {
        std::ifstream in(dir + name, std::ios::binary);
        if (!in) return std::nullopt;
        for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
    }
    return lines;
}

// Fragments that real mistakes leave behind: stray delimiters and
// environment ends, math shifts, alignment and parameter characters, a half
// typed command.
inline constexpr std::array<std::string_view, 9> kMistakeFragments = {
    "\\right)", "\\left(", "\\end{array}", "$", "&", "#", "\\\\", "\\frac", "\\text{"};

// Makes mistakes deterministically from a seed: each edit inserts, deletes or
// replaces one character, or inserts one of the fragments above.
class MistakeMaker {
public:
    explicit MistakeMaker(std::uint64_t seed) : rng_(seed) {}

    std::string make(std::string_view source, int edits) {
        std::string out(source);
        for (int i = 0; i < edits; ++i) edit(out);
        return out;
    }

private:
    std::size_t below(std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    char character() {
        // Mostly the characters that carry structure, sometimes any printable one.
        static constexpr std::string_view structural = "{}[]()^_\\&#$%~ ";
        if (below(3) != 0) return structural[below(structural.size())];
        return static_cast<char>(' ' + below(95));
    }

    void edit(std::string& s) {
        const std::size_t at = below(s.size() + 1);
        switch (below(4)) {
        case 0:
            s.insert(at, 1, character());
            break;
        case 1:
            if (at < s.size()) s.erase(at, 1);
            break;
        case 2:
            if (at < s.size()) s[at] = character();
            break;
        default:
            s.insert(at, kMistakeFragments[below(kMistakeFragments.size())]);
            break;
        }
    }

    std::mt19937_64 rng_;
};

// `per_line` mistakes of one or two edits for every line, the same for every
// run.
inline std::vector<std::string> corpus_mistakes(const std::vector<std::string>& lines, std::size_t per_line,
                                                std::uint64_t seed = 25) {
    MistakeMaker maker(seed);
    std::vector<std::string> out;
    out.reserve(lines.size() * per_line);
    for (const auto& line : lines)
        for (std::size_t k = 0; k < per_line; ++k) out.push_back(maker.make(line, 1 + static_cast<int>(k % 2)));
    return out;
}

// Constructs wrapped around random stretches of a formula: a pair (an
// environment or `\\left...\\right`) crossed by a group or an argument
// that opens inside it and closes after it, behind a group left open. An Error then
// ends inside a brace that the text after it closes.
inline constexpr std::array<std::array<std::string_view, 2>, 4> kCrossed = {{
    {"\\begin{array}{}", "\\end{array}"},
    {"\\begin{matrix}", "\\end{matrix}"},
    {"\\left(", "\\right)"},
    {"\\begin{x}", "\\end{x}"},
}};
inline constexpr std::array<std::string_view, 4> kOpenGroups = {"{", "^{", "\\frac{", "_{"};
inline constexpr std::array<std::string_view, 3> kCrossingOpeners = {"{", "\\sqrt{", "\\frac{"};

// `per_line` wrappings for every line, the same for every run. Stretches
// start and end between characters, never inside one.
inline std::vector<std::string> corpus_wrappings(const std::vector<std::string>& lines, std::size_t per_line,
                                                 std::uint64_t seed = 37) {
    std::mt19937_64 rng(seed);
    auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::vector<std::string> out;
    out.reserve(lines.size() * per_line);
    for (const auto& line : lines) {
        std::vector<std::size_t> cuts;
        for (std::size_t i = 0; i <= line.size(); ++i)
            if (i == line.size() || (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) cuts.push_back(i);
        for (std::size_t k = 0; k < per_line; ++k) {
            std::array<std::size_t, 5> at;
            for (auto& p : at) p = cuts[below(cuts.size())];
            std::sort(at.begin(), at.end());
            const auto& pair = kCrossed[below(kCrossed.size())];
            // From the back, so that earlier positions stay valid.
            std::string s = line;
            s.insert(at[4], "}");
            s.insert(at[3], pair[1]);
            s.insert(at[2], kCrossingOpeners[below(kCrossingOpeners.size())]);
            s.insert(at[1], pair[0]);
            s.insert(at[0], kOpenGroups[below(kOpenGroups.size())]);
            out.push_back(std::move(s));
        }
    }
    return out;
}

}  // namespace quorvel::mistakes
