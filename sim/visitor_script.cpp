#include "visitor_script.h"

#include <algorithm>
#include <iterator>

#include "core/gbk.h"
#include "core/text_utils.h"
#include "service.h"

namespace morvale::sim {
namespace {

struct SitePage {
    const char* path;
    const char* title;
};
const SitePage kPages[] = {
    {"/site/demo/", "首页 - 示例商城"},
    {"/site/demo/products.html", "产品介绍 - 示例商城"},
    {"/site/demo/price.html", "价格与购买 - 示例商城"},
    {"/site/demo/help.html", "帮助中心 - 示例商城"},
    {"/site/demo/contact.html", "联系我们 - 示例商城"},
};

struct Engine {
    const char* name;
    const char* prefix;
};
const Engine kEngines[] = {
    {"百度", "http://www.baidu.com/s?wd="},
    {"谷歌", "http://www.google.com.hk/search?q="},
    {"搜狗", "http://www.sogou.com/web?query="},
};
const char* const kKeywords[] = {"在线客服系统", "网站客服软件", "免费在线客服", "客服插件", "网页对话工具"};
const char* const kAreas[] = {"北京市",       "上海市",       "广东省广州市", "广东省深圳市", "浙江省杭州市",
                              "江苏省苏州市", "四川省成都市", "湖南省长沙市", "陕西省西安市", "辽宁省大连市"};
const char* const kQuestions[] = {"你好，请问标准版多少钱？", "可以免费试用吗？", "支持手机网站吗？",
                                  "怎么把代码加到我的网站上？"};
const char* const kAnswers[] = {"好的，谢谢", "明白了", "那我先注册试试", "还有别的套餐吗？", "嗯嗯"};

}  // namespace

VisitorScript::VisitorScript(Service& service, std::uint32_t seed, int crowd)
    : service_(service), rng_(seed), crowd_(crowd) {}

VisitorScript::~VisitorScript() { Stop(); }

void VisitorScript::Start() {
    thread_ = std::thread([this] {
        std::unique_lock lock(mu_);
        while (!stop_) {
            lock.unlock();
            Step();
            lock.lock();
            cv_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_; });
        }
    });
}

void VisitorScript::Stop() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void VisitorScript::SetRate(double rate) {
    std::lock_guard lock(mu_);
    rate_ = rate < 0 ? 0 : rate;
}

void VisitorScript::Step() {
    double rate;
    {
        std::lock_guard lock(mu_);
        rate = rate_;
    }
    if (rate <= 0) return;
    auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p * rate; };
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); };

    std::vector<std::string> live = service_.LiveVisitors(true);
    for (auto it = walkers_.begin(); it != walkers_.end();) {
        bool alive = std::find(live.begin(), live.end(), it->first) != live.end();
        it = alive ? std::next(it) : walkers_.erase(it);
    }

    if (static_cast<int>(live.size()) < crowd_ && (live.empty() || chance(0.05))) {
        VisitorInfo info;
        info.area = kAreas[pick(std::size(kAreas))];
        const SitePage& landing = kPages[pick(std::size(kPages))];
        info.url = landing.path;
        info.title = landing.title;
        if (chance(0.7)) {
            const Engine& e = kEngines[pick(std::size(kEngines))];
            const char* kw = kKeywords[pick(std::size(kKeywords))];
            info.keyname = e.name;
            info.keyvalue = kw;
            info.refer = std::string(e.prefix) + UrlEncode(kw);
        }
        if (auto vid = service_.VisitorArrive(info)) {
            service_.MarkScripted(*vid);
            Walker w;
            w.pagesLeft = 2 + static_cast<int>(pick(6));
            walkers_[*vid] = w;
        }
    }

    for (auto& [vid, w] : walkers_) {
        auto inbox = service_.VisitorInbox(vid, w.inboxSeen, 0);
        if (!inbox) continue;
        std::string chat = inbox->Str("chat");
        bool operatorSpoke = false;
        for (const auto& e : inbox->Find("events")->Items()) {
            w.inboxSeen = static_cast<long>(e.Num("n"));
            std::string type = e.Str("type");
            if (type == "invite") service_.VisitorAnswerInvite(vid, chance(0.6));
            if (type == "msg" || type == "chat") operatorSpoke = true;
        }
        if (chat == "active") {
            if (operatorSpoke) {
                w.pendingReply = 2 + static_cast<int>(pick(4));
                w.answer = kAnswers[pick(std::size(kAnswers))];
                w.idleSteps = 0;
            }
            if (w.pendingReply > 0) {
                // The typing preview shows a step before the message itself.
                if (--w.pendingReply == 1)
                    service_.VisitorType(vid, w.answer);
                else if (w.pendingReply == 0)
                    service_.VisitorSend(vid, w.answer, true);
            } else if (++w.idleSteps > 90) {
                service_.VisitorCancel(vid);
            }
            continue;
        }
        w.pendingReply = 0;
        if (chat == "calling") {
            if (++w.idleSteps > 120) service_.VisitorCancel(vid);
            continue;
        }
        w.idleSteps = 0;
        if (!w.calledOnce && chance(0.03)) {
            w.calledOnce = true;
            service_.VisitorCall(vid, kQuestions[pick(std::size(kQuestions))], "");
        } else if (w.pagesLeft > 0 && chance(0.08)) {
            --w.pagesLeft;
            const SitePage& p = kPages[pick(std::size(kPages))];
            service_.VisitorPage(vid, p.path, p.title);
        } else if (w.pagesLeft == 0 && chance(0.05)) {
            service_.VisitorLeave(vid);
        }
    }
}

}  // namespace morvale::sim
