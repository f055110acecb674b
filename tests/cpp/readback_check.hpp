// What is wrong with the normalised output of a formula that parses clean:
// it must parse clean, read back as the tree it was written from (by
// `tree_shape`), and normalise to itself.
#pragma once

#include <string>
#include <string_view>

#include "facade/transform_engine.hpp"
#include "tree_shape.hpp"

namespace quorvel::testing {

// Empty when the output of `source` is sound; else what went wrong, with
// the output.
inline std::string readback_fault(const facade::TransformEngine& e, std::string_view source) {
    const facade::NormalizeConfig config = e.default_normalize_config();
    auto parsed = e.parser().parse_with(source, config.parse);
    if (!parsed.document || !parsed.diagnostics.empty()) return "the source does not parse clean";
    auto document = std::move(*parsed.document);
    if (auto done = e.transform_with(document, config.transform); !done)
        return "does not normalise: " + std::string(done.error().message());
    const auto text = document.to_latex();
    if (!text) return "is not written";
    const std::string output = "output " + *text + ": ";
    const auto again = e.parser().parse_with(*text, config.parse);
    if (!again.document) return output + "reads back without a document";
    if (!again.diagnostics.empty()) return output + "reads back with \"" + again.diagnostics[0].message + "\"";
    const std::string written = tree_shape(document.ast());
    const std::string read = tree_shape(again.document->ast());
    if (written != read) return output + "reads back as another tree:\n    " + written + "\n    " + read;
    const auto second = e.normalize_with(*text, config);
    if (!second) return output + "does not normalise again";
    if (*second != *text) return output + "normalised again: " + *second;
    return "";
}

}  // namespace quorvel::testing
