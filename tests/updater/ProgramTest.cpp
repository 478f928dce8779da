// The real updater.exe: one instance per logon, its mode from a real command line, and what
// it shows on the screen.
#include <gtest/gtest.h>

#include "LocalFiles.h"
#include "Screenshot.h"
#include "TestSupport.h"
#include "resource_ids.h"

using namespace testsupport;

namespace {
const wchar_t kCaption[] = L"在线自动更新程序 （正在获取版本号）";
const wchar_t kModeLine[] = L"* 获取配置模式完成…!";
// The last line a manual start writes by itself (the link information's worker writes it).
const wchar_t kLastStartLine[] = L"* 获取手动下载信息完成…!";

bool IsUpdateDialog(HWND window) {
    return IsWindowVisible(window) && WindowClass(window) == L"#32770" &&
           WindowText(window) == kCaption;
}

bool ShowsAnyWindow(DWORD processId) {
    for (HWND window : TopLevelWindowsOf(processId))
        if (IsWindowVisible(window)) return true;
    return false;
}

// Waits for the process to end, watching that it never shows a window meanwhile.
bool EndsWithoutAWindow(ChildProcess& process, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!process.WaitForExit(20)) {
        if (ShowsAnyWindow(process.Id())) return false;
        if (GetTickCount() - start > timeoutMs) return false;
    }
    return true;
}

HWND StartUpdater(ChildProcess& process, const std::wstring& arguments) {
    if (!process.Start(BuiltProgramPath(L"updater.exe"), arguments)) return nullptr;
    return WaitForWindow(process.Id(), IsUpdateDialog, 30000);
}

bool Closes(ChildProcess& process, HWND dialog) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    return process.WaitForExit(10000);
}

bool WaitForLine(HWND dialog, const wchar_t* line) {
    for (int i = 0; i < 500; ++i) {
        if (WindowText(FindChildById(dialog, IDC_LOG)).find(line) != std::wstring::npos)
            return true;
        Sleep(10);
    }
    return false;
}

bool WaitForModeLine(HWND dialog) {
    return WaitForLine(dialog, kModeLine);
}

// Hides the skin package of a copy of the program: its type's name in the resource directory,
// a counted UTF-16 string, becomes "SKIO", which sorts to the same place among the types.
bool RemoveSkinPackage(const std::wstring& program) {
    std::string bytes;
    const std::string name("\4\0S\0K\0I\0N\0", 10);
    if (!ReadFileBytes(program, bytes)) return false;
    const size_t at = bytes.find(name);
    if (at == std::string::npos || bytes.find(name, at + 1) != std::string::npos) return false;
    bytes[at + 8] = 'O';
    return WriteFileBytes(program, bytes);
}
}  // namespace

// The skin starts before the dialog: attached, then its package, then the frames kept plain.
// A program without a package attaches nothing more and leaves the frames alone.
TEST(Skin, StartsInOrderAndLeavesTheFramesAloneWithoutAPackage) {
    struct Case {
        const char* name;
        bool package;
        const char* calls;
    };
    const Case cases[] = {{"with its package", true, "Attach\nAttachRes\nSetAero 0\n"},
                          {"without a package", false, "Attach\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder(L"skin start");
        const std::wstring program = folder.File(L"updater.exe");
        ASSERT_TRUE(CopyFileTo(BuiltProgramPath(L"updater.exe"), program));
        ASSERT_TRUE(CopyFileTo(RunningProgramFolder() + L"\\fixtures\\recording_skin\\SkinHu.dll",
                               folder.File(L"SkinHu.dll")));
        if (!c.package) {
            ASSERT_TRUE(RemoveSkinPackage(program));
        }
        ChildProcess process;
        ASSERT_TRUE(process.Start(program, L""));
        HWND dialog = WaitForWindow(process.Id(), IsUpdateDialog, 30000);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(Closes(process, dialog));
        std::string calls;
        ASSERT_TRUE(ReadFileBytes(folder.File(L"skin-calls.txt"), calls));
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(SingleInstance, AnyHolderOfTheMarkerKeepsTheUpdaterFromStarting) {
    HANDLE marker = CreateMutexW(nullptr, FALSE, L"Update");
    ASSERT_NE(marker, nullptr);
    ChildProcess second;
    ASSERT_TRUE(second.Start(BuiltProgramPath(L"updater.exe"), L"AutoUpdate"));
    EXPECT_TRUE(EndsWithoutAWindow(second, 30000));
    CloseHandle(marker);
}

// Another user's or an elevated updater's marker cannot be opened from here: that is another
// instance all the same.
TEST(SingleInstance, AMarkerThatIsNotOursToOpenKeepsTheUpdaterFromStarting) {
    SECURITY_DESCRIPTOR denyAll;
    ASSERT_TRUE(InitializeSecurityDescriptor(&denyAll, SECURITY_DESCRIPTOR_REVISION));
    ACL empty;  // a DACL without entries grants nothing to anybody
    ASSERT_TRUE(InitializeAcl(&empty, sizeof(empty), ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&denyAll, TRUE, &empty, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &denyAll, FALSE};
    HANDLE marker = CreateMutexW(&attributes, FALSE, L"Update");
    ASSERT_NE(marker, nullptr);
    SetLastError(0);
    ASSERT_EQ(CreateMutexW(nullptr, FALSE, L"Update"), nullptr);  // the case we mean
    ASSERT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    ChildProcess second;
    ASSERT_TRUE(second.Start(BuiltProgramPath(L"updater.exe"), L""));
    EXPECT_TRUE(EndsWithoutAWindow(second, 30000));
    CloseHandle(marker);
}

// A marker that cannot be made for any other reason (here the name is an event's) is no other
// instance: the updater starts without the guard.
TEST(SingleInstance, AMarkerThatCannotBeMadeOtherwiseLetsTheUpdaterStart) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"Update");
    ASSERT_NE(event, nullptr);
    SetLastError(0);
    ASSERT_EQ(CreateMutexW(nullptr, FALSE, L"Update"), nullptr);  // the case we mean
    ASSERT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    ChildProcess updater;
    HWND dialog = StartUpdater(updater, L"");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Closes(updater, dialog));
    CloseHandle(event);
}

// Another process's messages with made-up pointers and a made-up notice of 100.
TEST(ForeignMessages, NeitherCrashNorFinishTheRealUpdater) {
    ChildProcess updater;
    HWND dialog = StartUpdater(updater, L"");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForLine(dialog, kLastStartLine));
    HWND panel = FindChildById(dialog, IDC_LOG);
    const std::wstring before = WindowText(panel);
    PostMessageW(dialog, WM_APP + 1, 0, 0x400000);
    SendMessageW(dialog, WM_APP + 1, 0, 0x10);
    PostMessageW(dialog, WM_USER + 101, 100, 0x400000);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &answer));
    EXPECT_FALSE(updater.WaitForExit(500));
    EXPECT_EQ(WindowText(panel), before);
    EXPECT_TRUE(Closes(updater, dialog));
}

