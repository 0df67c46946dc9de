#include "session/callback.h"

namespace morvale {

std::string_view CallbackName(int code) {
    switch (code) {
        case CbcShowMessage:
            return "CbcShowMessage";
        case CbcOpMustReLogin:
            return "CbcOpMustReLogin";
        case CbcCheckSite:
            return "CbcCheckSite";
        case CbcRegSite:
            return "CbcRegSite";
        case CbcLoginServer:
            return "CbcLoginServer";
        case CbcLogin:
            return "CbcLogin";
        case CbcOtherMeLogin:
            return "CbcOtherMeLogin";
        case CbcLeaveMsgCount:
            return "CbcLeaveMsgCount";
        case CbcVisitorAll:
            return "CbcVisitorAll";
        case CbcVisitorAdd:
            return "CbcVisitorAdd";
        case CbcVisitorChangePage:
            return "CbcVisitorChangePage";
        case CbcVisitorEndCall:
            return "CbcVisitorEndCall";
        case CbcVisitorCall:
            return "CbcVisitorCall";
        case CbcVisitorChat:
            return "CbcVisitorChat";
        case CbcVisitorChatContent:
            return "CbcVisitorChatContent";
        case CbcVisitorEndChat:
            return "CbcVisitorEndChat";
        case CbcVisitorLeft:
            return "CbcVisitorLeft";
        case CbcVisitorPreMsg:
            return "CbcVisitorPreMsg";
        case CbcVisitorMsg:
            return "CbcVisitorMsg";
        case CbcMsgSendFailed:
            return "CbcMsgSendFailed";
        case CbcFileDownloaded:
            return "CbcFileDownloaded";
        case CbcFAQUpOK:
            return "CbcFAQUpOK";
        case CbcVisitorGuest:
            return "CbcVisitorGuest";
        default:
            return "";
    }
}

namespace {

bool CarriesVisitor(int code) {
    switch (code) {
        case CbcVisitorAdd:
        case CbcVisitorChangePage:
        case CbcVisitorEndCall:
        case CbcVisitorCall:
        case CbcVisitorChat:
        case CbcVisitorChatContent:
        case CbcVisitorEndChat:
        case CbcVisitorPreMsg:
        case CbcVisitorMsg:
        case CbcMsgSendFailed:
        case CbcVisitorGuest:
            return true;
        default:
            return false;
    }
}

}  // namespace

Visitor* CallbackInfo::visitor() const {
    return CarriesVisitor(code) ? static_cast<Visitor*>(data) : nullptr;
}

const InPacket* CallbackInfo::packet() const {
    const bool carries =
        code == CbcCheckSite || code == CbcRegSite || code == CbcLoginServer || code == CbcLogin;
    return carries ? static_cast<const InPacket*>(data) : nullptr;
}

const std::vector<Visitor*>* CallbackInfo::leftList() const {
    return code == CbcVisitorLeft ? static_cast<const std::vector<Visitor*>*>(data) : nullptr;
}

const std::string* CallbackInfo::text() const {
    return code == CbcShowMessage ? static_cast<const std::string*>(data) : nullptr;
}

}  // namespace morvale
