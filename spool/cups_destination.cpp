#include "spool/cups_destination.h"

#include <cstring>
#include <cups/cups.h>
#include <cups/ipp.h>

namespace genplot::spool
{
namespace
{

// The job attribute that carries the spooler's token. The scheduler keeps job attributes it
// does not know and reports them back when asked by name.
constexpr const char* kTokenAttribute = "genplot-spool-token";
constexpr int kTimeoutMs = 30000;

// Owns one IPP message.
struct Message
{
    ipp_t* ipp = nullptr;
    explicit Message(ipp_t* message) : ipp(message)
    {
    }
    ~Message()
    {
        ippDelete(ipp);
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
};

std::string LastError(const char* what)
{
    return std::string(what) + ": " + cupsLastErrorString();
}

bool Succeeded()
{
    return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// A scheduler that went away or a connection that broke: worth a new connection next time.
bool ConnectionLost()
{
    const ipp_status_t status = cupsLastError();
    return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL;
}

// An operation on one job of the printer at `printerUri`, on behalf of this process's user.
ipp_t* NewJobRequest(ipp_op_t operation, const std::string& printerUri, int job)
{
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

} // namespace

CupsDestination::CupsDestination(std::string printer) : printer_(std::move(printer))
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", printer_.c_str());
    printerUri_ = uri;
    resource_ = "/printers/" + printer_;
}

CupsDestination::~CupsDestination()
{
    Disconnect();
}

bool CupsDestination::Connect(std::string& error)
{
    if (http_ != nullptr)
        return true;
    http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                         kTimeoutMs, nullptr);
    if (http_ == nullptr)
    {
        error = std::string("cannot reach the print scheduler at ") + cupsServer() + ": " +
                cupsLastErrorString();
        return false;
    }
    return true;
}

void CupsDestination::Disconnect()
{
    if (http_ != nullptr)
        httpClose(http_);
    http_ = nullptr;
}

bool CupsDestination::Ready(std::string& why)
{
    if (!Connect(why))
        return false;
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri_.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    static const char* const kWanted[] = {"printer-state", "printer-is-accepting-jobs",
                                          "printer-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kWanted);
    Message response(cupsDoRequest(http_, request, resource_.c_str()));
    if (!Succeeded())
    {
        why = "destination " + printer_ + ": " + cupsLastErrorString();
        if (ConnectionLost())
            Disconnect();
        return false;
    }
    const int state =
        ippGetInteger(ippFindAttribute(response.ipp, "printer-state", IPP_TAG_ENUM), 0);
    ipp_attribute_t* accepting =
        ippFindAttribute(response.ipp, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    const char* message = ippGetString(
        ippFindAttribute(response.ipp, "printer-state-message", IPP_TAG_TEXT), 0, nullptr);
    const std::string said = message != nullptr && message[0] != '\0'
                                 ? std::string(" (") + message + ")"
                                 : std::string();
    if (state == IPP_PSTATE_STOPPED)
    {
        why = "destination " + printer_ + " is stopped" + said;
        return false;
    }
    if (accepting != nullptr && !ippGetBoolean(accepting, 0))
    {
        why = "destination " + printer_ + " is not accepting jobs" + said;
        return false;
    }
    return true;
}

int CupsDestination::CreateHeldJob(const std::string& name, const std::string& token, int copies,
                                   std::string& error)
{
    if (!Connect(error))
        return 0;
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri_.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", nullptr, "indefinite");
    ippAddString(request, IPP_TAG_JOB, IPP_TAG_TEXT, kTokenAttribute, nullptr, token.c_str());
    ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", copies);
    Message response(cupsDoRequest(http_, request, resource_.c_str()));
    if (!Succeeded())
    {
        error = LastError("the destination refused the job");
        if (ConnectionLost())
            Disconnect();
        return 0;
    }
    const int job = ippGetInteger(ippFindAttribute(response.ipp, "job-id", IPP_TAG_INTEGER), 0);
    if (job <= 0)
        error = "the destination made a job without an id";
    return job;
}

bool CupsDestination::SendDocument(int job, const std::string& format, const std::string& bytes,
                                   std::string& error)
{
    if (!Connect(error))
        return false;
    Message request(ippNewRequest(IPP_OP_SEND_DOCUMENT));
    ippAddString(request.ipp, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri_.c_str());
    ippAddInteger(request.ipp, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
    ippAddString(request.ipp, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request.ipp, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 format.c_str());
    ippAddBoolean(request.ipp, IPP_TAG_OPERATION, "last-document", 1);
    // The length given is the whole body: the request's attributes and then the document.
    http_status_t status = cupsSendRequest(http_, request.ipp, resource_.c_str(),
                                           ippLength(request.ipp) + bytes.size());
    std::size_t sent = 0;
    constexpr std::size_t kChunk = 65536;
    while (status == HTTP_STATUS_CONTINUE && sent < bytes.size())
    {
        const std::size_t size = std::min(kChunk, bytes.size() - sent);
        status = cupsWriteRequestData(http_, bytes.data() + sent, size);
        sent += size;
    }
    Message response(cupsGetResponse(http_, resource_.c_str()));
    if (status != HTTP_STATUS_CONTINUE || sent != bytes.size() || !Succeeded())
    {
        error = LastError("the destination did not take the plot");
        Disconnect();
        return false;
    }
    return true;
}

bool CupsDestination::Release(int job, std::string& error)
{
    if (!Connect(error))
        return false;
    ipp_t* request = NewJobRequest(IPP_OP_RELEASE_JOB, printerUri_, job);
    Message response(cupsDoRequest(http_, request, "/jobs"));
    if (!Succeeded())
    {
        error = LastError("the destination did not release the job");
        if (ConnectionLost())
            Disconnect();
        return false;
    }
    return true;
}

bool CupsDestination::Cancel(int job, std::string& error)
{
    if (!Connect(error))
        return false;
    ipp_t* request = NewJobRequest(IPP_OP_CANCEL_JOB, printerUri_, job);
    Message response(cupsDoRequest(http_, request, "/jobs"));
    const ipp_status_t status = cupsLastError();
    // A job that ended or is unknown cannot print any more: as good as cancelled.
    if (Succeeded() || status == IPP_STATUS_ERROR_NOT_FOUND ||
        status == IPP_STATUS_ERROR_NOT_POSSIBLE)
        return true;
    error = LastError("the destination did not cancel the job");
    if (ConnectionLost())
        Disconnect();
    return false;
}

bool CupsDestination::Query(int job, JobStatus& status, std::string& error)
{
    status = JobStatus{};
    if (!Connect(error))
        return false;
    ipp_t* request = NewJobRequest(IPP_OP_GET_JOB_ATTRIBUTES, printerUri_, job);
    static const char* const kWanted[] = {"job-state", "number-of-documents", "job-hold-until"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kWanted);
    Message response(cupsDoRequest(http_, request, "/jobs"));
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
        return true;
    if (!Succeeded())
    {
        error = LastError("the destination did not report the job");
        if (ConnectionLost())
            Disconnect();
        return false;
    }
    status.exists = true;
    status.state = ippGetInteger(ippFindAttribute(response.ipp, "job-state", IPP_TAG_ENUM), 0);
    status.documents =
        ippGetInteger(ippFindAttribute(response.ipp, "number-of-documents", IPP_TAG_INTEGER), 0);
    ipp_attribute_t* hold = ippFindAttribute(response.ipp, "job-hold-until", IPP_TAG_ZERO);
    const char* holdUntil = hold != nullptr ? ippGetString(hold, 0, nullptr) : nullptr;
    status.released = status.state != kJobHeld &&
                      (holdUntil == nullptr || std::strcmp(holdUntil, "indefinite") != 0);
    return true;
}

bool CupsDestination::FindByToken(const std::string& token, std::vector<int>& jobs,
                                  std::string& error)
{
    jobs.clear();
    if (!Connect(error))
        return false;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUri_.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    const char* wanted[] = {"job-id", kTokenAttribute};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  wanted);
    Message response(cupsDoRequest(http_, request, "/"));
    if (!Succeeded())
    {
        error = LastError("the destination did not list its jobs");
        if (ConnectionLost())
            Disconnect();
        return false;
    }
    // The answer is one group of attributes per job, separated by a group change.
    int id = 0;
    bool marked = false;
    for (ipp_attribute_t* attribute = ippFirstAttribute(response.ipp);;
         attribute = ippNextAttribute(response.ipp))
    {
        const char* name = attribute != nullptr ? ippGetName(attribute) : nullptr;
        if (attribute == nullptr || name == nullptr)
        {
            if (id > 0 && marked)
                jobs.push_back(id);
            id = 0;
            marked = false;
            if (attribute == nullptr)
                break;
            continue;
        }
        if (std::strcmp(name, "job-id") == 0)
            id = ippGetInteger(attribute, 0);
        else if (std::strcmp(name, kTokenAttribute) == 0)
        {
            const char* value = ippGetString(attribute, 0, nullptr);
            marked = value != nullptr && token == value;
        }
    }
    return true;
}

} // namespace genplot::spool
