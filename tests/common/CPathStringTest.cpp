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
    for (const Case& c : {Case{"/rec/archive.2024/capture", "/rec/archive.2024/", "capture", ""},
                          Case{"/rec/./old/../a.b.ts", "/rec/", "a.b", ".ts"},
                          Case{"/../capture.ts", "/", "capture", ".ts"}, Case{"/rec/.hidden", "/rec/", "", ".hidden"}})
    {
        std::string drive = "x", directory, name, extension;
        CPathString::Split(c.path, drive, directory, name, extension);
        EXPECT_EQ(drive, "") << c.path;
        EXPECT_EQ(directory, c.directory) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(extension, c.extension) << c.path;
    }
    EXPECT_EQ(CPathString("/rec/capture.ts").GetExtension(false), "ts");
}

TEST(CPathStringTest, SetExtensionAndExists)
{
    CPathString path("/rec/capture.ts");
    path.SetExtension(".m2t");
    EXPECT_EQ(path.GetPath(), "/rec/capture.m2t");
    path.SetExtension("noDot");
    EXPECT_EQ(path.GetPath(), "/rec/capture");
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
}
