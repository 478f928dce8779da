// registrar.exe run for real in temporary folders. A watcher finds its message boxes, reads
// them and presses OK; the stand-in libraries' traces show whether the library was loaded,
// called and released.
#include "Mervax.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <set>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::wstring kCaption = L"友情提示";
const std::wstring kSuccessText = L"系统组件注册成功,程序准备就绪!";
const std::wstring kFailureText =
    L"注册系统组件失败,功能基本失效,WIN7用户右键\"管理员运行\",如还存在问题,请联系技术人员!\r\n";

// Traces of the stand-ins (see FakeMervax.cpp).
const std::string kRegisteredAndKept = "attach\r\nregister\r\ndetach-exit\r\n";
const std::string kRegisteredAndReleased = "attach\r\nregister\r\ndetach-free\r\n";
const std::string kLoadedNotCalled = "attach\r\ndetach-exit\r\n";

constexpr DWORD kRunTimeoutMs = 20000;

std::wstring StandIn(const std::wstring& name) {
    return RunningProgramFolder() + L"\\registrar-fixtures\\" + name;
}

struct MessageBoxSeen {
    std::wstring caption;
    std::wstring text;
    bool owned;
};

struct RunOutcome {
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    std::vector<MessageBoxSeen> boxes;
};

bool IsMessageBox(HWND window) {
    return IsWindowVisible(window) && WindowClass(window) == L"#32770" &&
           FindChildById(window, kMessageBoxTextId) != nullptr;
}

// Runs the program and answers every message box it shows with OK, until it ends (or the
// bounded wait runs out, when it is killed).
RunOutcome RunAndAnswer(const std::wstring& program, const std::wstring& workingFolder = L"") {
    RunOutcome outcome;
    ChildProcess process;
    if (!process.Start(program, L"", workingFolder)) {
        ADD_FAILURE() << "cannot start the program, error " << GetLastError();
        return outcome;
    }
    std::set<HWND> answered;
    const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
    while (!process.WaitForExit(10)) {
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << "the program did not end in time";
            return outcome;
        }
        for (HWND window : TopLevelWindowsOf(process.Id())) {
            if (answered.count(window) != 0 || !IsMessageBox(window)) continue;
            answered.insert(window);
            outcome.boxes.push_back({WindowText(window),
                                     WindowText(FindChildById(window, kMessageBoxTextId)),
                                     GetWindow(window, GW_OWNER) != nullptr});
            EXPECT_TRUE(PressButton(window, IDOK) || PressButton(window, IDCANCEL));
        }
    }
    outcome.ended = true;
    outcome.exitCode = process.ExitCode();
    return outcome;
}

// A program folder: registrar.exe, and whatever the case puts beside it.
class ProgramFolder {
public:
    explicit ProgramFolder(const std::wstring& leafName = L"registrar") : m_dir(leafName) {
        EXPECT_FALSE(m_dir.Path().empty());
        EXPECT_TRUE(CopyFileTo(BuiltProgramPath(L"registrar.exe"), Program()));
    }

    std::wstring Program() const { return m_dir.File(L"registrar.exe"); }
    std::wstring Settings() const { return m_dir.File(L"Setting.ini"); }
    std::wstring Library() const { return m_dir.File(L"Mervax.dll"); }
    const TempDir& Dir() const { return m_dir; }

    void PutLibrary(const std::wstring& source) const {
        ASSERT_TRUE(CopyFileTo(source, Library()))
            << "missing " << std::string(source.begin(), source.end());
    }
    void PutSettings(const std::string& bytes) const {
        ASSERT_TRUE(WriteFileBytes(Settings(), bytes));
    }
    std::string SettingsBytes() const {
        std::string bytes;
        ReadFileBytes(Settings(), bytes);
        return bytes;
    }
    int Status() const {
        return static_cast<int>(
            GetPrivateProfileIntW(L"register", L"status", -100, Settings().c_str()));
    }
    // Trace of a stand-in library; empty when it was never loaded.
    std::string Trace() const {
        std::string bytes;
        ReadFileBytes(m_dir.File(L"Mervax.trace"), bytes);
        return bytes;
    }

    RunOutcome Run() const { return RunAndAnswer(Program()); }

private:
    TempDir m_dir;
};

void ExpectOneBox(const RunOutcome& outcome, const std::wstring& text) {
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 0u);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].caption, kCaption);
    EXPECT_EQ(outcome.boxes[0].text, text);
    EXPECT_FALSE(outcome.boxes[0].owned);
}

void ExpectSilentEnd(const RunOutcome& outcome) {
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(outcome.boxes.empty());
}

std::wstring ClassKey() {
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_MervaxComponent, clsid, 40);
    return std::wstring(L"CLSID\\") + clsid;
}

