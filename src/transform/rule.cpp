#include "transform/rule.hpp"

namespace quorvel::transform {

void append_to(std::string& out, const RuleKey& key) {
    out += knowledge::to_string(key.package);
    out += '/';
    out += key.name;
}

std::string to_string(const RuleKey& key) {
    std::string out;
    append_to(out, key);
    return out;
}

}  // namespace quorvel::transform
