// The server's addresses, once for all who need them: the protocol's pages, the downloads, and
// the names the metrics give them. The live server routes a decoded path by them, the metrics
// label by the route resolved, and the export writes the same pages.
#pragma once

#include <string_view>

namespace vendor {

enum class Route { Check, UpdateList, Notes, Download, Patch, Other };

struct Page {
    Route route;
    std::string_view path;  // decoded
    std::string_view name;  // the metrics' label, and the page's file name in the export
};

inline constexpr Page kPages[] = {
    {Route::Check, "/freeUpdate/isweb.asp", "isweb.asp"},
    {Route::UpdateList, "/freeUpdate/update.asp", "update.asp"},
    {Route::Notes, "/freeUpdate/log.asp", "log.asp"},
};
inline constexpr std::string_view kDownloadPrefix = "/download/";
// A patch lies beside the download it leads to, named by the SHA-256 of the program it starts
// from: "/download/2.0.1.5/from/<64 lowercase hex>".
inline constexpr std::string_view kPatchFolder = "/from/";

// The route of a decoded path ("/download/2.0.1.5/x.exe": Download, ".../from/<hex>": Patch,
// whether or not it exists).
Route RouteOf(std::string_view path);
// The decoded path of a page's route; empty for the others.
std::string_view PathOf(Route route);
// The metrics' label of a route: a page's name, "download", "patch" or "other".
std::string_view RouteName(Route route);

}  // namespace vendor
