#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/packet_json.h"
#include "core/gbk.h"
#include "core/log.h"
#include "protocol/in_packet.h"

namespace morvale::cli {

const char* const kDecodeUsage =
    "morvale-cli decode [FILE]   decode a reply body from FILE (or standard input, or -)";

namespace {

// The whole stream as raw bytes; none on a read error (errno tells why).
std::optional<std::string> ReadAll(std::FILE* stream) {
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) data.append(buffer, n);
    if (std::ferror(stream)) return std::nullopt;
    return data;
}

}  // namespace

int DecodeCommand(const std::vector<std::string>& args, const CommandStreams& io) {
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::fprintf(io.out, "usage: %s\n", kDecodeUsage);
        return kExitOk;
    }
    if (args.size() > 1 || (args.size() == 1 && args[0].size() > 1 && args[0][0] == '-')) {
        std::fprintf(io.err, "morvale-cli decode: unexpected argument \"%s\"\nusage: %s\n",
                     args[args.size() > 1 ? 1 : 0].c_str(), kDecodeUsage);
        return kExitUsage;
    }

    const bool fromStdin = args.empty() || args[0] == "-";
    const std::string name = fromStdin ? "standard input" : args[0];
    std::optional<std::string> body;
    int readErrno = 0;
    if (fromStdin) {
        body = ReadAll(io.in);
        readErrno = errno;
    } else if (std::FILE* file = std::fopen(args[0].c_str(), "rb")) {
        body = ReadAll(file);
        readErrno = errno;
        std::fclose(file);
    } else {
        readErrno = errno;
    }
    if (!body) {
        std::fprintf(io.err, "morvale-cli decode: cannot read %s: %s\n", name.c_str(),
                     std::strerror(readErrno));
        return kExitUsage;
    }

    // Parser complaints go to standard error, not to a log file beside the tool. The sink writes GBK;
    // its lines are collected and converted like the output so the terminal shows them readably.
    SetLogFilePath("");
    char* logText = nullptr;
    std::size_t logSize = 0;
    std::FILE* logStream = open_memstream(&logText, &logSize);
    SetLogEcho(logStream);
    InPacketList packets = ParsePackets(*body);
    SetLogEcho(nullptr);
    if (logStream != nullptr) {
        std::fclose(logStream);
        std::string utf8 = GbkToUtf8(std::string_view(logText, logSize));
        std::fwrite(utf8.data(), 1, utf8.size(), io.err);
        std::free(logText);
    }

    for (const auto& packet : packets) {
        std::string line = PacketJson(*packet).Str();
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), io.out);
    }
    if (std::fflush(io.out) != 0 || std::ferror(io.out)) {
        std::fprintf(io.err, "morvale-cli decode: cannot write the output: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace morvale::cli
