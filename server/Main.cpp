// update-server: serves a release folder to installed updaters, or exports it for a web server.
//
//   update-server [--listen HOST:PORT] [--public-url URL] [--keep-previous SECONDS]
//                 [--request-limit SECONDS] [--rate-limit BYTES_PER_SECOND] [--poll SECONDS]
//                 [--max-connections N] [--stall-limit SECONDS] [--drain SECONDS]
//                 [--store DIR] [--signing-key PEM]
//                 [--signed-records FILE] [--access-log FILE|-] [--metrics-listen HOST:PORT]
//                 RELEASE_DIR
//   update-server export [--public-url URL] [--listen NGINX_LISTEN] [--signing-key PEM]
//                        [--signed-records FILE] [--store DIR] RELEASE_DIR OUT_DIR
//   update-server version PROGRAM        prints a program's file version
//   update-server keygen DIR             writes DIR/release-key.pem, prints the public key
//   update-server patch OLD NEW OUT      writes the delta patch from program OLD to NEW
//
// A signing key given here signs every record, before any signing_key of release.ini. Signed
// records are kept in RELEASE_DIR/signed-records.txt, or in the --signed-records file (give
// export the same one).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "PatchMaker.h"
#include "PeVersion.h"
#include "ReleaseKey.h"
#include "Store.h"
#include "StaticExport.h"
#include "UpdateServer.h"
#include "Url.h"

namespace fs = std::filesystem;
using namespace vendor;

