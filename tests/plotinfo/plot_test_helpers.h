#pragma once

#include "geometry/label.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "plotinfo/plot_info.h"
#include "plotinfo/vector_2d_internal.h"
#include "support/plot_info_test_access.h"
#include "support/scoped_env.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using Point = std::pair<long, long>;
using Points = std::vector<Point>;

namespace plot_test
{

inline std::string TempDir()
{
    const char* dir = std::getenv("GENPLOT_TEST_TMP");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

/// Points GENPLOT_REGISTRY at a file of this process in the temp folder holding `contents`;
/// without contents the file does not exist, so the registry has no keys. The tests then never
/// see a registry file of the user running them.
class ScopedRegistry
{
  public:
    ScopedRegistry()
        : path_(TempDir() + "/plotinfo_registry_" + std::to_string(getpid()) + ".reg"),
          env_("GENPLOT_REGISTRY", path_.c_str())
    {
        std::remove(path_.c_str());
    }
    explicit ScopedRegistry(const std::string& contents) : ScopedRegistry()
    {
        Write(contents);
    }
    ~ScopedRegistry()
    {
        std::remove(path_.c_str());
    }
    void Write(const std::string& contents) const
    {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path_;
        std::fwrite(contents.data(), 1, contents.size(), file);
        std::fclose(file);
    }

  private:
    std::string path_;
    ScopedEnv env_;
};

/// A registry file whose "General" section holds the given line (e.g. "\"MiterLimit\"=\"0\"").
inline std::string GeneralSection(const std::string& valueLine)
{
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion\\General]\r\n" +
           valueLine + "\r\n";
}

inline Points PointsOf(const CLineSeg& line)
{
    Points points;
    for (POSITION position = line.GetHeadPosition(); position != nullptr;)
    {
        CCoord* point = line.GetNextPoint(position);
        points.emplace_back(point->x, point->y);
    }
    return points;
}

/// Appends the points to the current line and ends the stroke.
inline void Stroke(CPlotInfo& plot, const Points& points)
{
    for (const Point& point : points)
        plot.currentLine.AddPoint(point.first, point.second);
    plot.CheckForClosure();
}

template <class T> T* At(const CObList& list, int index)
{
    POSITION position = list.GetHeadPosition();
    for (int i = 0; i < index && position != nullptr; ++i)
        list.GetNext(position);
    return position != nullptr ? static_cast<T*>(list.GetAt(position)) : nullptr;
}

inline CPerim* PieceAt(const CPlotInfo& plot, int index)
{
    return At<CPerim>(plot.pieces, index);
}

inline CLineSeg* LineAt(const CObList& list, int index)
{
    return At<CLineSeg>(list, index);
}

/// Runs `fill` on a fresh heap object and returns it; the object is freed if `fill` throws.
template <class T, class Fill> T* Make(Fill fill)
{
    auto* object = new T;
    try
    {
        fill(*object);
    }
    catch (...)
    {
        delete object;
        throw;
    }
    return object;
}

/// Appends a heap object to `list`, freeing it when the list cannot take it.
inline void Append(CObList& list, CObject* object)
{
    try
    {
        list.AddTail(object);
    }
    catch (...)
    {
        delete object;
        throw;
    }
}

/// A heap line the caller hands to a list, holding the points in order (no repeat test).
inline CLineSeg* NewLine(const Points& points, int width = 0)
{
    return Make<CLineSeg>([&](CLineSeg& line) {
        line.lineWidth = width;
        for (const Point& point : points)
        {
            CCoord coord(point.first, point.second);
            line.AddPoint(&coord);
        }
    });
}

inline CLabel* NewLabel(long x, long y, const char* text = "A", int height = 10)
{
    return Make<CLabel>([&](CLabel& label) {
        label.position = CCoord(x, y);
        label.text = text;
        label.textHeight = height;
        label.directionX = 10000;
        label.directionY = 0;
    });
}

inline void ExpectBox(const CBBox& box, long x0, long y0, long x1, long y1)
{
    EXPECT_EQ(box.lowerLeft.x, x0);
    EXPECT_EQ(box.lowerLeft.y, y0);
    EXPECT_EQ(box.upperRight.x, x1);
    EXPECT_EQ(box.upperRight.y, y1);
}

} // namespace plot_test
