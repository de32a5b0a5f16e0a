#include "tests/spool/script_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace genplot::test
{
namespace
{

int ExitStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::chrono::steady_clock::time_point After(double seconds)
{
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

} // namespace

ScriptProcess::ScriptProcess(const std::vector<std::string>& args,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             const std::string& errPath)
{
    int out[2];
    if (args.empty() || pipe2(out, O_CLOEXEC) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0)
    {
        setpgid(0, 0);
        dup2(out[1], STDOUT_FILENO);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        const int none = open("/dev/null", O_RDONLY);
        if (none >= 0)
            dup2(none, STDIN_FILENO);
        for (const auto& [name, value] : env)
        {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<std::string> copies(args);
        std::vector<char*> argv;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    outFd_ = out[0];
    if (pid_ > 0)
        setpgid(pid_, pid_); // also here, so a signal sent at once reaches the group
}

ScriptProcess::~ScriptProcess()
{
    if (pid_ > 0)
        Finish(0);
    if (outFd_ >= 0)
        close(outFd_);
}

bool ScriptProcess::ReadLine(std::string* line, double seconds)
{
    const auto deadline = After(seconds);
    for (;;)
    {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos)
        {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            lines_.push_back(*line);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (outFd_ < 0 || left < 0)
            return false;
        pollfd readable = {outFd_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return false;
        if (ready < 0)
            continue;
        char buffer[1024];
        const ssize_t got = read(outFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            // The end: a last line without a newline still counts.
            close(outFd_);
            outFd_ = -1;
            if (pending_.empty())
                return false;
            pending_ += '\n';
            continue;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

void ScriptProcess::SignalGroup(int signal) const
{
    if (pid_ > 0)
        kill(-pid_, signal);
}

int ScriptProcess::Finish(double seconds)
{
    if (pid_ <= 0)
        return -1;
    const auto deadline = After(seconds);
    std::string line;
    while (outFd_ >= 0 && std::chrono::steady_clock::now() < deadline)
        ReadLine(&line, 0.2);
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (ended == 0)
    {
        kill(-pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return ExitStatus(status);
}

bool AnyProcessMentions(const std::string& text)
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    const std::string self = std::to_string(getpid());
    while (const dirent* entry = readdir(proc))
    {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos || name == self)
            continue;
        // The state follows the command's name, which ends at the last ')'.
        std::ifstream statFile("/proc/" + name + "/stat");
        std::ostringstream stat;
        stat << statFile.rdbuf();
        const std::size_t nameEnd = stat.str().rfind(')');
        if (nameEnd == std::string::npos || stat.str().compare(nameEnd, 3, ") Z") == 0)
            continue;
        std::ifstream file("/proc/" + name + "/cmdline", std::ios::binary);
        std::ostringstream cmdline;
        cmdline << file.rdbuf();
        if (cmdline.str().find(text) != std::string::npos)
        {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

bool RunningUnderCi()
{
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

} // namespace genplot::test
