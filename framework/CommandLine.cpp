#include "CommandLine.h"

std::wstring_view CommandLineTail(std::wstring_view commandLine) {
    size_t at = 0;
    const size_t end = commandLine.size();
    if (at < end && commandLine[at] == L'"') {
        ++at;
        while (at < end && commandLine[at] != L'"') ++at;
        if (at < end) ++at;  // the closing quote
    } else {
        while (at < end && commandLine[at] > L' ') ++at;
    }
    while (at < end && commandLine[at] != L'\0' && commandLine[at] <= L' ') ++at;
    return commandLine.substr(at);
}
