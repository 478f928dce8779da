#include "Routes.h"

namespace vendor {

namespace {

// No program's address ends so: a version is digits and dots, a tag is hex.
bool NamesAPatch(std::string_view path) {
    constexpr size_t kDigits = 64;
    if (path.size() < kPatchFolder.size() + kDigits) return false;
    const std::string_view name = path.substr(path.size() - kDigits);
    return path.substr(0, path.size() - kDigits).ends_with(kPatchFolder) &&
           name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

Route RouteOf(std::string_view path) {
    for (const Page& page : kPages)
        if (path == page.path) return page.route;
    if (!path.starts_with(kDownloadPrefix)) return Route::Other;
    return NamesAPatch(path) ? Route::Patch : Route::Download;
}

std::string_view PathOf(Route route) {
    for (const Page& page : kPages)
        if (route == page.route) return page.path;
    return {};
}

std::string_view RouteName(Route route) {
    for (const Page& page : kPages)
        if (route == page.route) return page.name;
    return route == Route::Download ? "download" : route == Route::Patch ? "patch" : "other";
}

}  // namespace vendor