TEST(SingleInstance, ASecondStartEndsAtOnceAndLeavesTheFirstAlone) {
    ChildProcess first;
    HWND dialog = StartUpdater(first, L"");
    ASSERT_NE(dialog, nullptr);

    ChildProcess second;
    ASSERT_TRUE(second.Start(BuiltProgramPath(L"updater.exe"), L""));
    EXPECT_TRUE(EndsWithoutAWindow(second, 30000));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(Closes(first, dialog));

    ChildProcess third;  // once the first has gone, the next one runs
    HWND again = StartUpdater(third, L"");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(Closes(third, again));
}

TEST(CommandLine, OnlyAutoUpdateStartsARunByItself) {
    ChildProcess manual;
    HWND dialog = StartUpdater(manual, L"autoupdate");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForModeLine(dialog));
    EXPECT_TRUE(IsWindowEnabled(FindChildById(dialog, IDOK)));
    EXPECT_TRUE(IsWindowEnabled(FindChildById(dialog, IDC_STOP)));
    EXPECT_TRUE(Closes(manual, dialog));

    ChildProcess automatic;
    dialog = StartUpdater(automatic, L"AutoUpdate");
    ASSERT_NE(dialog, nullptr);
    // The run empties the panel as it begins: its first line shows that it started.
    ASSERT_TRUE(WaitForLine(dialog, L"* 正在连接更新列表…"));
    EXPECT_FALSE(IsWindowEnabled(FindChildById(dialog, IDC_STOP)));
    EXPECT_TRUE(Closes(automatic, dialog));
}

// Saves build/<preset>/screenshots/updater-dialog.bmp for people to look at.
TEST(Screen, TheDialogAsUsersSeeIt) {
    ChildProcess updater;
    HWND dialog = StartUpdater(updater, L"");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForModeLine(dialog));
    Sleep(300);
    CreateDirectoryW(L"screenshots", nullptr);
    const ShotInfo shot = SaveWindowShot(dialog, L"screenshots\\updater-dialog.bmp");
    EXPECT_TRUE(shot.saved);
    EXPECT_GT(shot.width, 300);
    EXPECT_GT(shot.height, 250);
    EXPECT_GT(shot.distinctColours, 8);  // texts and controls, not a blank rectangle
    EXPECT_TRUE(Closes(updater, dialog));
}

namespace {
struct IconShape {
    int width = 0, height = 0, bits = 0;
};

// The first image of an icon group resource of a module loaded as data.
IconShape FirstIconOf(HMODULE module, int id) {
    IconShape shape;
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));
    if (!group) return shape;
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bits;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const auto* first = reinterpret_cast<const GroupEntry*>(data + 6);
    shape.width = first->width ? first->width : 256;
    shape.height = first->height ? first->height : 256;
    shape.bits = first->bits;
    return shape;
}
}  // namespace

TEST(Resources, TheProgramCarriesItsArtSkinManifestAndVersion) {
    const std::wstring program = BuiltProgramPath(L"updater.exe");
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

    const IconShape mainIcon = FirstIconOf(module, IDI_MAIN);
    EXPECT_EQ(mainIcon.width, 32);
    EXPECT_EQ(mainIcon.bits, 32);
    for (int id : {IDI_START, IDI_STOP}) {
        const IconShape icon = FirstIconOf(module, id);
        EXPECT_EQ(icon.width, 24) << id;
        EXPECT_EQ(icon.height, 24) << id;
        EXPECT_EQ(icon.bits, 24) << id;
    }
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDR_HAND_CURSOR), MAKEINTRESOURCEW(12)),
              nullptr);  // RT_GROUP_CURSOR
    HRSRC skin = FindResourceW(module, MAKEINTRESOURCEW(IDR_SKIN), L"SKIN");
    ASSERT_NE(skin, nullptr);
    EXPECT_GT(SizeofResource(module, skin), 16u);

    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    // Without it Windows would take a program named "updater" for an installer and elevate it.
    EXPECT_NE(text.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("supportedOS"), std::string::npos);
    FreeLibrary(module);

    EXPECT_EQ(GetFileVersionString(program), "1.0.0.0");
}
