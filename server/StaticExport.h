// `update-server export`: the same replies as files, for nginx or any web server and the CDNs in
// front of it, and an nginx server block that serves them.
//
//   OUT_DIR/site/freeUpdate/isweb.asp, log.asp          the replies as they are
//   OUT_DIR/site/freeUpdate/update.asp-Auto, -Hand      update.asp?action=Auto, =Hand
//   OUT_DIR/site/freeUpdate/update.asp-Auto-out         =Auto outside the rollout
//   OUT_DIR/site/download/<version>/<program>           the program, beside earlier exports'
//   OUT_DIR/site/download/<version>/from/<sha256>       the patch from the previous program,
//                                                       if one was made
//   OUT_DIR/nginx-server.conf                           the server block (and, while a
//                                                       rollout is under way, its
//                                                       split_clients and map blocks)
//   OUT_DIR/addresses.txt                               which bytes each exported address holds
//
// nginx makes its ETag of a file's time and size, which two sets of bytes may share: an
// exported path therefore never holds other bytes than the first it was given (they get an
// address of their own, as with the server), and so never changes under an ETag.
#pragma once

#include <filesystem>
#include <string>

#include "Release.h"
#include "ReleaseFolder.h"

namespace vendor {

inline constexpr char kExportAddressBook[] = "addresses.txt";

struct ExportOptions {
    std::string publicBase;  // where users reach the exported site, ending in "/"
    std::string listen;      // nginx's listen directive, such as "127.0.0.1:8080" or "80"
};

// Gives `folder` the export's own address book in `out`, consulting the one of the server's
// store `serverStore` (empty: none), so that the export gives the addresses the server gives.
void KeepExportAddresses(ReleaseFolder& folder, const std::filesystem::path& out,
                         const std::filesystem::path& serverStore);

// False with `error` set. `release` has been checked (with KeepExportAddresses); its copy, the
// previous release's and the patch, are moved into the site, unless their addresses hold them
// already.
bool ExportRelease(const Release& release, const std::filesystem::path& out,
                   const ExportOptions& options, std::string& error);

// The nginx server block for `release` exported to `siteRoot` (absolute), to include in the
// http block.
std::string NginxServerBlock(const std::filesystem::path& siteRoot, const std::string& listen,
                             const Release& release);

}  // namespace vendor
