// Delta updates through a link that drops connections, against patches that must not be used.
// Each run puts the old program in place, chooses what the server has at the patch's address
// (the good patch, one with bytes flipped, one cut short, one made for another program, or
// nothing), and runs DownloadNewVersion in place: the program must then be the new one, from the
// patch or from the whole file. Prints per kind how the runs ended.
// Not a test: it asserts nothing. Run it with tests/benchmarks/bench-patch-resume.sh, which
// serves the files with nginx behind dropping_proxy.py.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "CodePage.h"
#include "NewVersionDownload.h"
#include "StagedFile.h"

namespace {

using Bytes = std::vector<char>;
using Path = std::filesystem::path;

enum Offer { kGood, kFlipped, kCut, kForAnother, kNoPatch, kOffers };
constexpr std::array<const char*, kOffers> kOfferNames = {
    "good patch", "bytes flipped", "cut short", "for another program", "no patch (404)"};
// How many bytes of a patch are flipped, each in its own stretch of the patch.
constexpr size_t kFlips = 3;
// The pause before asking for the rest after a drop: a real link's second would only add waiting.
constexpr DWORD kPauseMs = 10;

struct Tally {
    int runs = 0;
    int newVersion = 0;
    int oldVersion = 0;
    int neither = 0;
    int failed = 0;    // DownloadNewVersion said so
    int patched = 0;   // the new version, and the whole file was never asked for
    int fellBack = 0;  // the whole file's body began to come

    void Add(const Tally& run) {
        runs += run.runs;
        newVersion += run.newVersion;
        oldVersion += run.oldVersion;
        neither += run.neither;
        failed += run.failed;
        patched += run.patched;
        fellBack += run.fellBack;
    }
};

Bytes ReadAll(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Written under another name and renamed, so that nginx never serves half of it.
bool WriteAll(const Path& path, const Bytes& bytes) {
    Path fresh = path;
    fresh += L".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
    }
    std::error_code error;
    std::filesystem::rename(fresh, path, error);
    return !error;
}

// What the server has at the patch's address for one run.
bool Serve(Offer offer, const Bytes& good, const Bytes& other, const Path& served,
           std::mt19937& random) {
    if (offer == kNoPatch) {
        std::error_code error;
        std::filesystem::remove(served, error);
        return !std::filesystem::exists(served);
    }
    Bytes bytes = offer == kForAnother ? other : good;
    if (offer == kFlipped) {
        const size_t stretch = bytes.size() / kFlips;
        for (size_t i = 0; i < kFlips; ++i)
            bytes[i * stretch + random() % stretch] ^= static_cast<char>(1 + random() % 255);
    }
    if (offer == kCut) bytes.resize(1 + random() % (bytes.size() - 1));
    return WriteAll(served, bytes);
}

// One run from a fresh copy of the old program.
Tally RunOnce(const GbkString& address, const Path& target, const Bytes& oldBytes,
              const Bytes& newBytes) {
    Tally run{.runs = 1};
    StagedFile::RemoveLeftover(target.wstring());
    if (!WriteAll(target, oldBytes)) {
        run.neither = 1;
        return run;
    }
    DownloadHooks hooks;
    hooks.timings.firstPauseMs = kPauseMs;
    bool whole = false;
    hooks.begun = [&whole] { whole = true; };
    run.failed = DownloadNewVersion(nullptr, address, target.wstring(), target.wstring(), hooks,
                                    nullptr) != 0;
    // The notices went to this thread's queue: nobody reads them.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    const Bytes now = ReadAll(target);
    run.newVersion = now == newBytes;
    run.oldVersion = now == oldBytes;
    run.neither = !run.newVersion && !run.oldVersion;
    run.fellBack = whole;
    run.patched = run.newVersion && !whole;
    return run;
}

void PrintRow(const char* name, const Tally& tally) {
    std::printf("  %-20s %6d %6d %6d %8d %6d %6d %9d\n", name, tally.runs, tally.newVersion,
                tally.oldVersion, tally.neither, tally.patched, tally.fellBack, tally.failed);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 10) {
        std::printf(
            "usage: bench-patch-resume COUNT SECONDS URL FOLDER OLD NEW PATCH OTHER_PATCH SERVED\n"
            "  PATCH turns OLD into NEW, OTHER_PATCH another program into NEW; SERVED is the file\n"
            "  the server has at the patch's address, rewritten before each run\n");
        return 2;
    }
    const int count = _wtoi(argv[1]);
    const DWORD limitMs = static_cast<DWORD>(_wtoi(argv[2])) * 1000;
    const GbkString address = ToGbk(argv[3]);
    const Path target = Path(argv[4]) / L"program.exe";
    const Bytes oldBytes = ReadAll(argv[5]), newBytes = ReadAll(argv[6]);
    const Bytes good = ReadAll(argv[7]), other = ReadAll(argv[8]);
    const Path served = argv[9];
    if (oldBytes.empty() || newBytes.empty() || good.size() < 2 * kFlips || other.empty()) {
        std::printf("the programs or patches could not be read\n");
        return 1;
    }
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::array<Tally, kOffers> byOffer{};
    const DWORD start = GetTickCount();
    for (int run = 0; run < count; ++run) {
        if (GetTickCount() - start > limitMs) {
            std::printf("stopped at the time limit of %lu s\n", limitMs / 1000);
            break;
        }
        const auto offer = static_cast<Offer>(random() % kOffers);
        if (!Serve(offer, good, other, served, random)) {
            std::printf("the patch's address could not be set up\n");
            return 1;
        }
        byOffer[offer].Add(RunOnce(address, target, oldBytes, newBytes));
    }
    const double seconds = (GetTickCount() - start) / 1000.0;
    Tally total;
    for (const Tally& tally : byOffer) total.Add(tally);
    std::printf("%d runs in %.1f s, %.3f s a run (seed %u); whole file %zu bytes, patch %zu\n",
                total.runs, seconds, seconds / std::max(total.runs, 1), seed, newBytes.size(),
                good.size());
    std::printf("  %-20s %6s %6s %6s %8s %6s %6s %9s\n", "at the patch address", "runs", "new",
                "old", "neither", "patch", "whole", "said fail");
    for (int offer = 0; offer < kOffers; ++offer) PrintRow(kOfferNames[offer], byOffer[offer]);
    PrintRow("all", total);
    StagedFile::RemoveLeftover(target.wstring());
    std::filesystem::remove(target);
    return 0;
}
