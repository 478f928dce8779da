#include "Messages.h"

#include <windows.h>

#include <string>

namespace registrar {

const char kNoticeCaption[] = "友情提示";
const char kRegisteredText[] = "系统组件注册成功,程序准备就绪!";
const char kRegistrationFailedText[] =
    "注册系统组件失败,功能基本失效,WIN7用户右键\"管理员运行\",如还存在问题,请联系技术人员!\r\n";

namespace {

std::wstring FromGbk(const char* text) {
    const int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(936, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

}  // namespace

void ShowNotice(const char* gbkText) {
    MessageBoxW(nullptr, FromGbk(gbkText).c_str(), FromGbk(kNoticeCaption).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

}  // namespace registrar
