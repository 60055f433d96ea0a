#include "common/CUnbufferedFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace
{
class UnbufferedFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvane-file-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string WriteText(const std::string& name, const std::string& text)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    std::string m_dir;
};
} // namespace

TEST_F(UnbufferedFileTest, FileLockedByAnotherWriterIsRefusedUntouchedAndFreedAtClose)
{
    const std::string path = WriteText("live.ts", "recorded so far");
    CUnbufferedFile first;
    ASSERT_TRUE(first.Create(path));
    EXPECT_EQ(fs::file_size(path), 0u) << "an existing file is truncated once it is ours";
    ASSERT_TRUE(first.Write("abc", 3));
    CUnbufferedFile second;
    EXPECT_FALSE(second.Create(path));
    EXPECT_EQ(second.LastCreateFailure(), CUnbufferedFile::CreateFailure::Locked);
    EXPECT_EQ(fs::file_size(path), 3u) << "the refused open changed nothing";
    ASSERT_TRUE(first.Close());
    EXPECT_TRUE(second.Create(path)) << "the lock goes with the file";
    EXPECT_EQ(second.LastCreateFailure(), CUnbufferedFile::CreateFailure::None);
}

TEST_F(UnbufferedFileTest, NonRegularFilesAndMissingDirectoriesAreRefusedWithTheirReason)
{
    const std::string fifo = m_dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CUnbufferedFile f;
    EXPECT_FALSE(f.Create(fifo)) << "a pipe without reader neither blocks nor is taken";
    EXPECT_EQ(f.LastCreateFailure(), CUnbufferedFile::CreateFailure::NotRegular);
    EXPECT_FALSE(f.Create(m_dir));
    EXPECT_EQ(f.LastCreateFailure(), CUnbufferedFile::CreateFailure::NotRegular);
    EXPECT_FALSE(f.Create(m_dir + "/none/x.ts"));
    EXPECT_EQ(f.LastCreateFailure(), CUnbufferedFile::CreateFailure::System);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(UnbufferedFileTest, DeletedFileIsNoLongerLinked)
{
    const std::string path = m_dir + "/rec.ts";
    CUnbufferedFile f;
    ASSERT_TRUE(f.Create(path));
    EXPECT_TRUE(f.IsLinked());
    fs::rename(path, m_dir + "/moved.ts");
    EXPECT_TRUE(f.IsLinked()) << "moved is not lost";
    fs::remove(m_dir + "/moved.ts");
    EXPECT_FALSE(f.IsLinked());
}
