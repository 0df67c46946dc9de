// The service's web pages that the workbench opens in its web views (statistics, administration,
// embed code, chat history, left messages, a guest's old chats, transfer, password recovery) and the
// updater's description and installer. Plain GBK HTML; pages of a sign-in check its PHPSESSID.

#include <httplib.h>

#include <map>

#include "core/text_utils.h"
#include "sim_server.h"
#include "wire.h"

namespace morvale::sim {
namespace {

constexpr const char* kGbkHtml = "text/html; charset=GBK";

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"GBK\"><title>" + HtmlEscape(title) +
           "</title><style>body{font:13px sans-serif;margin:12px}table{border-collapse:collapse}"
           "td,th{border:1px solid #ccc;padding:3px 8px}th{background:#eef}.off{color:#999}"
           ".outMsg .nameTag{color:#2b6cb0}.inMsg .nameTag{color:#2f855a}</style></head><body><h3>" +
           HtmlEscape(title) + "</h3>" + body + "</body></html>";
}

std::string TimeText(std::time_t t) { return t ? ChinaTimeText(t) : std::string("-"); }

std::string SessionQuery(const SessionView& s) { return "PHPSESSID=" + s.id; }

}  // namespace

bool SimServer::HandlePages(const httplib::Request& req, httplib::Response& res, const std::string& path,
                            const Params& params) {
    auto p = [&](const char* name) { return Param(params, name); };
    const std::string prefix = req.path.substr(0, req.path.size() - path.size());
    const std::string hostBase =
        "http://" + (req.get_header_value("Host").empty() ? options_.host + ":" + std::to_string(port_)
                                                          : req.get_header_value("Host"));
    auto html = [&](const std::string& title, const std::string& body, int status = 200) {
        res.status = status;
        res.set_content(Page(title, body), kGbkHtml);
        return true;
    };

    // ---- pages that need no sign-in
    if (path == "/reg/getpassword.php") {
        if (!p("site").empty() && !p("email").empty())
            return html("找回密码", "<p>密码重置邮件已发送到 " + HtmlEscape(p("email")) + "，请查收。</p>");
        return html(
            "找回密码",
            "<form method=\"get\"><p>网站ID：<input name=\"site\"></p><p>工号：<input name=\"user\"></p>"
            "<p>保密邮箱：<input name=\"email\"></p><p><input type=\"submit\" "
            "value=\"发送重置邮件\"></p></form>");
    }
    if (path == "/reg/renew.php")
        return html("续费服务",
                    "<p>网站 " + HtmlEscape(p("site")) + " 的服务已到期。续费后即可继续使用。</p>");
    if (path == "/dl/update.php") {
        std::lock_guard lock(mu_);
        std::string app = p("app").empty() ? "morvale" : p("app");
        auto parts = Split(update_.version, ".");
        parts.resize(4, "0");
        long size =
            update_.sizeOverride >= 0 ? update_.sizeOverride : static_cast<long>(update_.installer.size());
        std::string ini = "[" + app + "]\r\nversion=" + update_.version + "\r\nmajor_version=" + parts[0] +
                          "\r\nminor_version=" + parts[1] + "\r\nrelease_version=" + parts[2] +
                          "\r\nbuild_version=" + parts[3] + "\r\nurl_download=" + hostBase + prefix + "/dl/" +
                          update_.fileName + "\r\nfilename=" + update_.fileName +
                          "\r\nfilesize=" + std::to_string(size) +
                          "\r\nnoticetype=" + std::to_string(update_.noticeType) +
                          "\r\ndescription=" + update_.description + "\r\n";
        res.set_content(ini, "text/plain; charset=GBK");
        return true;
    }
    if (path.rfind("/dl/", 0) == 0) {
        std::lock_guard lock(mu_);
        if (path.substr(4) != update_.fileName) return false;
        res.set_content(update_.installer, "application/octet-stream");
        return true;
    }

    bool sessionPage =
        path.rfind("/setting/", 0) == 0 || path == "/c/aguestoldchats.php" || path == "/c/atransfer.php";
    if (!sessionPage) return false;
    std::string sid = p("PHPSESSID");
    if (sid.empty()) sid = CookieValue(req.get_header_value("Cookie"), "PHPSESSID");
    auto session = service_->Session(sid);
    if (!session) return html("登录已失效", "<p>登录已失效，请重新登录客服端。</p>", 403);
    const SessionView& s = *session;
    const std::string sq = SessionQuery(s);

    if (path == "/setting/nav.php") {
        static const std::map<std::string, std::string> kTargets = {
            {"tongji", "/setting/stats.php?"},
            {"kf", "/setting/operators.php?"},
            {"style", "/setting/style_code.php?action=generate&deptid=0&"},
            {"msg", "/setting/chat_msglist.php?"},
            {"msgoff", "/setting/leavemsg.php?"},
        };
        auto it = kTargets.find(p("go"));
        if (it == kTargets.end())
            return html("页面不存在", "<p>未知的页面：" + HtmlEscape(p("go")) + "</p>", 404);
        res.set_redirect(prefix + it->second + sq);
        return true;
    }
    if (path == "/setting/stats.php") {
        Json state = service_->Snapshot();
        int total = 0, live = 0;
        for (const auto& v : state.Find("visitors")->Items()) {
            if (v.Str("site") != s.site) continue;
            ++total;
            if (!v.Bool("left")) ++live;
        }
        int chats = 0;
        for (const auto& c : state.Find("chats")->Items())
            if (c.Str("site") == s.site && c.Str("state") != "calling") ++chats;
        return html("访问统计", "<table><tr><th>项目</th><th>数量</th></tr><tr><td>今日访客</td><td>" +
                                    std::to_string(total) + "</td></tr><tr><td>当前在线访客</td><td>" +
                                    std::to_string(live) + "</td></tr><tr><td>今日对话</td><td>" +
                                    std::to_string(chats) + "</td></tr></table>");
    }
    if (path == "/setting/operators.php") {
        std::string rows;
        for (const auto& o : service_->Operators(s.site))
            rows += "<tr class=\"" + std::string(o.online ? "on" : "off") + "\"><td>" + HtmlEscape(o.login) +
                    "</td><td>" + HtmlEscape(o.name) + "</td><td>" +
                    (o.online ? HtmlEscape(o.status) : std::string("离线")) + "</td></tr>";
        return html("客服管理",
                    "<table><tr><th>工号</th><th>姓名</th><th>状态</th></tr>" + rows + "</table>");
    }
    if (path == "/setting/style_code.php") {
        std::string code =
            "<script type=\"text/javascript\" src=\"" + hostBase + "/site/" + s.site + "/\"></script>";
        return html("获取代码",
                    "<p>把下面的代码放到网页的 &lt;/body&gt; 之前：</p><textarea rows=\"4\" cols=\"80\">" +
                        HtmlEscape(code) + "</textarea><p>访客页面示例：<a href=\"" + hostBase + "/site/" +
                        HtmlEscape(s.site) + "/\" target=\"_blank\">/site/" + HtmlEscape(s.site) +
                        "/</a></p>");
    }
    if (path == "/setting/style_company.php") {
        if (!s.admin) return html("没有权限", "<p>只有管理员可以修改公司设置。</p>", 403);
        std::string saved = p("action") == "save" ? "<p>设置已保存。</p>" : "";
        return html("公司设置",
                    saved + "<form method=\"get\"><input type=\"hidden\" name=\"PHPSESSID\" value=\"" + s.id +
                        "\"><input type=\"hidden\" name=\"action\" value=\"save\"><p>网站ID：" +
                        HtmlEscape(s.site) +
                        "</p><p>公司名称：<input name=\"company\" value=\"示例商城\"></p>"
                        "<p><input type=\"submit\" value=\"保存\"></p></form>");
    }
    if (path == "/setting/chat_msglist.php" || path == "/c/aguestoldchats.php") {
        bool guest = path == "/c/aguestoldchats.php";
        auto chats = guest ? service_->GuestChats(s.site, p("gid")) : service_->SiteChats(s.site);
        std::string rid = p("rid");
        std::string body;
        for (const auto& c : chats) {
            if (!rid.empty() && c.rid != rid) continue;
            body += "<div class=\"chat\"><p><b>" + TimeText(c.start) + " 至 " + TimeText(c.end) +
                    "</b> 客服：" + HtmlEscape(c.opname) + "</p>";
            if (guest || !rid.empty()) {
                for (const auto& fragment : c.transcript) body += fragment;
            } else {
                body += "<p><a href=\"chat_msglist.php?" + sq + "&rid=" + c.rid + "\">查看对话（" +
                        std::to_string(c.transcript.size()) + "条）</a></p>";
            }
            body += "</div>";
        }
        if (body.empty()) body = "<p>没有对话记录。</p>";
        return html(guest ? "历史对话" : "对话记录", body);
    }
    if (path == "/setting/leavemsg.php") {
        int n = service_->LeaveMsgCount(s.site);
        std::string rows;
        for (int i = 1; i <= n; ++i)
            rows += "<tr><td>" + std::to_string(i) + "</td><td>访客留言 " + std::to_string(i) +
                    "：请尽快联系我，电话138000000" + std::to_string(i % 10) + "</td></tr>";
        return html("访客留言", n ? "<table><tr><th>#</th><th>留言</th></tr>" + rows + "</table>"
                                  : std::string("<p>没有留言。</p>"));
    }
    if (path == "/c/atransfer.php") {
        const std::string vid = p("vid"), rid = p("rid"), to = p("to");
        const std::string close = "<p><a id=\"close\" href=\"me:://close\">关闭</a></p>";
        if (!to.empty()) {
            std::string error;
            if (!service_->Transfer(s.id, vid, rid, to, &error))
                return html("转接对话", "<p>转接失败：" + HtmlEscape(error) + "</p>" + close);
            // The dialog closes itself on this address.
            res.set_content(
                "<!DOCTYPE html><html><head><meta charset=\"GBK\"><meta http-equiv=\"refresh\" "
                "content=\"0;url=me:://close\"><title>转接对话</title></head><body><p>已发出转接请求。</p>" +
                    close + "<script>location.href='me:://close';</script></body></html>",
                kGbkHtml);
            return true;
        }
        std::string list;
        for (const auto& o : service_->Operators(s.site)) {
            if (o.opid == s.opid) continue;
            if (o.online)
                list += "<li><a href=\"atransfer.php?" + sq + "&vid=" + UrlEncode(vid) +
                        "&rid=" + UrlEncode(rid) + "&to=" + o.opid + "\">" + HtmlEscape(o.name) + "（" +
                        HtmlEscape(o.login) + "）</a></li>";
            else
                list +=
                    "<li class=\"off\">" + HtmlEscape(o.name) + "（" + HtmlEscape(o.login) + "，离线）</li>";
        }
        if (list.empty()) list = "<li class=\"off\">没有其他客服</li>";
        return html("转接对话", "<p>请选择要转接的客服：</p><ul>" + list + "</ul>" + close);
    }
    return html("页面不存在", "<p>页面不存在。</p>", 404);
}

}  // namespace morvale::sim
