#include "Replies.h"

#include "Url.h"

namespace vendor {

namespace {

std::string NotesPage(const Release& release) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Qorvel " +
        release.version + "</title>\n</head>\n<body>\n<h1>Qorvel " + release.version + "</h1>\n";
    page += release.notesHtml.empty() ? "<p>-</p>\n" : release.notesHtml;
    if (!page.ends_with('\n')) page += '\n';
    return page + "</body>\n</html>\n";
}

std::string RecordOf(const Release& release, const std::string& publicBase) {
    return release.record.empty()
               ? "#" + release.version + "#" + publicBase + release.DownloadPath() + "#"
               : release.record;
}

}  // namespace

Replies MakeReplies(const Release& release, const std::string& publicBase) {
    return {
        .check = release.paused ? "" : "true",
        .autoList = RecordOf(release, publicBase),
        .autoListOut = release.previous ? RecordOf(*release.previous, publicBase) : "",
        .manual = EncodeAddress(release.manualPage),
        .notesPage = NotesPage(release),
    };
}

}  // namespace vendor
