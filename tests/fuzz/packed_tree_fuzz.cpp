// libFuzzer target: any bytes given as a pickled document's packed tree are
// read or refused without a crash or a hang; a tree that is read packs back
// to a form that reads to the same tree, and one that makes a document
// writes that document back as LaTeX.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "syntax/document.hpp"
#include "syntax/packed_tree.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvel::syntax;
    auto tree = unpack_tree(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!tree) return 0;
    auto again = unpack_tree(pack_tree(*tree));
    if (!again || !(*again == *tree)) std::abort();
    auto document = document::Document::from_syntax(*tree);
    if (document) (void)document->to_latex();
    return 0;
}
