#pragma once

#include <string>
#include <vector>

// A CUPS scheduler of the test's own, run by scripts/private_cupsd (which the sample uses too):
// cupsd from a private configuration in a temporary folder, listening only on a domain socket
// there, with one raw destination "capture" whose device is a small backend that writes each
// job's bytes into a folder. CUPS_SERVER points at it for the test (and the programs it runs);
// the scheduler is stopped, and the folder removed, when the object goes, and also when the
// test process dies, since the script stops when its standard input (our pipe) ends.

namespace genplot::test
{

/// One job as the capture backend received it.
struct CapturedJob
{
    int jobId = 0;
    std::string title;
    int copies = 0;
    std::string contentType;
    std::string bytes;
};

class PrivateCups
{
  public:
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    /// True when the scheduler runs and the destination is there; else `Problem()` says why.
    bool Running() const
    {
        return pid_ > 0 && problem_.empty();
    }
    const std::string& Problem() const
    {
        return problem_;
    }

    /// The scheduler's domain socket.
    const std::string& Socket() const
    {
        return socket_;
    }

    /// The destination's name.
    static const char* Printer()
    {
        return "capture";
    }

    /// The jobs the device received so far, by job id.
    std::vector<CapturedJob> Captured() const;

    /// Waits until the device received `count` jobs or `seconds` passed; the jobs received.
    std::vector<CapturedJob> WaitForCaptured(std::size_t count, double seconds) const;

    /// Jobs the scheduler still has to finish (pending, held, processing or stopped).
    int UnfinishedJobs() const;

    /// Stops (pauses) or starts the destination, as cupsdisable and cupsenable do.
    bool SetEnabled(bool enabled);

    /// Stops the scheduler and waits for it (idempotent).
    void Stop();

  private:
    bool Start();
    bool ReadStatusLines();

    std::string socket_;
    std::string captureDirectory_;
    std::string problem_;
    std::string previousServer_;
    bool hadPreviousServer_ = false;
    int pid_ = -1;
    int toScript_ = -1;
    int fromScript_ = -1;
};

/// Fails the test when the scheduler is not running and CI is "true"; skips it otherwise.
#define GENPLOT_REQUIRE_CUPS(cups)                                                                 \
    do                                                                                             \
    {                                                                                              \
        if (!(cups).Running())                                                                     \
        {                                                                                          \
            const char* ci = std::getenv("CI");                                                    \
            if (ci != nullptr && std::string(ci) == "true")                                        \
                FAIL() << "no private CUPS scheduler: " << (cups).Problem();                       \
            GTEST_SKIP() << "no private CUPS scheduler: " << (cups).Problem();                     \
        }                                                                                          \
    } while (false)

} // namespace genplot::test
