#pragma once

// Runs the genplot program as a child process, the way a user runs it, and collects its exit
// status, stdout and stderr. The environment is inherited, so a ScopedEnvVar or a
// DispatchSandbox of the test applies to the child.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace genplot::test
{

struct ProgramResult
{
    /// Exit status, or -1 when the child was ended by a signal.
    int exitCode = -1;
    int signal = 0;
    std::string out;
    std::string err;
};

/// A running genplot process with stdout and stderr on pipes.
class GenplotProcess
{
  public:
    explicit GenplotProcess(const std::vector<std::string>& args)
    {
        int outPipe[2];
        int errPipe[2];
        if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0)
        {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            close(outPipe[0]);
            close(outPipe[1]);
            close(errPipe[0]);
            close(errPipe[1]);
            std::vector<char*> argv;
            std::string exe = GENPLOT_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copies(args);
            for (std::string& a : copies)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
    }

    ~GenplotProcess()
    {
        if (pid_ > 0 && !waited_)
        {
            kill(pid_, SIGKILL);
            Wait();
        }
    }

    GenplotProcess(const GenplotProcess&) = delete;
    GenplotProcess& operator=(const GenplotProcess&) = delete;

    bool Started() const
    {
        return pid_ > 0;
    }

    /// Reads output until `done(stderr so far)` holds, both pipes close, or `timeout` passes.
    /// True when `done` held.
    bool ReadUntil(const std::function<bool(const std::string&)>& done,
                   std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done(result_.err))
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || (outFd_ < 0 && errFd_ < 0))
                return false;
            PollOnce(static_cast<int>(left.count()));
        }
        return true;
    }

    void Signal(int number)
    {
        kill(pid_, number);
    }

    /// Reads the rest of the output and waits for the exit.
    ProgramResult Wait()
    {
        while (outFd_ >= 0 || errFd_ >= 0)
            PollOnce(-1);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR)
        {
        }
        waited_ = true;
        if (WIFEXITED(status))
            result_.exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result_.signal = WTERMSIG(status);
        return result_;
    }

  private:
    void PollOnce(int timeoutMs)
    {
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) <= 0)
            return;
        Drain(fds[0], outFd_, result_.out);
        Drain(fds[1], errFd_, result_.err);
    }

    static void Drain(const pollfd& fd, int& owned, std::string& into)
    {
        if (owned < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            return;
        char buffer[65536];
        const ssize_t got = read(owned, buffer, sizeof buffer);
        if (got > 0)
        {
            into.append(buffer, static_cast<std::size_t>(got));
            return;
        }
        if (got < 0 && errno == EINTR)
            return;
        close(owned);
        owned = -1;
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool waited_ = false;
    ProgramResult result_;
};

/// Runs genplot with `args` to its end.
inline ProgramResult RunGenplot(const std::vector<std::string>& args)
{
    GenplotProcess process(args);
    return process.Wait();
}

/// Number of lines in `text` (a last line without a newline counts).
inline int LineCount(const std::string& text)
{
    int lines = 0;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    return lines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

/// HP-GL for a plot with one big piece and `lines` short lines inside it: the writer moves
/// the progress bar and pumps messages once per line, so the write takes a while.
inline std::string LargeDrawing(int lines)
{
    std::string text = "IN;SP1;PU0,0;EA400000,400000;";
    text.reserve(text.size() + static_cast<std::size_t>(lines) * 32);
    for (int i = 0; i < lines; ++i)
    {
        const int x = 1000 + (i % 600) * 600;
        const int y = 1000 + (i / 600) * 600;
        text += "PU" + std::to_string(x) + "," + std::to_string(y) + ";PD" +
                std::to_string(x + 300) + "," + std::to_string(y + 200) + ";";
    }
    return text + "PU;";
}

} // namespace genplot::test
