#include "StaticExport.h"

#include <fstream>

#include "Replies.h"
#include "Rollout.h"
#include "Routes.h"
#include "Sha256.h"
#include "Store.h"

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

// A page's path as the live server routes it, so that both serve the same addresses.
std::string PagePath(Route route) {
    return std::string(PathOf(route));
}

// A path as a literal inside an nginx regular expression.
std::string RegexLiteral(const std::string& path) {
    std::string literal;
    for (char c : path) {
        if (c == '.') literal += '\\';
        literal += c;
    }
    return literal;
}

// A value nginx reads as one word, whatever blanks, ";", "{" or "#" it holds.
std::string NginxQuoted(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

bool HasControlCharacter(const std::string& value) {
    for (const unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// What nginx cannot take even quoted: "$" starts a variable in root, and a line break would
// read as another directive to the eye. A listen value is an address and a port, no options.
bool NginxCanTake(const fs::path& siteRoot, const std::string& listen, std::string& error) {
    const std::string root = siteRoot.string();
    if (root.find('$') != std::string::npos || HasControlCharacter(root)) {
        error = "nginx cannot serve from " + root +
                ": choose an OUT_DIR without \"$\" or control "
                "characters";
        return false;
    }
    if (listen.empty() ||
        listen.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"
                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZ.:[]*-_") != std::string::npos) {
        error = "--listen wants a PORT or HOST:PORT for nginx, not \"" + listen + "\"";
        return false;
    }
    return true;
}

}  // namespace

void KeepExportAddresses(ReleaseFolder& folder, const fs::path& out, const fs::path& serverStore) {
    AddressBook& book = folder.Addresses();
    book.Open(fs::absolute(out) / kExportAddressBook, true);
    if (!serverStore.empty()) book.Consult(Store::AddressesIn(serverStore));
    book.HonourPlacedFiles(fs::absolute(out) / "site" / "download");
}

namespace {

// The variable that names the record file of an installation ("Auto" or "Auto-out"), by a
// name of this site's own: two exported sites may live in one nginx.
std::string RolloutVariable(const fs::path& siteRoot) {
    Sha256 digest;
    digest.Add(siteRoot.c_str(), siteRoot.string().size());
    return "$update_rollout_" + digest.Hex().substr(0, 8);
}

// nginx's split_clients decides as update-server does (see Rollout.h): the share by the hash of
// the id and the version; a missing or malformed id is out. http-level blocks.
std::string NginxRolloutBlocks(const std::string& variable, const Release& release) {
    return "# The rollout: " + RolloutText(release.rollout) + " of installations are offered " +
           release.version + ", as update-server decides.\nsplit_clients \"${http_x_install_id}" +
           release.version + "\" " + variable + "_split {\n    " + RolloutText(release.rollout) +
           " Auto;\n    * Auto-out;\n}\nmap $http_x_install_id " + variable +
           " {\n    \"~^[0-9a-f]{32}$\" " + variable + "_split;\n    default Auto-out;\n}\n";
}

}  // namespace

std::string NginxServerBlock(const fs::path& siteRoot, const std::string& listen,
                             const Release& release) {
    const std::string noCache =
        "        add_header Cache-Control \"no-cache, no-store, must-revalidate\" always;\n"
        "        add_header Pragma no-cache always;\n"
        "        add_header Expires 0 always;\n";
    const std::string text = "        types { } default_type \"text/plain; charset=us-ascii\";\n";
    const std::string check = PagePath(Route::Check);
    const std::string list = PagePath(Route::UpdateList);
    const bool split = release.rollout > 0 && release.rollout < kWholeRollout;
    const std::string variable = RolloutVariable(siteRoot);
    return "# Written by update-server export: serves the exported update site.\n" +
           (split ? NginxRolloutBlocks(variable, release) : "") +
           "server {\n"
           "    listen " +
           NginxQuoted(listen) +
           ";\n"
           "    root " +
           NginxQuoted(siteRoot.string()) +
           ";\n"
           "    gzip off;\n"
           "    location = " +
           check + " {\n" + text + noCache +
           "    }\n"
           "    location = " +
           list + " {\n" + text + noCache + "        if ($arg_action = Auto) { rewrite ^ " + list +
           (split ? "-" + variable : "-Auto") +
           " last; }\n"
           "        if ($arg_action = Hand) { rewrite ^ " +
           list +
           "-Hand last; }\n"
           "        return 400;\n"
           "    }\n"
           "    location ~ ^" +
           RegexLiteral(list) +
           "-(Auto|Auto-out|Hand)$ {\n"
           "        internal;\n" +
           text + noCache +
           "    }\n"
           "    location = " +
           PagePath(Route::Notes) +
           " {\n"
           "        types { } default_type \"text/html; charset=utf-8\";\n" +
           noCache +
           "    }\n"
           "    # Installed updaters write what they receive: the program is never compressed.\n"
           "    location " +
           std::string(kDownloadPrefix) +
           " {\n"
           "        types { } default_type application/octet-stream;\n"
           "        gzip off;\n"
           "    }\n"
           "    location / { return 404; }\n"
           "}\n";
}

namespace {

// The checked copy `copy` moved to `path` (decoded) of the site. Already there: the address book
// gave this address to these very bytes, and the file left as it is keeps nginx's ETag (its
// time and size) for the parts updaters hold.
bool PlaceCopy(const fs::path& copy, const std::string& path, const fs::path& site,
               std::string& error) {
    const fs::path placed = site / path;
    std::error_code failure;
    fs::create_directories(placed.parent_path(), failure);
    if (!failure && !fs::exists(placed, failure)) fs::rename(copy, placed, failure);
    if (failure) {
        error = "cannot place " + placed.filename().string() + " in " +
                placed.parent_path().string() + ": " + failure.message();
        return false;
    }
    return true;
}

// Under its own address, if it has one.
bool PlaceProgram(const Release& release, const fs::path& site, std::string& error) {
    return PlaceCopy(release.program, release.DecodedPath(), site, error);
}

// At the address updaters derive from the program's, where one was made.
bool PlacePatch(const Release& release, const fs::path& site, std::string& error) {
    return !release.patch || PlaceCopy(release.patch->file->Path(),
                                       release.PatchPath(release.patch->fromSha256), site, error);
}

}  // namespace

bool ExportRelease(const Release& release, const fs::path& out, const ExportOptions& options,
                   std::string& error) {
    const fs::path site = fs::absolute(out) / "site";
    const fs::path check = site / PagePath(Route::Check).substr(1);
    const fs::path list = site / PagePath(Route::UpdateList).substr(1);
    const fs::path notes = site / PagePath(Route::Notes).substr(1);
    if (!NginxCanTake(site, options.listen, error)) return false;
    std::error_code failure;
    fs::create_directories(check.parent_path(), failure);
    if (failure) {
        error = "cannot make " + site.string() + ": " + failure.message();
        return false;
    }
    if (!PlaceProgram(release, site, error) ||
        (release.previous && !PlaceProgram(*release.previous, site, error)) ||
        !PlacePatch(release, site, error))
        return false;
    const Replies texts = MakeReplies(release, options.publicBase);
    // At 0 % nobody is in: the one record served is the one for the others.
    const std::string& offered = release.rollout == 0 ? texts.autoListOut : texts.autoList;
    // The records are written last: they must never name a program that is not there yet.
    return WriteReplacing(check, texts.check, error) &&
           WriteReplacing(list.string() + "-Hand", texts.manual, error) &&
           WriteReplacing(notes, texts.notesPage, error) &&
           WriteReplacing(list.string() + "-Auto-out", texts.autoListOut, error) &&
           WriteReplacing(list.string() + "-Auto", offered, error) &&
           WriteReplacing(fs::absolute(out) / "nginx-server.conf",
                          NginxServerBlock(site, options.listen, release), error);
}

}  // namespace vendor
