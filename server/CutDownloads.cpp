#include "CutDownloads.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/http.h>

#include <algorithm>

namespace vendor {

void CutDownloads::Started(evhttp_request* request, Download download) {
    evhttp_connection* connection = evhttp_request_get_connection(request);
    m_sending[connection] = std::move(download);
    evhttp_connection_set_closecb(connection, OnConnectionClosed, this);
}

std::string CutDownloads::Finished(evhttp_request* request) {
    const auto found = m_sending.find(evhttp_request_get_connection(request));
    if (found == m_sending.end()) return {};
    std::string version = std::move(found->second.version);
    m_sending.erase(found);
    return version;
}

void CutDownloads::OnConnectionClosed(evhttp_connection* connection, void* self) {
    auto* downloads = static_cast<CutDownloads*>(self);
    const auto found = downloads->m_sending.find(connection);
    if (found == downloads->m_sending.end()) return;
    const Download download = std::move(found->second);
    downloads->m_sending.erase(found);
    const unsigned long long unsent =
        evbuffer_get_length(bufferevent_get_output(evhttp_connection_get_bufferevent(connection)));
    downloads->m_cut(download, download.length - std::min(download.length, unsent));
}

}  // namespace vendor
