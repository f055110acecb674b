#include "transform/passes/tree_support.hpp"

#include "util/utf8.hpp"

namespace quorvel::transform::passes::support {

WhiteSpaceEdges white_space_edges(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    WhiteSpaceEdges edges;
    std::size_t begin = 0;
    while (begin < text.size()) {
        char32_t c = 0;
        const std::size_t n = util::utf8::decode(bytes + begin, text.size() - begin, c);
        if (n == 0 || !is_unicode_white_space(c)) break;
        begin += n;
    }
    edges.leading = begin;
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (bytes[start] & 0xC0) == 0x80) --start;
        char32_t c = 0;
        if (util::utf8::decode(bytes + start, end - start, c) != end - start || !is_unicode_white_space(c)) break;
        end = start;
    }
    edges.trailing = text.size() - end;
    return edges;
}

}  // namespace quorvel::transform::passes::support
