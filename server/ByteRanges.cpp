#include "ByteRanges.h"

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

std::optional<std::time_t> ParseHttpDate(const char* text) {
    std::tm parts{};
    const char* end = strptime(text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return timegm(&parts);
}

bool EtagListHas(std::string_view list, const std::string& etag) {
    if (list == "*") return true;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(',', at);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view item = list.substr(at, comma - at);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (item.starts_with("W/")) item.remove_prefix(2);  // weak comparison
        if (item == etag) return true;
        at = comma + 1;
    }
    return false;
}

bool NotModified(const RequestValidators& request, const FileValidators& file) {
    if (request.ifNoneMatch) return EtagListHas(request.ifNoneMatch, file.etag);
    if (request.ifModifiedSince) {
        const auto since = ParseHttpDate(request.ifModifiedSince);
        return since && file.modified <= *since;
    }
    return false;
}

// If-Range holds an entity tag (strong comparison) or a date (exact).
bool RangeStillApplies(const char* ifRange, const FileValidators& file) {
    if (ifRange == nullptr) return true;
    if (ifRange[0] == '"') return file.etag == ifRange;
    const auto date = ParseHttpDate(ifRange);
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
    if (NotModified(request, file)) return {FilePart::NotModified};
    const FilePart whole{FilePart::Whole, 0, file.size};
    if (request.range == nullptr || !RangeStillApplies(request.ifRange, file)) return whole;
    std::string_view range = request.range;
    if (!range.starts_with("bytes=")) return whole;
    range.remove_prefix(6);
    if (range.find(',') != std::string_view::npos) return whole;
    const FilePart part = SingleRange(range, file.size);
    return part.kind == FilePart::Whole ? whole : part;  // a malformed range is ignored
}

std::string HttpDate(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

}  // namespace vendor
