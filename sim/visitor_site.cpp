// The visitor side a real browser uses: a small demo website per site whose pages carry a chat box
// that talks to the control API's visitor endpoints, and the files operators sent to visitors.

#include <httplib.h>

#include "core/text_utils.h"
#include "sim_server.h"
#include "wire.h"

namespace morvale::sim {
namespace {

constexpr const char* kGbkHtml = "text/html; charset=GBK";

struct SitePage {
    const char* file;
    const char* title;
    const char* body;
};
const SitePage kSitePages[] = {
    {"", "首页 - 示例商城",
     "<p>欢迎光临示例商城。我们提供网站在线客服软件，三分钟装好，访客一点就能和您对话。</p>"},
    {"products.html", "产品介绍 - 示例商城",
     "<p>标准版：不限访客数，最多5个客服。<br>企业版：不限客服数，含历史记录与统计。</p>"},
    {"price.html", "价格与购买 - 示例商城",
     "<p>标准版每年980元，企业版每年2980元。注册后可免费试用30天。</p>"},
    {"help.html", "帮助中心 - 示例商城", "<p>把一段代码放到网页里即可使用。有问题请点右下角咨询客服。</p>"},
    {"contact.html", "联系我们 - 示例商城", "<p>电话：400-000-0000（工作日 9:00-18:00）</p>"},
};

// The chat box; its texts are GBK like the page, the JSON it exchanges is UTF-8.
constexpr const char* kWidget = R"HTML(
<div id="chatbox">
 <div id="chathead">在线客服 <span id="state"></span></div>
 <div id="log"></div>
 <div id="typing"></div>
 <div id="invite" style="display:none">客服邀请您对话：<button id="yes">接受</button><button id="no">拒绝</button></div>
 <textarea id="text" rows="3" placeholder="请输入您的问题"></textarea>
 <div><button id="call">咨询客服</button><button id="send" disabled>发送</button><button id="end" disabled>结束对话</button>
 <button id="leave">离开本站</button></div>
</div>
<script>
(function(){
 var site = document.body.getAttribute('data-site');
 var key = 'morvale-sim-vid-' + site, vid = sessionStorage.getItem(key), since = 0, chat = 'none', typingTimer = 0;
 function $(id){ return document.getElementById(id); }
 function api(name, body){
  body = body || {}; body.site = site; if (vid) body.vid = vid;
  return fetch('/_sim/visitor/' + name, {method:'POST', headers:{'Content-Type':'application/json'}, body:JSON.stringify(body)})
   .then(function(r){ return r.json().then(function(j){ j._status = r.status; return j; }); });
 }
 function clean(html){
  var t = document.createElement('template'); t.innerHTML = html;
  t.content.querySelectorAll('script,iframe,object,embed,style,link,meta').forEach(function(n){ n.remove(); });
  t.content.querySelectorAll('*').forEach(function(n){
   Array.prototype.slice.call(n.attributes).forEach(function(a){
    if (/^on/i.test(a.name) || /^\s*javascript:/i.test(a.value)) n.removeAttribute(a.name); }); });
  return t.innerHTML;
 }
 function line(who, html, cls){
  var d = document.createElement('div'); d.className = cls;
  var w = document.createElement('b'); w.textContent = who + '：'; d.appendChild(w);
  var m = document.createElement('span'); m.innerHTML = html; d.appendChild(m);
  $('log').appendChild(d); $('log').scrollTop = $('log').scrollHeight;
 }
 function note(text){ var d = document.createElement('div'); d.className = 'note'; d.textContent = text; $('log').appendChild(d); $('log').scrollTop = $('log').scrollHeight; }
 function setChat(c){
  chat = c;
  $('state').textContent = c == 'active' ? '（对话中）' : c == 'calling' ? '（等待客服接受…）' : '';
  $('send').disabled = c != 'active'; $('end').disabled = c == 'none'; $('call').disabled = c != 'none';
 }
 function poll(){
  api('inbox', {since: since, wait_ms: 25000, heartbeat: true}).then(function(j){
   if (j._status != 200 || j.left) { setTimeout(start, 1000); return; }
   (j.events || []).forEach(function(e){
    since = e.n;
    if (e.type == 'msg') { $('typing').textContent = ''; line(e.opname, clean(e.html), 'op'); }
    else if (e.type == 'typing') $('typing').textContent = e.on == '1' ? '客服正在输入…' : '';
    else if (e.type == 'chat') note('客服 ' + e.opname + ' 已接受对话');
    else if (e.type == 'transfer') note('对话已转接给客服 ' + e.opname);
    else if (e.type == 'file') { var a = document.createElement('a'); a.href = e.url; a.textContent = e.name; a.target = '_blank';
      line(e.opname, '发送了文件 ' + a.outerHTML, 'op'); }
    else if (e.type == 'invite') $('invite').style.display = '';
    else if (e.type == 'closed') { $('typing').textContent = ''; note('对话已结束'); }
   });
   setChat(j.chat);
   setTimeout(poll, 10);
  }).catch(function(){ setTimeout(poll, 2000); });
 }
 function start(){
  var page = {url: location.pathname, title: document.title};
  var go = vid ? api('page', page) : Promise.resolve({_status: 404});
  go.then(function(j){
   if (j._status == 200) return;
   vid = null;
   return api('arrive', {url: location.pathname, title: document.title, refer: document.referrer}).then(function(a){
    vid = a.vid; sessionStorage.setItem(key, vid); });
  }).then(function(){ since = 0; poll(); });
 }
 $('call').onclick = function(){ api('call', {question: $('text').value}).then(function(){ if ($('text').value) line('我', $('text').value.replace(/[<&>]/g, function(c){ return {'<':'&lt;','&':'&amp;','>':'&gt;'}[c]; }), 'me'); $('text').value = ''; }); };
 $('send').onclick = function(){
  var t = $('text').value; if (!t) return;
  api('send', {msg: t}).then(function(){ line('我', t.replace(/[<&>]/g, function(c){ return {'<':'&lt;','&':'&amp;','>':'&gt;'}[c]; }), 'me'); });
  $('text').value = ''; api('type', {text: ''});
 };
 $('text').oninput = function(){ if (chat != 'active') return; clearTimeout(typingTimer);
  typingTimer = setTimeout(function(){ api('type', {text: $('text').value}); }, 300); };
 $('text').onkeydown = function(e){ if (e.key == 'Enter' && !e.shiftKey && chat == 'active') { e.preventDefault(); $('send').onclick(); } };
 $('end').onclick = function(){ api('end'); };
 $('yes').onclick = function(){ $('invite').style.display = 'none'; api('invite_answer', {accept: true}); };
 $('no').onclick = function(){ $('invite').style.display = 'none'; api('invite_answer', {accept: false}); };
 $('leave').onclick = function(){ api('leave').then(function(){ sessionStorage.removeItem(key); vid = null; document.body.innerHTML = '<p>您已离开本站。</p>'; }); };
 start();
})();
</script>
)HTML";

constexpr const char* kStyle =
    "<style>body{font:14px "
    "sans-serif;margin:0;background:#f4f6f8}#top{background:#2b6cb0;color:#fff;padding:12px 20px}"
    "#top a{color:#fff;margin-right:16px}#main{padding:20px;max-width:640px}"
    "#chatbox{position:fixed;right:16px;bottom:16px;width:320px;background:#fff;border:1px solid #8aa;"
    "box-shadow:0 2px 8px #0003}#chathead{background:#2b6cb0;color:#fff;padding:6px}"
    "#log{height:220px;overflow:auto;padding:6px;font-size:13px}#log .op b{color:#2b6cb0}#log .me "
    "b{color:#2f855a}"
    "#log .note{color:#888;font-size:12px}#typing{color:#888;font-size:12px;height:16px;padding:0 6px}"
    "#invite{background:#fffbe6;padding:6px}textarea{width:96%;margin:2px 2%}#chatbox "
    "button{margin:2px}</style>";

std::string SitePageHtml(const std::string& site, const SitePage& page) {
    std::string nav;
    for (const auto& p : kSitePages)
        nav += "<a href=\"/site/" + site + "/" + p.file + "\">" +
               std::string(p.title).substr(0, std::string(p.title).find(" - ")) + "</a>";
    return "<!DOCTYPE html><html><head><meta charset=\"GBK\"><title>" + std::string(page.title) + "</title>" +
           kStyle + "</head><body data-site=\"" + HtmlEscape(site) + "\"><div id=\"top\">" + nav +
           "</div><div id=\"main\"><h2>" + page.title + "</h2>" + page.body + "</div>" + kWidget +
           "</body></html>";
}

}  // namespace

