#include "ServerProtocol.h"

#include <cctype>
#include <string>

#include "CodePage.h"
#include "HttpGet.h"
#include "ModulePath.h"

namespace {

// A text reply is a line or two; a body larger than this is no reply of ours.
constexpr size_t kMaxReplyBytes = 1 << 20;

class ReplySink : public HttpSink {
public:
    bool Begin(const HttpResponseInfo& response) override { return response.status == 200; }
    bool Write(const char* data, DWORD size) override {
        if (m_body.size() + size > kMaxReplyBytes) return false;
        m_body.append(data, size);
        return true;
    }
    const std::string& Body() const { return m_body; }

private:
    std::string m_body;
};

// The program's own name, as WinINet's agent: the file name without folder and extension.
std::wstring ProgramName() {
    std::wstring name = ModuleFileName();
    name = name.substr(name.find_last_of(L"\\/") + 1);
    const size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

bool IsAsciiBlankOrControl(unsigned char byte) {
    return byte <= 0x20 || byte == 0x7F;
}

}  // namespace

bool IsWebAddress(const GbkString& text) {
    const std::string& bytes = text.Bytes();
    for (const char* scheme : {"http://", "https://"}) {
        const size_t length = std::char_traits<char>::length(scheme);
        if (bytes.size() <= length) continue;
        bool same = true;
        for (size_t i = 0; i < length; ++i)
            same = same && std::tolower(static_cast<unsigned char>(bytes[i])) == scheme[i];
        if (!same) continue;
        for (const char byte : bytes)
            if (IsAsciiBlankOrControl(static_cast<unsigned char>(byte)) || byte == '"')
                return false;
        return true;
    }
    return false;
}

GbkString JoinReplyLines(std::string_view body) {
    std::string joined;
    joined.reserve(body.size());
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        const bool lastLine = end == std::string_view::npos;
        if (lastLine) end = body.size();
        std::string_view line = body.substr(start, end - start);
        if (!lastLine && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        joined += line;
        start = end + 1;
    }
    return GbkString(std::move(joined));
}

UpdateRecord CutUpdateRecord(const GbkString& reply) {
    const int first = reply.Find('#');
    const int second = reply.Find('#', first + 1);
    const int third = reply.Find('#', second + 1);
    return {reply.Mid(first + 1, second - first - 1), reply.Mid(second + 1, third - second - 1)};
}

void FetchText(const GbkString& url, GbkString& reply, const StopCheck& stopRequested,
               const std::wstring& headers) {
    reply.Empty();
    HttpGetOptions options;
    options.agent = ProgramName();
    options.headers = headers;
    options.flags = INTERNET_FLAG_TRANSFER_ASCII;
    // Without it WinINet may answer from its cache instead of asking the server again.
    options.resetCacheSession = true;
    options.stopRequested = stopRequested;
    ReplySink sink;
    const HttpResult result = HttpGet(ToWide(url), options, sink);
    reply = result.outcome == HttpOutcome::Complete ? JoinReplyLines(sink.Body())
                                                    : GbkString(kFailureWord);
}
