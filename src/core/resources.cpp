#include "core/resources.h"

namespace morvale {

namespace {

constexpr std::string_view kDefaultSettings =
    "[general]\r\n"
    "AutoStart=1\r\n"
    "RememberPass=1\r\n"
    "AutoLogin=1\r\n"
    "AutoLoginSite=\r\n"
    "AutoLoginUser=\r\n"
    "AutoLoginPass=\r\n"
    "HideLogin=0\r\n"
    "HideMainForm=0\r\n"
    "FaqStand=0\r\n"
    "FirstRun=1\r\n"
    "\r\n"
    "[chat]\r\n"
    "PopupChatForm=1\r\n"
    "EndChatConfirm=1\r\n"
    "NextChatFocus=1\r\n"
    "\r\n"
    "[net]\r\n"
    "Proxy=0\r\n"
    "ProxyServer=\r\n"
    "ProxyPort=\r\n"
    "ProxyUser=\r\n"
    "ProxyPass=\r\n"
    "ProxyDomain=\r\n"
    "\r\n"
    "[sound]\r\n"
    "SoundNewVisitor=1\r\n"
    "SoundNewVisitorWav=\r\n"
    "SoundNewCall=1\r\n"
    "SoundNewCallWav=\r\n"
    "SoundNewMsg=1\r\n"
    "SoundNewMsgWav=\r\n"
    "SoundSysinfo=1\r\n"
    "SoundSysinfoWav=\r\n"
    "\r\n"
    "[popup]\r\n"
    "PopupNewCall=1\r\n"
    "PopupNewMsg=1\r\n"
    "PopupNewVisitor=1\r\n"
    "PopupSysinfo=1\r\n"
    "\r\n"
    "[hotkey]\r\n"
    "HotKeyNewMsg=32881\r\n"
    "HotKeyFAQ=113\r\n"
    "KeyNextChat=32858\r\n"
    "HotKeySendMsg=1\r\n"
    "\r\n"
    "[update]\r\n"
    "ExeDownload=0\r\n"
    "\r\n"
    "[view]\r\n"
    "FontSize=0\r\n";

}  // namespace

std::optional<std::string_view> TextResource(int id) {
    if (id == kDefaultSettingsResource) return kDefaultSettings;
    return std::nullopt;
}

}  // namespace morvale
