#include "platform/native_path_internal.h"
#include "support/dispatch_sandbox.h"

#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace
{

using genplot::detail::NativePath;

std::string Native(const char* hostPath)
{
    char out[genplot::detail::kNativePathSize];
    EXPECT_TRUE(NativePath(hostPath, out, sizeof out)) << hostPath;
    return out;
}

TEST(NativePathTest, DriveLetterPathsLandInTheDriveFolder)
{
    ScopedEnvVar drive("GENPLOT_DRIVE_C", "/srv/drive-c");
    EXPECT_EQ(Native("c:\\userroot\\devq\\plotter\\"), "/srv/drive-c/userroot/devq/plotter/");
    EXPECT_EQ(Native("C:\\plotque.que"), "/srv/drive-c/plotque.que");
    EXPECT_EQ(Native("c:/mixed\\seps/x"), "/srv/drive-c/mixed/seps/x");
    // Drive-relative: the file is in the drive's root, not glued onto the folder's name.
    EXPECT_EQ(Native("C:q.que"), "/srv/drive-c/q.que");
    EXPECT_EQ(Native("c:"), "/srv/drive-c");
}

TEST(NativePathTest, EachLetterHasItsOwnVariable)
{
    ScopedEnvVar c("GENPLOT_DRIVE_C", "/c");
    ScopedEnvVar d("GENPLOT_DRIVE_D", "/mnt/d/");
    ScopedEnvVar z("GENPLOT_DRIVE_Z", "/zz");
    EXPECT_EQ(Native("d:\\a.b"), "/mnt/d/a.b");
    EXPECT_EQ(Native("D:\\a.b"), "/mnt/d/a.b");
    EXPECT_EQ(Native("z:\\q"), "/zz/q");
    EXPECT_EQ(Native("C:\\q"), "/c/q");
}

TEST(NativePathTest, UnsetDriveFallsBackToTheDataFolder)
{
    ScopedEnvVar drive("GENPLOT_DRIVE_E", nullptr);
    ScopedEnvVar home("HOME", "/home/plotter");
    {
        ScopedEnvVar data("XDG_DATA_HOME", "/var/data");
        EXPECT_EQ(Native("e:\\x\\y"), "/var/data/genplot/drive_e/x/y");
    }
    {
        ScopedEnvVar data("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(Native("E:\\x"), "/home/plotter/.local/share/genplot/drive_e/x");
    }
    {
        // The XDG rules make a relative value invalid; it must not turn into a path below the
        // current directory.
        ScopedEnvVar data("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(Native("e:\\x"), "/home/plotter/.local/share/genplot/drive_e/x");
    }
    {
        ScopedEnvVar empty("GENPLOT_DRIVE_E", "");
        ScopedEnvVar data("XDG_DATA_HOME", "/var/data");
        EXPECT_EQ(Native("e:\\x"), "/var/data/genplot/drive_e/x");
    }
}

TEST(NativePathTest, PathsWithoutDriveLetterStayAsGiven)
{
    EXPECT_EQ(Native("/tmp/plot\\name.gpf"), "/tmp/plot\\name.gpf");
    EXPECT_EQ(Native("relative/plot.gpf"), "relative/plot.gpf");
    EXPECT_EQ(Native("1:\\x"), "1:\\x");
    EXPECT_EQ(Native(""), "");
}

TEST(NativePathTest, RefusesWhatDoesNotFit)
{
    ScopedEnvVar drive("GENPLOT_DRIVE_C", "/abc");
    char out[8];
    EXPECT_TRUE(NativePath("c:\\de", out, sizeof out));
    EXPECT_STREQ(out, "/abc/de");
    EXPECT_FALSE(NativePath("c:\\def", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(NativePath("/native/too/long", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(NativePath(nullptr, out, sizeof out));
}

TEST(NativePathTest, MakeDirectoriesCreatesEveryMissingParent)
{
    DispatchSandbox sandbox;
    const std::string deep = sandbox.Path("a/b/c/");
    EXPECT_TRUE(genplot::detail::MakeDirectories(deep.c_str()));
    struct stat info;
    ASSERT_EQ(stat(sandbox.Path("a/b/c").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(genplot::detail::MakeDirectories(deep.c_str())) << "existing is fine";

    WriteFileBytes(sandbox.Path("plain"), {1});
    EXPECT_FALSE(genplot::detail::MakeDirectories(sandbox.Path("plain/sub").c_str()));
}

} // namespace
