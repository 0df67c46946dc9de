#pragma once

// Keeps a signed-in session alive after the service reports it lost: the first CbcOpMustReLogin
// stops the keep-alive and signs in again; each time-out of that sign-in is retried after 10 s, 30 s,
// then every 60 s; a reply ends the re-login (on success the keep-alive and the visitor list are
// requested again; a refusal is not retried). Another CbcOpMustReLogin while re-logging is ignored.
// The owner supplies the one-shot timer (a QTimer in the workbench, the main loop in the CLI).

#include <chrono>
#include <functional>

#include "session/callback.h"

namespace morvale {

class Client;

class ReLoginPolicy : public ClientListener {
  public:
    struct Hooks {
        // Arms the one-shot timer whose expiry must call OnTimer.
        std::function<void(std::chrono::milliseconds)> startTimer;
        // Re-login began (show the offline state).
        std::function<void()> started;
        // Re-login ended with a reply; ok tells whether the service accepted the sign-in.
        std::function<void(bool ok)> ended;
    };

    ReLoginPolicy(Client& client, Hooks hooks);

    void OnClientCallback(const CallbackInfo& info) override;
    // The timer armed through Hooks::startTimer expired: sign in again.
    void OnTimer();

    bool relogging() const { return relogging_; }
    int reloginAttempts() const { return reloginAttempts_; }

    // The wait before the next attempt after `attempts` time-outs.
    static std::chrono::milliseconds RetryDelay(int attempts);

  private:
    Client& client_;
    Hooks hooks_;
    bool relogging_ = false;
    int reloginAttempts_ = 0;
};

}  // namespace morvale
