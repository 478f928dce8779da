// Downloads being sent, by connection: one whose connection closes before it was sent whole was
// cut (the client left, it stalled, or the server stops), and is told with the bytes the socket
// took, as nginx logs it. The library sets another status on a request whose connection fails,
// so each download's own is kept here.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "HeadScanner.h"

struct evhttp_connection;
struct evhttp_request;

namespace vendor {

class CutDownloads {
public:
    struct Download {
        evhttp_request* request;
        ScannedHead head;
        std::string peer;
        int status;
        unsigned long long length;
        std::string version;
    };
    using Cut = std::function<void(const Download& download, unsigned long long sent)>;

    explicit CutDownloads(Cut cut) : m_cut(std::move(cut)) {}
    void Started(evhttp_request* request, Download download);
    // The download of this request was sent whole: its version ("" if it was no download).
    std::string Finished(evhttp_request* request);

private:
    static void OnConnectionClosed(evhttp_connection* connection, void* self);

    Cut m_cut;
    std::unordered_map<evhttp_connection*, Download> m_sending;
};

}  // namespace vendor
