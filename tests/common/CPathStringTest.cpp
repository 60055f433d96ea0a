#include "common/CPathString.h"

#include <climits>
#include <gtest/gtest.h>

#include <unistd.h>

namespace
{
std::string Cwd()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}
} // namespace

TEST(CPathStringTest, SplitsAbsolutePaths)
{
    struct Case
    {
        const char* path;
        const char* directory;
        const char* name;
        const char* extension;
    };
    for (const Case& c :
         {Case{"/rec/capture.ts", "/rec/", "capture", ".ts"},
          Case{"/rec/archive.2024/capture", "/rec/archive.2024/", "capture", ""},
          Case{"/rec/a.b.ts", "/rec/", "a.b", ".ts"}, Case{"/rec/./old/../capture.ts", "/rec/", "capture", ".ts"},
          Case{"//rec//capture.ts", "/rec/", "capture", ".ts"}, Case{"/../capture.ts", "/", "capture", ".ts"},
          Case{"/rec/", "/rec/", "", ""}, Case{"/", "/", "", ""}, Case{"/rec/.hidden", "/rec/", "", ".hidden"}})
    {
        std::string drive = "x", directory, name, extension;
        CPathString::Split(c.path, drive, directory, name, extension);
        EXPECT_EQ(drive, "") << c.path;
        EXPECT_EQ(directory, c.directory) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(extension, c.extension) << c.path;
    }
    const CPathString path("/rec/capture.ts");
    EXPECT_EQ(path.GetDirectory().GetPath(), "/rec/");
    EXPECT_EQ(path.GetName(), "capture");
    EXPECT_EQ(path.GetExtension(true), ".ts");
    EXPECT_EQ(path.GetExtension(false), "ts");
    EXPECT_EQ(CPathString("/rec/capture").GetExtension(false), "");
}

TEST(CPathStringTest, RelativeAndEmptyPathsAreResolvedAgainstTheWorkingDirectory)
{
    const std::string cwd = Cwd();
    ASSERT_FALSE(cwd.empty());
    CPathString relative("sub/../capture.ts");
    EXPECT_EQ(relative.GetDirectory().GetPath(), (cwd == "/" ? std::string("/") : cwd + "/"));
    relative.MakeFullPath();
    EXPECT_EQ(relative.GetPath(), (cwd == "/" ? std::string() : cwd) + "/capture.ts");

    CPathString empty;
    EXPECT_EQ(empty.GetName(), "");
    EXPECT_EQ(empty.GetExtension(true), "");
    empty.MakeFullPath();
    EXPECT_EQ(empty.GetPath(), cwd);
}

TEST(CPathStringTest, SetExtensionCopyAndExists)
{
    CPathString path("/rec/capture.ts");
    CPathString copy = path;
    path.SetExtension(".m2t");
    EXPECT_EQ(path.GetPath(), "/rec/capture.m2t");
    path.SetExtension("");
    EXPECT_EQ(path.GetPath(), "/rec/capture");
    path.SetExtension("noDot");
    EXPECT_EQ(path.GetPath(), "/rec/capture");
    EXPECT_EQ(copy.GetPath(), "/rec/capture.ts");
    copy = std::string("rel.ts");
    copy.SetExtension(".mpg");
    EXPECT_EQ(copy.GetName(), "rel");
    EXPECT_EQ(copy.GetPath().front(), '/') << "the result is absolute";

    EXPECT_TRUE(CPathString("/").Exists());
    EXPECT_TRUE(CPathString(Cwd()).Exists());
    EXPECT_FALSE(CPathString("/no/such/orvane/file").Exists());
    EXPECT_FALSE(CPathString("").Exists());
}

TEST(CPathStringTest, PathsBeyondThePlatformLimitThrow)
{
    const std::string longPath = "/" + std::string(PATH_MAX, 'a');
    CPathString path(longPath);
    try
    {
        path.MakeFullPath();
        FAIL() << "no exception";
    }
    catch (const CPathException& e)
    {
        EXPECT_EQ(e.Error(), ENAMETOOLONG);
    }
    EXPECT_THROW(path.GetName(), CPathException);
    EXPECT_EQ(path.GetPath(), longPath) << "a failed operation leaves the path as it was";
    // Long but within the limit: fine.
    const std::string fits = "/" + std::string(200, 'b') + "/" + std::string(200, 'c') + ".ts";
    EXPECT_EQ(CPathString(fits).GetExtension(true), ".ts");
}
