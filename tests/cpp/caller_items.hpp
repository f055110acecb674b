// Caller items carried in front of a source, as the parse fuzzer reads them:
// commands, environments and delimiter controls declared the way
// `Parser(items=...)` declares them, so the fuzzer and the tests that replay
// what it found reach the grammar a caller's argument specifications build.
//
// Data that starts with byte 0x01 carries items, one a line:
//
//     \x01 TARGET MODE NAME ' ' ARGSPEC '\n'
//
// TARGET is `c` (prefix command), `i` (infix), `d` (declarative), `e`
// (environment with a math body), `E` (environment with a text body) or `x`
// (delimiter control); MODE is `m`, `t` or `b` (allowed in math, text, both).
// Any other byte picks one by its value, so every mutation declares
// something. The source is what follows the last item line. Data that does
// not start with 0x01 is a source alone, parsed with the default knowledge:
// every plain seed keeps its meaning.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facade/config.hpp"
#include "facade/input.hpp"
#include "facade/parser.hpp"
#include "knowledge/argspec.hpp"

namespace quorvel::caller_items {

inline constexpr char kItemMark = '\x01';
// More items add nothing a few cannot reach, and each is built anew.
inline constexpr std::size_t kMaxItems = 8;

struct Decoded {
    std::vector<facade::input::ContextItemInput> items;
    std::string_view header;  // the item lines, for telling contexts apart
    std::string_view source;
};

inline std::size_t pick(char c, const char* letters) {
    const std::size_t count = std::strlen(letters);
    const char* at = c == '\0' ? nullptr : std::strchr(letters, c);
    if (at != nullptr) return static_cast<std::size_t>(at - letters);
    return static_cast<unsigned char>(c) % count;
}

// One item line, without its mark and newline: none when it is too short to
// name a target and a mode.
inline std::optional<facade::input::ContextItemInput> decode_line(std::string_view line) {
    using namespace facade::input;
    if (line.size() < 2) return std::nullopt;
    ContextItemInput item;
    const std::size_t target = pick(line[0], "cideEx");
    const auto mode = static_cast<ContextAllowedMode>(pick(line[1], "mtb"));
    line.remove_prefix(2);
    const std::size_t space = line.find(' ');
    item.name = std::string(line.substr(0, space));
    const std::string_view argspec = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (target <= 2) {
        item.target = ContextTarget::Command;
        item.kind = static_cast<ContextCommandKind>(target);
        item.allowed_mode = mode;
        item.argspec = std::string(argspec);
    } else if (target <= 4) {
        item.target = ContextTarget::Environment;
        item.body_mode = target == 3 ? ContextContentMode::Math : ContextContentMode::Text;
        item.allowed_mode = mode;
        item.argspec = std::string(argspec);
    } else {
        item.target = ContextTarget::Delimiter;
    }
    return item;
}

inline Decoded decode(std::string_view data) {
    Decoded out;
    std::size_t at = 0;
    while (at < data.size() && data[at] == kItemMark) {
        std::size_t end = data.find('\n', at);
        if (end == std::string_view::npos) end = data.size();
        if (out.items.size() < kMaxItems) {
            if (auto item = decode_line(data.substr(at + 1, end - at - 1))) out.items.push_back(std::move(*item));
        }
        at = end < data.size() ? end + 1 : end;
    }
    out.header = data.substr(0, at);
    out.source = data.substr(at);
    return out;
}

// The parser a caller would build from the items. An item whose argument
// specification does not parse is left out, as a caller would mend it, so
// that one bad slot does not cost the rest; none when the build still fails.
inline std::optional<facade::Parser> build_parser(std::vector<facade::input::ContextItemInput> items) {
    facade::ParserBuilder builder;
    for (auto& item : items) {
        if (item.argspec && !knowledge::parse_arg_specs(*item.argspec, "caller item")) continue;
        auto converted = facade::context_item_try_from(std::move(item));
        if (!converted) continue;
        builder.item(std::move(converted).value());
    }
    auto parser = builder.build();
    if (!parser) return std::nullopt;
    return std::move(parser).value();
}

// The line that declares one item, for writing seeds and replays.
inline std::string line(char target, char mode, std::string_view name, std::string_view argspec) {
    std::string out(1, kItemMark);
    out += target;
    out += mode;
    out += name;
    out += ' ';
    out += argspec;
    out += '\n';
    return out;
}

}  // namespace quorvel::caller_items
