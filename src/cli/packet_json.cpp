#include "cli/packet_json.h"

namespace morvale::cli {

namespace {

void AddRequest(JsonLine& json, const std::unique_ptr<OutPacket>& request) {
    if (request) {
        json.Object("request", RequestJson(*request));
    } else {
        json.Null("request");
    }
}

// Members in declaration order; the kind is trusted only together with the class it names, so a
// hand-made packet of another class never gets read as the wrong type.
void AddMembers(JsonLine& json, const InPacket& packet) {
    if (auto* p = dynamic_cast<const InTimeoutPacket*>(&packet)) {
        AddRequest(json, p->request);
    } else if (auto* p = dynamic_cast<const InDownFilePacket*>(&packet)) {
        json.Bool("ok", p->ok);
        AddRequest(json, p->request);
    } else if (auto* p = dynamic_cast<const InCheckSitePacket*>(&packet)) {
        json.Bool("ok", p->ok);
    } else if (auto* p = dynamic_cast<const InRegSitePacket*>(&packet)) {
        json.Bool("ok", p->ok);
    } else if (auto* p = dynamic_cast<const InLoginServerPacket*>(&packet)) {
        json.Bool("ok", p->ok).Text("serverUrl", p->serverUrl);
    } else if (auto* p = dynamic_cast<const InLoginPacket*>(&packet)) {
        json.Bool("ok", p->ok)
            .Text("sessionId", p->sessionId)
            .Text("aspId", p->aspId)
            .Text("site", p->site)
            .Text("opid", p->opid)
            .Text("oplogin", p->oplogin)
            .Text("opname", p->opname)
            .Bool("isAdmin", p->isAdmin)
            .Text("faqUrl", p->faqUrl)
            .Int("leaveMsgCount", p->leaveMsgCount)
            .Int("pushInterval", p->pushInterval)
            .Text("errorText", p->errorText)
            .Text("errorLink", p->errorLink);
    } else if (auto* p = dynamic_cast<const InOpLoginPacket*>(&packet)) {
        json.Text("opid", p->opid).Text("sessionId", p->sessionId).Number("loginTime", p->loginTime);
    } else if (auto* p = dynamic_cast<const InVisitorAllPacket*>(&packet)) {
        json.Text("xml", p->xml);
    } else if (auto* p = dynamic_cast<const InVisitorAddPacket*>(&packet)) {
        json.Text("vid", p->vid)
            .Text("ip", p->ip)
            .Number("time", p->time)
            .Text("guestId", p->guestId)
            .Text("guestName", p->guestName)
            .Text("location", p->location)
            .Text("pageTitle", p->pageTitle)
            .Text("pageUrl", p->pageUrl)
            .Text("referUrl", p->referUrl)
            .Text("keyname", p->keyname)
            .Text("keyvalue", p->keyvalue);
    } else if (auto* p = dynamic_cast<const InVisitorChangePagePacket*>(&packet)) {
        json.Text("vid", p->vid)
            .Number("time", p->time)
            .Text("pageUrl", p->pageUrl)
            .Text("pageTitle", p->pageTitle);
    } else if (auto* p = dynamic_cast<const InVisitorLeftPacket*>(&packet)) {
        json.Text("vids", p->vids).Number("time", p->time);
    } else if (auto* p = dynamic_cast<const InVisitorCallPacket*>(&packet)) {
        json.Int("callType", p->callType)
            .Text("text2", p->text2)
            .Text("vid", p->vid)
            .Text("callId", p->callId)
            .Text("guestId", p->guestId)
            .Text("rid", p->rid)
            .Number("time", p->time)
            .Text("guestName", p->guestName)
            .Text("callText", p->callText)
            .Text("opid", p->opid)
            .Text("opname", p->opname);
    } else if (auto* p = dynamic_cast<const InVisitorEndCallPacket*>(&packet)) {
        json.Text("text1", p->text1).Text("callId", p->callId).Number("time", p->time);
    } else if (auto* p = dynamic_cast<const InVisitorChatPacket*>(&packet)) {
        json.Text("vid", p->vid)
            .Number("time", p->time)
            .Text("rid", p->rid)
            .Text("opid", p->opid)
            .Text("oplogin", p->oplogin)
            .Text("opname", p->opname)
            .Text("text7", p->text7)
            .Text("text8", p->text8)
            .Text("text9", p->text9);
    } else if (auto* p = dynamic_cast<const InVisitorTransferPacket*>(&packet)) {
        json.Text("vid", p->vid)
            .Text("rid", p->rid)
            .Text("opid", p->opid)
            .Text("oplogin", p->oplogin)
            .Text("opname", p->opname)
            .Number("time", p->time)
            .Text("transcript", p->transcript);
    } else if (auto* p = dynamic_cast<const InVisitorChatContentPacket*>(&packet)) {
        json.Text("text1", p->text1)
            .Text("text2", p->text2)
            .Text("chatKey", p->chatKey)
            .Text("transcript", p->transcript)
            .Number("time", p->time);
    } else if (auto* p = dynamic_cast<const InVisitorPreMsgPacket*>(&packet)) {
        json.Text("vid", p->vid).Number("time", p->time).Text("preview", p->preview);
    } else if (auto* p = dynamic_cast<const InVisitorMsgPacket*>(&packet)) {
        json.Text("vid", p->vid).Number("time", p->time).Int("plain", p->plain).Text("msg", p->msg);
    } else if (auto* p = dynamic_cast<const InVisitorEndChatPacket*>(&packet)) {
        json.Text("vid", p->vid).Number("time", p->time);
    } else if (auto* p = dynamic_cast<const InVisitorGuestPacket*>(&packet)) {
        json.Text("guestId", p->guestId).Text("guestName", p->guestName);
    } else if (auto* p = dynamic_cast<const InFAQXmlPacket*>(&packet)) {
        json.Text("faqUrl", p->faqUrl);
    } else if (auto* p = dynamic_cast<const InLeaveMsgPacket*>(&packet)) {
        json.Int("count", p->count);
    }
    // Unknown, must-relogin and library-stored packets carry nothing beyond the common keys.
}

}  // namespace

JsonLine RequestJson(const OutPacket& request) {
    JsonLine json;
    json.Int("requestKind", request.requestKind)
        .Int("channel", request.channel)
        .Int("tries", request.tries)
        .Text("url", request.GetUrl())
        .Text("localFile", request.localFile);
    return json;
}

JsonLine PacketJson(const InPacket& packet) {
    JsonLine json;
    json.Int("kind", packet.kind)
        .Int("seq", packet.seq)
        .Int("length", packet.length)
        .Text("body", packet.body);
    AddMembers(json, packet);
    return json;
}

}  // namespace morvale::cli
