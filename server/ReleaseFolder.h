// Reads a release folder (release.ini, the program it names, the notes) and checks it.
// Publishing means copying the new program under another name and renaming it into place;
// a release is taken only from files that did not change while they were read.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AddressBook.h"
#include "Release.h"

namespace vendor {

// What the folder's files look like from outside (identity, size, time), to notice changes
// without reading them.
struct FolderLook {
    std::vector<std::uint64_t> marks;
    bool outOfDescriptors = false;  // not a look at all: try again later
    bool operator==(const FolderLook&) const = default;
    // How long ago the most recently changed file changed (a time in the future: long ago).
    std::chrono::milliseconds SinceLastChange() const;
};

// True when the process cannot open a file now for want of descriptors: a failure then says
// nothing about the folder.
bool OutOfDescriptors();

class ReleaseFolder {
public:
    // Checked copies of programs go into folders made below `store`.
    ReleaseFolder(std::filesystem::path folder, std::filesystem::path store);

    FolderLook Look() const;
    // Returns once no file of the folder has changed for `settle`: a program still being
    // written in place cannot be told from a whole one by its structure.
    void WaitUntilSettled(std::chrono::milliseconds settle) const;

    // The release the folder holds now, or nullptr with `error` saying why it cannot be served.
    // `known` are the releases served now: their copies serve again for the same file. An
    // address, once given to bytes, is never given to other bytes (see SetAddressBook).
    ReleasePtr Check(std::string& error, const std::vector<ReleasePtr>& known = {});
    // Makes a Check under way on another thread give up soon, leaving no copy (a stop at once).
    void Abandon() { m_abandoned = true; }
    // The last Check failed for want of descriptors, not for anything in the folder.
    bool FailedForNow() const { return m_failedForNow; }

    const std::filesystem::path& Folder() const { return m_folder; }

    // Keeps the plain addresses given in `file`, so that they hold across restarts; a book
    // that is only read gives no new plain address to bytes it does not list. Without one,
    // they hold for this object's life.
    void SetAddressBook(const std::filesystem::path& file, bool writable) {
        m_addresses.Open(file, writable);
    }
    AddressBook& Addresses() { return m_addresses; }

    // Records are made for this base address (ending in "/"), and signed with `key` when it is
    // given, else with the settings' signing_key when they name one. Signed ones are kept in
    // `records` (empty: the folder's signed-records.txt).
    void SetRecordMaking(std::string publicBase, std::filesystem::path key = {},
                         std::filesystem::path records = {}) {
        m_publicBase = std::move(publicBase);
        m_key = std::move(key);
        m_records = std::move(records);
    }

private:
    ReleasePtr Read(std::string& error, const std::vector<ReleasePtr>& known);
    std::shared_ptr<Release> TakeRelease(const std::string& file, const std::string& name,
                                         const std::vector<ReleasePtr>& known, std::string& error);
    bool InsideFolder(const std::filesystem::path& path, std::string& error) const;
    bool TakeProgram(const std::filesystem::path& published, Release& release,
                     const std::vector<ReleasePtr>& known, std::string& error);
    bool CopyProgram(const std::filesystem::path& from, Release& release, std::string& error) const;
    bool ChooseAddress(Release& release, std::string& error);
    void TakePatch(Release& release, const Release& previous, const std::vector<ReleasePtr>& known);
    std::string Address(const Release& release) const;
    bool MakeRecords(Release& release, Release* previous, const std::string& settingsKey,
                     std::string& error) const;

    std::filesystem::path m_folder;
    std::filesystem::path m_store;
    unsigned m_copies = 0;
    bool m_failedForNow = false;
    std::atomic<bool> m_abandoned{false};
    AddressBook m_addresses;
    // Copies of releases let go of (on the event loop) are removed on a thread of their own.
    std::shared_ptr<CopyRemover> m_remover = std::make_shared<CopyRemover>();
    std::string m_publicBase;
    std::filesystem::path m_key;
    std::filesystem::path m_records;
};

}  // namespace vendor
