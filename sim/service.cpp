#include "service.h"

#include <algorithm>

#include "core/gbk.h"
#include "core/text_utils.h"
#include "wire.h"

namespace morvale::sim {
namespace {

constexpr const char* kDefaultFaq =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?><!DOCTYPE content [<!ENTITY nbsp \"&#160;\">]><root>"
    "<c n=\"常用语\"><i n=\"问候\">您好，请问有什么可以帮您？</i><i n=\"稍等\">请稍等，我帮您查一下。</i>"
    "<i n=\"结束\">感谢您的咨询，祝您生活愉快！</i></c>"
    "<c n=\"产品\"><i n=\"价格\">标准版每年980元，详情请看价格页面。</i>"
    "<i n=\"试用\">注册后可免费试用30天。</i></c></root>";

const char* const kAreas[] = {"北京市",       "上海市",       "广东省广州市", "广东省深圳市", "浙江省杭州市",
                              "江苏省南京市", "四川省成都市", "湖北省武汉市", "福建省厦门市", "山东省青岛市"};

std::string Utf8(const std::string& gbk) { return GbkToUtf8(gbk); }

// Events that a fresh visitor list makes obsolete when they have not been sent yet.
bool CoveredBySnapshot(int type) {
    switch (type) {
        case kVisitorAdd:
        case kVisitorChangePage:
        case kVisitorLeft:
        case kVisitorCall:
        case kVisitorEndCall:
        case kVisitorChat:
        case kVisitorEndChat:
        case kVisitorTransfer:
        case kVisitorGuest:
            return true;
        default:
            return false;
    }
}

const char* ChatStateName(int s) {
    switch (s) {
        case 0:
            return "calling";
        case 1:
            return "active";
        default:
            return "ended";
    }
}

}  // namespace

Service::Service(std::vector<Account> accounts, ServiceOptions options)
    : options_(std::move(options)), accounts_(std::move(accounts)), rng_(options_.seed) {
    int asp = 1001, op = 2001;
    for (auto& a : accounts_) {
        auto [it, added] = sites_.try_emplace(a.site);
        if (added) {
            it->second.name = a.site;
            it->second.aspId = std::to_string(asp++);
            it->second.faqXml = kDefaultFaq;
            it->second.leaveMsgCount = 2;
        }
        if (a.opid.empty()) a.opid = std::to_string(op++);
    }
}

// ---------------------------------------------------------------- helpers (under mu_)

std::string Service::NewSessionId() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<int> pick(0, 35);
    for (;;) {
        std::string id;
        for (int i = 0; i < 26; ++i) id += kChars[pick(rng_)];
        if (!sessions_.count(id)) return id;
    }
}

std::string Service::NextId(char prefix, long& counter) {
    return std::string(1, prefix) + std::to_string(counter++);
}

Service::SessionRec* Service::FindSession(const std::string& sid) {
    auto it = sessions_.find(sid);
    if (it == sessions_.end() || !it->second.valid) return nullptr;
    it->second.lastSeen = std::chrono::steady_clock::now();
    return &it->second;
}

const Account* Service::FindAccount(const std::string& site, const std::string& login) const {
    for (const auto& a : accounts_)
        if (a.site == site && a.login == login) return &a;
    return nullptr;
}

const Account* Service::FindAccountById(const std::string& site, const std::string& opid) const {
    for (const auto& a : accounts_)
        if (a.site == site && a.opid == opid) return &a;
    return nullptr;
}

const Account* Service::AccountOf(const SessionRec& s) const { return FindAccountById(s.site, s.opid); }

Service::VisitorRec* Service::FindVisitor(const std::string& vid) {
    auto it = visitors_.find(vid);
    return it == visitors_.end() ? nullptr : &it->second;
}

Service::Chat* Service::FindChat(const std::string& rid) {
    auto it = chats_.find(rid);
    return it == chats_.end() ? nullptr : &it->second;
}

Service::Chat* Service::CurrentChat(VisitorRec& v) {
    if (v.chatRid.empty()) return nullptr;
    Chat* c = FindChat(v.chatRid);
    return c && c->state != ChatState::Ended ? c : nullptr;
}

void Service::Expire() {
    auto now = std::chrono::steady_clock::now();
    for (auto& [id, s] : sessions_) {
        if (s.valid && now - s.lastSeen > std::chrono::seconds(options_.sessionTimeoutS)) {
            s.valid = false;
            s.events.clear();
        }
    }
    // A browser page or scripted visitor polls its inbox all the time; one that stopped has closed the page.
    for (auto& [vid, v] : visitors_)
        if (!v.left && v.lastPoll != std::chrono::steady_clock::time_point{} &&
            now - v.lastPoll > std::chrono::seconds(90))
            Leave(v);
    cv_.notify_all();
}

void Service::Leave(VisitorRec& v) {
    if (Chat* c = CurrentChat(v)) EndChat(v, *c, false);
    v.left = true;
    v.invitedBy.clear();
    Broadcast(v.site, kVisitorLeft, JoinFields({v.vid, std::to_string(std::time(nullptr))}));
}

void Service::Queue(SessionRec& s, int type, const std::string& payload) {
    Event e;
    e.id = s.nextEvent++;
    e.stamp = std::time(nullptr);
    e.type = type;
    e.frame = Frame(type, e.id, payload);
    s.events.push_back(std::move(e));
    cv_.notify_all();
}

void Service::Broadcast(const std::string& site, int type, const std::string& payload,
                        const SessionRec* except) {
    for (auto& [id, s] : sessions_)
        if (s.valid && s.site == site && &s != except) Queue(s, type, payload);
}

void Service::ToOperator(const std::string& site, const std::string& opid, int type,
                         const std::string& payload) {
    for (auto& [id, s] : sessions_)
        if (s.valid && s.site == site && s.opid == opid) Queue(s, type, payload);
}

void Service::ToOthers(const std::string& site, const std::string& opid, int type,
                       const std::string& payload) {
    for (auto& [id, s] : sessions_)
        if (s.valid && s.site == site && s.opid != opid) Queue(s, type, payload);
}

void Service::ToVisitor(VisitorRec& v, std::string type,
                        std::vector<std::pair<std::string, std::string>> fields) {
    v.inbox.push_back({v.nextInbox++, std::move(type), std::move(fields)});
    if (v.inbox.size() > 500) v.inbox.erase(v.inbox.begin());
    cv_.notify_all();
}

std::string Service::DrainForCommand(SessionRec& s) {
    std::string out;
    std::deque<Event> kept;
    for (auto& e : s.events) {
        if (e.viaPush) {
            kept.push_back(std::move(e));
        } else {
            out += e.frame;
        }
    }
    s.events = std::move(kept);
    return out;
}

Reply Service::CommandReply(SessionRec& s, std::string frames) {
    Reply r;
    r.body = std::move(frames) + DrainForCommand(s);
    // An empty body counts as a failed request on the workbench's side: say something frameless.
    if (r.body.empty()) r.body = "ok";
    return r;
}

Reply Service::MustRelogin() {
    Reply r;
    r.body = Frame(kOpMustRelogin, 0, "");
    return r;
}

std::string Service::SessionIdOfOp(const std::string& site, const std::string& opid) {
    for (auto& [id, s] : sessions_)
        if (s.valid && s.site == site && s.opid == opid) return id;
    return {};
}

std::string Service::OperatorFragment(const Account& a, const std::string& html, std::time_t t) {
    return "<div class='inMsg'><div class='titleTag'><span class='nameTag'>" + a.name +
           "</span>说：<span class='createTime'>(" + ChinaTimeText(t) + ")</span></div><div class='msg'>" +
           html + "</div></div>";
}

std::string Service::VisitorFragment(const VisitorRec& v, const std::string& html, std::time_t t) {
    std::string name = v.guestName.empty() ? "访客[" + v.ip + "]" : v.guestName + "[" + v.area + "]";
    return "<div class='outMsg'><div class='titleTag'><span class='nameTag'>" + HtmlEscape(name) +
           "</span>说：<span class='createTime'>(" + ChinaTimeText(t) + ")</span></div><div class='msg'>" +
           html + "</div></div>";
}

void Service::SendChatContent(const Chat& c) {
    std::string transcript;
    for (size_t i = 0; i < c.transcript.size(); ++i) {
        if (i) transcript += "\r\n";
        transcript += c.transcript[i];
    }
    std::time_t now = std::time(nullptr);
    ToOthers(c.site, c.opid, kVisitorChatContent,
             JoinFields({c.vid, c.rid, c.callId, UrlEncode(transcript), std::to_string(now)}));
}

void Service::StartChat(VisitorRec& v, Chat& c, const Account& op, std::time_t now) {
    c.state = ChatState::Active;
    c.opid = op.opid;
    c.startTime = now;
    v.chatRid = c.rid;
    v.invitedBy.clear();
    Broadcast(v.site, kVisitorChat,
              JoinFields({v.vid, std::to_string(now), c.rid, op.opid, op.login, op.name, "", "", ""}));
    ToVisitor(v, "chat", {{"rid", c.rid}, {"opname", op.name}});
}

void Service::EndChat(VisitorRec& v, Chat& c, bool byOperator) {
    std::time_t now = std::time(nullptr);
    if (c.state == ChatState::Calling) {
        Broadcast(v.site, kVisitorEndCall, JoinFields({v.vid, c.callId, std::to_string(now)}));
    } else if (c.state == ChatState::Active) {
        Broadcast(v.site, kVisitorEndChat, JoinFields({v.vid, std::to_string(now)}));
    }
    c.state = ChatState::Ended;
    c.endTime = now;
    c.transferTo.clear();
    if (v.chatRid == c.rid) v.chatRid.clear();
    ToVisitor(v, "closed", {{"rid", c.rid}, {"by", byOperator ? "operator" : "visitor"}});
}

std::string Service::VisitorListXml(const std::string& site) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"GBK\"?><visitors>";
    for (const auto& vid : visitorOrder_) {
        VisitorRec& v = visitors_[vid];
        if (v.site != site || v.left) continue;
        const Page* page = v.pages.empty() ? nullptr : &v.pages.back();
        std::string rid, opid, oplogin, opname, start;
        if (Chat* c = CurrentChat(v); c && c->state == ChatState::Active) {
            const Account* op = FindAccountById(site, c->opid);
            rid = c->rid;
            opid = c->opid;
            oplogin = op ? op->login : "";
            opname = op ? op->name : "";
            start = std::to_string(c->startTime);
        }
        auto attr = [&](const char* name, const std::string& value) {
            xml += ' ';
            xml += name;
            xml += "=\"";
            xml += XmlEscapeAttr(CleanField(value));
            xml += '"';
        };
        xml += "<v";
        attr("vid", v.vid);
        attr("time", std::to_string(v.arrive));
        attr("pages", std::to_string(v.pages.size()));
        attr("ip", v.ip);
        attr("area", v.area);
        attr("url", page ? page->url : "");
        attr("title", page ? page->title : "");
        attr("refer", v.referUrl);
        attr("keyname", v.keyname);
        attr("keyvalue", v.keyvalue);
        attr("gid", v.guestId);
        attr("gname", v.guestName);
        attr("rid", rid);
        attr("opid", opid);
        attr("oplogin", oplogin);
        attr("opname", opname);
        attr("start", start);
        xml += "/>";
    }
    xml += "</visitors>";
    return xml;
}

