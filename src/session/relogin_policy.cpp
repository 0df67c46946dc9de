#include "session/relogin_policy.h"

#include "core/log.h"
#include "protocol/in_packet.h"
#include "session/client.h"

namespace morvale {

ReLoginPolicy::ReLoginPolicy(Client& client, Hooks hooks) : client_(client), hooks_(std::move(hooks)) {}

std::chrono::milliseconds ReLoginPolicy::RetryDelay(int attempts) {
    using std::chrono::milliseconds;
    return attempts == 0 ? milliseconds(10000) : attempts == 1 ? milliseconds(30000) : milliseconds(60000);
}

void ReLoginPolicy::OnClientCallback(const CallbackInfo& info) {
    if (info.code == CbcOpMustReLogin) {
        if (relogging_) return;
        relogging_ = true;
        if (hooks_.started) hooks_.started();
        client_.StopKeepalive();
        client_.Login();
        return;
    }
    if (info.code != CbcLogin || !relogging_) return;
    if (info.status == 1) {
        LogLine("Form", 0, "    [TCustomerForm::WMClientCallback]CbcLogin 重登陆超时了");
        const auto delay = RetryDelay(reloginAttempts_);
        ++reloginAttempts_;
        if (hooks_.startTimer) hooks_.startTimer(delay);
        return;
    }
    const auto* reply = static_cast<const InLoginPacket*>(info.packet());
    const bool ok = reply != nullptr && reply->ok;
    if (ok) {
        LogLine("Form", 0, "    [TCustomerForm::WMClientCallback]CbcLogin 重登陆成功了");
        client_.StartKeepalive();
        client_.RequestVisitorList();
    }
    relogging_ = false;
    reloginAttempts_ = 0;
    if (hooks_.ended) hooks_.ended(ok);
}

void ReLoginPolicy::OnTimer() {
    if (relogging_) client_.Login();
}

}  // namespace morvale