std::wstring ReadClassesRootString(const std::wstring& key, const wchar_t* value) {
    wchar_t buffer[4096] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

HRESULT CallExport(const std::wstring& library, const char* name) {
    HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return E_FAIL;
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    const HRESULT result = function != nullptr ? function() : E_NOTIMPL;
    FreeLibrary(module);
    return result;
}

// --- the real component -------------------------------------------------------------------

TEST(RegistrarWithMervax, FirstRunRegistersTheClassAndLaterRunsDoNothing) {
    ProgramFolder folder;
    folder.PutLibrary(BuiltProgramPath(L"Mervax.dll"));

    ExpectOneBox(folder.Run(), kSuccessText);
    EXPECT_EQ(folder.Status(), 1);
    const std::string settings = folder.SettingsBytes();
    EXPECT_NE(settings.find("[register]"), std::string::npos) << settings;
    EXPECT_NE(settings.find("status=1"), std::string::npos) << settings;

    // Registered machine-wide, pointing at the library in the program's folder.
    EXPECT_TRUE(SamePath(ReadClassesRootString(ClassKey() + L"\\InprocServer32", nullptr),
                         folder.Library()));
    EXPECT_EQ(ReadClassesRootString(ClassKey() + L"\\InprocServer32", L"ThreadingModel"), L"Both");

    // The class can be created through COM and answers.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IMervaxComponent* component = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MervaxComponent, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMervaxComponent, reinterpret_cast<void**>(&component)),
              S_OK);
    if (component != nullptr) {
        DWORD version = 0;
        EXPECT_EQ(component->GetVersion(&version), S_OK);
        EXPECT_EQ(version, kMervaxComponentVersion);
        IUnknown* unknown = nullptr;
        EXPECT_EQ(component->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)),
                  S_OK);
        if (unknown != nullptr) unknown->Release();
        component->Release();
    }
    CoUninitialize();

    // A second start ends silently and leaves the settings as they are.
    ExpectSilentEnd(folder.Run());
    EXPECT_EQ(folder.SettingsBytes(), settings);

    // Unregistering removes the class again (and leaves this machine clean for the next run).
    EXPECT_EQ(CallExport(folder.Library(), "DllUnregisterServer"), S_OK);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    if (key != nullptr) RegCloseKey(key);
    EXPECT_EQ(CallExport(folder.Library(), "DllUnregisterServer"), S_OK);
}

TEST(RegistrarWithMervax, LibraryRefusesUnknownClassesAndUnloadsWhenUnused) {
    const std::wstring path = BuiltProgramPath(L"Mervax.dll");
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);

    void* object = nullptr;
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MervaxComponent, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    IMervaxComponent* component = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMervaxComponent,
                                      reinterpret_cast<void**>(&component)),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // a live object keeps it loaded
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(component), IID_IMervaxComponent,
                                      &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    component->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->Release();
    FreeLibrary(module);
}

// --- the settings file decides --------------------------------------------------------------

TEST(RegistrarSettings, PositiveStatusEndsSilentlyWithoutLoadingTheLibrary) {
    for (const std::string settings :
         {"[register]\r\nstatus=1\r\n", "[register]\r\nstatus=7\r\n"}) {
        SCOPED_TRACE(settings);
        ProgramFolder folder;
        folder.PutLibrary(StandIn(L"mervax_ok.dll"));
        folder.PutSettings(settings);
        ExpectSilentEnd(folder.Run());
        EXPECT_EQ(folder.Trace(), "");
        EXPECT_EQ(folder.SettingsBytes(), settings);
    }
}

TEST(RegistrarSettings, AnythingButAPositiveStatusRegistersAgain) {
    const std::string cases[] = {
        "[register]\r\nstatus=0\r\n",
        "[register]\r\nstatus=\r\n",
        "[register]\r\nstatus=-1\r\n",
        "[register]\r\nstatus=abc\r\n",
        "[register]\r\nother=5\r\n",
        "[other]\r\nstatus=1\r\n",
        "",
    };
    for (const std::string& settings : cases) {
        SCOPED_TRACE(settings);
        ProgramFolder folder;
        folder.PutLibrary(StandIn(L"mervax_ok.dll"));
        folder.PutSettings(settings);
        ExpectOneBox(folder.Run(), kSuccessText);
        EXPECT_EQ(folder.Trace(), kRegisteredAndKept);
        EXPECT_EQ(folder.Status(), 1);
    }
}

TEST(RegistrarSettings, WritesOnlyTheStatusKeyAndKeepsTheRest) {
    ProgramFolder folder;
    folder.PutLibrary(StandIn(L"mervax_ok.dll"));
    folder.PutSettings("[other]\r\nname=x\r\n[register]\r\nstatus=0\r\nnote=keep\r\n");
    ExpectOneBox(folder.Run(), kSuccessText);
    EXPECT_EQ(folder.Status(), 1);
    EXPECT_EQ(GetPrivateProfileIntW(L"other", L"name", 9, folder.Settings().c_str()), 0u);
    wchar_t note[32] = {};
    GetPrivateProfileStringW(L"register", L"note", L"", note, 32, folder.Settings().c_str());
    EXPECT_STREQ(note, L"keep");
}

