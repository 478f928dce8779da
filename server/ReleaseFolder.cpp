#include "ReleaseFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "PeVersion.h"
#include "ReleaseKey.h"
#include "ReleasePatch.h"
#include "Sha256.h"
#include "ReleaseSettings.h"
#include "Routes.h"
#include "SignedRecords.h"
#include "Url.h"

namespace fs = std::filesystem;

namespace vendor {

namespace {

bool ReadWholeFile(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
    return true;
}

void AddMarks(const fs::path& path, FolderLook& look) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        look.marks.insert(look.marks.end(), 5, 0);
        return;
    }
    look.marks.insert(
        look.marks.end(),
        {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
         static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_mtim.tv_sec),
         static_cast<std::uint64_t>(info.st_mtim.tv_nsec)});
}

}  // namespace

bool OutOfDescriptors() {
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
}

namespace {

// The ETag of these bytes as servers before digests made it (version, size and time), which
// address books of then hold.
std::string OlderEtag(const Release& release) {
    std::ostringstream tag;
    tag << '"' << release.version << '-' << std::hex << release.size << '-' << release.modified
        << '"';
    return tag.str();
}

}  // namespace

std::string Release::DownloadPath() const {
    return "download/" + EncodePathSegment(version) + "/" +
           (addressTag.empty() ? "" : EncodePathSegment(addressTag) + "/") +
           EncodePathSegment(programName);
}

std::string Release::DecodedPath() const {
    return "download/" + version + "/" + (addressTag.empty() ? "" : addressTag + "/") + programName;
}

std::string Release::PatchPath(const std::string& fromSha256) const {
    const std::string download = DecodedPath();
    return download.substr(0, download.rfind('/') + 1) + "from/" + fromSha256;
}

std::string Release::Audience() const {
    if (rollout == kWholeRollout) return {};
    return "to " + RolloutText(rollout) + " of installations, " +
           (previous ? previous->version : std::string("nothing")) + " to the others";
}

ReleaseFolder::ReleaseFolder(fs::path folder, fs::path store)
    : m_folder(std::move(folder)), m_store(std::move(store)) {}

FolderLook ReleaseFolder::Look() const {
    FolderLook look;
    AddMarks(m_folder / kSettingsFileName, look);
    ReleaseSettings settings;
    std::string text, ignored;
    if (!ReadWholeFile(m_folder / kSettingsFileName, text) && OutOfDescriptors()) {
        look.outOfDescriptors = true;
    } else if (ParseReleaseSettings(text, settings, ignored)) {
        AddMarks(m_folder / settings.program, look);
        AddMarks(m_folder / settings.notes, look);
        if (!settings.previous.empty()) AddMarks(m_folder / settings.previous, look);
    }
    return look;
}

std::chrono::milliseconds FolderLook::SinceLastChange() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = [](std::uint64_t seconds, std::uint64_t rest) {
        return static_cast<std::int64_t>(seconds) * 1000000000 + static_cast<std::int64_t>(rest);
    };
    std::chrono::milliseconds since = std::chrono::milliseconds::max();
    for (size_t at = 0; at + 5 <= marks.size(); at += 5) {  // identity, size, time of each file
        const std::int64_t age =
            nanoseconds(now.tv_sec, now.tv_nsec) - nanoseconds(marks[at + 3], marks[at + 4]);
        if (age >= 0) since = std::min(since, std::chrono::milliseconds(age / 1000000));
    }
    return since;
}

void ReleaseFolder::WaitUntilSettled(std::chrono::milliseconds settle) const {
    for (auto since = Look().SinceLastChange(); since < settle; since = Look().SinceLastChange())
        std::this_thread::sleep_for(settle - since);
}

ReleasePtr ReleaseFolder::Check(std::string& error, const std::vector<ReleasePtr>& known) {
    const FolderLook before = Look();
    ReleasePtr release = Read(error, known);
    m_failedForNow = !release && OutOfDescriptors();
    if (release && Look() != before) {
        error = "the release folder changed while it was read";
        return nullptr;
    }
    return release;
}

// A file of the folder, or a link to one inside it: a link leading elsewhere would serve what
// the folder's owner never put there.
bool ReleaseFolder::InsideFolder(const fs::path& path, std::string& error) const {
    std::error_code failure;
    if (!fs::is_symlink(path, failure)) return true;
    const fs::path target = fs::weakly_canonical(path, failure);
    const fs::path folder = fs::weakly_canonical(m_folder, failure);
    const auto [end, rest] =
        std::mismatch(folder.begin(), folder.end(), target.begin(), target.end());
    if (!failure && end == folder.end() && rest != target.end()) return true;
    error = path.string() + " is a link that leads out of the release folder";
    return false;
}

