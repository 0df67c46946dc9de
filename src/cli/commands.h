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

// run --site S --user U --pass P [...]: a headless operator session; callbacks as JSON lines on out,
// commands one per line on in. Exit status 3: sign-in refused, 4: timed out, 5: signed in elsewhere.
inline constexpr int kExitRefused = 3;
inline constexpr int kExitTimedOut = 4;
inline constexpr int kExitElsewhere = 5;
int RunCommand(const std::vector<std::string>& args, const CommandStreams& io);
extern const char* const kRunUsage;

}  // namespace morvale::cli
