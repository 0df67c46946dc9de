// Applying a full visitor list of 10,000 visitors (a third of them chatting) to the session, against
// a bare libxml2 parse of the same document: the list handler should cost at most 1.5 times the parse.

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <random>

#include "bench_session.h"
#include "protocol/in_packet.h"
#include "session/client.h"

namespace morvale {
namespace {

constexpr int kVisitors = 10000;

class CountingListener : public ClientListener {
  public:
    void OnClientCallback(const CallbackInfo& info) override { calls += info.code; }
    long calls = 0;
};

std::string Attr(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

// The document the service sends: GBK, declared as gb2312, attributes in position order.
const std::string& VisitorListDocument() {
    static const std::string doc = [] {
        const char* areas[] = {"广东省深圳市", "北京市",       "上海市",
                               "浙江省杭州市", "四川省成都市", "湖北省武汉市"};
        const char* titles[] = {"夏季新款连衣裙 - 优品商城", "联系我们 - 优品商城", "首页 - 优品商城",
                                "订单查询"};
        const char* engines[] = {"百度", "谷歌", "搜狗", ""};
        const char* words[] = {"连衣裙 新款", "在线客服系统", "优品 折扣", ""};
        const char* names[] = {"", "", "张先生", "李女士"};
        std::mt19937 rng(42);
        std::string out = "<?xml version=\"1.0\" encoding=\"gb2312\"?><visitors>";
        for (int i = 0; i < kVisitors; ++i) {
            const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
            const std::string vid = std::to_string(1702345678000000LL + i);
            out += "<v";
            out += Attr("vid", vid);
            out += Attr("t", std::to_string(1702345000 + pick(3600)));
            out += Attr("s", "0");
            out += Attr("ip", std::to_string(1 + pick(223)) + "." + std::to_string(pick(256)) + "." +
                                  std::to_string(pick(256)) + "." + std::to_string(pick(256)));
            out += Attr("a", areas[pick(6)]);
            out += Attr("u", "http://www.youpin-shop.example/products/item-" + std::to_string(pick(99999)) +
                                 ".html?from=search&amp;id=" + std::to_string(pick(9999)));
            out += Attr("ti", titles[pick(4)]);
            out += Attr("r", "http://www.baidu.com/s?wd=%C1%AC%D2%C2%C8%B9&amp;rsv_bp=1&amp;tn=" +
                                 std::to_string(pick(999)));
            const int engine = pick(4);
            out += Attr("kn", engines[engine]);
            out += Attr("kv", words[engine]);
            const int name = pick(4);
            out += Attr("g", name == 0 ? "" : "g" + std::to_string(100000 + i));
            out += Attr("gn", names[name]);
            if (i % 3 == 0) {
                const bool mine = pick(2) == 0;
                out += Attr("rid", "r" + std::to_string(5000000 + i));
                out += Attr("op", mine ? "op1" : "op2");
                out += Attr("ol", mine ? "op01" : "op02");
                out += Attr("on", mine ? "客服小王" : "客服小李");
                out += Attr("ct", std::to_string(1702346000 + pick(3600)));
            } else {
                out += Attr("rid", "");
            }
            out += "/>";
        }
        out += "</visitors>";
        return out;
    }();
    return doc;
}

std::string Frame(const std::string& payload) {
    return "\x02"
           "119\x05"
           "1\x05" +
           std::to_string(payload.size()) + "\x05" + payload + "\x03";
}

void BM_BareLibxml2Parse(benchmark::State& state) {
    const std::string& doc = VisitorListDocument();
    for (auto _ : state) {
        xmlDocPtr parsed =
            xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(parsed);
        xmlFreeDoc(parsed);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_BareLibxml2Parse)->Unit(benchmark::kMillisecond);

// The barest parse libxml2 offers: the document's events with nobody listening, no tree built.
void BM_BareLibxml2SaxParse(benchmark::State& state) {
    const std::string& doc = VisitorListDocument();
    xmlSAXHandler none{};
    for (auto _ : state) {
        if (xmlSAXUserParseMemory(&none, nullptr, doc.data(), static_cast<int>(doc.size())) != 0) {
            state.SkipWithError("document not parsed");
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_BareLibxml2SaxParse)->Unit(benchmark::kMillisecond);

// The handler's whole work: read the document, build the records (sessions for the chats), keep the
// known visitors' conversations, replace the list, notify, free the previous records.
void BM_ApplyVisitorAll(benchmark::State& state) {
    const std::string reply = Frame(VisitorListDocument());
    InlineExecutor executor;
    Client client(std::make_unique<bench::NullNet>(), executor, ClientOptions{"morvale", "http://127.0.0.1/x"});
    auto user = std::make_unique<User>("demo", "op01", "x");
    user->opId = "op1";
    client.SetUser(std::move(user));
    CountingListener listener;
    client.RegisterWindow(&listener);
    client.ApplyPackets(ParsePackets(reply));  // the steady state: a list replacing a list
    for (auto _ : state) {
        state.PauseTiming();
        InPacketList batch = ParsePackets(reply);
        state.ResumeTiming();
        client.ApplyPackets(std::move(batch));
    }
    if (client.visitors().size() != static_cast<std::size_t>(kVisitors))
        state.SkipWithError("visitor list not applied");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_ApplyVisitorAll)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvale

BENCHMARK_MAIN();