// ---------------------------------------------------------------- sign-in

Reply Service::CheckSite(const std::string& site) {
    std::lock_guard lock(mu_);
    return {Frame(kCheckSite, 0, sites_.count(site) ? "1" : "0"), {}, 200};
}

Reply Service::RegSite(const std::string& site, const std::string& user, const std::string& pass,
                       const std::string& email) {
    (void)email;
    std::lock_guard lock(mu_);
    bool ok = !site.empty() && !user.empty() && pass.size() >= 6 && !sites_.count(site);
    if (ok) {
        Account a{site, user, pass, user, true, false, ""};
        a.opid = std::to_string(2001 + static_cast<int>(accounts_.size()));
        accounts_.push_back(a);
        SiteRec rec;
        rec.name = site;
        rec.aspId = std::to_string(1001 + static_cast<int>(sites_.size()));
        rec.faqXml = kDefaultFaq;
        sites_[site] = rec;
    }
    return {Frame(kRegSite, 0, ok ? "1" : "0"), {}, 200};
}

Reply Service::LoginServer(const std::string& site, const std::string& hostBase) {
    std::lock_guard lock(mu_);
    return {Frame(kLoginServer, 0, sites_.count(site) ? hostBase + options_.realPrefix : "0"), {}, 200};
}

Reply Service::Login(const std::string& site, const std::string& user, const std::string& pass,
                     const std::string& cookieSid, const std::string& hostBase) {
    std::lock_guard lock(mu_);
    Expire();
    auto refuse = [](const std::string& text, const std::string& link) {
        return Reply{Frame(kLogin, 0, JoinFields({"0", text, link})), {}, 200};
    };
    auto siteIt = sites_.find(site);
    if (siteIt == sites_.end()) return refuse("网站ID不存在，请检查后重新输入", "");
    const Account* a = FindAccount(site, user);
    if (!a || a->password != pass) return refuse("工号或密码错误，请重新输入", "");
    if (a->expired)
        return refuse("该网站的服务已到期，请续费后再登录",
                      hostBase + options_.realPrefix + "/reg/renew.php?site=" + site);

    // The same cookie jar signing in again keeps its session id (a PHP session survives a re-login),
    // so the workbench's push channel stays the same.
    std::string id;
    auto old = sessions_.find(cookieSid);
    if (old != sessions_.end() && old->second.site == site && old->second.opid == a->opid) id = cookieSid;
    if (id.empty()) id = NewSessionId();
    SessionRec& s = sessions_[id];
    std::int64_t keepNext = s.nextEvent;
    std::uint64_t keepTicket = s.pushTicket;
    s = SessionRec{};
    s.id = id;
    s.site = site;
    s.opid = a->opid;
    s.loginTime = std::time(nullptr);
    s.lastSeen = std::chrono::steady_clock::now();
    s.nextEvent = keepNext;
    s.pushTicket = keepTicket + 1;  // a subscription still waiting from before answers now
    Broadcast(site, kOpLogin, JoinFields({a->opid, id, std::to_string(s.loginTime)}), &s);

    Reply r;
    r.body = Frame(
        kLogin, 0,
        JoinFields({"1", id, siteIt->second.aspId, site, a->opid, a->login, a->name, a->admin ? "1" : "0",
                    "/faq/" + site + ".xml", std::to_string(siteIt->second.leaveMsgCount),
                    std::to_string(options_.pushIntervalMs)}));
    r.headers.emplace_back("Set-Cookie", "PHPSESSID=" + id + "; path=/");
    cv_.notify_all();
    return r;
}

