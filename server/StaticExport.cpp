#include "StaticExport.h"

#include <fstream>

#include "Replies.h"

namespace fs = std::filesystem;

namespace vendor {

namespace {

// Written beside and renamed into place: a web server never serves half a file.
bool WriteReplacing(const fs::path& path, const std::string& bytes, std::string& error) {
    const fs::path part = path.string() + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            error = "cannot write " + part.string();
            return false;
        }
    }
    std::error_code failure;
    fs::rename(part, path, failure);
    if (failure) error = "cannot rename " + part.string() + ": " + failure.message();
    return !failure;
}

}  // namespace

std::string NginxServerBlock(const fs::path& siteRoot, const std::string& listen) {
    const std::string noCache =
        "        add_header Cache-Control \"no-cache, no-store, must-revalidate\" always;\n"
        "        add_header Pragma no-cache always;\n"
        "        add_header Expires 0 always;\n";
    const std::string text = "        types { } default_type \"text/plain; charset=us-ascii\";\n";
    return "# Written by update-server export: serves the exported update site.\n"
           "server {\n"
           "    listen " +
           listen +
           ";\n"
           "    root " +
           siteRoot.string() +
           ";\n"
           "    gzip off;\n"
           "    location = /freeUpdate/isweb.asp {\n" +
           text + noCache +
           "    }\n"
           "    location = /freeUpdate/update.asp {\n" +
           text + noCache +
           "        if ($arg_action = Auto) { rewrite ^ /freeUpdate/update.asp-Auto last; }\n"
           "        if ($arg_action = Hand) { rewrite ^ /freeUpdate/update.asp-Hand last; }\n"
           "        return 400;\n"
           "    }\n"
           "    location ~ ^/freeUpdate/update\\.asp-(Auto|Hand)$ {\n"
           "        internal;\n" +
           text + noCache +
           "    }\n"
           "    location = /freeUpdate/log.asp {\n"
           "        types { } default_type \"text/html; charset=utf-8\";\n" +
           noCache +
           "    }\n"
           "    # Installed updaters write what they receive: the program is never compressed.\n"
           "    location /download/ {\n"
           "        types { } default_type application/octet-stream;\n"
           "        gzip off;\n"
           "    }\n"
           "    location / { return 404; }\n"
           "}\n";
}

bool ExportRelease(const Release& release, const fs::path& out, const ExportOptions& options,
                   std::string& error) {
    const fs::path site = fs::absolute(out) / "site";
    const fs::path replies = site / "freeUpdate";
    const fs::path placed = site / release.DecodedPath();  // under its own address, if it has one
    const fs::path download = placed.parent_path();
    std::error_code failure;
    fs::create_directories(replies, failure);
    if (!failure) fs::create_directories(download, failure);
    if (failure) {
        error = "cannot make " + site.string() + ": " + failure.message();
        return false;
    }
    fs::rename(release.program, placed, failure);
    if (failure) {
        error = "cannot place the program in " + download.string() + ": " + failure.message();
        return false;
    }
    const Replies texts = MakeReplies(release, options.publicBase);
    // The record is written last: it must never name a program that is not there yet.
    return WriteReplacing(replies / "isweb.asp", texts.check, error) &&
           WriteReplacing(replies / "update.asp-Hand", texts.manual, error) &&
           WriteReplacing(replies / "log.asp", texts.notesPage, error) &&
           WriteReplacing(replies / "update.asp-Auto", texts.autoList, error) &&
           WriteReplacing(fs::absolute(out) / "nginx-server.conf",
                          NginxServerBlock(site, options.listen), error);
}

}  // namespace vendor
