// `update-server export`: the same replies as files, for nginx or any web server and the CDNs in
// front of it, and an nginx server block that serves them.
//
//   OUT_DIR/site/freeUpdate/isweb.asp, log.asp          the replies as they are
//   OUT_DIR/site/freeUpdate/update.asp-Auto, -Hand      update.asp?action=Auto, =Hand
//   OUT_DIR/site/download/<version>/<program>           the program, beside earlier exports'
//   OUT_DIR/nginx-server.conf                           the server block
#pragma once

#include <filesystem>
#include <string>

#include "Release.h"

namespace vendor {

struct ExportOptions {
    std::string publicBase;  // where users reach the exported site, ending in "/"
    std::string listen;      // nginx's listen directive, such as "127.0.0.1:8080" or "80"
};

// False with `error` set. `release` has been checked; its copy is moved into the site.
bool ExportRelease(const Release& release, const std::filesystem::path& out,
                   const ExportOptions& options, std::string& error);

// The nginx server block for a site exported to `siteRoot` (absolute).
std::string NginxServerBlock(const std::filesystem::path& siteRoot, const std::string& listen);

}  // namespace vendor
