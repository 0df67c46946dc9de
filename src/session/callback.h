#pragma once

// What Client tells its listeners ("windows"): one CallbackInfo per callback, delivered synchronously
// on the owner thread to every registered listener in registration order. The record, and an event
// passed as its data, are valid only during the call; Visitor records stay valid until the next
// CbcVisitorAll has been handled by every listener.

#include <string>
#include <string_view>
#include <vector>

namespace morvale {

class InPacket;
struct Visitor;

inline constexpr unsigned WM_CLIENT_CALLBACK = 0x0600;

inline constexpr int CbcShowMessage = 2;
inline constexpr int CbcOpMustReLogin = 3;
inline constexpr int CbcCheckSite = 4;
inline constexpr int CbcRegSite = 5;
inline constexpr int CbcLoginServer = 6;
inline constexpr int CbcLogin = 7;
inline constexpr int CbcOtherMeLogin = 8;
inline constexpr int CbcLeaveMsgCount = 10;
inline constexpr int CbcVisitorAll = 11;
inline constexpr int CbcVisitorAdd = 12;
inline constexpr int CbcVisitorChangePage = 13;
inline constexpr int CbcVisitorEndCall = 14;
inline constexpr int CbcVisitorCall = 15;
inline constexpr int CbcVisitorChat = 16;
inline constexpr int CbcVisitorChatContent = 17;
inline constexpr int CbcVisitorEndChat = 18;
inline constexpr int CbcVisitorLeft = 19;
inline constexpr int CbcVisitorPreMsg = 20;
inline constexpr int CbcVisitorMsg = 21;
inline constexpr int CbcMsgSendFailed = 23;
inline constexpr int CbcFileDownloaded = 26;
inline constexpr int CbcFAQUpOK = 28;
inline constexpr int CbcVisitorGuest = 29;

// "CbcVisitorMsg" for 21; empty for a code that is never raised.
std::string_view CallbackName(int code);

struct CallbackInfo {
    int code = 0;
    void* data = nullptr;
    int status = 0;  // 0: a reply or event arrived; 1: the request timed out

    // The data read as what the code carries (null when the code carries something else).
    Visitor* visitor() const;                       // the visitor codes
    const InPacket* packet() const;                 // CbcCheckSite, CbcRegSite, CbcLoginServer, CbcLogin
    const std::vector<Visitor*>* leftList() const;  // CbcVisitorLeft
    const std::string* text() const;                // CbcShowMessage
};

// A receiver of callbacks (a window of the workbench, the headless runner).
class ClientListener {
  public:
    virtual ~ClientListener() = default;
    virtual void OnClientCallback(const CallbackInfo& info) = 0;
};

}  // namespace morvale
