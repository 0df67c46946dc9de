#include "protocol/out_packet.h"

#include "core/text_utils.h"

namespace morvale {

namespace {

std::string Line(std::string_view name, std::string_view value) {
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append("=").append(value);
    return line;
}

std::string JoinParams(const std::vector<std::string>& params) {
    std::string joined;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i > 0) joined += '&';
        joined += params[i];
    }
    return joined;
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

std::string FormBody(const std::vector<std::string>& fields) {
    const std::string body = JoinParams(fields);
    std::size_t first = 0;
    while (first < body.size() && IsBlankOrControl(body[first])) ++first;
    std::size_t last = body.size();
    while (last > first && IsBlankOrControl(body[last - 1])) --last;
    return body.substr(first, last - first);
}

void OutPacket::AddParam(std::string_view name, std::string_view value) {
    params.push_back(Line(name, UrlEncode(value)));
}

void OutPacket::AddRawParam(std::string_view name, std::string_view value) {
    params.push_back(Line(name, value));
}

void OutPacket::AddPostField(std::string_view name, std::string_view value) {
    postFields.push_back(Line(name, value));
}

std::string OutPacket::GetUrl() const {
    if (channel != CH_GET) return path;
    return path + JoinParams(params);
}

const std::vector<std::string>& OutPacket::GetParams() const { return params; }

const std::vector<std::string>& OutPacket::GetPostFields() const { return postFields; }


OutCheckSitePacket::OutCheckSitePacket(std::string_view site) {
    path = "/c/aregister.php?action=check&";
    channel = CH_POST;
    AddParam("site", site);
}

OutRegSitePacket::OutRegSitePacket(std::string_view site, std::string_view user, std::string_view pass,
                                   std::string_view email) {
    path = "/c/aregister.php?action=reg&";
    channel = CH_POST;
    requestKind = 500;
    AddParam("site", site);
    AddParam("user", user);
    AddParam("pass", pass);
    AddParam("email", email);
}

OutLoginServerPacket::OutLoginServerPacket(std::string_view site) {
    path = "/c/alogin.php?action=loginserver&";
    tries = 10;
    requestKind = 501;
    AddParam("site", site);
}

OutLoginPacket::OutLoginPacket(std::string_view site, std::string_view user, std::string_view pass,
                               std::string_view app, std::string_view ver, bool hide, bool trace) {
    path = "/c/alogin.php?action=login&";
    tries = 10;
    requestKind = 502;
    AddParam("site", site);
    AddParam("user", user);
    AddParam("pass", pass);
    AddParam("app", app);
    AddParam("ver", ver);
    AddParam("hide", hide ? "1" : "0");
    if (trace) AddParam("trace", "1");
}

OutFAQFromUrlPacket::OutFAQFromUrlPacket(std::string_view faqUrl, std::string_view localFile) {
    path = faqUrl;
    channel = CH_DOWNLOAD;
    requestKind = 503;
    this->localFile = localFile;
}

OutFAQUpPacket::OutFAQUpPacket(std::string_view localFile) {
    path = "/c/acannedxml.php?action=save_canned&";
    channel = CH_UPLOAD;
    requestKind = 504;
    AddPostField("faqfile", localFile);
}

OutFAQRefreshPacket::OutFAQRefreshPacket() {
    path = "/c/afaqrefresh.php";
    requestKind = 505;
}

OutSendMsgPacket::OutSendMsgPacket(std::string_view vid, std::string_view rid, std::string_view msg) {
    path = "/c/asendmsg.php?";
    tries = 10;
    requestKind = 507;
    AddParam("vid", vid);
    AddParam("rid", rid);
    AddParam("msg", msg);
    // Long messages would make an over-long URL; they travel as a form body instead.
    std::size_t total = path.size();
    for (const std::string& line : params) total += line.size() + 2;
    if (total > kMaxGetMessageBytes) channel = CH_POST;
}

OutStatusPacket::OutStatusPacket(std::string_view action) {
    path = "/c/asetstatus.php?";
    requestKind = 508;
    AddParam("action", action);
}

OutSetGuestPacket::OutSetGuestPacket(std::string_view guestId, std::string_view name) {
    path = "/c/asetguest.php?";
    requestKind = 509;
    AddParam("guestid", guestId);
    AddParam("name", name);
}

OutInvitePacket::OutInvitePacket(std::string_view vid, std::string_view /*ip*/) {
    path = "/c/ainvite.php?";
    requestKind = 511;
    AddParam("vid", vid);
}

OutInitialChatPacket::OutInitialChatPacket(std::string_view vid, std::string_view /*ip*/) {
    path = "/c/ainitialchat.php?";
    requestKind = 511;
    AddParam("vid", vid);
}

OutSendTypingPacket::OutSendTypingPacket(std::string_view sid, std::string_view sessionId, bool typing) {
    path = "/cadmin/istyping.php?";
    tries = 1;
    requestKind = 512;
    AddParam("sid", sid);
    AddParam("sessionid", sessionId);
    AddParam("istyping", typing ? "1" : "0");
}

OutSendFilePacket::OutSendFilePacket(std::string_view vid, std::string_view rid, std::string_view localFile) {
    path = "/c/asendfile.php?";
    channel = CH_UPLOAD;
    requestKind = 513;
    AddParam("vid", vid);
    AddParam("rid", rid);
    AddPostField("file", localFile);
}

OutVisitorListPacket::OutVisitorListPacket() {
    path = "/c/avisitorlist.php";
    requestKind = 514;
}

OutKeepalivePacket::OutKeepalivePacket() {
    path = "/c/a.php?";
    requestKind = 515;
}

OutUrlPacket::OutUrlPacket(std::string_view path) {
    this->path = path;
    requestKind = 516;
}

OutCloseChatPacket::OutCloseChatPacket(std::string_view vid, std::string_view rid) {
    path = "/c/aclose.php?";
    AddParam("vid", vid);
    AddParam("rid", rid);
}

OutRequestPacket::OutRequestPacket(std::string_view action, std::string_view aspId, std::string_view rid,
                                   std::string_view user, std::string_view opid, std::string_view site) {
    path = "/c/aaccept.php?";
    AddParam("action", action);
    AddParam("aspid", aspId);
    AddParam("rid", rid);
    AddParam("user", user);
    AddParam("opid", opid);
    AddParam("site", site);
}

}  // namespace morvale
