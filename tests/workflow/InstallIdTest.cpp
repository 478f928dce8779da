// The installation id: made once per folder and kept in the current user's registry, and the
// header that carries it with the update record request.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "DownloadHarness.h"
#include "InstallId.h"
#include "ServerProtocol.h"

using namespace std::string_literals;

namespace {

const std::string kPlacedId = "0123456789abcdef00112233445566ff";

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

bool IsLowerHex32(const std::optional<std::string>& id) {
    return id && id->size() == 32 && id->find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Ids kept under a key of this run's own, removed with everything in it after each case.
class InstallIds : public ::testing::Test {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QorvelTests");  // unless others use it
    }
    std::optional<std::string> Id(const std::wstring& folder) const {
        return InstallationId(folder, m_key);
    }
    // The folder's value as another program (or an older run) may have left it.
    void Place(const std::wstring& key, const std::wstring& data, DWORD type = REG_SZ) const {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(),
                                  InstallIdValueName(m_folder).c_str(), type, data.c_str(),
                                  static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::wstring Kept() const {
        wchar_t text[64] = {};
        DWORD size = sizeof(text);
        RegGetValueW(HKEY_CURRENT_USER, m_key.c_str(), InstallIdValueName(m_folder).c_str(),
                     RRF_RT_REG_SZ, nullptr, text, &size);
        return text;
    }

    const std::wstring m_key =
        L"Software\\QorvelTests\\InstallIds-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring m_folder = m_key + L"\\Qorvel 安装";  // unique to this run
};

}  // namespace

TEST_F(InstallIds, MadeOnceAndKeptForTheFolder) {
    const std::optional<std::string> id = Id(m_folder);
    EXPECT_TRUE(IsLowerHex32(id));
    EXPECT_EQ(Id(m_folder), id);
    EXPECT_EQ(Kept(), Wide(id.value_or("")));
}

TEST_F(InstallIds, OneIdPerFolderWhateverItsSpelling) {
    struct Case {
        const wchar_t *folder, *other;
        bool same;
    };
    const Case cases[] = {
        {L"C:\\Qorvel\\App", L"c:\\QORVEL\\app", true},
        {L"C:\\Qorvel\\App", L"C:/Qorvel/Sub/../App\\", true},
        {L"C:\\Qorvel\\\u00c4pp", L"C:\\qorvel\\\u00e4PP", true},
        {L"C:\\Qorvel\\App", L"C:\\Qorvel\\App2", false},
        {L"C:\\Qorvel\\体验版", L"C:\\Qorvel\\商业版", false},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> id = Id(c.folder);
        ASSERT_TRUE(IsLowerHex32(id)) << c.folder;
        EXPECT_EQ(Id(c.other) == id, c.same) << c.folder << L" / " << c.other;
    }
    const std::wstring canonical = L"c:\\qorvel\\\u00e4pp 安装";
    EXPECT_EQ(InstallIdValueName(L"C:/Qorvel/\u00c4pp 安装/"), canonical);
}

TEST_F(InstallIds, AMalformedIdIsReplaced) {
    const std::pair<std::wstring, DWORD> cases[] = {
        {L"", REG_SZ},
        {L"0123456789ABCDEF00112233445566FF", REG_SZ},
        {L"0123456789abcdef00112233445566f", REG_SZ},
        {L"0123456789abcdef00112233445566ff0", REG_SZ},
        {L"0123456789abcdeg00112233445566ff", REG_SZ},
        {L"0123456789abcdef00112233445566ff\0ff"s, REG_SZ},
        {Wide(kPlacedId), REG_EXPAND_SZ},
    };
    for (const auto& [data, type] : cases) {
        Place(m_key, data, type);
        const std::optional<std::string> id = Id(m_folder);
        ASSERT_TRUE(IsLowerHex32(id)) << data;
        EXPECT_NE(*id, kPlacedId) << data;
        EXPECT_EQ(Kept(), Wide(*id)) << data;
    }
}

// As an installation's id is placed by hand, where the updater keeps them: the case's own
// value is made there and removed.
TEST_F(InstallIds, AnIdPlacedInTheRegistryIsUsed) {
    Place(kInstallIdsKey, Wide(kPlacedId));
    EXPECT_EQ(InstallationId(m_folder), kPlacedId);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kInstallIdsKey, InstallIdValueName(m_folder).c_str());
}

TEST_F(InstallIds, NoIdWhereNoneCanBeKept) {
    const std::wstring unusable = m_key + L"\\" + std::wstring(300, L'k');  // names end at 255
    EXPECT_EQ(InstallationId(m_folder, unusable), std::nullopt);
    EXPECT_EQ(InstallIdHeader(std::nullopt), L"");
}

TEST(FetchText, SendsTheInstallIdOnlyWhenGiven) {
    const std::string target = "/update.asp?action=Auto";
    Server().Script(target, {.body = "#2.0.1.5#"});
    for (const std::optional<std::string>& id :
         {std::optional(kPlacedId), std::optional<std::string>()}) {
        Server().ClearRequests();
        GbkString reply;
        FetchText(Url(target), reply, {}, InstallIdHeader(id));
        EXPECT_EQ(reply.Bytes(), "#2.0.1.5#");
        const std::vector<testsupport::ReceivedRequest> requests = RequestsFor(target);
        ASSERT_EQ(requests.size(), 1u);
        std::vector<std::string> sent;
        for (const testsupport::HttpHeader& header : requests[0].headers)
            if (header.name == "X-Install-Id") sent.push_back(header.value);
        EXPECT_EQ(sent, id ? std::vector{*id} : std::vector<std::string>{});
    }
}
