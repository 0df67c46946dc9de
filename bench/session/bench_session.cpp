#include "bench_session.h"

#include "core/log.h"

namespace morvale::bench {

std::string Frame(int type, std::initializer_list<std::string> fields, int seq) {
    std::string payload;
    bool first = true;
    for (const auto& f : fields) {
        if (!first) payload += '\x06';
        payload += f;
        first = false;
    }
    std::string frame(1, '\x02');
    frame += std::to_string(type);
    frame += '\x05';
    frame += std::to_string(seq);
    frame += '\x05';
    frame += std::to_string(payload.size());
    frame += '\x05';
    frame += payload;
    frame += '\x03';
    return frame;
}

SignedInClient::SignedInClient() {
    // The handlers' lines are formatted as usual but not written to a file.
    SetLogFilePath("");
    client = std::make_unique<Client>(std::make_unique<NullNet>(), executor,
                                      ClientOptions{"morvale", "http://127.0.0.1:1/morvale"});
    client->SetUser(std::make_unique<User>("demo", "op01", "123456"));
    Feed(Frame(104, {"1", "sess1", "asp1", "demo", "op1", "op01", "王小明", "0", "/faq/op01.xml", "0", "0"}));
}

}  // namespace morvale::bench
