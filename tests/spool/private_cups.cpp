#include "tests/spool/private_cups.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/cups.h>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace genplot::test
{
namespace
{

constexpr const char* kScript = GENPLOT_PRIVATE_CUPSD;
// How long the script may take to start the scheduler, and to stop it (it gives cupsd 20 s).
constexpr int kStartSeconds = 60;
constexpr int kStopSeconds = 40;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A connection to the private scheduler, for the test's own requests.
http_t* Connect(const std::string& socketPath)
{
    return httpConnect2(socketPath.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                        nullptr);
}

// What follows `prefix` in `line`, when the line starts with it.
bool After(const std::string& line, const std::string& prefix, std::string* rest)
{
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    *rest = line.substr(prefix.size());
    return true;
}

} // namespace

PrivateCups::PrivateCups()
{
    if (const char* previous = std::getenv("CUPS_SERVER"))
    {
        previousServer_ = previous;
        hadPreviousServer_ = true;
    }
    if (!Start() && problem_.empty())
        problem_ = "the scheduler did not start";
}

PrivateCups::~PrivateCups()
{
    Stop();
    if (hadPreviousServer_)
        setenv("CUPS_SERVER", previousServer_.c_str(), 1);
    else
        unsetenv("CUPS_SERVER");
}

bool PrivateCups::Start()
{
    // Our ends of both pipes close on exec, so no program a test starts holds the scheduler up.
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0)
    {
        problem_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0)
    {
        problem_ = std::string("pipe: ") + std::strerror(errno);
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    pid_ = fork();
    if (pid_ == 0)
    {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        execl(kScript, kScript, Printer(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    toScript_ = toChild[1];
    fromScript_ = fromChild[0];
    if (pid_ < 0)
    {
        problem_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (!ReadStatusLines())
        return false;
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
    return true;
}

// Reads the script's lines up to "ready", or to the one that says why there is no scheduler.
bool PrivateCups::ReadStatusLines()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    std::string pending;
    for (;;)
    {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos)
        {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            std::string rest;
            if (line == "ready")
                return !socket_.empty() && !captureDirectory_.empty();
            if (After(line, "socket ", &socket_))
                continue;
            if (After(line, std::string("capture ") + Printer() + " ", &rest))
                captureDirectory_ = rest;
            else if (After(line, "unavailable: ", &problem_) || After(line, "failed: ", &problem_))
                return false;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            problem_ = std::string(kScript) + " did not start the scheduler in time";
            return false;
        }
        pollfd readable = {fromScript_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[512];
        const ssize_t got = ready > 0 ? read(fromScript_, buffer, sizeof buffer) : 0;
        if (got < 0 && errno == EINTR)
            continue;
        if (got > 0)
        {
            pending.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (ready > 0)
        {
            problem_ = std::string(kScript) + " ended without starting the scheduler";
            return false;
        }
    }
}

void PrivateCups::Stop()
{
    // The end of its input tells the script to stop the scheduler and remove the folder.
    if (toScript_ >= 0)
        close(toScript_);
    toScript_ = -1;
    if (pid_ > 0)
    {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
        while (waitpid(pid_, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() > deadline)
            {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    pid_ = -1;
    if (fromScript_ >= 0)
        close(fromScript_);
    fromScript_ = -1;
}

std::vector<CapturedJob> PrivateCups::Captured() const
{
    std::vector<CapturedJob> jobs;
    const std::string& folder = captureDirectory_;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr)
        return jobs;
    while (const dirent* entry = readdir(directory))
    {
        int id = 0;
        char tail[8] = {};
        if (std::sscanf(entry->d_name, "job-%d.%5s", &id, tail) != 2 ||
            std::strcmp(tail, "meta") != 0)
            continue;
        CapturedJob job;
        job.jobId = id;
        std::istringstream meta(ReadFile(folder + "/" + entry->d_name));
        std::string copies;
        std::getline(meta, job.title);
        std::getline(meta, copies);
        std::getline(meta, job.contentType);
        job.copies = std::atoi(copies.c_str());
        job.bytes = ReadFile(folder + "/job-" + std::to_string(id) + ".data");
        jobs.push_back(job);
    }
    closedir(directory);
    std::sort(jobs.begin(), jobs.end(),
              [](const CapturedJob& a, const CapturedJob& b) { return a.jobId < b.jobId; });
    return jobs;
}

std::vector<CapturedJob> PrivateCups::WaitForCaptured(std::size_t count, double seconds) const
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    std::vector<CapturedJob> jobs = Captured();
    while (jobs.size() < count && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        jobs = Captured();
    }
    return jobs;
}

int PrivateCups::UnfinishedJobs() const
{
    http_t* http = Connect(socket_);
    if (http == nullptr)
        return -1;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/printers/capture");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-id");
    ipp_t* response = cupsDoRequest(http, request, "/");
    int count = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE ? 0 : -1;
    for (ipp_attribute_t* attribute = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
         count >= 0 && attribute != nullptr;
         attribute = ippFindNextAttribute(response, "job-id", IPP_TAG_INTEGER))
        ++count;
    ippDelete(response);
    httpClose(http);
    return count;
}

bool PrivateCups::SetEnabled(bool enabled)
{
    http_t* http = Connect(socket_);
    if (http == nullptr)
        return false;
    ipp_t* request = ippNewRequest(enabled ? IPP_OP_RESUME_PRINTER : IPP_OP_PAUSE_PRINTER);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/printers/capture");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippDelete(cupsDoRequest(http, request, "/admin/"));
    const bool ok = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
    httpClose(http);
    return ok;
}

} // namespace genplot::test