// ---------------------------------------------------------------- commands

Reply Service::KeepAlive(const std::string& sid) {
    {
        std::lock_guard lock(mu_);
        Expire();
    }
    return Touch(sid);
}

Reply Service::Touch(const std::string& sid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    return CommandReply(*s);
}

Reply Service::SetStatus(const std::string& sid, const std::string& action) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    static const char* const kWords[] = {"online", "busy", "away", "hide", "offline"};
    if (std::find(std::begin(kWords), std::end(kWords), action) != std::end(kWords)) s->status = action;
    return CommandReply(*s);
}

Reply Service::VisitorList(const std::string& sid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    // Unsent visitor events are part of the snapshot now; the rest follows it.
    std::string later;
    std::deque<Event> kept;
    for (auto& e : s->events) {
        if (e.viaPush)
            kept.push_back(std::move(e));
        else if (!CoveredBySnapshot(e.type))
            later += e.frame;
    }
    s->events = std::move(kept);
    std::string out = Frame(kVisitorAll, 0, VisitorListXml(s->site));
    // The list has no place for pending requests: they follow as request events.
    for (const auto& vid : visitorOrder_) {
        VisitorRec& v = visitors_[vid];
        if (v.site != s->site || v.left) continue;
        Chat* c = CurrentChat(v);
        if (!c) continue;
        if (c->state == ChatState::Calling) {
            out += Frame(kVisitorCall, 0,
                         JoinFields({"1", "", v.vid, c->callId, v.guestId, c->rid,
                                     std::to_string(c->callTime), v.guestName, c->question}));
        } else if (!c->transferTo.empty()) {
            const Account* to = FindAccountById(s->site, c->transferTo);
            out += Frame(kVisitorCall, 0,
                         JoinFields({"2", "", v.vid, c->transferCallId, c->rid,
                                     std::to_string(std::time(nullptr)), c->transferTo, to ? to->name : ""}));
        }
    }
    return CommandReply(*s, out + later);
}

