// Release folders: versions read from programs of ours, settings files, and folders that
// cannot be served, which stop the server at its start with a clear error.
#include <gtest/gtest.h>

#include "PeVersion.h"
#include "ReleaseSettings.h"
#include "ServerProcess.h"

using namespace testing_vendor;

TEST(ReleaseFolder, VersionIsTheFixedFileVersionOrSaysWhyNot) {
    TempFolder folder;
    WriteBytes(folder.Path() / "text.exe", "MZ this is only text");
    const std::string whole = ReadBytes(Fixture("v1_0_10_0.exe"));
    WriteBytes(folder.Path() / "half.exe", whole.substr(0, whole.size() / 2));
    // The fixtures end in their COFF symbol table and its string table, past every section.
    WriteBytes(folder.Path() / "strings cut.exe", whole.substr(0, whole.size() - 1));
    WriteBytes(folder.Path() / "symbols cut.exe", whole.substr(0, whole.size() - 6000));
    // A certificate table said to lie past the end of the file.
    std::string signedOne = whole;
    const uint32_t pe =
        static_cast<unsigned char>(whole[0x3C]) | static_cast<unsigned char>(whole[0x3D]) << 8;
    const size_t certificate = pe + 24 + 112 + 8 * 4;  // PE32+ data directory 4
    const uint32_t at = static_cast<uint32_t>(whole.size()), size = 1024;
    for (int i = 0; i < 4; ++i) {
        signedOne[certificate + i] = static_cast<char>(at >> (8 * i));
        signedOne[certificate + 4 + i] = static_cast<char>(size >> (8 * i));
    }
    WriteBytes(folder.Path() / "certificate cut.exe", signedOne);
    const struct {
        fs::path program;
        const char* version;
        const char* error;
    } cases[] = {
        {Fixture("v2_0_1_5.exe"), "2.0.1.5", ""},
        {Fixture("v1_0_10_0.exe"), "1.0.10.0", ""},
        {Fixture("v65535_0_65535_1.exe"), "65535.0.65535.1", ""},
        {Fixture("unversioned.exe"), "", "no version"},
        {folder.Path() / "text.exe", "", "not a Windows program"},
        {folder.Path() / "half.exe", "", "cut short"},
        {folder.Path() / "strings cut.exe", "", "cut short"},
        {folder.Path() / "symbols cut.exe", "", "cut short"},
        {folder.Path() / "certificate cut.exe", "", "cut short"},
        {GrownProgram(folder.Path(), "v2_0_1_5.exe", whole.size() + 4096), "2.0.1.5", ""},
        {folder.Path() / "missing.exe", "", "no such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program.string());
        const vendor::FileVersion read = vendor::ReadFileVersion(c.program);
        EXPECT_EQ(read.text, c.version);
        EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
    }
}

TEST(ReleaseFolder, SettingsAreReadOrRefusedWithTheLine) {
    // The README's own example, as a vendor would copy it.
    const std::string readme = ReadBytes(README_FILE);
    const size_t example = readme.find("```ini\n") + 7;
    const size_t rollout = readme.find("```ini\nprevious") + 7;
    const struct {
        std::string text;
        const char* error;  // empty: accepted
        const char* program;
        unsigned rollout = 10000;  // in hundredths of a percent
    } cases[] = {
        {"manual_page = http://a/\n", "", "Tanvik体验版.exe"},
        {"# c\n\nprogram = 新.exe\r\nmanual_page=https://a/b\npaused = yes\n", "", "新.exe"},
        {readme.substr(example, readme.find("```", example) - example), "", "Tanvik体验版.exe"},
        {"\xEF\xBB\xBFprogram = C#.exe\t# a comment\nmanual_page = http://a/  # more\n", "",
         "C#.exe"},
        {"program = Tanvik.exe\n", "manual_page is missing", ""},
        {"manual_page = ftp://a/\n", "line 1: manual_page", ""},
        {"manual_page = http://a/\npause = yes\n", "line 2: unknown key \"pause\"", ""},
        {"manual_page = http://a/\npaused = 1\n", "paused must be yes or no", ""},
        {"manual_page = http://a/\npaused = no#\n", "not \"no#\"", ""},
        {"manual_page = http://a/\npaused = yes\xC2\xA0\n", "not \"yes\\u{00A0}\"", ""},
        {"\xEF\xBB\xBF\xEF\xBB\xBFmanual_page = http://a/\n",
         "unknown key \"\\u{FEFF}manual_page\"", ""},
        {"manual_page = http://a/\nprogram = ../x\xFF.exe\n", "not \"../x\\xFF.exe\"", ""},
        {"manual_page = http://a/\nnotes\n", "expected key = value", ""},
        {"manual_page = http://a/\nrollout = 12.5%\nprevious = 旧.exe\n", "", "Tanvik体验版.exe",
         1250},
        {"manual_page = http://a/\n" +
             readme.substr(rollout, readme.find("```", rollout) - rollout),
         "", "Tanvik体验版.exe", 500},
        {"manual_page = http://a/\nrollout = 0%\n", "", "Tanvik体验版.exe", 0},
        {"manual_page = http://a/\nrollout = 33.33%\n", "", "Tanvik体验版.exe", 3333},
        {"manual_page = http://a/\nrollout = 100.01%\n", "rollout must be a share", ""},
        {"manual_page = http://a/\nrollout = 5\n", "not \"5\"", ""},
        {"manual_page = http://a/\nrollout = 5.255%\n", "rollout must be a share", ""},
        {"manual_page = http://a/\nrollout = -1%\n", "rollout must be a share", ""},
        {"manual_page = http://a/\nprevious = ../old.exe\n", "previous must name a file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        vendor::ReleaseSettings settings;
        std::string error;
        EXPECT_EQ(vendor::ParseReleaseSettings(c.text, settings, error), *c.error == '\0');
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        if (*c.program) {
            EXPECT_EQ(settings.program, c.program);
            EXPECT_EQ(settings.rollout, c.rollout);
        }
    }
}

TEST(ReleaseFolder, AFolderThatCannotBeServedStopsTheStartWithAClearError) {
    TempFolder place;
    const fs::path release = place.Path() / "release";
    WriteRelease(place.Path() / "held", Fixture("v2_0_1_5.exe"));
    ServerProcess holder({"--listen", "127.0.0.1:0", (place.Path() / "held").string()});
    ASSERT_TRUE(holder.WaitUntilListening());
    const struct {
        const char* name;
        void (*prepare)(const fs::path&);
        std::vector<std::string> options;
        std::string error;
    } cases[] = {
        {"no settings",
         [](const fs::path& f) { fs::create_directories(f); },
         {},
         "release.ini cannot be read"},
        {"no program",
         [](const fs::path& f) {
             WriteRelease(f, Fixture("v2_0_1_5.exe"));
             fs::remove(f / "Tanvik体验版.exe");
         },
         {},
         "is missing"},
        {"not PE",
         [](const fs::path& f) {
             WriteRelease(f, Fixture("v2_0_1_5.exe"));
             WriteBytes(f / "Tanvik体验版.exe", "not a program");
         },
         {},
         "not a Windows program"},
        {"no version",
         [](const fs::path& f) { WriteRelease(f, Fixture("unversioned.exe")); },
         {},
         "no version"},
        {"previous missing",
         [](const fs::path& f) {
             WriteRollout(f, "5%");
             fs::remove(f / "previous.exe");
         },
         {},
         "previous.exe is missing"},
        {"previous not older",
         [](const fs::path& f) {
             WriteRelease(f, Fixture("v2_0_1_5.exe"), false, "Tanvik体验版.exe",
                          "previous = Tanvik体验版.exe\n");
         },
         {},
         "previous (2.0.1.5) must be older than the program (2.0.1.5)"},
        {"bad public address",
         [](const fs::path& f) { WriteRelease(f, Fixture("v2_0_1_5.exe")); },
         {"--public-url", "http://host/a#b/"},
         "--public-url"},
        {"port taken",
         [](const fs::path& f) { WriteRelease(f, Fixture("v2_0_1_5.exe")); },
         {"--listen", "127.0.0.1:" + std::to_string(holder.Port())},
         "cannot listen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(release);
        c.prepare(release);
        std::vector<std::string> arguments{"--listen", "127.0.0.1:0"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(release.string());
        ServerProcess server(arguments);
        EXPECT_FALSE(server.WaitUntilListening());
        EXPECT_EQ(server.Stop(), 2);
        EXPECT_NE(server.Errors().find(c.error), std::string::npos) << server.Errors();
    }
}
