#include "transform/error.hpp"

namespace quorvel::transform {

RewriteError RewriteError::from_rule_error(const RuleKey& key, RuleError error) {
    if (error.kind == RuleError::Kind::MissingMetadata)
        return {MissingMetadata{key, std::move(error.text)}};
    return {RuleFailed{key, std::move(error.text)}};
}

std::string optional_name_debug(const std::optional<std::string>& name) {
    if (!name.has_value()) return "None";
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out = "Some(\"";
    const std::string& text = *name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        // The C1 controls U+0080..U+009F, written as C2 80..C2 9F.
        if (byte == 0xc2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f) {
                out += "\\u{";
                out += HEX[next >> 4];
                out += HEX[next & 0xf];
                out += '}';
                ++i;
                continue;
            }
        }
        switch (c) {
            case '\0': out += "\\0"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    out += "\\u{";
                    if (byte >= 0x10) out += HEX[byte >> 4];
                    out += HEX[byte & 0xf];
                    out += '}';
                } else {
                    out += c;
                }
        }
    }
    out += "\")";
    return out;
}

std::string RewriteError::to_string() const {
    std::string out;
    if (const auto* e = std::get_if<RuleFailed>(&value)) {
        append_to(out, e->key);
        out += ": ";
        out += e->message;
    } else if (const auto* e = std::get_if<MissingMetadata>(&value)) {
        append_to(out, e->key);
        out += ": missing metadata for ";
        out += e->name;
    } else if (const auto* e = std::get_if<ContractViolated>(&value)) {
        out = "rewrite contract violated for ";
        out += transform::to_string(e->kind);
        out += " `";
        out += e->name;
        out += "` (node ";
        out += optional_name_debug(e->node);
        out += ')';
    } else if (const auto* e = std::get_if<TooComplex>(&value)) {
        out = "formula too complex to normalise: its transform would take more than ";
        out += std::to_string(e->limit);
        out += " steps of work, for a tree of ";
        out += std::to_string(e->size);
        out += " nodes";
    } else {
        out = "rewrite exceeded max iterations: ";
        out += std::to_string(std::get<MaxIterations>(value).limit);
    }
    return out;
}

namespace error {

std::string TransformError::to_string() const {
    return std::visit([](const auto& inner) { return inner.to_string(); }, value);
}

}  // namespace error

}  // namespace quorvel::transform