Reply Service::Accept(const std::string& sid, const std::string& rid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    Chat* c = FindChat(rid);
    VisitorRec* v = c ? FindVisitor(c->vid) : nullptr;
    if (op && c && v && c->site == s->site) {
        std::time_t now = std::time(nullptr);
        if (c->state == ChatState::Calling) {
            StartChat(*v, *c, *op, now);
        } else if (c->state == ChatState::Active && c->transferTo == op->opid) {
            std::string transcript;
            for (size_t i = 0; i < c->transcript.size(); ++i) {
                if (i) transcript += "\r\n";
                transcript += c->transcript[i];
            }
            c->transferFrom = c->opid;
            c->opid = op->opid;
            c->transferTo.clear();
            c->callId = c->transferCallId;
            Broadcast(
                s->site, kVisitorTransfer,
                JoinFields({v->vid, c->rid, op->opid, op->login, op->name, std::to_string(now), transcript}));
            ToVisitor(*v, "transfer", {{"rid", c->rid}, {"opname", op->name}});
        }
    }
    return CommandReply(*s);
}

Reply Service::Invite(const std::string& sid, const std::string& vid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    VisitorRec* v = FindVisitor(vid);
    if (op && v && v->site == s->site && !v->left && !CurrentChat(*v)) {
        v->invitedBy = op->opid;
        ToVisitor(*v, "invite", {{"opname", op->name}});
    }
    return CommandReply(*s);
}

Reply Service::InitialChat(const std::string& sid, const std::string& vid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    VisitorRec* v = FindVisitor(vid);
    if (op && v && v->site == s->site && !v->left && !CurrentChat(*v)) {
        std::time_t now = std::time(nullptr);
        Chat c;
        c.rid = NextId('R', nextChat_);
        c.callId = NextId('C', nextCall_);
        c.vid = v->vid;
        c.site = v->site;
        c.guestId = v->guestId;
        c.callTime = now;
        chatOrder_.push_back(c.rid);
        Chat& stored = chats_[c.rid] = c;
        StartChat(*v, stored, *op, now);
    }
    return CommandReply(*s);
}

Reply Service::SendMsg(const std::string& sid, const std::string& vid, const std::string& rid,
                       const std::string& msg) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    Chat* c = FindChat(rid);
    VisitorRec* v = FindVisitor(vid);
    if (op && c && v && c->vid == vid && c->state == ChatState::Active && c->opid == op->opid) {
        std::time_t now = std::time(nullptr);
        c->transcript.push_back(OperatorFragment(*op, msg, now));
        ToVisitor(*v, "msg",
                  {{"rid", rid}, {"opname", op->name}, {"html", msg}, {"time", ChinaTimeText(now)}});
        SendChatContent(*c);
    }
    return CommandReply(*s);
}

Reply Service::Typing(const std::string& sid, const std::string& chatSid, const std::string& callId,
                      bool typing) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    // The typing notice names the chat by its request id; chats that began without a request (invited
    // or forced) have none, so an empty key means this operator's most recent running chat.
    Chat* found = nullptr;
    for (auto it = chatOrder_.rbegin(); it != chatOrder_.rend() && !found; ++it) {
        Chat& c = chats_[*it];
        if (c.site != s->site || c.state != ChatState::Active || c.opid != s->opid) continue;
        if (!callId.empty() ? c.callId == callId : (chatSid.empty() || c.vid == chatSid)) found = &c;
    }
    if (found) {
        if (VisitorRec* v = FindVisitor(found->vid)) ToVisitor(*v, "typing", {{"on", typing ? "1" : "0"}});
    }
    return CommandReply(*s);
}

Reply Service::CloseChat(const std::string& sid, const std::string& vid, const std::string& rid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    Chat* c = FindChat(rid);
    VisitorRec* v = FindVisitor(vid);
    if (c && v && c->vid == vid && c->site == s->site && c->state == ChatState::Active && c->opid == s->opid)
        EndChat(*v, *c, true);
    return CommandReply(*s);
}

