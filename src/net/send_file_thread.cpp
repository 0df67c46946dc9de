#include "net/send_file_thread.h"

#include "core/log.h"
#include "net/ms_multi_part_form_data_stream.h"

namespace morvale {
namespace {

std::pair<std::string, std::string> NameValue(const std::string& line) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return {line, ""};
    return {line.substr(0, eq), line.substr(eq + 1)};
}

}  // namespace

SendFileThread::SendFileThread() : BaseNetThread("NetSF") {
    SetInterval(100);
    SetKeepProtocolVersion(false);
}

SendFileThread::~SendFileThread() { Stop(); }

void SendFileThread::Execute() {
    ReplyLines reply;
    while (SleepMs(Interval()) && WaitWhilePaused()) {
        OutQueue::List batch = in_->TakeAll();
        for (auto& packet : batch) {
            if (Terminated()) break;
            reply.clear();
            if (packet->channel != CH_UPLOAD) continue;
            const int result = Upload(*packet, reply);
            const std::string head = "----" + packet->GetUrl() + "  --------  \r\n" +
                                     LinesText(packet->GetParams()) + "\r\n" +
                                     LinesText(packet->GetPostFields()) + "\r\n<<<<<";
            if (result == NET_OK) {
                const std::string text = JoinReplyLines(reply);
                LogLine("NetSF", 2, head + "\r\n" + text);
                InPacketList packets = ParsePackets(text);
                if (!packets.empty()) out_->PushAll(std::move(packets));
            } else {
                LogLine("NetSF", 2, head + "网络异常");
                out_->Push(std::make_unique<InTimeoutPacket>(std::move(packet)));
            }
        }
    }
}

int SendFileThread::Upload(const OutPacket& packet, ReplyLines& reply) {
    const std::string url = BaseUrl() + packet.GetUrl();
    const std::int64_t start = TickMs();
    const std::string failHead = "▼▼SF <-- ";
    TMsMultiPartFormDataStream stream;
    for (const auto& line : packet.GetParams()) {
        auto [name, value] = NameValue(line);
        stream.AddFormField(name, value);
    }
    for (const auto& line : packet.GetPostFields()) {
        auto [name, value] = NameValue(line);
        std::string error;
        if (!stream.AddFile(name, value, "", &error)) {
            LogLine(
                "NetSF", LogMsgType::Exception,
                failHead + std::to_string(TickMs() - start) + "ms " + url + "    ---------    \r\n" + error);
            return NET_ERROR;
        }
    }
    stream.PrepareStreamForDispatch();
    LogLine("NetSF", LogMsgType::Information, "▼▼SF --> " + url + "......");

    HttpRequest request;
    request.post = true;
    request.url = url;
    request.body = stream.Bytes();
    request.contentType = stream.ContentType();
    HttpExchange ex = Perform(request);
    const std::int64_t elapsed = TickMs() - start;
    const std::string head = "▼▼SF <-- " + std::to_string(elapsed) + "ms " + url + "    ---------    \r\n";
    switch (ex.failure) {
        case NetFailure::None:
            reply = SplitReplyLines(ex.body);
            LogLine("NetSF", LogMsgType::Information,
                    head + ex.requestHeaders + "\r\n<<<<\r\n" + ex.replyHeaders + "\r\n<<<<\r\n" +
                        JoinReplyLines(reply));
            CloseConnection();
            return NET_OK;
        case NetFailure::Closed:
            return NET_OK;
        case NetFailure::Terminated:
            return NET_TERMINATED;
        case NetFailure::ConnectTimeout:
        case NetFailure::ReadTimeout:
        case NetFailure::ConnectFailed:
        case NetFailure::Dns:
            LogLine("NetSF", LogMsgType::Warning, head + ex.message);
            CloseConnection();
            return NetCodeOf(ex.failure);
        default:
            LogLine("NetSF", LogMsgType::Exception, head + ex.message);
            CloseConnection();
            return NET_ERROR;
    }
}

}  // namespace morvale
