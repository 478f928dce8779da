// The command line of the step that runs with rights: what is written reads back the same, also
// through the platform's own splitting, and anything else is refused whole; and how the step is
// asked for and judged.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "ElevatedStep.h"
#include "InstallCommand.h"
#include "UserDownloads.h"

namespace {

const std::wstring kDigest(L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");

// The arguments with one field replaced; the others are good.
std::wstring Arguments(const std::wstring& file = L"\"C:\\a b\\x.exe\"",
                       const std::wstring& size = L"15", const std::wstring& digest = kDigest,
                       const std::wstring& version = L"312e30", const std::wstring& record = L"-") {
    return L"/install " + file + L" " + size + L" " + digest + L" " + version + L" " + record;
}

InstallRequest Request(const std::wstring& file, uint64_t size, const char* version,
                       const char* record = "") {
    InstallRequest request;
    request.file = file;
    request.size = size;
    request.version = version;
    request.record = record;
    return request;
}

}  // namespace

TEST(InstallCommand, WhatIsWrittenReadsBackTheSame) {
    InstallRequest signedRequest =
        Request(L"\\\\server\\share\\更新 目录\\new.exe", UINT64_MAX, "2.0.1.5",
                "#2.0.1.5#http://h/a b.exe#sha256=ab;sig=x==");
    signedRequest.sha256[0] = 0xff;
    signedRequest.sha256[31] = 0x01;
    const InstallRequest requests[] = {
        Request(L"C:\\Users\\a\\AppData\\Local\\Qorvel\\new.exe", 0, "1"),
        Request(L"C:\\odd\\ends in backslashes\\\\", 7, "\xb0\xe6 2"),
        Request(L"C:\\a\\\\b\\c", 1, "1.0"),
        signedRequest,
    };
    for (const InstallRequest& request : requests) {
        const std::wstring arguments = FormatInstallArguments(request);
        SCOPED_TRACE(testing::Message() << std::string(arguments.begin(), arguments.end()));
        InstallRequest read;
        ASSERT_TRUE(IsInstallCommand(arguments));
        ASSERT_TRUE(ParseInstallArguments(arguments.c_str(), read));
        EXPECT_EQ(read.file, request.file);
        EXPECT_EQ(read.size, request.size);
        EXPECT_EQ(read.sha256, request.sha256);
        EXPECT_EQ(read.version, request.version);
        EXPECT_EQ(read.record, request.record);
        int count = 0;
        const std::wstring line = L"updater.exe " + arguments;
        LPWSTR* words = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(words, nullptr);
        EXPECT_EQ(count, 7);
        if (count > 2) {
            EXPECT_EQ(std::wstring(words[2]), request.file);
        }
        LocalFree(words);
    }
}

TEST(InstallCommand, AnythingMalformedIsRefusedWhole) {
    struct Case {
        const char* name;
        std::wstring arguments;
        bool isVerb;
    };
    const Case cases[] = {
        {"good, tabs and trailing blanks", L"/install\t\"C:\\x.exe\"\t1 " + kDigest + L" 31 -  ",
         true},
        {"nothing", L"", false},
        {"another word", L"AutoUpdate", false},
        {"verb run on", L"/installx " + Arguments().substr(9), false},
        {"verb alone", L"/install", true},
        {"path unquoted", Arguments(L"C:\\x.exe"), true},
        {"path relative", Arguments(L"\"x.exe\""), true},
        {"path empty", Arguments(L"\"\""), true},
        {"path with a quote", Arguments(L"\"C:\\a\\\"b.exe\""), true},
        {"path unterminated", L"/install \"C:\\x.exe 1 " + kDigest + L" 31 -", true},
        {"no blank after the path", L"/install \"C:\\x.exe\"1 " + kDigest + L" 31 -", true},
        {"a field missing", L"/install \"C:\\x.exe\" 1 " + kDigest + L" 31", true},
        {"a field more", Arguments() + L" C:\\other\\Tanvik.exe", true},
        {"size with a leading zero", Arguments(L"\"C:\\x.exe\"", L"015"), true},
        {"size negative", Arguments(L"\"C:\\x.exe\"", L"-1"), true},
        {"size not decimal", Arguments(L"\"C:\\x.exe\"", L"0x10"), true},
        {"size past 64 bits", Arguments(L"\"C:\\x.exe\"", L"18446744073709551616"), true},
        {"digest short", Arguments(L"\"C:\\x.exe\"", L"1", kDigest.substr(1)), true},
        {"digest long", Arguments(L"\"C:\\x.exe\"", L"1", kDigest + L"0"), true},
        {"digest upper case", Arguments(L"\"C:\\x.exe\"", L"1", L"AA" + kDigest.substr(2)), true},
        {"digest not hex", Arguments(L"\"C:\\x.exe\"", L"1", L"g" + kDigest.substr(1)), true},
        {"version odd", Arguments(L"\"C:\\x.exe\"", L"1", kDigest, L"312"), true},
        {"version not hex", Arguments(L"\"C:\\x.exe\"", L"1", kDigest, L"zz"), true},
        {"version empty", Arguments(L"\"C:\\x.exe\"", L"1", kDigest, L"-"), true},
        {"record odd", Arguments(L"\"C:\\x.exe\"", L"1", kDigest, L"31", L"233"), true},
        {"record not hex", Arguments(L"\"C:\\x.exe\"", L"1", kDigest, L"31", L"--"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallRequest read;
        read.size = 99;
        const bool good = c.name == cases[0].name;
        EXPECT_EQ(IsInstallCommand(c.arguments), c.isVerb);
        EXPECT_EQ(ParseInstallArguments(c.arguments.c_str(), read), good);
        if (!good) {
            EXPECT_EQ(read.size, 99u) << "a refused line changed the request";
        }
    }
}

// How a request for the step went decides what the run says and whether the file is kept.
// ShellExecuteExW cannot be made to report a declined prompt here (Wine shows none), so the
// decision is taken on its own.
TEST(InstallCommand, TheStepsOutcomeFollowsFromItsStartAndExitCode) {
    struct Case {
        StepResult result;
        StepOutcome outcome;
    };
    const Case cases[] = {
        {{.started = false, .error = ERROR_CANCELLED}, StepOutcome::Declined},
        {{.started = false, .error = ERROR_FILE_NOT_FOUND}, StepOutcome::Failed},
        {{.started = false, .error = ERROR_ACCESS_DENIED}, StepOutcome::Failed},
        // The exit code of a process that never is the step's counts for nothing.
        {{.started = false, .error = ERROR_CANCELLED, .exitCode = 20}, StepOutcome::Declined},
        {{.started = true, .exitCode = 20}, StepOutcome::Installed},
        {{.started = true, .exitCode = 23}, StepOutcome::NotTheOffer},
        {{.started = true, .exitCode = 24}, StepOutcome::NotTheOffer},
        {{.started = true, .exitCode = 0}, StepOutcome::Failed},
        {{.started = true, .exitCode = 21}, StepOutcome::Failed},
        {{.started = true, .exitCode = 22}, StepOutcome::Failed},
        {{.started = true, .exitCode = 25}, StepOutcome::Failed},
        {{.started = true, .exitCode = 26}, StepOutcome::Failed},
        {{.started = true, .exitCode = STILL_ACTIVE}, StepOutcome::Failed},
        {{.started = true, .error = ERROR_CANCELLED, .exitCode = 1}, StepOutcome::Failed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeStep(c.result), c.outcome)
            << c.result.started << " " << c.result.error << " " << c.result.exitCode;
}

// The shell is asked for rights ("runas") for the updater in its own folder, with the request
// as the step reads it; the user's download waits in a folder of the user's own, one for each
// installation folder, whatever case its path is written in.
TEST(InstallCommand, TheStepIsAskedForWithRightsAndTheDownloadWaitsInTheUsersFolder) {
    const InstallRequest request = Request(L"C:\\Users\\a\\x.exe", 15, "1.0.0.2");
    const StepLaunch launch = MakeStepLaunch(L"C:\\Program Files (x86)\\Q\\updater.exe", request);
    EXPECT_EQ(launch.verb, L"runas");
    EXPECT_EQ(launch.program, L"C:\\Program Files (x86)\\Q\\updater.exe");
    EXPECT_EQ(launch.folder, L"C:\\Program Files (x86)\\Q");
    InstallRequest read;
    ASSERT_TRUE(ParseInstallArguments(launch.parameters.c_str(), read));
    EXPECT_EQ(read.file, request.file);
    EXPECT_TRUE(read.version == request.version);

    const std::wstring one = UserDownloadTarget(L"C:\\Program Files\\Q\\Tanvik.exe");
    wchar_t local[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH), 0u);
    EXPECT_EQ(one.rfind(std::wstring(local) + L"\\Qorvel\\Updates\\", 0), 0u) << one;
    EXPECT_TRUE(one.ends_with(L"\\Tanvik.exe")) << one;
    EXPECT_EQ(UserDownloadTarget(L"c:\\program files\\q\\Tanvik.exe"), one);
    EXPECT_NE(UserDownloadTarget(L"C:\\Program Files\\R\\Tanvik.exe"), one);
}
