#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&, const morvale::cli::CommandStreams&);
    const char* const* usage;
};

// Each sub-command lives in its own file; adding one means one row here.
const Command kCommands[] = {
    {"decode", morvale::cli::DecodeCommand, &morvale::cli::kDecodeUsage},
    {"run", morvale::cli::RunCommand, &morvale::cli::kRunUsage},
};

void PrintUsage(std::FILE* stream) {
    std::fprintf(stream, "usage:\n");
    for (const Command& command : kCommands) std::fprintf(stream, "  %s\n", *command.usage);
}

}  // namespace

int main(int argc, char** argv) {
    const morvale::cli::CommandStreams io{stdin, stdout, stderr};
    if (argc < 2) {
        std::fprintf(stderr, "morvale-cli: no command given\n");
        PrintUsage(stderr);
        return morvale::cli::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(stdout);
        return morvale::cli::kExitOk;
    }
    for (const Command& command : kCommands) {
        if (name == command.name) return command.run(std::vector<std::string>(argv + 2, argv + argc), io);
    }
    std::fprintf(stderr, "morvale-cli: unknown command \"%s\"\n", name.c_str());
    PrintUsage(stderr);
    return morvale::cli::kExitUsage;
}