// --- what the library answers ---------------------------------------------------------------

TEST(RegistrarOutcome, SuccessCodesCountAsRegistered) {
    for (const wchar_t* library : {L"mervax_ok.dll", L"mervax_false.dll"}) {
        SCOPED_TRACE(std::string(library, library + wcslen(library)));
        ProgramFolder folder;
        folder.PutLibrary(StandIn(library));
        ExpectOneBox(folder.Run(), kSuccessText);
        EXPECT_EQ(folder.Trace(), kRegisteredAndKept);
        EXPECT_EQ(folder.Status(), 1);
        EXPECT_EQ(folder.SettingsBytes().find("status=1") != std::string::npos, true);
    }
}

TEST(RegistrarOutcome, FailureCodeShowsTheFailureReleasesTheLibraryAndWritesNothing) {
    ProgramFolder folder;
    folder.PutLibrary(StandIn(L"mervax_denied.dll"));
    ExpectOneBox(folder.Run(), kFailureText);
    EXPECT_EQ(folder.Trace(), kRegisteredAndReleased);
    EXPECT_FALSE(FileExists(folder.Settings()));

    // With a settings file: unchanged, and the next start tries again.
    const std::string settings = "[register]\r\nstatus=0\r\n";
    folder.PutSettings(settings);
    ExpectOneBox(folder.Run(), kFailureText);
    EXPECT_EQ(folder.SettingsBytes(), settings);
    EXPECT_EQ(folder.Trace(), kRegisteredAndReleased + kRegisteredAndReleased);
}

TEST(RegistrarOutcome, MissingExportShowsTheFailureAndWritesNothing) {
    ProgramFolder folder;
    folder.PutLibrary(StandIn(L"mervax_no_export.dll"));
    const std::string settings = "[register]\r\nstatus=-1\r\n";
    folder.PutSettings(settings);
    ExpectOneBox(folder.Run(), kFailureText);
    EXPECT_EQ(folder.Trace(), kLoadedNotCalled);
    EXPECT_EQ(folder.SettingsBytes(), settings);
}

TEST(RegistrarOutcome, MissingOrBrokenLibraryEndsSilently) {
    {
        SCOPED_TRACE("no library");
        ProgramFolder folder;
        ExpectSilentEnd(folder.Run());
        EXPECT_FALSE(FileExists(folder.Settings()));
    }
    {
        SCOPED_TRACE("no library, settings present");
        ProgramFolder folder;
        const std::string settings = "[register]\r\nstatus=0\r\n";
        folder.PutSettings(settings);
        ExpectSilentEnd(folder.Run());
        EXPECT_EQ(folder.SettingsBytes(), settings);
    }
    {
        SCOPED_TRACE("not a DLL");
        ProgramFolder folder;
        ASSERT_TRUE(WriteFileBytes(folder.Library(), "MZ but not really a library\r\n"));
        ExpectSilentEnd(folder.Run());
        EXPECT_FALSE(FileExists(folder.Settings()));
    }
}

// --- where the library and the settings are looked for --------------------------------------

TEST(RegistrarFolder, LibraryInTheWorkingFolderIsNotUsed) {
    ProgramFolder folder;
    TempDir elsewhere(L"registrar-cwd");
    ASSERT_TRUE(CopyFileTo(StandIn(L"mervax_ok.dll"), elsewhere.File(L"Mervax.dll")));
    ExpectSilentEnd(RunAndAnswer(folder.Program(), elsewhere.Path()));
    std::string trace;
    EXPECT_FALSE(ReadFileBytes(elsewhere.File(L"Mervax.trace"), trace)) << trace;
    EXPECT_FALSE(FileExists(folder.Settings()));
    EXPECT_FALSE(FileExists(elsewhere.File(L"Setting.ini")));
}

TEST(RegistrarFolder, WorksInAFolderWithChineseNameAndBlanks) {
    ProgramFolder folder(L"组件 注册 测试");
    folder.PutLibrary(StandIn(L"mervax_ok.dll"));
    TempDir elsewhere(L"registrar-cwd");
    ExpectOneBox(RunAndAnswer(folder.Program(), elsewhere.Path()), kSuccessText);
    EXPECT_EQ(folder.Trace(), kRegisteredAndKept);
    EXPECT_EQ(folder.Status(), 1);
    EXPECT_FALSE(FileExists(elsewhere.File(L"Setting.ini")));
    ExpectSilentEnd(folder.Run());
    EXPECT_EQ(folder.Trace(), kRegisteredAndKept);
}

}  // namespace
