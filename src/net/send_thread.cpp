#include "net/send_thread.h"

#include "core/log.h"

namespace morvale {

SendThread::SendThread() : BaseNetThread("NetSend") { SetInterval(200); }

SendThread::~SendThread() { Stop(); }

void SendThread::Execute() {
    ReplyLines reply;
    while (SleepMs(Interval()) && WaitWhilePaused()) {
        OutQueue::List batch = in_->TakeAll();
        for (auto& packet : batch) {
            if (Terminated()) break;
            Send(std::move(packet), reply);
        }
    }
}

void SendThread::Send(std::unique_ptr<OutPacket> packet, ReplyLines& reply) {
    reply.clear();
    int result = NET_OK;
    const std::string url = BaseUrl() + packet->GetUrl();
    if (packet->channel == CH_GET) {
        result = HttpGet(url, reply, packet->tries);
    } else if (packet->channel == CH_POST) {
        result = HttpPost(url, packet->GetParams(), reply, packet->tries);
    } else {
        return;  // not a command: not sent
    }
    const std::string text = JoinReplyLines(reply);
    // An exchange that brought back nothing is a failed request.
    if (text.empty()) result = NET_CONNECT_FAILED;
    const std::string head =
        "----" + packet->GetUrl() + " ■ \r\n" + LinesText(packet->GetParams()) + "\r\n<<<<<";
    if (result == NET_OK) {
        LogLine("NetSend", 2, head + "\r\n【" + text + "】");
        InPacketList packets = ParsePackets(text);
        if (!packets.empty()) out_->PushAll(std::move(packets));
    } else {
        LogLine("NetSend", 2, head + "网络异常");
        out_->Push(std::make_unique<InTimeoutPacket>(std::move(packet)));
    }
}

}  // namespace morvale