Reply Service::SetGuest(const std::string& sid, const std::string& guestId, const std::string& name) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    if (!guestId.empty()) {
        bool known = false;
        for (auto& [vid, v] : visitors_) {
            if (v.site != s->site) continue;
            if (v.guestId == guestId) {
                v.guestName = name;
                known = true;
            } else if (v.vid == guestId) {
                v.guestId = guestId;
                v.guestName = name;
                known = true;
            }
        }
        if (known) {
            sites_[s->site].guestNames[guestId] = name;
            Broadcast(s->site, kVisitorGuest, JoinFields({guestId, name}));
        }
    }
    return CommandReply(*s);
}

Reply Service::SendFile(const std::string& sid, const std::string& vid, const std::string& rid,
                        const std::string& fileName, const std::string& bytes) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    Chat* c = FindChat(rid);
    VisitorRec* v = FindVisitor(vid);
    if (op && c && v && c->vid == vid && c->state == ChatState::Active && c->opid == op->opid) {
        // The part's file name is the sender's full local path, in either separator style.
        std::string name = fileName;
        size_t cut = name.find_last_of("/\\");
        if (cut != std::string::npos) name = name.substr(cut + 1);
        if (name.empty()) name = "file";
        std::string id = std::to_string(nextFile_++);
        files_[id] = {name, bytes};
        std::string url = "/files/" + id + "/" + UrlEncode(name);
        std::time_t now = std::time(nullptr);
        c->transcript.push_back(OperatorFragment(
            *op, "发送文件：<a href='" + url + "' target='_blank'>" + HtmlEscape(name) + "</a>", now));
        ToVisitor(*v, "file",
                  {{"rid", rid},
                   {"opname", op->name},
                   {"name", name},
                   {"url", url},
                   {"size", std::to_string(bytes.size())}});
        SendChatContent(*c);
    }
    return CommandReply(*s);
}

Reply Service::FaqUpload(const std::string& sid, const std::string& bytes) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    const Account* op = AccountOf(*s);
    if (!op || !op->admin || bytes.find("<root") == std::string::npos) return CommandReply(*s);
    sites_[s->site].faqXml = bytes;
    Broadcast(s->site, kFaqChanged, JoinFields({"/faq/" + s->site + ".xml"}));
    return CommandReply(*s, Frame(kFaqUpOk, 0, ""));
}

Reply Service::FaqRefresh(const std::string& sid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    Queue(*s, kFaqChanged, JoinFields({"/faq/" + s->site + ".xml"}));
    return CommandReply(*s);
}

Reply Service::Clean(const std::string& sid) {
    std::lock_guard lock(mu_);
    Expire();
    SessionRec* s = FindSession(sid);
    if (!s) return MustRelogin();
    return CommandReply(*s);
}

// ---------------------------------------------------------------- push subscription

Reply Service::Subscribe(const std::string& channel, const std::string& ifModifiedSince,
                         const std::string& ifNoneMatch) {
    std::unique_lock lock(mu_);
    Reply r;
    r.headers.emplace_back("Cache-Control", "no-cache");
    std::string sid = channel.rfind("op_", 0) == 0 ? channel.substr(3) : std::string();
    SessionRec* s = FindSession(sid);
    if (!s) {
        r.body = Frame(kOpMustRelogin, 0, "");
        r.headers.emplace_back("Last-Modified", ifModifiedSince.empty() ? "0" : ifModifiedSince);
        r.headers.emplace_back("Etag", ifNoneMatch.empty() ? "0" : ifNoneMatch);
        return r;
    }
    std::int64_t acked = 0;
    try {
        acked = ifNoneMatch.empty() ? 0 : std::stoll(ifNoneMatch);
    } catch (...) {
        acked = 0;
    }
    // Entries confirmed by the cursor are gone; events handed to a subscription before but not confirmed
    // are handed out again (their reply did not arrive).
    std::erase_if(s->events, [&](const Event& e) { return e.viaPush && e.id <= acked; });

    std::uint64_t ticket = ++s->pushTicket;
    cv_.notify_all();  // an older subscription of this channel answers now
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.pushHoldMs);
    auto ready = [&] {
        SessionRec* cur = FindSession(sid);
        if (stopping_ || !cur || cur->pushTicket != ticket) return true;
        for (const auto& e : cur->events)
            if (e.id > acked) return true;
        return false;
    };
    cv_.wait_until(lock, deadline, ready);
    s = FindSession(sid);
    if (!s) {
        r.body = Frame(kOpMustRelogin, 0, "");
        r.headers.emplace_back("Last-Modified", ifModifiedSince.empty() ? "0" : ifModifiedSince);
        r.headers.emplace_back("Etag", ifNoneMatch.empty() ? "0" : ifNoneMatch);
        return r;
    }
    const Event* last = nullptr;
    if (s->pushTicket == ticket) {
        for (auto& e : s->events) {
            if (e.id <= acked) continue;
            e.viaPush = true;
            r.body += e.frame;
            last = &e;
        }
    }
    if (last) {
        r.headers.emplace_back("Last-Modified", HttpDate(last->stamp));
        r.headers.emplace_back("Etag", std::to_string(last->id));
    } else {
        r.status = 304;  // nothing new: the cursor stays
        r.headers.emplace_back("Last-Modified", ifModifiedSince.empty() ? "0" : ifModifiedSince);
        r.headers.emplace_back("Etag", ifNoneMatch.empty() ? "0" : ifNoneMatch);
    }
    return r;
}

