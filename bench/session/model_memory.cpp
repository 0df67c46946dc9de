// Heap held by the session's records for 10,000 visitors, each with 5 page views and a chat whose
// transcript has 50 entries, against the bytes of text those records hold. The records are built by
// the real handlers from real reply frames, as a long busy shift would build them: each visitor
// arrives, browses, asks for a chat, is served and exchanges messages with the operator.

#include <malloc.h>

#include <cstdio>
#include <string>

#include "bench_session.h"
#include "session/own_message.h"

namespace morvale::bench {
namespace {

constexpr int kVisitors = 10000;
constexpr int kPages = 5;
constexpr std::size_t kEntries = 50;

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::size_t TextBytes(const Visitor& v) {
    std::size_t n = v.vid.size() + v.ip.size() + v.area.size() + v.guestId.size() + v.guestName.size() +
                    v.pageUrl.size() + v.pageTitle.size() + v.referUrl.size() + v.keyName.size() +
                    v.keyValue.size() + v.preMsg.size();
    for (const Page& p : v.pages) n += p.title.size() + p.url.size();
    for (const auto& c : v.chats) {
        n += c->sid.size() + c->callId.size() + c->rid.size() + c->question.size() + c->opId.size() +
             c->opLogin.size() + c->opName.size() + c->lastMsg.size();
        for (const std::string& entry : c->content) n += entry.size();
    }
    return n;
}

int Run() {
    SignedInClient session;
    Client& client = *session.client;
    const std::size_t before = HeapInUse();

    const std::string t = "1796961600";
    static const char* const kVisitorLines[] = {"你好，请问这款空调有现货吗？", "价格是多少？含安装吗",
                                                "深圳南山区能送货上门吗", "好的，那我今天下单",
                                                "发票可以开公司抬头吗？谢谢"};
    static const char* const kOwnLines[] = {"您好，有现货的，今天下单明天发货。",
                                            "含安装，价格是<b>2899</b>元。", "深圳全市都可以送货上门。",
                                            "好的，有问题随时联系我们。", "可以开增值税普通发票。"};
    for (int i = 0; i < kVisitors; ++i) {
        const std::string id = std::to_string(100000 + i);
        const std::string vid = "v" + id;
        session.Feed(Frame(DOWN_VISITOR_ADD,
                           {vid, "61.135.169." + std::to_string(i % 250), t, "g" + id, "",
                            "广东省深圳市 电信", "变频空调 - 产品中心", "http://www.example.cn/index.html",
                            "http://www.baidu.com/s?wd=%BF%D5%B5%F7", "百度", "空调"}));
        for (int p = 1; p < kPages; ++p) {
            session.Feed(Frame(DOWN_VISITOR_CHANGE_PAGE,
                               {vid, t, "http://www.example.cn/products/ac-" + std::to_string(p) + ".html",
                                "节能空调 KFR-3" + std::to_string(p) + "GW"}));
        }
        session.Feed(Frame(DOWN_VISITOR_CALL,
                           {"1", "", vid, "c" + id, "g" + id, "r" + id, t, "陈女士", kVisitorLines[0]}));
        session.Feed(Frame(DOWN_VISITOR_CHAT, {vid, t, "r" + id, "op1", "op01", "王小明", "", "", ""}));
        Visitor* v = FindVisitor(client.visitors(), vid);
        if (v == nullptr || v->chat == nullptr || v->pages.size() != kPages) {
            std::fprintf(stderr, "model_memory: visitor %s was not built as planned\n", vid.c_str());
            return 1;
        }
        for (std::size_t k = 0; v->chat->content.size() < kEntries; ++k) {
            if (k % 2 == 0) {
                session.Feed(Frame(DOWN_VISITOR_MSG, {vid, t, "1", kVisitorLines[(k / 2) % 5]}));
            } else if (SendOwnMessage(client, *v, kOwnLines[(k / 2) % 5], false).result !=
                       OwnSendResult::Sent) {
                std::fprintf(stderr, "model_memory: the operator's message to %s was not sent\n",
                             vid.c_str());
                return 1;
            }
        }
    }

    const std::size_t after = HeapInUse();
    std::size_t text = 0, pages = 0, entries = 0;
    for (const auto& v : client.visitors()) {
        text += TextBytes(*v);
        pages += v->pages.size();
        for (const auto& c : v->chats) entries += c->content.size();
    }
    const std::size_t heap = after - before;
    std::printf(
        "visitors %zu\npages %zu\ntranscript_entries %zu\ntext_bytes %zu\nheap_bytes %zu\nratio %.3f\n",
        client.visitors().size(), pages, entries, text, heap,
        static_cast<double>(heap) / static_cast<double>(text));
    return 0;
}

}  // namespace
}  // namespace morvale::bench

int main() { return morvale::bench::Run(); }
