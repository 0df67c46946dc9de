// morvale-sim: the stand-in live-chat service for demos and end-to-end tests.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_server.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Usage() {
    std::fprintf(stderr,
                 "usage: morvale-sim [--listen HOST:PORT] [--accounts FILE] [--visitors N] [--seed S]\n"
                 "                   [--push-interval MS] [--push-hold MS] [--log FILE]\n");
}

bool ParseInt(const char* text, long min, long max, long* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < min || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    morvale::sim::SimOptions options;
    options.scriptedVisitors = 5;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "morvale-sim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        long n = 0;
        if (arg == "--listen") {
            std::string hp = value();
            size_t colon = hp.rfind(':');
            if (colon == std::string::npos || !ParseInt(hp.c_str() + colon + 1, 0, 65535, &n)) {
                std::fprintf(stderr, "morvale-sim: --listen wants HOST:PORT\n");
                return 2;
            }
            options.host = hp.substr(0, colon);
            options.port = static_cast<int>(n);
        } else if (arg == "--accounts") {
            auto loaded = morvale::sim::LoadAccounts(value());
            if (!loaded.error.empty()) {
                std::fprintf(stderr, "morvale-sim: accounts: %s\n", loaded.error.c_str());
                return 2;
            }
            options.accounts = loaded.accounts;
        } else if (arg == "--visitors") {
            if (!ParseInt(value(), 0, 1000, &n)) return Usage(), 2;
            options.scriptedVisitors = static_cast<int>(n);
        } else if (arg == "--seed") {
            if (!ParseInt(value(), 0, 4294967295L, &n)) return Usage(), 2;
            options.service.seed = static_cast<std::uint32_t>(n);
        } else if (arg == "--push-interval") {
            if (!ParseInt(value(), 0, 600000, &n)) return Usage(), 2;
            options.service.pushIntervalMs = static_cast<int>(n);
        } else if (arg == "--push-hold") {
            if (!ParseInt(value(), 0, 600000, &n)) return Usage(), 2;
            options.service.pushHoldMs = static_cast<int>(n);
        } else if (arg == "--log") {
            options.logPath = value();
        } else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else {
            std::fprintf(stderr, "morvale-sim: unknown argument %s\n", arg.c_str());
            Usage();
            return 2;
        }
    }
    morvale::sim::SimServer server(options);
    if (!server.Start()) {
        std::fprintf(stderr, "morvale-sim: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("morvale-sim listening on %s (edition prefix: any, real server: %s%s)\n",
                server.BaseUrl().c_str(), server.BaseUrl().c_str(), options.service.realPrefix.c_str());
    std::printf("visitor page: %s/site/demo/\n", server.BaseUrl().c_str());
    std::fflush(stdout);
    while (!g_stop) {
        struct timespec ts {
            0, 200 * 1000 * 1000
        };
        nanosleep(&ts, nullptr);
    }
    server.Stop();
    return 0;
}