// Copies, checks and opens the published program, unless it is the very file of a release
// already known: then that release's copy serves again.
bool ReleaseFolder::TakeProgram(const fs::path& published, Release& release,
                                const std::vector<ReleasePtr>& known, std::string& error) {
    for (const ReleasePtr& old : known) {
        if (old->programName == release.programName && old->source == release.source) {
            release.program = old->program;
            release.file = old->file;
            release.version = old->version;
            release.size = old->size;
            release.sha256 = old->sha256;
            return true;
        }
    }
    const fs::path copyFolder = m_store / std::to_string(++m_copies);
    std::error_code failure;
    fs::create_directories(copyFolder, failure);
    release.program = copyFolder / release.programName;
    if (failure || !CopyProgram(published, release, error) || m_abandoned) {
        if (failure) error = "cannot copy " + published.string() + ": " + failure.message();
        fs::remove_all(copyFolder, failure);
        return false;
    }
    const FileVersion version = ReadFileVersion(release.program);
    release.file = ProgramFile::Open(release.program, error, m_remover);
    if (!version.Ok() || !release.file) {
        if (!version.Ok()) error = "the program " + published.string() + ": " + version.error;
        fs::remove_all(copyFolder, failure);
        return false;
    }
    release.version = version.text;
    release.size = release.file->Size();
    return true;
}