namespace {

constexpr char kUsage[] =
    "usage: update-server [--listen HOST:PORT] [--public-url URL] [--keep-previous SECONDS]\n"
    "                     [--request-limit SECONDS] [--rate-limit BYTES_PER_SECOND]\n"
    "                     [--poll SECONDS] [--max-connections N] [--stall-limit SECONDS]\n"
    "                     [--drain SECONDS]\n"
    "                     [--store DIR] [--signing-key PEM] [--signed-records FILE]\n"
    "                     [--access-log FILE|-] [--metrics-listen HOST:PORT] RELEASE_DIR\n"
    "       update-server export [--public-url URL] [--listen NGINX_LISTEN] [--signing-key PEM]\n"
    "                            [--signed-records FILE] [--store DIR] RELEASE_DIR OUT_DIR\n"
    "       update-server version PROGRAM\n"
    "       update-server keygen DIR\n"
    "       update-server patch OLD NEW OUT\n";

constexpr char kKeyFileName[] = "release-key.pem";

int Fail(const std::string& message) {
    std::fprintf(stderr, "update-server: %s\n", message.c_str());
    return 2;
}

struct CommandLine {
    std::map<std::string, std::string> options;
    std::vector<std::string> operands;
};

bool Split(int argc, char** argv, int first, CommandLine& line) {
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (!word.starts_with("--")) {
            line.operands.push_back(word);
        } else if (i + 1 < argc) {
            line.options[word.substr(2)] = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

std::string Option(const CommandLine& line, const std::string& name) {
    const auto found = line.options.find(name);
    return found == line.options.end() ? std::string() : found->second;
}

bool Seconds(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= 0;
}

// Times are added to clocks in milliseconds: a year keeps every sum far from overflowing.
constexpr double kLongestSeconds = 365 * 24 * 3600;
bool IsTimeOption(const std::string& name) {
    return name == "keep-previous" || name == "request-limit" || name == "poll" ||
           name == "stall-limit" || name == "drain";
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

bool HostAndPort(const std::string& value, std::string& host, int& port) {
    const size_t colon = value.rfind(':');
    host = value.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    port = colon == std::string::npos ? -1 : std::atoi(value.c_str() + colon + 1);
    return !host.empty() && port >= 0 && port <= 65535;
}

bool ParseServerOptions(const CommandLine& line, ServerOptions& options, double& keepPrevious,
                        std::string& error) {
    for (const auto& [name, value] : line.options) {
        double number = 0;
        if (name == "listen" || name == "metrics-listen") {
            const bool metrics = name == "metrics-listen";
            if (!HostAndPort(value, metrics ? options.metricsHost : options.host,
                             metrics ? options.metricsPort : options.port)) {
                error = "--" + name + " wants HOST:PORT, such as 127.0.0.1:8080";
                return false;
            }
        } else if (name == "access-log") {
            options.accessLog = value;
        } else if (name == "public-url") {
            options.publicBase = value;
        } else if (name == "store" || name == "signing-key" || name == "signed-records") {
            continue;
        } else if (!Seconds(value, number)) {
            error = "--" + name + " wants a number, not \"" + value + "\"";
            return false;
        } else if (IsTimeOption(name) && number > kLongestSeconds) {
            error = "--" + name + " wants at most " + std::to_string(int(kLongestSeconds)) +
                    " seconds (a year), not " + value;
            return false;
        } else if (name == "keep-previous") {
            keepPrevious = number;
        } else if (name == "request-limit" && number > 0) {
            options.requestLimit = Milliseconds(number);
        } else if (name == "rate-limit") {
            options.rateLimit = static_cast<std::uint64_t>(number);
        } else if (name == "poll" && number > 0) {
            options.poll = Milliseconds(number);
        } else if (name == "stall-limit" && number >= 1) {
            options.stallLimit = std::chrono::seconds(static_cast<long long>(number));
        } else if (name == "drain") {
            options.drain = Milliseconds(number);
        } else if (name == "max-connections" && number >= 1) {
            options.maxConnections = static_cast<std::size_t>(number);
        } else {
            error = "unknown or out-of-range option --" + name;
            return false;
        }
    }
    if (!options.publicBase.empty() && !IsPublicBaseUrl(options.publicBase)) {
        error =
            "--public-url must be an absolute http:// or https:// ASCII address ending in \"/\", "
            "without \"?\" or \"#\"";
        return false;
    }
    return true;
}

bool MakeStore(const CommandLine& line, Store& store, std::string& error) {
    fs::path path;
    if (const auto given = line.options.find("store"); given != line.options.end())
        path = given->second;
    else if (!DefaultStore(line.operands[0], path, error))
        return false;
    return store.Open(path, false, error);
}

int Serve(const CommandLine& line) {
    if (line.operands.size() != 1)
        return Fail(std::string("one release folder expected\n") + kUsage);
    ServerOptions options;
    double keepPrevious = 3600;
    std::string error;
    if (!ParseServerOptions(line, options, keepPrevious, error)) return Fail(error);
    Store store;
    if (!MakeStore(line, store, error)) return Fail(error);
    {
        ReleaseFolder folder(line.operands[0], store.Copies());
        folder.SetAddressBook(store.Addresses(), true);
        folder.WaitUntilSettled(FolderWatch::kSettled);
        const FolderLook looked = folder.Look();
        ReleaseCatalog catalog(std::chrono::seconds(static_cast<long long>(keepPrevious)));
        UpdateServer server(options, folder, catalog, looked);
        if (!server.Listen(error)) return Fail(error);
        // Records name the public address, known once the port is bound; nothing is served
        // before Run.
        folder.SetRecordMaking(server.PublicBase(), Option(line, "signing-key"),
                               Option(line, "signed-records"));
        ReleasePtr first = folder.Check(error);
        if (!first) return Fail("cannot serve " + line.operands[0] + ": " + error);
        catalog.Publish(first);
        server.Offer(*first);
        std::fprintf(stderr, "update-server: serving %s (%s, %llu bytes) %s\n",
                     first->version.c_str(), first->programName.c_str(),
                     static_cast<unsigned long long>(first->size), first->Audience().c_str());
        if (!first->patchNote.empty())
            std::fprintf(stderr, "update-server: %s\n", first->patchNote.c_str());
        first.reset();
        std::fprintf(stderr, "update-server: download addresses start with %s\n",
                     server.PublicBase().c_str());
        if (server.MetricsPort() != 0)
            std::fprintf(stderr, "update-server: metrics at http://%s:%d/metrics\n",
                         options.metricsHost.c_str(), server.MetricsPort());
        std::printf("listening at %s\n", server.ListenAddress().c_str());
        std::fflush(stdout);
        server.Run();
        std::fprintf(stderr, "update-server: stopped\n");
    }
    return 0;
}

int Export(const CommandLine& line) {
    if (line.operands.size() != 2)
        return Fail(std::string("RELEASE_DIR and OUT_DIR expected\n") + kUsage);
    ExportOptions options{"http://127.0.0.1:8080/", "127.0.0.1:8080"};
    for (const auto& [name, value] : line.options) {
        if (name == "public-url")
            options.publicBase = value;
        else if (name == "listen")
            options.listen = value;
        else if (name == "signing-key" || name == "signed-records" || name == "store")
            continue;
        else
            return Fail("unknown option --" + name + " for export");
    }
    if (!IsPublicBaseUrl(options.publicBase))
        return Fail("--public-url is not a public base address");
    const fs::path out = line.operands[1];
    std::error_code failure;
    fs::create_directories(out, failure);
    std::string pattern = (fs::absolute(out) / ".export.XXXXXX").string();
    if (failure || mkdtemp(pattern.data()) == nullptr)
        return Fail("cannot write into " + out.string());
    Store store;
    std::string error;
    if (!store.Open(pattern, true, error)) return Fail(error);
    ReleaseFolder folder(line.operands[0], store.Copies());
    // The export's own addresses, and those a server of this folder gave.
    fs::path serverStore = Option(line, "store");
    if (serverStore.empty() && !DefaultStore(line.operands[0], serverStore, error))
        serverStore.clear();
    KeepExportAddresses(folder, out, serverStore);
    folder.WaitUntilSettled(FolderWatch::kSettled);
    folder.SetRecordMaking(options.publicBase, Option(line, "signing-key"),
                           Option(line, "signed-records"));
    const ReleasePtr release = folder.Check(error);
    if (!release) return Fail("cannot export " + line.operands[0] + ": " + error);
    if (!ExportRelease(*release, out, options, error)) return Fail(error);
    if (!release->patchNote.empty())
        std::fprintf(stderr, "update-server: %s\n", release->patchNote.c_str());
    std::printf("exported %s to %s\n", release->version.c_str(), fs::absolute(out).c_str());
    return 0;
}

int MakeKey(const CommandLine& line) {
    if (line.operands.size() != 1 || !line.options.empty())
        return Fail(std::string("one folder expected\n") + kUsage);
    std::error_code failure;
    fs::create_directories(line.operands[0], failure);
    std::string error;
    const auto key = ReleaseKey::Generate(fs::path(line.operands[0]) / kKeyFileName, error);
    if (!key) return Fail(error);
    std::fprintf(stderr, "update-server: private key written to %s; build updaters with\n",
                 (fs::path(line.operands[0]) / kKeyFileName).c_str());
    std::printf("%s\n", key->PublicKey().c_str());
    return 0;
}

int PrintVersion(const CommandLine& line) {
    if (line.operands.size() != 1) return Fail(std::string("one program expected\n") + kUsage);
    const FileVersion version = ReadFileVersion(line.operands[0]);
    if (!version.Ok()) return Fail(line.operands[0] + ": " + version.error);
    std::printf("%s\n", version.text.c_str());
    return 0;
}

int WritePatchFile(const CommandLine& line) {
    if (line.operands.size() != 3 || !line.options.empty())
        return Fail(std::string("OLD, NEW and OUT expected\n") + kUsage);
    std::string error;
    if (!MakePatch(line.operands[0], line.operands[1], line.operands[2], error)) return Fail(error);
    const auto patchSize = fs::file_size(line.operands[2]);
    const auto newSize = fs::file_size(line.operands[1]);
    std::printf("%s: %llu bytes, %.1f %% of %s (%llu bytes)\n", line.operands[2].c_str(),
                static_cast<unsigned long long>(patchSize),
                newSize == 0 ? 0.0 : 100.0 * double(patchSize) / double(newSize),
                line.operands[1].c_str(), static_cast<unsigned long long>(newSize));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const bool named =
        command == "export" || command == "version" || command == "keygen" || command == "patch";
    CommandLine line;
    if (!Split(argc, argv, named ? 2 : 1, line))
        return Fail(std::string("option without value\n") + kUsage);
    if (command == "export") return Export(line);
    if (command == "version") return PrintVersion(line);
    if (command == "keygen") return MakeKey(line);
    if (command == "patch") return WritePatchFile(line);
    return Serve(line);
}
