#pragma once

// The sub-commands of morvale-cli. Each takes the arguments after its own name and the three
// standard streams, and returns the process exit status.

#include <cstdio>
#include <string>
#include <vector>

namespace morvale::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran but could not finish (output not writable)
inline constexpr int kExitUsage = 2;    // bad arguments or unreadable input

struct CommandStreams {
    std::FILE* in;
    std::FILE* out;
    std::FILE* err;
};

// decode [FILE]: prints every packet of a captured reply body as one JSON object per line.
int DecodeCommand(const std::vector<std::string>& args, const CommandStreams& io);
extern const char* const kDecodeUsage;

}  // namespace morvale::cli
