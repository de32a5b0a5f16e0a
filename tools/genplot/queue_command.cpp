// genplot queue [QUEUEFILE]: lists the submissions in a plotter queue file, one line each.

#include "platform/drive_info.h"
#include "platform/plot_queue.h"
#if defined(GENPLOT_WITH_SPOOL)
#include "spool/spool_files.h"
#include "spool/spool_journal.h"
#endif
#include "tools/genplot/command_support.h"
#include "tools/genplot/commands.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr const char* kCommand = "queue";
constexpr const char* kDefaultQueueFile = "C:\\plotque.que";

struct QueueOptions
{
    std::string queueFile;
};

// The queue file the library submits to when no destination is given: the drive's own queue
// file when the drive says so, else the default.
std::string DefaultQueueFile()
{
    unsigned char flag = 0;
    char volume[kDriveInfoTextSize] = {};
    char text[kDriveInfoTextSize] = {};
    cc_get_driveinfo(nullptr, &flag, volume, text);
    return flag != 0 && text[0] != '\0' ? std::string(text) : std::string(kDefaultQueueFile);
}

// The native spelling of a host path, by the library's drive mapping: "c:\..." lies in
// $GENPLOT_DRIVE_C (else $XDG_DATA_HOME/genplot/drive_c, else
// ~/.local/share/genplot/drive_c), with "\" turned into "/". Other paths are native already.
std::string NativePath(const std::string& host)
{
#if defined(_WIN32)
    return host;
#else
    const bool drive = host.size() >= 2 && host[1] == ':' &&
                       ((host[0] >= 'a' && host[0] <= 'z') || (host[0] >= 'A' && host[0] <= 'Z'));
    if (!drive)
        return host;
    const char upper = static_cast<char>(host[0] & ~0x20);
    const std::string variable = std::string("GENPLOT_DRIVE_") + upper;
    std::string root;
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && value[0] != '\0')
    {
        root = value;
    }
    else
    {
        const char* dataHome = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        if (dataHome != nullptr && dataHome[0] == '/')
            root = dataHome;
        else if (home != nullptr && home[0] == '/')
            root = std::string(home) + "/.local/share";
        else
            Fail(kCommand, "cannot tell where drive " + std::string(1, upper) + ": lies (set " +
                               variable + ")");
        root += std::string("/genplot/drive_") + static_cast<char>(upper | 0x20);
    }
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::string rest = host.substr(2);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    if (rest.empty() || rest.front() != '/')
        rest.insert(rest.begin(), '/');
    return root + rest;
#endif
}

// A fixed field of a record as printable text: up to its NUL, within its width.
std::string Field(const char* field, std::size_t width)
{
    std::string text;
    for (std::size_t i = 0; i < width && field[i] != '\0'; ++i)
    {
        const auto c = static_cast<unsigned char>(field[i]);
        text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

void RunQueue(const QueueOptions& options)
{
    const std::string host = options.queueFile.empty() ? DefaultQueueFile() : options.queueFile;
    const std::string path = NativePath(host);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        Fail(kCommand, "cannot open queue file " + host + " (" + path + "): " + ErrorText(errno));
#if defined(GENPLOT_WITH_SPOOL)
    // What the spooler did with each submission, from its journal beside the queue file (a
    // queue no spooler has served lists as it always did).
    spool::SpoolJournal journal;
    std::string journalError;
    if (!journal.Load(spool::JournalPath(path), journalError))
        Fail(kCommand, journalError);
#endif
    std::size_t count = 0;
    tag_ti_namelist_both record;
    std::string lines;
    std::size_t got = 0;
    while ((got = std::fread(&record, 1, kQueueRecordSize, file)) == kQueueRecordSize)
    {
        ++count;
        lines += std::to_string(count) + "  " + Field(record.fileName, sizeof record.fileName) +
                 "  " + Field(record.baseName, sizeof record.baseName) + "  media " +
                 std::to_string(record.mediaKind) + "  copies " + std::to_string(record.copies);
#if defined(GENPLOT_WITH_SPOOL)
        if (journal.Found())
            lines += "  " + spool::DescribeState(journal.State(count));
#endif
        lines += "\n";
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError)
        Fail(kCommand, "cannot read queue file " + host + " (" + path + ")");
    std::cout << host << ": " << count << (count == 1 ? " submission" : " submissions") << '\n'
              << lines << std::flush;
    if (got != 0)
        Fail(kCommand, host + ": ends in a partial record of " + std::to_string(got) + " bytes");
}

} // namespace

void AddQueueCommand(CLI::App& app)
{
    auto options = std::make_shared<QueueOptions>();
    CLI::App* command = app.add_subcommand("queue", "List the submissions in a plotter queue file");
    command->add_option("QUEUEFILE", options->queueFile,
                        "Queue file (default: the one send --queue uses without a QUEUEFILE: "
                        "GENPLOT_QUEUE_FILE when GENPLOT_QUEUE_FLAG is set, else "
                        "C:\\plotque.que; a drive-letter path maps to the drive's folder)");
    command->footer("Prints one line per submission: number, file name in the queue directory, "
                    "plot name, media kind and copies.\nExit status: 0 listed, 1 unreadable.");
    command->callback([options] { RunQueue(*options); });
}

} // namespace genplot::tool
