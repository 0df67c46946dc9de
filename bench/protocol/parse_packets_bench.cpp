// ParsePackets throughput on a large mixed reply, next to a plain memchr scan of the same bytes
// (the cost of merely finding every frame start) as the baseline.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"
#include "protocol/in_packet.h"

namespace {

std::string Frame(int type, int seq, const std::string& payload) {
    std::string frame(1, '\x02');
    frame.append(std::to_string(type)).append(1, '\x05').append(std::to_string(seq)).append(1, '\x05');
    frame.append(std::to_string(payload.size())).append(1, '\x05').append(payload).append(1, '\x03');
    return frame;
}

// GCC 12 warns falsely (-Wrestrict) about a literal + std::string temporary; appending avoids it.
std::string Id(const char* prefix, int n) {
    std::string id(prefix);
    id += std::to_string(n);
    return id;
}

std::string Fields(const std::vector<std::string>& fields) {
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) joined += '\x06';
        joined += fields[i];
    }
    return joined;
}

// What a busy site's push replies look like over a while: arrivals, page changes, chats, messages,
// with a visitor list now and then. GBK text throughout (narrow literals are compiled to GBK).
std::string BuildReply(int frames) {
    const std::string t = "1796961600";
    std::string visitors = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<visitors>\r\n";
    for (int v = 0; v < 200; ++v) {
        visitors += "<v vid=\"v";
        visitors += std::to_string(v);
        visitors += "\" t=\"";
        visitors += t;
        visitors +=
            "\" x=\"\" ip=\"61.135.169.121\" area=\"广东省深圳市 电信\" page=\"http://www.example.cn/p/";
        visitors += std::to_string(v);
        visitors +=
            ".html\" title=\"变频空调 - 产品中心\" refer=\"http://www.baidu.com/s?wd=%BF%D5\" "
            "kn=\"百度\" kv=\"空调\" gid=\"g1\" gname=\"王先生\" rid=\"\" opid=\"\" oplogin=\"\" opname=\"\" "
            "ct=\"\"/>\r\n";
    }
    visitors += "</visitors>";

    std::string reply;
    for (int i = 0; i < frames; ++i) {
        const std::string vid = Id("v", 1000 + i % 500);
        switch (i % 10) {
            case 0:
            case 1:
                reply +=
                    Frame(106, i,
                          Fields({vid, "220.181.38.148", t, Id("g", i), "", "上海市 电信",
                                  "售后服务 - 联系我们", "http://www.example.cn/service.html?from=ad&id=42",
                                  "http://www.so.com/s?q=%CA%DB%BA%F3", "360搜索", "售后电话"}));
                break;
            case 2:
            case 3:
                reply +=
                    Frame(107, i,
                          Fields({vid, t, "http://www.example.cn/products/ac-2.html", "节能空调 KFR-35GW"}));
                break;
            case 4:
                reply += Frame(108, i,
                               Fields({"1", "", vid, Id("c", i), "g1", Id("r", i), t, "陈女士",
                                       "请问这款空调有现货吗？"}));
                break;
            case 5:
                reply +=
                    Frame(112, i,
                          Fields({vid, t, "1", "有现货吗？价格<含安装>是多少 & 包邮吗，深圳能送货上门吗？"}));
                break;
            case 6:
                reply += Frame(126, i, Fields({vid, t, "深圳能送货"}));
                break;
            case 7:
                reply += Frame(
                    130, i, Fields({"", "", "c7", "%3Cp%3E%CD%F5%CF%C8%C9%FA%3A+%C4%E3%BA%C3%3C%2Fp%3E", t}));
                break;
            case 8:
                reply += Frame(110, i, Fields({vid, t}));
                break;
            case 9:
                reply += i % 1000 == 9 ? Frame(119, i, visitors) : Frame(127, i, Fields({"g1", "陈女士"}));
                break;
        }
        if (i % 50 == 0) reply += "\r\n";
    }
    return reply;
}

const std::string& Reply() {
    static const std::string reply = BuildReply(20000);
    return reply;
}

void BM_ParsePackets(benchmark::State& state) {
    // Lines of the message packets are formatted but not written to a file.
    morvale::SetLogFilePath("");
    const std::string& reply = Reply();
    // Each batch is freed right after it is parsed, inside the timed loop, as the event thread does
    // once the batch has been applied: the allocator may hand the pages back to the system between
    // replies, and the parser has to be fast under that too.
    std::size_t packets = 0;
    for (auto _ : state) {
        morvale::InPacketList list = morvale::ParsePackets(reply);
        packets = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["packets"] = static_cast<double>(packets);
    state.counters["reply_bytes"] = static_cast<double>(reply.size());
}
BENCHMARK(BM_ParsePackets)->Unit(benchmark::kMillisecond);

void BM_MemchrBaseline(benchmark::State& state) {
    const std::string& reply = Reply();
    for (auto _ : state) {
        std::size_t starts = 0;
        const char* p = reply.data();
        const char* end = p + reply.size();
        while ((p = static_cast<const char*>(std::memchr(p, '\x02', static_cast<std::size_t>(end - p)))) !=
               nullptr) {
            ++starts;
            ++p;
        }
        benchmark::DoNotOptimize(starts);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_MemchrBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
