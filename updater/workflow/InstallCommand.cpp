#include "InstallCommand.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "RecordText.h"

namespace {

constexpr wchar_t kNoRecord[] = L"-";

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The command line's words are ASCII: hex, digits, "-". Anything wider reads as nothing.
std::string Ascii(std::wstring_view word) {
    std::string text;
    for (const wchar_t c : word) {
        if (c > 0x7F) return {};
        text += static_cast<char>(c);
    }
    return text;
}

std::wstring Hex(std::string_view bytes) {
    const std::string hex = ToHex(bytes);
    return std::wstring(hex.begin(), hex.end());
}

// "X:\..." or "\\server\...": the step runs in another folder, so the file is named in full.
bool IsFullPath(std::wstring_view path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

// The quoted path at the front of text, as CommandLineToArgvW reads it: backslashes before
// the closing quote come doubled. An escaped quote (an odd run) cannot be part of a path.
bool TakeQuotedPath(std::wstring_view& text, std::wstring& path) {
    if (text.empty() || text[0] != L'"') return false;
    path.clear();
    for (size_t at = 1; at < text.size(); ++at) {
        if (text[at] == L'"') {
            text.remove_prefix(at + 1);
            return !path.empty() && (text.empty() || IsBlank(text[0]));
        }
        if (text[at] != L'\\') {
            path += text[at];
            continue;
        }
        size_t run = 0;
        while (at + run < text.size() && text[at + run] == L'\\') ++run;
        const bool beforeQuote = at + run < text.size() && text[at + run] == L'"';
        if (beforeQuote && run % 2 != 0) return false;
        path.append(beforeQuote ? run / 2 : run, L'\\');
        at += run - 1;
    }
    return false;
}

std::vector<std::wstring_view> BlankSeparated(std::wstring_view text) {
    std::vector<std::wstring_view> words;
    for (size_t at = 0; at < text.size();) {
        if (IsBlank(text[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::wstring_view AfterVerb(std::wstring_view arguments) {
    arguments.remove_prefix(std::wstring_view(kInstallVerb).size());
    while (!arguments.empty() && IsBlank(arguments[0])) arguments.remove_prefix(1);
    return arguments;
}

}  // namespace

std::wstring FormatInstallArguments(const InstallRequest& request) {
    size_t trailing = 0;
    while (trailing < request.file.size() &&
           request.file[request.file.size() - 1 - trailing] == L'\\')
        ++trailing;
    const std::string digest(request.sha256.begin(), request.sha256.end());
    return std::wstring(kInstallVerb) + L" \"" + request.file + std::wstring(trailing, L'\\') +
           L"\" " + std::to_wstring(request.size) + L" " + Hex(digest) + L" " +
           Hex(request.version.Bytes()) + L" " +
           (request.record.IsEmpty() ? std::wstring(kNoRecord) : Hex(request.record.Bytes()));
}

bool IsInstallCommand(std::wstring_view arguments) {
    const std::wstring_view verb(kInstallVerb);
    return arguments.substr(0, verb.size()) == verb &&
           (arguments.size() == verb.size() || IsBlank(arguments[verb.size()]));
}

bool ParseInstallArguments(const wchar_t* arguments, InstallRequest& request) {
    std::wstring_view text(arguments ? arguments : L"");
    if (!IsInstallCommand(text)) return false;
    text = AfterVerb(text);
    InstallRequest read;
    if (!TakeQuotedPath(text, read.file) || !IsFullPath(read.file)) return false;
    const std::vector<std::wstring_view> words = BlankSeparated(text);
    std::string digest, version, record;
    if (words.size() != 4 || !FromDecimal(Ascii(words[0]), read.size) || words[1].size() != 64 ||
        !FromHex(Ascii(words[1]), digest) || !FromHex(Ascii(words[2]), version))
        return false;
    if (words[3] != kNoRecord && !FromHex(Ascii(words[3]), record)) return false;
    std::copy(digest.begin(), digest.end(), read.sha256.begin());
    read.version = version;
    read.record = record;
    request = std::move(read);
    return true;
}
