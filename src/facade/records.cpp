#include "facade/records.hpp"

#include "knowledge/packages.hpp"

namespace quorvel::facade {

std::vector<PackageInfoDto> list_packages_to_dto() {
    std::vector<PackageInfoDto> packages;
    packages.reserve(knowledge::ALL_PACKAGES.size());
    for (const knowledge::BuiltinPackage* package : knowledge::ALL_PACKAGES) {
        packages.push_back({package->name, package->commands.size(), package->environments.size()});
    }
    return packages;
}

}  // namespace quorvel::facade