std::optional<std::string> Service::FaqDocument(const std::string& site) {
    std::lock_guard lock(mu_);
    auto it = sites_.find(site);
    if (it == sites_.end()) return std::nullopt;
    return it->second.faqXml;
}

std::optional<Service::StoredFile> Service::File(const std::string& id) {
    std::lock_guard lock(mu_);
    auto it = files_.find(id);
    if (it == files_.end()) return std::nullopt;
    return it->second;
}

// ---------------------------------------------------------------- web pages

std::optional<SessionView> Service::Session(const std::string& sid) {
    std::lock_guard lock(mu_);
    SessionRec* s = FindSession(sid);
    if (!s) return std::nullopt;
    const Account* a = AccountOf(*s);
    if (!a) return std::nullopt;
    return SessionView{s->id, s->site, a->opid, a->login, a->name, s->status, a->admin};
}

std::vector<OperatorView> Service::Operators(const std::string& site) {
    std::lock_guard lock(mu_);
    std::vector<OperatorView> out;
    for (const auto& a : accounts_) {
        if (a.site != site) continue;
        OperatorView o{a.opid, a.login, a.name, "offline", false};
        for (auto& [id, s] : sessions_) {
            if (s.valid && s.site == site && s.opid == a.opid) {
                o.online = true;
                o.status = s.status;
            }
        }
        out.push_back(o);
    }
    return out;
}

bool Service::Transfer(const std::string& sid, const std::string& vid, const std::string& rid,
                       const std::string& toOpid, std::string* error) {
    std::lock_guard lock(mu_);
    auto fail = [&](const char* text) {
        if (error) *error = text;
        return false;
    };
    SessionRec* s = FindSession(sid);
    if (!s) return fail("登录已失效，请重新登录");
    Chat* c = FindChat(rid);
    if (!c || c->vid != vid || c->site != s->site || c->state != ChatState::Active)
        return fail("该对话已结束");
    if (c->opid != s->opid) return fail("只能转接自己的对话");
    const Account* to = FindAccountById(s->site, toOpid);
    if (!to || to->opid == s->opid) return fail("请选择其他客服");
    if (SessionIdOfOp(s->site, toOpid).empty()) return fail("该客服不在线");
    c->transferTo = toOpid;
    c->transferCallId = NextId('C', nextCall_);
    Broadcast(s->site, kVisitorCall,
              JoinFields({"2", "", vid, c->transferCallId, rid, std::to_string(std::time(nullptr)), to->opid,
                          to->name}));
    return true;
}

std::vector<Service::ChatRecord> Service::GuestChats(const std::string& site, const std::string& guestId) {
    std::lock_guard lock(mu_);
    std::vector<ChatRecord> out;
    for (const auto& rid : chatOrder_) {
        const Chat& c = chats_[rid];
        if (c.site != site || c.guestId != guestId || guestId.empty() || c.startTime == 0) continue;
        const Account* op = FindAccountById(site, c.opid);
        out.push_back({c.rid, op ? op->name : "", c.question, c.startTime, c.endTime, c.transcript});
    }
    return out;
}

std::vector<Service::ChatRecord> Service::SiteChats(const std::string& site) {
    std::lock_guard lock(mu_);
    std::vector<ChatRecord> out;
    for (const auto& rid : chatOrder_) {
        const Chat& c = chats_[rid];
        if (c.site != site || c.startTime == 0) continue;
        const Account* op = FindAccountById(site, c.opid);
        out.push_back({c.rid, op ? op->name : "", c.question, c.startTime, c.endTime, c.transcript});
    }
    return out;
}

int Service::LeaveMsgCount(const std::string& site) {
    std::lock_guard lock(mu_);
    auto it = sites_.find(site);
    return it == sites_.end() ? 0 : it->second.leaveMsgCount;
}

// ---------------------------------------------------------------- visitor side

std::optional<std::string> Service::VisitorArrive(VisitorInfo info, std::string* error) {
    std::lock_guard lock(mu_);
    if (!sites_.count(info.site)) {
        if (error) *error = "unknown site";
        return std::nullopt;
    }
    std::time_t now = std::time(nullptr);
    VisitorRec v;
    v.vid = NextId('V', nextVisitor_);
    v.site = info.site;
    if (info.ip.empty()) {
        std::uniform_int_distribution<int> octet(1, 254);
        info.ip = "61.135." + std::to_string(octet(rng_)) + "." + std::to_string(octet(rng_));
    }
    if (info.area.empty()) {
        std::uniform_int_distribution<size_t> pick(0, std::size(kAreas) - 1);
        info.area = kAreas[pick(rng_)];
    }
    if (info.url.empty()) info.url = "/site/" + info.site + "/";
    if (info.title.empty()) info.title = "首页";
    v.ip = info.ip;
    v.area = info.area;
    v.referUrl = info.refer;
    v.keyname = info.keyname;
    v.keyvalue = info.keyvalue;
    v.guestId = info.guestId.empty() ? NextId('G', nextGuest_) : info.guestId;
    auto& names = sites_[info.site].guestNames;
    if (!info.guestName.empty()) names[v.guestId] = info.guestName;
    auto known = names.find(v.guestId);
    v.guestName = known != names.end() ? known->second : "";
    v.arrive = now;
    v.pages.push_back({info.url, info.title, now});
    Broadcast(v.site, kVisitorAdd,
              JoinFields({v.vid, v.ip, std::to_string(now), v.guestId, v.guestName, v.area, info.title,
                          info.url, v.referUrl, v.keyname, v.keyvalue}));
    visitorOrder_.push_back(v.vid);
    std::string vid = v.vid;
    visitors_[vid] = std::move(v);
    return vid;
}

