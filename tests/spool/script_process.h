#pragma once

// Runs one of the project's shell scripts as a child in a process group of its own, the way a
// terminal runs a command: stdout on a pipe the test reads line by line, stderr into a file,
// extra environment variables on top of the test's own.

#include <string>
#include <utility>
#include <vector>

namespace genplot::test
{

class ScriptProcess
{
  public:
    /// Starts `args[0]` with the rest as arguments; `env` adds (or, with an empty value,
    /// removes) variables; stderr goes to `errPath`.
    ScriptProcess(const std::vector<std::string>& args,
                  const std::vector<std::pair<std::string, std::string>>& env,
                  const std::string& errPath);
    /// Waits for it (after a SIGKILL to its group when it is still running).
    ~ScriptProcess();
    ScriptProcess(const ScriptProcess&) = delete;
    ScriptProcess& operator=(const ScriptProcess&) = delete;

    bool Started() const
    {
        return pid_ > 0;
    }

    /// The script's own process id (the group's too).
    int Pid() const
    {
        return pid_;
    }

    /// The next stdout line without its newline; false at the end or after `seconds`.
    bool ReadLine(std::string* line, double seconds);

    /// Sends `signal` to the script's whole process group, as Ctrl-C does to a terminal's.
    void SignalGroup(int signal) const;

    /// Reads the rest of stdout and waits; the exit status, or 128 + the signal that ended it,
    /// or -1 when it did not end within `seconds` (it is then killed).
    int Finish(double seconds);

    /// Every stdout line read so far.
    const std::vector<std::string>& Lines() const
    {
        return lines_;
    }

  private:
    int pid_ = -1;
    int outFd_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

/// Whether a running process has `text` in its command line (zombies and ourselves excepted).
bool AnyProcessMentions(const std::string& text);

/// Whether CI is "true": a test that cannot reach what it checks fails there instead of
/// skipping.
bool RunningUnderCi();

} // namespace genplot::test
