#pragma once

#include <string>
#include <vector>

// A CUPS destination as the spooler uses it, over IPP through libcups. Every job is created
// held, gets its whole document, and only then is released: a job the spooler lost track of in
// a crash can be found again by its token and, while held, cancelled without a page printed.

typedef struct _http_s http_t;

namespace genplot::spool
{

/// What the destination says about one job.
struct JobStatus
{
    /// False when the destination knows no such job (never made, or purged from its history).
    bool exists = false;
    /// The IPP job-state (3 pending, 4 held, 5 processing, 6 stopped, 7 canceled, 8 aborted,
    /// 9 completed).
    int state = 0;
    /// Documents the job holds in full.
    int documents = 0;
    /// True once the job was released to print (its hold is gone).
    bool released = false;
};

/// IPP job states the spooler tells apart.
inline constexpr int kJobHeld = 4;
inline constexpr int kJobCanceled = 7;
inline constexpr int kJobAborted = 8;
inline constexpr int kJobCompleted = 9;

class CupsDestination
{
  public:
    /// The destination `printer` on the scheduler libcups is set up for (CUPS_SERVER, the
    /// client configuration, else the local one).
    explicit CupsDestination(std::string printer);
    ~CupsDestination();
    CupsDestination(const CupsDestination&) = delete;
    CupsDestination& operator=(const CupsDestination&) = delete;

    /// True when the destination exists, accepts jobs and is not stopped; otherwise false with
    /// `why` set.
    bool Ready(std::string& why);

    /// Makes a held job named `name` for `copies` copies, marked with `token`. The job's id,
    /// or 0 with `error` set.
    int CreateHeldJob(const std::string& name, const std::string& token, int copies,
                      std::string& error);

    /// Gives job `job` its one document, `bytes` in the MIME type `format`.
    bool SendDocument(int job, const std::string& format, const std::string& bytes,
                      std::string& error);

    /// Lets the held job `job` print.
    bool Release(int job, std::string& error);

    /// Cancels job `job`; a job that is already gone counts as cancelled.
    bool Cancel(int job, std::string& error);

    /// Asks for the state of job `job`. False with `error` when the destination cannot answer.
    bool Query(int job, JobStatus& status, std::string& error);

    /// The ids of the jobs marked with `token`, in any state. False with `error`.
    bool FindByToken(const std::string& token, std::vector<int>& jobs, std::string& error);

    /// The destination's name.
    const std::string& Printer() const
    {
        return printer_;
    }

  private:
    bool Connect(std::string& error);
    void Disconnect();

    std::string printer_;
    std::string printerUri_;
    std::string resource_;
    http_t* http_ = nullptr;
};

} // namespace genplot::spool
