// The file written from the benchmark plot keeps its exact bytes. Its digest was taken before
// any speed work on the library; every optimisation since must leave it unchanged.

#include "bench/workload.h"

#include "genplot/gen_plot.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/sha256.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::bench::Workload;
using genplot::test::Sha256;

std::string Digest(const std::string& bytes)
{
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

// The miter threshold comes from the registry; the benchmark plot is defined with none.
class RegistryAbsent
{
  public:
    RegistryAbsent()
    {
        if (const char* old = std::getenv("GENPLOT_REGISTRY"))
            saved_ = old;
        setenv("GENPLOT_REGISTRY", "/nonexistent/genplot-identity/registry.reg", 1);
    }
    ~RegistryAbsent()
    {
        if (saved_)
            setenv("GENPLOT_REGISTRY", saved_->c_str(), 1);
        else
            unsetenv("GENPLOT_REGISTRY");
    }

  private:
    std::optional<std::string> saved_;
};

// The same host set-up as the writer benchmark.
std::string WriteBenchmarkPlot()
{
    RegistryAbsent registry;
    const Workload& work = genplot::bench::StandardWorkload();
    auto plot = std::make_unique<CPlotInfo>();
    genplot::bench::BuildPlot(work, *plot);
    plot->FinalizePlotInfo();

    CPlotConfig config;
    config.configFlag = 1;
    config.configValue1 = 11;
    config.configValue2 = 12;
    config.configValue3 = 13;
    config.configValue4 = 14;
    config.configValue5 = 15;
    config.configValue6 = 16;
    CGenPlot writer;
    writer.Initialize("benchmark-plot", &config);
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
        return std::string();
    int cancel = 0;
    int result = writer.write_plot_file(file, plot.get(), &config, nullptr, &cancel, nullptr);
    std::string bytes;
    if (result == 1 && std::fseek(file, 0, SEEK_SET) == 0)
    {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, got);
    }
    std::fclose(file);
    return bytes;
}

TEST(Sha256Test, MatchesPublishedDigests)
{
    EXPECT_EQ(Digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(WorkloadIdentityTest, GeneratorHasTheAdvertisedShape)
{
    const Workload& work = genplot::bench::StandardWorkload();
    EXPECT_EQ(work.outlineCount, 500u);
    EXPECT_EQ(work.interiorCount, 20000u);
    EXPECT_EQ(work.interiorPoints, 1000000u);
    EXPECT_EQ(work.wideCount, 2000u);
    EXPECT_EQ(work.labels.size(), 5000u);
    EXPECT_EQ(work.strokes.size(), 22500u);
    for (const genplot::bench::Stroke& stroke : work.strokes)
    {
        const genplot::bench::Point* p = &work.points[stroke.first];
        if (stroke.kind == genplot::bench::StrokeKind::Outline)
        {
            ASSERT_GE(stroke.count, 50u);
            ASSERT_LE(stroke.count, 400u);
            ASSERT_TRUE(p[0].x == p[stroke.count - 1].x && p[0].y == p[stroke.count - 1].y);
        }
        if (stroke.kind == genplot::bench::StrokeKind::Wide)
        {
            ASSERT_GE(stroke.width, 150);
            ASSERT_LE(stroke.width, 800);
        }
        for (std::uint32_t i = 1; i < stroke.count; ++i)
            ASSERT_FALSE(p[i].x == p[i - 1].x && p[i].y == p[i - 1].y) << "repeat point";
    }
}

// The generator itself is pinned, so a change of the file below is the library's, not the
// data's.
TEST(WorkloadIdentityTest, GeneratorProducesTheSameData)
{
    const Workload& work = genplot::bench::StandardWorkload();
    Sha256 hash;
    for (const genplot::bench::Point& p : work.points)
    {
        std::int32_t xy[2] = {p.x, p.y};
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] =
                static_cast<unsigned char>(static_cast<std::uint32_t>(xy[i / 4]) >> (8 * (i % 4)));
        hash.Update(bytes, sizeof bytes);
    }
    for (const genplot::bench::Stroke& s : work.strokes)
    {
        std::string record = std::to_string(s.first) + "," + std::to_string(s.count) + "," +
                             std::to_string(s.pen) + "," + std::to_string(s.lineType) + "," +
                             std::to_string(s.width) + ";";
        hash.Update(record.data(), record.size());
    }
    for (const genplot::bench::Label& l : work.labels)
    {
        std::string record = std::to_string(l.justification) + "," + std::to_string(l.textHeight) +
                             "," + std::to_string(l.directionX) + "," +
                             std::to_string(l.directionY) + "," + std::to_string(l.position.x) +
                             "," + std::to_string(l.position.y) + "," + l.text + ";";
        hash.Update(record.data(), record.size());
    }
    EXPECT_EQ(hash.HexDigest(), "90d5425550d0ac110d36508a6b95acc4271f529eb80c1b97e3c13fe017d27d96");
}

TEST(WorkloadIdentityTest, WrittenFileKeepsItsBytes)
{
    std::string bytes = WriteBenchmarkPlot();
    ASSERT_FALSE(bytes.empty()) << "the benchmark plot could not be written";
    EXPECT_EQ(bytes.size(), 15368802u);
    EXPECT_EQ(Digest(bytes), "68d54079436a0d105a16771bb7a6105969afad3c698772d9d26d1637c906a9a3");
}

} // namespace