// In pieces, so that an abandoned check stops soon even with a large program; the digest is
// taken from the very bytes written.
bool ReleaseFolder::CopyProgram(const fs::path& from, Release& release, std::string& error) const {
    constexpr size_t kPiece = 128 << 10;
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(release.program.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    std::vector<char> piece(kPiece);
    Sha256 digest;
    ssize_t got = 1;
    while (in >= 0 && out >= 0 && got > 0 && !m_abandoned) {
        got = ::read(in, piece.data(), piece.size());
        if (got > 0 && ::write(out, piece.data(), static_cast<size_t>(got)) != got) got = -1;
        if (got > 0) digest.Add(piece.data(), static_cast<size_t>(got));
    }
    const bool copied = in >= 0 && out >= 0 && got == 0 && ::close(out) == 0;
    if (!copied && !m_abandoned)
        error = "cannot copy " + from.string() + ": " + std::strerror(errno);
    if (m_abandoned) error = "the check was abandoned";
    if (in >= 0) ::close(in);
    if (out >= 0 && !copied) ::close(out);
    if (copied) release.sha256 = digest.Hex();
    return copied && !m_abandoned && !release.sha256.empty();
}

// The plain address of a version and name belongs to the first bytes ever given it; other
// bytes get an address of their own, tagged with their digest (in full, should the short tag
// ever be taken).
bool ReleaseFolder::ChooseAddress(Release& release, std::string& error) {
    if (m_addresses.Claim(release.version + "/" + release.programName, release.etag,
                          OlderEtag(release)))
        return true;
    for (const std::string& tag : {DigestAddressTag(release.sha256), release.sha256}) {
        if (m_addresses.Claim(release.version + "/" + tag + "/" + release.programName,
                              release.etag)) {
            release.addressTag = tag;
            return true;
        }
    }
    error = "cannot record the download address of " + release.programName + " in the store";
    return false;
}

// The patch from the previous program, the one already made for these two programs if there is
// one (bsdiff takes many times the program's size in memory). Its address is the one updaters
// derive from the download's; bytes it has not held before are not offered there.
void ReleaseFolder::TakePatch(Release& release, const Release& previous,
                              const std::vector<ReleasePtr>& known) {
    for (const ReleasePtr& old : known) {
        if (old->patch && old->sha256 == release.sha256 &&
            old->patch->fromSha256 == previous.sha256) {
            release.patch = old->patch;
            release.patchNote = old->patchNote;
            return;
        }
    }
    std::string why;
    // A stop at once ends bsdiff too.
    PatchLimits limits;
    limits.stop = &m_abandoned;
    auto patch = MakeReleasePatch(previous, release, m_store / std::to_string(++m_copies), limits,
                                  m_remover, why);
    // The book names addresses below the download folder, as ChooseAddress does.
    const std::string address =
        release.PatchPath(previous.sha256).substr(kDownloadPrefix.size() - 1);
    if (patch && !m_addresses.Claim(address, patch->etag)) {
        why = "its address holds other bytes, or cannot be recorded in the store";
        patch.reset();
    }
    release.patchNote =
        patch ? "patch from " + previous.version + ": " + std::to_string(patch->size) + " bytes"
              : "no patch from " + previous.version + ": " + why;
    release.patch = std::move(patch);
}

// A program of the folder, checked, offered under `name` (the program's name, whichever file
// holds it: an updater knows the program by that name).
std::shared_ptr<Release> ReleaseFolder::TakeRelease(const std::string& file,
                                                    const std::string& name,
                                                    const std::vector<ReleasePtr>& known,
                                                    std::string& error) {
    const fs::path published = m_folder / file;
    struct stat info {};
    if (::stat(published.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "the program " + published.string() + " is missing";
        return nullptr;
    }
    if (!InsideFolder(published, error)) return nullptr;
    auto release = std::make_shared<Release>();
    release->programName = name;
    FolderLook marks;
    AddMarks(published, marks);
    release->source = marks.marks;
    // A copy that keeps the time (cp -p) may also get the inode of a file gone before: the
    // change time, which no copy keeps, tells them apart.
    release->source.insert(release->source.end(),
                           {static_cast<std::uint64_t>(info.st_ctim.tv_sec),
                            static_cast<std::uint64_t>(info.st_ctim.tv_nsec)});
    if (!TakeProgram(published, *release, known, error)) return nullptr;
    release->modified = info.st_mtim.tv_sec;
    release->etag = DigestEtag(release->sha256);
    return release;
}

ReleasePtr ReleaseFolder::Read(std::string& error, const std::vector<ReleasePtr>& known) {
    std::string text;
    const fs::path settingsFile = m_folder / kSettingsFileName;
    if (!InsideFolder(settingsFile, error)) return nullptr;
    if (!ReadWholeFile(settingsFile, text)) {
        error = settingsFile.string() + " cannot be read";
        return nullptr;
    }
    ReleaseSettings settings;
    if (!ParseReleaseSettings(text, settings, error)) return nullptr;
    if (!InsideFolder(m_folder / settings.notes, error)) return nullptr;
    const auto release = TakeRelease(settings.program, settings.program, known, error);
    if (!release) return nullptr;
    std::shared_ptr<Release> previous;
    if (!settings.previous.empty()) {
        previous = TakeRelease(settings.previous, settings.program, known, error);
        if (!previous) return nullptr;
        // Offered to installations that may already have the program: it must not be newer.
        if (!VersionBefore(previous->version, release->version)) {
            error = "previous (" + previous->version + ") must be older than the program (" +
                    release->version + ")";
            return nullptr;
        }
    }
    if (!ChooseAddress(*release, error) || (previous && !ChooseAddress(*previous, error)))
        return nullptr;
    release->manualPage = settings.manualPage;
    release->paused = settings.paused;
    release->rollout = settings.rollout;
    if (!ReadWholeFile(m_folder / settings.notes, release->notesHtml)) release->notesHtml.clear();
    if (previous && !m_abandoned) TakePatch(*release, *previous, known);
    if (m_abandoned) {
        error = "the check was abandoned";
        return nullptr;
    }
    if (!MakeRecords(*release, previous.get(), settings.signingKey, error)) return nullptr;
    release->previous = std::move(previous);
    return release;
}

std::string ReleaseFolder::Address(const Release& release) const {
    return m_publicBase + release.DownloadPath();
}

// Signed from the checked copies, the very bytes that are sent. Each record keeps the other's
// in the records file: both are offered.
bool ReleaseFolder::MakeRecords(Release& release, Release* previous, const std::string& settingsKey,
                                std::string& error) const {
    const fs::path keyFile = !m_key.empty()        ? m_key
                             : settingsKey.empty() ? fs::path()
                                                   : m_folder / settingsKey;
    if (m_publicBase.empty() || keyFile.empty()) {
        for (Release* one : {&release, previous})
            if (one)
                one->record =
                    m_publicBase.empty() ? "" : "#" + one->version + "#" + Address(*one) + "#";
        return true;
    }
    const auto key = ReleaseKey::Load(keyFile, error);
    if (!key) return false;
    const auto signedPart = [&](const Release* one) {
        return one ? SignedPart(one->version, Address(*one), one->sha256, one->size) : "";
    };
    const fs::path kept = m_records.empty() ? m_folder / kSignedRecordsFileName : m_records;
    release.record = SignedRecord(*key, signedPart(&release), kept, error, {signedPart(previous)});
    if (release.record.empty()) return false;
    if (!previous) return true;
    previous->record =
        SignedRecord(*key, signedPart(previous), kept, error, {signedPart(&release)});
    return !previous->record.empty();
}

}  // namespace vendor