bool Service::VisitorPage(const std::string& vid, const std::string& url, const std::string& title) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    if (!v) return false;
    std::time_t now = std::time(nullptr);
    v->left = false;
    v->pages.push_back({url, title, now});
    Broadcast(v->site, kVisitorChangePage, JoinFields({vid, std::to_string(now), url, title}));
    return true;
}

std::optional<std::string> Service::VisitorCall(const std::string& vid, const std::string& question,
                                                const std::string& guestName) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    if (!v || v->left) return std::nullopt;
    if (Chat* running = CurrentChat(*v)) return running->rid;
    if (!guestName.empty()) {
        v->guestName = guestName;
        sites_[v->site].guestNames[v->guestId] = guestName;
    }
    std::time_t now = std::time(nullptr);
    Chat c;
    c.rid = NextId('R', nextChat_);
    c.callId = NextId('C', nextCall_);
    c.vid = vid;
    c.site = v->site;
    c.guestId = v->guestId;
    c.question = question;
    c.callTime = now;
    if (!question.empty()) c.transcript.push_back(VisitorFragment(*v, HtmlEscape(question), now));
    v->chatRid = c.rid;
    v->invitedBy.clear();
    Broadcast(
        v->site, kVisitorCall,
        JoinFields({"1", "", vid, c.callId, v->guestId, c.rid, std::to_string(now), guestName, question}));
    chatOrder_.push_back(c.rid);
    std::string rid = c.rid;
    chats_[rid] = std::move(c);
    ToVisitor(*v, "calling", {{"rid", rid}});
    return rid;
}

bool Service::VisitorSend(const std::string& vid, const std::string& msg, bool plain) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    Chat* c = v ? CurrentChat(*v) : nullptr;
    if (!c || c->state != ChatState::Active) return false;
    std::time_t now = std::time(nullptr);
    c->transcript.push_back(VisitorFragment(*v, plain ? HtmlEscape(msg) : msg, now));
    ToOperator(v->site, c->opid, kVisitorMsg, JoinFields({vid, std::to_string(now), plain ? "1" : "0", msg}));
    SendChatContent(*c);
    return true;
}

bool Service::VisitorType(const std::string& vid, const std::string& text) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    Chat* c = v ? CurrentChat(*v) : nullptr;
    if (!c || c->state != ChatState::Active) return false;
    ToOperator(v->site, c->opid, kVisitorPreMsg, JoinFields({vid, std::to_string(std::time(nullptr)), text}));
    return true;
}

bool Service::VisitorCancel(const std::string& vid) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    Chat* c = v ? CurrentChat(*v) : nullptr;
    if (!c) return false;
    EndChat(*v, *c, false);
    return true;
}

bool Service::VisitorAnswerInvite(const std::string& vid, bool accept) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    if (!v || v->left || v->invitedBy.empty() || CurrentChat(*v)) return false;
    const Account* op = FindAccountById(v->site, v->invitedBy);
    v->invitedBy.clear();
    if (!accept || !op) return true;
    std::time_t now = std::time(nullptr);
    Chat c;
    c.rid = NextId('R', nextChat_);
    c.callId = NextId('C', nextCall_);
    c.vid = vid;
    c.site = v->site;
    c.guestId = v->guestId;
    c.callTime = now;
    chatOrder_.push_back(c.rid);
    Chat& stored = chats_[c.rid] = c;
    StartChat(*v, stored, *op, now);
    return true;
}

bool Service::VisitorLeave(const std::string& vid) {
    std::lock_guard lock(mu_);
    VisitorRec* v = FindVisitor(vid);
    if (!v || v->left) return false;
    Leave(*v);
    return true;
}

Json Service::InboxJson(const VisitorRec& v, long since) {
    Json arr = Json::Array();
    for (const auto& e : v.inbox) {
        if (e.n <= since) continue;
        Json j = Json::Object();
        j["n"] = e.n;
        j["type"] = e.type;
        for (const auto& [k, val] : e.fields) j[k] = Utf8(val);
        arr.Push(std::move(j));
    }
    return arr;
}

std::optional<Json> Service::VisitorInbox(const std::string& vid, long since, int waitMs, bool heartbeat) {
    std::unique_lock lock(mu_);
    if (!FindVisitor(vid)) return std::nullopt;
    auto has = [&] {
        VisitorRec* v = FindVisitor(vid);
        return stopping_ || !v || (!v->inbox.empty() && v->inbox.back().n > since);
    };
    if (waitMs > 0) cv_.wait_for(lock, std::chrono::milliseconds(waitMs), has);
    VisitorRec* v = FindVisitor(vid);
    if (!v) return std::nullopt;
    if (heartbeat) v->lastPoll = std::chrono::steady_clock::now();
    Json out = Json::Object();
    out["vid"] = vid;
    out["left"] = v->left;
    Chat* c = CurrentChat(*v);
    out["chat"] = c ? std::string(ChatStateName(static_cast<int>(c->state))) : std::string("none");
    out["rid"] = c ? c->rid : std::string();
    out["events"] = InboxJson(*v, since);
    return out;
}