void SimServer::HandleVisitorSite(const httplib::Request& req, httplib::Response& res,
                                  const std::string& path, const Params& params, const std::string& body) {
    (void)req;
    (void)params;
    (void)body;
    if (path == "/") {
        res.set_content(
            "<!DOCTYPE html><html><head><meta charset=\"GBK\"><title>morvale-sim</title></head><body>"
            "<h3>morvale-sim</h3><p>访客页面：<a href=\"/site/demo/\">/site/demo/</a></p>"
            "<p>服务器地址：" +
                BaseUrl() + options_.service.realPrefix +
                "</p>"
                "<p>控制接口：/_sim/state, /_sim/log, /_sim/visitor/arrive ...</p></body></html>",
            kGbkHtml);
        return;
    }
    if (path.rfind("/files/", 0) == 0) {
        std::string rest = path.substr(7);
        std::string id = rest.substr(0, rest.find('/'));
        auto file = service_->File(id);
        if (!file) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        res.set_header("Content-Disposition", "attachment; filename=\"" + UrlEncode(file->name) + "\"");
        res.set_content(file->bytes, "application/octet-stream");
        return;
    }
    // /site/<site>/<page>
    std::string rest = path.substr(6);
    size_t slash = rest.find('/');
    std::string site = rest.substr(0, slash);
    std::string file = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (slash == std::string::npos) {
        res.set_redirect("/site/" + site + "/");
        return;
    }
    if (!service_->FaqDocument(site)) {
        res.status = 404;
        res.set_content("<html><body>no such site</body></html>", kGbkHtml);
        return;
    }
    for (const auto& p : kSitePages) {
        if (file == p.file || (file == "index.html" && *p.file == 0)) {
            res.set_content(SitePageHtml(site, p), kGbkHtml);
            return;
        }
    }
    res.status = 404;
    res.set_content("<html><body>404</body></html>", kGbkHtml);
}

}  // namespace morvale::sim
