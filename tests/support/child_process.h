#pragma once

// Child processes for the tests that run the real executables: morvale-cli run and the stand-in
// service morvale-sim (the test target defines MORVALE_CLI / MORVALE_SIM as their paths).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace morvale::test {

// A program run as a child process with its standard input and output on pipes; the output is
// collected line by line.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args) {
        int in[2], out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        home_ = testing::TempDir() + "cli_run_home";
        mkdir(home_.c_str(), 0700);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            setenv("MORVALE_HOME", home_.c_str(), 1);
            unsetenv("MORVALE_BASE_URL");
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        reader_ = std::thread([this, fd = out[0]] {
            std::string pending;
            char buf[4096];
            for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
                pending.append(buf, static_cast<std::size_t>(n));
                for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(pending.substr(0, nl));
                    pending.erase(0, nl + 1);
                    changed_.notify_all();
                }
            }
            close(fd);
        });
    }

    ~ChildProcess() {
        CloseInput();
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
    }

    void Send(const std::string& utf8Line) {
        const std::string line = utf8Line + "\n";
        ASSERT_EQ(write(stdin_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    void CloseInput() {
        if (stdin_ >= 0) close(stdin_);
        stdin_ = -1;
    }

    // The first line not yet taken by an earlier wait that holds every given part (UTF-8); empty when
    // none arrives in time.
    std::string WaitFor(const std::vector<std::string>& parts,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        std::string found;
        changed_.wait_for(lock, timeout, [&] {
            taken_.resize(lines_.size(), false);
            for (std::size_t i = 0; i < lines_.size(); ++i) {
                if (taken_[i]) continue;
                bool all = true;
                for (const auto& p : parts) all = all && lines_[i].find(p) != std::string::npos;
                if (all) {
                    taken_[i] = true;
                    found = lines_[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    // The exit status, or -1 when the process does not end in time.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
        return -1;
    }

    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool exited_ = false;
    std::string home_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<bool> taken_;
};

#ifdef MORVALE_CLI
// morvale-cli run with the given arguments.
class Cli : public ChildProcess {
  public:
    explicit Cli(std::vector<std::string> args) : ChildProcess(MORVALE_CLI, WithRun(std::move(args))) {}

  private:
    static std::vector<std::string> WithRun(std::vector<std::string> args) {
        args.insert(args.begin(), "run");
        return args;
    }
};
#endif

#ifdef MORVALE_SIM
}  // namespace morvale::test

#include <httplib.h>

namespace morvale::test {

// morvale-sim on a free loopback port, without scripted visitors and with a short push interval.
class Sim : public ChildProcess {
  public:
    explicit Sim(const std::vector<std::string>& extraArgs = {})
        : ChildProcess(MORVALE_SIM, Args(extraArgs)) {
        const std::string line = WaitFor({"morvale-sim listening on http://127.0.0.1:"});
        std::smatch m;
        if (std::regex_search(line, m, std::regex("http://127\\.0\\.0\\.1:([0-9]+)"))) port = std::stoi(m[1]);
    }

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port) + "/morvale"; }

    // A control call; the answer's body ("" when the call failed).
    std::string Control(const std::string& name, const std::string& json) {
        httplib::Client http("127.0.0.1", port);
        auto res = http.Post(("/_sim/" + name).c_str(), json, "application/json");
        return res && res->status == 200 ? res->body : std::string();
    }

    int port = 0;

  private:
    static std::vector<std::string> Args(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"--listen", "127.0.0.1:0", "--visitors", "0", "--push-interval", "50"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};
#endif

}  // namespace morvale::test
