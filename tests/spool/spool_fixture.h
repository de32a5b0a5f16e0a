#pragma once

// What the spooler's end-to-end tests share: a sandbox for the drive and the queue, a private
// CUPS scheduler with its capture destination, a valid plot converted from the bundled sample,
// and helpers to queue copies of it and to run the spooler.

#include "tests/spool/private_cups.h"

#include "genplot/plot_file_reader.h"
#include "render/hpgl_export.h"
#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace genplot::test
{

class SpoolTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        GENPLOT_REQUIRE_CUPS(cups_);
        plot_ = sandbox_.Path("sample.gpf");
        const ProgramResult converted =
            RunGenplot({"convert", std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt", "-o", plot_});
        ASSERT_EQ(converted.exitCode, 0) << converted.err;
    }

    /// The queue file the tests submit to.
    std::string Queue() const
    {
        return sandbox_.Path("plots.que");
    }

    /// Copies the sample plot to NAME.gpf and queues it with genplot send.
    void Submit(const std::string& name)
    {
        const std::string copy = sandbox_.Path(name + ".gpf");
        WriteFileBytes(copy, ReadFileBytes(plot_));
        const ProgramResult sent = RunGenplot({"send", copy, "--queue", Queue()});
        ASSERT_EQ(sent.exitCode, 0) << sent.err;
    }

    /// genplot spool on the test's queue and destination, with `extra` arguments.
    ProgramResult Spool(const std::vector<std::string>& extra = {"--once"})
    {
        std::vector<std::string> args = {"spool", Queue(), "--printer", PrivateCups::Printer()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunGenplot(args);
    }

    /// The sample as the HP-GL/2 exporter writes it.
    std::string ExpectedHpgl2() const
    {
        const PlotFile plot = LoadPlotFile(plot_);
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&buffer, &size);
        const bool exported = render::ExportHpgl(plot, out, render::HpglDialect::Hpgl2);
        std::fclose(out);
        std::string bytes(buffer, size);
        std::free(buffer);
        EXPECT_TRUE(exported);
        return bytes;
    }

    /// How often each job title arrived at the device.
    static std::map<std::string, int> TitleCounts(const std::vector<CapturedJob>& jobs)
    {
        std::map<std::string, int> counts;
        for (const CapturedJob& job : jobs)
            ++counts[job.title];
        return counts;
    }

    DispatchSandbox sandbox_;
    PrivateCups cups_;
    std::string plot_;
};

} // namespace genplot::test
