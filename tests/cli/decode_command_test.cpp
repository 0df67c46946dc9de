#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string kData = std::string(MORVALE_TEST_DATA) + "/protocol/";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs morvale-cli with the given arguments, standard input read from stdinPath.
CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null") {
    char outPath[] = "/tmp/morvale-cli-out-XXXXXX";
    char errPath[] = "/tmp/morvale-cli-err-XXXXXX";
    close(mkstemp(outPath));
    close(mkstemp(errPath));

    std::vector<std::string> argvText = {MORVALE_CLI};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath, O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath, O_WRONLY | O_TRUNC, 0);
    pid_t pid = -1;
    CliResult run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    unlink(outPath);
    unlink(errPath);
    return run;
}

TEST(DecodeCommand, PrintsOneJsonObjectPerPacketFromFileOrStdin) {
    const std::string expected = ReadFile(kData + "decode_vectors.jsonl");
    ASSERT_FALSE(expected.empty());

    CliResult fromFile = RunCli({"decode", kData + "decode_vectors.bin"});
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, expected);
    // The message packet's constructor announces itself; nothing else is logged.
    EXPECT_NE(fromFile.err.find("[InPacket] L2     InVisitorMsgPacket\n"), std::string::npos) << fromFile.err;
    EXPECT_EQ(fromFile.err.find("Error"), std::string::npos) << fromFile.err;

    for (std::vector<std::string> args : {std::vector<std::string>{"decode"}, {"decode", "-"}}) {
        CliResult fromStdin = RunCli(args, kData + "decode_vectors.bin");
        EXPECT_EQ(fromStdin.status, 0);
        EXPECT_EQ(fromStdin.out, expected);
    }
}

// One frame of every wire kind (and two unlisted types), each line of the expected output written
// out by hand from the frame format; compared line by line so a failure names the packet.
TEST(DecodeCommand, EveryKindMatchesHandWrittenVectors) {
    std::istringstream expected(ReadFile(kData + "decode_every_kind.jsonl"));
    CliResult run = RunCli({"decode", kData + "decode_every_kind.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
    std::istringstream actual(run.out);
    std::string want;
    std::string got;
    int line = 0;
    while (std::getline(expected, want)) {
        ++line;
        SCOPED_TRACE("line " + std::to_string(line));
        ASSERT_TRUE(std::getline(actual, got));
        EXPECT_EQ(got, want);
    }
    EXPECT_EQ(line, 29);
    EXPECT_FALSE(std::getline(actual, got)) << "extra output: " << got;
}

TEST(DecodeCommand, StoppedParseStillSucceedsAndReportsOnStderr) {
    CliResult run = RunCli({"decode", kData + "decode_stops_early.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "{\"kind\":132,\"seq\":1,\"length\":1,\"body\":\"4\",\"count\":4}\n");
    EXPECT_NE(
        run.err.find("[Packet] Error [PacketParser]'abc' is not a valid integer value ---->>> Content="),
        std::string::npos)
        << run.err;
}

TEST(DecodeCommand, EmptyOrFramelessInputPrintsNothing) {
    CliResult run = RunCli({"decode"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(DecodeCommand, BundledSampleDecodesCompletely) {
    CliResult run = RunCli({"decode", kData + "sample_reply.bin"});
    EXPECT_EQ(run.status, 0);
    std::istringstream lines(run.out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        EXPECT_EQ(line.rfind("{\"kind\":", 0), 0u);
    }
    EXPECT_EQ(count, 20);
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
}

TEST(DecodeCommand, UsageErrorsAndUnreadableFilesExitWithTwo) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no command", {}, "no command given"},
        {"unknown command", {"encode"}, "unknown command \"encode\""},
        {"two files", {"decode", "a", "b"}, "unexpected argument \"b\""},
        {"unknown option", {"decode", "--raw"}, "unexpected argument \"--raw\""},
        {"missing file", {"decode", "/nonexistent/reply.bin"}, "cannot read /nonexistent/reply.bin"},
        {"directory", {"decode", "/"}, "cannot read /"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliResult run = RunCli(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

TEST(DecodeCommand, HelpGoesToStdout) {
    CliResult run = RunCli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("morvale-cli decode [FILE]"), std::string::npos);
}

}  // namespace
