#pragma once

// Requests to the server. An OutPacket names the server path below the base URL, carries the
// parameters already URL-encoded, and says which worker sends it (channel), how often it is tried
// and by which request kind a failure is recognised. Subclasses only fill these in their constructor.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvale {

// Channels: the worker queue a request goes to.
inline constexpr std::int32_t CH_GET = 0;
inline constexpr std::int32_t CH_POST = 1;
inline constexpr std::int32_t CH_UPLOAD = 2;
inline constexpr std::int32_t CH_DOWNLOAD = 3;

// A message longer than this (path plus every parameter line with CR LF) goes out as a form POST.
inline constexpr std::size_t kMaxGetMessageBytes = 2000;

// A form POST body: the fields joined with "&", leading and trailing blanks and control bytes trimmed.
std::string FormBody(const std::vector<std::string>& fields);

class OutPacket {
  public:
    OutPacket() = default;
    virtual ~OutPacket() = default;

    // Appends name "=" UrlEncode(value) to params.
    virtual void AddParam(std::string_view name, std::string_view value);
    // Appends name "=" value to params, unencoded.
    virtual void AddRawParam(std::string_view name, std::string_view value);
    // Appends name "=" value to postFields, unencoded (file parts of an upload).
    virtual void AddPostField(std::string_view name, std::string_view value);
    // path, followed on CH_GET by the params joined with "&"; path alone on every other channel.
    virtual std::string GetUrl() const;
    virtual const std::vector<std::string>& GetParams() const;
    virtual const std::vector<std::string>& GetPostFields() const;

    // The CH_POST form body: FormBody of the params.
    std::string GetFormBody() const { return FormBody(params); }

    std::vector<std::string> params;
    std::vector<std::string> postFields;
    std::string path;
    std::int32_t channel = CH_GET;
    std::int32_t tries = 3;
    std::string localFile;
    std::int32_t requestKind = 0;
};

// Does the site exist? Answered by DOWN_CHECKSITE.
class OutCheckSitePacket : public OutPacket {
  public:
    explicit OutCheckSitePacket(std::string_view site);
};

// Registers a site. Answered by DOWN_REGSITE.
class OutRegSitePacket : public OutPacket {
  public:
    OutRegSitePacket(std::string_view site, std::string_view user, std::string_view pass,
                     std::string_view email);
};

// Which server serves the site? Answered by DOWN_LOGINSERVER.
class OutLoginServerPacket : public OutPacket {
  public:
    explicit OutLoginServerPacket(std::string_view site);
};

// Signs the operator in; `app` and `ver` are the application name and version text. Answered by
// DOWN_LOGIN.
class OutLoginPacket : public OutPacket {
  public:
    OutLoginPacket(std::string_view site, std::string_view user, std::string_view pass, std::string_view app,
                   std::string_view ver, bool hide, bool trace);
};

// Downloads the reply library from its server path into localFile.
class OutFAQFromUrlPacket : public OutPacket {
  public:
    OutFAQFromUrlPacket(std::string_view faqUrl, std::string_view localFile);
};

// Uploads the reply library file. Answered by DOWN_FAQ_UPOK.
class OutFAQUpPacket : public OutPacket {
  public:
    explicit OutFAQUpPacket(std::string_view localFile);
};

// Asks the server to announce the current reply library.
class OutFAQRefreshPacket : public OutPacket {
  public:
    OutFAQRefreshPacket();
};

// An operator's message (HTML) to a visitor; long messages switch themselves to CH_POST.
class OutSendMsgPacket : public OutPacket {
  public:
    OutSendMsgPacket(std::string_view vid, std::string_view rid, std::string_view msg);
};

// Sets the operator's status: "online", "busy", "away", "hide" or "offline".
class OutStatusPacket : public OutPacket {
  public:
    explicit OutStatusPacket(std::string_view action);
};

// Notes a name for a guest.
class OutSetGuestPacket : public OutPacket {
  public:
    OutSetGuestPacket(std::string_view guestId, std::string_view name);
};

// Invites a visitor to chat (the IP is taken but not sent).
class OutInvitePacket : public OutPacket {
  public:
    OutInvitePacket(std::string_view vid, std::string_view ip);
};

// Forces a chat on a visitor (the IP is taken but not sent).
class OutInitialChatPacket : public OutPacket {
  public:
    OutInitialChatPacket(std::string_view vid, std::string_view ip);
};

// Tells the visitor whether the operator is typing.
class OutSendTypingPacket : public OutPacket {
  public:
    OutSendTypingPacket(std::string_view sid, std::string_view sessionId, bool typing);
};

// Sends a file into a chat (multipart upload of localFile).
class OutSendFilePacket : public OutPacket {
  public:
    OutSendFilePacket(std::string_view vid, std::string_view rid, std::string_view localFile);
};

// Asks for the full visitor list. Answered by DOWN_VISITOR_ALL.
class OutVisitorListPacket : public OutPacket {
  public:
    OutVisitorListPacket();
};

// The keep-alive request.
class OutKeepalivePacket : public OutPacket {
  public:
    OutKeepalivePacket();
};

// A GET of a given server path.
class OutUrlPacket : public OutPacket {
  public:
    explicit OutUrlPacket(std::string_view path);
};

// Ends a chat.
class OutCloseChatPacket : public OutPacket {
  public:
    OutCloseChatPacket(std::string_view vid, std::string_view rid);
};

// Accepts a chat request: GET "/c/aaccept.php?" with action, aspid, rid, user, opid and site.
class OutRequestPacket : public OutPacket {
  public:
    OutRequestPacket(std::string_view action, std::string_view aspId, std::string_view rid,
                     std::string_view user, std::string_view opid, std::string_view site);
};

}  // namespace morvale
