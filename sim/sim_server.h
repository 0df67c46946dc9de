#pragma once

// morvale-sim's HTTP face: the protocol endpoints below the edition and real-server prefixes, the
// web pages, the visitor site, the updater's files and the /_sim/ control API, with per-endpoint
// fault injection and a log of every request received. Runs on its own listening thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "faults.h"
#include "http_util.h"
#include "service.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace morvale::sim {

class VisitorScript;

struct SimOptions {
    std::string host = "127.0.0.1";
    int port = 8848;  // 0 picks a free port
    std::vector<Account> accounts = DefaultAccounts();
    ServiceOptions service;
    int scriptedVisitors = 0;  // scripted visitors kept on the site (0: none)
    std::string logPath;       // request log file (empty: none)
};

// The updater's side: what /dl/update.php offers.
struct UpdateOffer {
    std::string version = "0.0.0.0";
    int noticeType = 0;
    std::string description;
    std::string fileName = "morvale-setup.exe";
    std::string installer = "#!/bin/sh\necho morvale installer\n";
    long sizeOverride = -1;  // announce this size instead of the installer's (to test a mismatch)
};

class SimServer {
  public:
    explicit SimServer(SimOptions options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and starts serving on a thread; false when the address cannot be bound.
    bool Start();
    void Stop();
    int port() const { return port_; }
    std::string BaseUrl() const;  // "http://host:port"
    Service& service() { return *service_; }

  private:
    struct LogEntry {
        long n = 0;
        long ms = 0;
        std::string method, target, headers, body;
        int remotePort = 0;
    };

    void Handle(const httplib::Request& req, httplib::Response& res);
    void HandleProtocol(const httplib::Request& req, httplib::Response& res, const std::string& path,
                        const Params& params, const std::string& body);
    bool HandlePages(const httplib::Request& req, httplib::Response& res, const std::string& path,
                     const Params& params);
    void HandleControl(const httplib::Request& req, httplib::Response& res, const std::string& path,
                       const Params& params);
    void HandleVisitorSite(const httplib::Request& req, httplib::Response& res, const std::string& path,
                           const Params& params, const std::string& body);
    void Record(const httplib::Request& req, const std::string& body);
    // Applies a fault to the normal answer; false when the connection must be dropped without a reply.
    bool ApplyFault(const Fault& f, const httplib::Request& req, httplib::Response& res);
    void WaitWhileStopped(const httplib::Request& req);
    void SleepFor(int ms);
    Json LogJson(long since);

    SimOptions options_;
    std::unique_ptr<Service> service_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<VisitorScript> script_;
    std::thread thread_;
    int port_ = 0;
    FaultTable faults_;

    std::mutex mu_;  // guards what follows
    std::condition_variable cv_;
    bool stopped_ = false;  // stop answering (control API)
    bool dropWhileStopped_ = false;
    bool shuttingDown_ = false;
    std::deque<LogEntry> log_;
    long nextLog_ = 1;
    UpdateOffer update_;
    bool faqGzip_ = false;
    std::ofstream logFile_;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace morvale::sim