std::vector<std::string> Service::LiveVisitors(bool scriptedOnly) {
    std::lock_guard lock(mu_);
    std::vector<std::string> out;
    for (const auto& vid : visitorOrder_) {
        const VisitorRec& v = visitors_[vid];
        if (!v.left && (!scriptedOnly || v.scripted)) out.push_back(vid);
    }
    return out;
}

void Service::MarkScripted(const std::string& vid) {
    std::lock_guard lock(mu_);
    if (VisitorRec* v = FindVisitor(vid)) v->scripted = true;
}

// ---------------------------------------------------------------- control

bool Service::ForceRelogin(const std::string& site, const std::string& login) {
    std::lock_guard lock(mu_);
    const Account* a = FindAccount(site, login);
    if (!a) return false;
    bool any = false;
    for (auto& [id, s] : sessions_) {
        if (s.valid && s.site == site && s.opid == a->opid) {
            s.valid = false;
            s.events.clear();
            any = true;
        }
    }
    cv_.notify_all();
    return any;
}

std::optional<std::string> Service::SignInElsewhere(const std::string& site, const std::string& login) {
    std::lock_guard lock(mu_);
    const Account* a = FindAccount(site, login);
    if (!a) return std::nullopt;
    std::string id = NewSessionId();
    SessionRec& s = sessions_[id];
    s.id = id;
    s.site = site;
    s.opid = a->opid;
    s.loginTime = std::time(nullptr);
    s.lastSeen = std::chrono::steady_clock::now();
    Broadcast(site, kOpLogin, JoinFields({a->opid, id, std::to_string(s.loginTime)}), &s);
    return id;
}

bool Service::SetLeaveMsgCount(const std::string& site, int count) {
    std::lock_guard lock(mu_);
    auto it = sites_.find(site);
    if (it == sites_.end()) return false;
    it->second.leaveMsgCount = count;
    Broadcast(site, kLeaveMsgCount, JoinFields({std::to_string(count)}));
    return true;
}

int Service::InjectEvent(const std::string& site, const std::string& login, int type,
                         const std::vector<std::string>& fields) {
    std::lock_guard lock(mu_);
    std::string opid;
    if (!login.empty()) {
        const Account* a = FindAccount(site, login);
        if (!a) return 0;
        opid = a->opid;
    }
    int n = 0;
    std::string payload = JoinFields(fields);
    for (auto& [id, s] : sessions_) {
        if (s.valid && s.site == site && (opid.empty() || s.opid == opid)) {
            Queue(s, type, payload);
            ++n;
        }
    }
    return n;
}

void Service::Configure(const Json& config) {
    std::lock_guard lock(mu_);
    options_.pushHoldMs = static_cast<int>(config.Num("push_hold_ms", options_.pushHoldMs));
    options_.pushIntervalMs = static_cast<int>(config.Num("push_interval_ms", options_.pushIntervalMs));
    options_.sessionTimeoutS = static_cast<int>(config.Num("session_timeout_s", options_.sessionTimeoutS));
    cv_.notify_all();
}

Json Service::Snapshot() {
    std::lock_guard lock(mu_);
    Json out = Json::Object();
    Json sessions = Json::Array();
    for (auto& [id, s] : sessions_) {
        const Account* a = AccountOf(s);
        Json j = Json::Object();
        j["id"] = id;
        j["site"] = s.site;
        j["login"] = a ? a->login : "";
        j["opid"] = s.opid;
        j["status"] = s.status;
        j["valid"] = s.valid;
        j["queued"] = static_cast<long>(s.events.size());
        sessions.Push(std::move(j));
    }
    out["sessions"] = std::move(sessions);
    Json visitors = Json::Array();
    for (const auto& vid : visitorOrder_) {
        VisitorRec& v = visitors_[vid];
        Json j = Json::Object();
        j["vid"] = vid;
        j["site"] = v.site;
        j["ip"] = v.ip;
        j["area"] = Utf8(v.area);
        j["guest_id"] = v.guestId;
        j["guest_name"] = Utf8(v.guestName);
        j["left"] = v.left;
        j["scripted"] = v.scripted;
        j["page"] = v.pages.empty() ? std::string() : Utf8(v.pages.back().url);
        j["rid"] = CurrentChat(v) ? v.chatRid : std::string();
        visitors.Push(std::move(j));
    }
    out["visitors"] = std::move(visitors);
    Json chats = Json::Array();
    for (const auto& rid : chatOrder_) {
        Chat& c = chats_[rid];
        Json j = Json::Object();
        j["rid"] = rid;
        j["call_id"] = c.callId;
        j["vid"] = c.vid;
        j["site"] = c.site;
        j["state"] = ChatStateName(static_cast<int>(c.state));
        j["opid"] = c.opid;
        j["transfer_to"] = c.transferTo;
        j["messages"] = static_cast<long>(c.transcript.size());
        chats.Push(std::move(j));
    }
    out["chats"] = std::move(chats);
    return out;
}

void Service::Shutdown() {
    std::lock_guard lock(mu_);
    stopping_ = true;
    cv_.notify_all();
}

}  // namespace morvale::sim
