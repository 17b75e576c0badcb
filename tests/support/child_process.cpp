#include "support/child_process.h"

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace telvane::test {

namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> args) {
    int in[2];
    int out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv = argvOf(args);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
}

ChildProcess::~ChildProcess() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
}

void ChildProcess::closeInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
}

void ChildProcess::signal(int number) {
    // Once reaped, its pid may be another process's.
    if (pid_ > 0 && !exited_) kill(pid_, number);
}

bool ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    return stdin_ >= 0 && ::write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::string ChildProcess::readLine(int timeoutMs) {
    std::string line;
    char c = 0;
    while (true) {
        pollfd fd{stdout_, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) != 1 || ::read(stdout_, &c, 1) != 1) return line;
        if (c == '\n') return line;
        line.push_back(c);
    }
}

int ChildProcess::waitExit(int timeoutMs) {
    // Looks at least once, so waitExit(0) asks without waiting.
    for (int waited = 0;; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (waited >= timeoutMs) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ProgramRun runProgram(const std::vector<std::string>& argvText, int timeoutMs) {
    ProgramRun run;
    int out[2];
    int err[2];
    if (pipe(out) != 0) return run;
    if (pipe(err) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> args = argvText;
    std::vector<char*> argv = argvOf(args);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&run.out, &run.err};
    int open = pid > 0 ? 2 : 0;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    if (pid <= 0) return run;
    if (open > 0) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace telvane::test
