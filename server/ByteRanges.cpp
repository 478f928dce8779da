#include "ByteRanges.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

namespace vendor {

namespace {

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::time_t> ParseDate(const char* text) {
    std::time_t time = 0;
    if (!ParseHttpDate(text, time)) return std::nullopt;
    return time;
}

// If-None-Match compares weakly (a W/ tag matches its strong one), If-Match strongly.
bool EtagListHas(std::string_view list, const std::string& etag, bool weakToo) {
    if (list == "*") return true;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(',', at);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view item = list.substr(at, comma - at);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (weakToo && item.starts_with("W/")) item.remove_prefix(2);
        if (item == etag) return true;
        at = comma + 1;
    }
    return false;
}

bool NotModified(const RequestValidators& request, const FileValidators& file) {
    if (request.ifNoneMatch) return EtagListHas(request.ifNoneMatch, file.etag, true);
    if (request.ifModifiedSince) {
        const auto since = ParseDate(request.ifModifiedSince);
        const std::time_t now = request.now ? request.now : std::time(nullptr);
        return since && *since <= now && file.modified <= *since;  // a date to come means nothing
    }
    return false;
}

bool PreconditionFails(const RequestValidators& request, const FileValidators& file) {
    if (request.ifMatch) return !EtagListHas(request.ifMatch, file.etag, false);
    if (request.ifUnmodifiedSince) {
        const auto since = ParseDate(request.ifUnmodifiedSince);
        return since && file.modified > *since;  // an unreadable date is ignored
    }
    return false;
}

bool StartsCaseless(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// If-Range holds an entity tag (strong comparison) or a date (exact).
bool RangeStillApplies(const char* ifRange, const FileValidators& file) {
    if (ifRange == nullptr) return true;
    if (ifRange[0] == '"') return file.etag == ifRange;
    const auto date = ParseDate(ifRange);
    return date && *date == file.modified;
}

FilePart SingleRange(std::string_view byteRange, std::uint64_t size) {
    const size_t dash = byteRange.find('-');
    if (dash == std::string_view::npos) return {};
    const std::string_view from = byteRange.substr(0, dash), to = byteRange.substr(dash + 1);
    if (from.empty()) {  // the last n bytes
        const auto count = Number(to);
        if (!count) return {};
        if (*count == 0 || size == 0) return {FilePart::Unsatisfiable};
        const std::uint64_t length = std::min(*count, size);
        return {FilePart::Partial, size - length, length};
    }
    const auto first = Number(from);
    const auto last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : Number(to);
    if (!first || !last || *last < *first) return {};
    if (*first >= size) return {FilePart::Unsatisfiable};
    return {FilePart::Partial, *first, std::min(*last, size - 1) - *first + 1};
}

}  // namespace

FilePart DecideFilePart(const RequestValidators& request, const FileValidators& file) {
    if (PreconditionFails(request, file)) return {FilePart::PreconditionFailed};
    if (NotModified(request, file)) return {FilePart::NotModified};
    const FilePart whole{FilePart::Whole, 0, file.size};
    if (request.range == nullptr || !RangeStillApplies(request.ifRange, file)) return whole;
    std::string_view range = request.range;
    if (!StartsCaseless(range, "bytes=")) return whole;
    range.remove_prefix(6);
    if (range.find(',') != std::string_view::npos) return whole;
    const FilePart part = SingleRange(range, file.size);
    return part.kind == FilePart::Whole ? whole : part;  // a malformed range is ignored
}

bool ParseHttpDate(const char* text, std::time_t& time) {
    for (const char* form :
         {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %e %H:%M:%S %Y"}) {
        std::tm parts{};
        const char* end = strptime(text, form, &parts);
        if (end != nullptr && *end == '\0') {
            time = timegm(&parts);
            return true;
        }
    }
    return false;
}

std::string HttpDate(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

}  // namespace vendor
