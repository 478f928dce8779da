#include "Routes.h"

namespace vendor {

Route RouteOf(std::string_view path) {
    for (const Page& page : kPages)
        if (path == page.path) return page.route;
    return path.starts_with(kDownloadPrefix) ? Route::Download : Route::Other;
}

std::string_view PathOf(Route route) {
    for (const Page& page : kPages)
        if (route == page.route) return page.path;
    return {};
}

std::string_view RouteName(Route route) {
    for (const Page& page : kPages)
        if (route == page.route) return page.name;
    return route == Route::Download ? "download" : "other";
}

}  // namespace vendor
