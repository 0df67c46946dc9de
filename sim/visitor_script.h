#pragma once

// Scripted website visitors that give a demo life: seeded arrivals from Chinese regions and search
// engines, page trails, chat requests, answers to the operator and departures. They act through the
// Service's visitor side, exactly like the browser page.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace morvale::sim {

class Service;

class VisitorScript {
  public:
    // Keeps up to `crowd` scripted visitors on site demo.
    VisitorScript(Service& service, std::uint32_t seed, int crowd);
    ~VisitorScript();
    void Start();
    void Stop();
    // Multiplies every rate (1 = about one arrival every 20 s); 0 pauses the script.
    void SetRate(double rate);
    // One step of the script; Start calls it about once a second.
    void Step();

  private:
    struct Walker {
        long inboxSeen = 0;
        int pagesLeft = 0;
        bool calledOnce = false;
        int pendingReply = 0;  // steps until the next answer
        int idleSteps = 0;
        std::string answer;
    };

    Service& service_;
    std::mt19937 rng_;
    int crowd_;
    std::map<std::string, Walker> walkers_;
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    double rate_ = 1.0;
};

}  // namespace morvale::sim
