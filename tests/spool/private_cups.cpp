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
#include <ftw.h>
#include <pwd.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace genplot::test
{
namespace
{

constexpr const char* kCupsd = "/usr/sbin/cupsd";
constexpr const char* kLpadmin = "/usr/sbin/lpadmin";
constexpr const char* kSystemServerBin = "/usr/lib/cups";

// The device: writes the job's bytes, then a note of its title, copies and type, each under a
// temporary name renamed when whole, so a reader never sees half a job. Called without
// arguments, it lists itself as CUPS asks of every backend.
constexpr const char* kCaptureBackend = R"(#!/bin/sh
if [ $# -eq 0 ]; then
    echo 'direct capture "Unknown" "Test capture device"'
    exit 0
fi
dir=${DEVICE_URI#capture:}
if [ -n "$6" ]; then
    cat "$6" > "$dir/.job-$1.data" || exit 1
else
    cat > "$dir/.job-$1.data" || exit 1
fi
printf '%s\n%s\n%s\n' "$3" "$4" "$CONTENT_TYPE" > "$dir/.job-$1.meta" || exit 1
mv "$dir/.job-$1.data" "$dir/job-$1.data" && mv "$dir/.job-$1.meta" "$dir/job-$1.meta"
)";

bool WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out.good() && chmod(path.c_str(), mode) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

bool CanConnect(const std::string& socketPath)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// A connection to the private scheduler, for the test's own requests.
http_t* Connect(const std::string& socketPath)
{
    return httpConnect2(socketPath.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                        nullptr);
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
    if (!root_.empty())
        nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (hadPreviousServer_)
        setenv("CUPS_SERVER", previousServer_.c_str(), 1);
    else
        unsetenv("CUPS_SERVER");
}

bool PrivateCups::Start()
{
    if (access(kCupsd, X_OK) != 0 || access(kLpadmin, X_OK) != 0)
    {
        problem_ = "cupsd or lpadmin is not installed (Debian: cups-daemon, cups-client)";
        return false;
    }
    const passwd* lp = getpwnam("lp");
    if (geteuid() != 0 || lp == nullptr)
    {
        problem_ = "the scheduler runs its jobs as user lp and needs to be started as root";
        return false;
    }
    // Below /tmp: the socket's path must fit a sockaddr_un, whatever the build folder is.
    char pattern[] = "/tmp/gpcups.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
    {
        problem_ = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    root_ = pattern;
    socket_ = root_ + "/cups.sock";
    chmod(root_.c_str(), 0755);
    for (const char* folder :
         {"conf", "bin", "bin/backend", "spool", "spool/tmp", "cache", "state", "log", "capture"})
        mkdir((root_ + "/" + folder).c_str(), 0755);
    // The private ServerBin: the system's helpers and backends, and the capture backend.
    for (const char* folder : {"daemon", "notifier", "filter", "monitor", "driver"})
    {
        const std::string system = std::string(kSystemServerBin) + "/" + folder;
        if (access(system.c_str(), F_OK) == 0)
            symlink(system.c_str(), (root_ + "/bin/" + folder).c_str());
    }
    if (DIR* backends = opendir((std::string(kSystemServerBin) + "/backend").c_str()))
    {
        while (const dirent* entry = readdir(backends))
        {
            if (entry->d_name[0] == '.')
                continue;
            const std::string name = entry->d_name;
            symlink((std::string(kSystemServerBin) + "/backend/" + name).c_str(),
                    (root_ + "/bin/backend/" + name).c_str());
        }
        closedir(backends);
    }
    const std::string conf = root_ + "/conf";
    const bool written =
        WriteFile(root_ + "/bin/backend/capture", kCaptureBackend, 0755) &&
        WriteFile(conf + "/cups-files.conf",
                  "User lp\nGroup lp\nSystemGroup root\nServerRoot " + conf + "\nServerBin " +
                      root_ + "/bin\nDataDir /usr/share/cups\nRequestRoot " + root_ +
                      "/spool\nTempDir " + root_ + "/spool/tmp\nCacheDir " + root_ +
                      "/cache\nStateDir " + root_ + "/state\nAccessLog " + root_ +
                      "/log/access_log\nErrorLog " + root_ + "/log/error_log\nPageLog " + root_ +
                      "/log/page_log\nFileDevice No\n",
                  0644) &&
        WriteFile(conf + "/cupsd.conf",
                  "Listen " + socket_ +
                      "\nBrowsing Off\nWebInterface No\nLogLevel info\nDefaultAuthType None\n"
                      "PreserveJobHistory Yes\nMaxJobs 0\n"
                      "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                      "</Policy>\n",
                  0644);
    if (!written)
    {
        problem_ = "cannot write the scheduler's configuration in " + root_;
        return false;
    }
    for (const char* folder : {"spool", "spool/tmp", "cache", "state", "log", "capture"})
        chown((root_ + "/" + folder).c_str(), lp->pw_uid, lp->pw_gid);

    pid_ = fork();
    if (pid_ == 0)
    {
        const int log = open((root_ + "/log/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0)
        {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        const std::string files = conf + "/cups-files.conf";
        const std::string daemon = conf + "/cupsd.conf";
        execl(kCupsd, kCupsd, "-f", "-c", daemon.c_str(), "-s", files.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0)
    {
        problem_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!CanConnect(socket_))
    {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_)
        {
            pid_ = -1;
            problem_ = "cupsd exited: " + ReadFile(root_ + "/log/stdout") +
                       ReadFile(root_ + "/log/error_log");
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline)
        {
            problem_ = "cupsd did not open its socket in time";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
    if (!RunClientTool({kLpadmin, "-p", Printer(), "-v", "capture:" + root_ + "/capture", "-E"}))
    {
        problem_ =
            "lpadmin could not add the capture destination: " + ReadFile(root_ + "/log/error_log");
        return false;
    }
    return true;
}

bool PrivateCups::RunClientTool(const std::vector<std::string>& args)
{
    const pid_t child = fork();
    if (child == 0)
    {
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0)
            dup2(quiet, STDOUT_FILENO);
        std::vector<char*> argv;
        std::vector<std::string> copies(args);
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PrivateCups::Stop()
{
    if (pid_ <= 0)
        return;
    // cupsd stops its jobs' backends before it exits.
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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
    pid_ = -1;
}

std::vector<CapturedJob> PrivateCups::Captured() const
{
    std::vector<CapturedJob> jobs;
    const std::string folder = root_ + "/capture";
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
