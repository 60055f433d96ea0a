#include "common/CUnbufferedFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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
    std::string m_dir;
};
} // namespace

// Locks, reasons and deleted files are tested through the recorder
// (CRecordThreadTest); here what only the file shows.
TEST_F(UnbufferedFileTest, PipeWithoutReaderIsRefusedAtOnceAndAMovedFileIsStillLinked)
{
    const std::string fifo = m_dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CUnbufferedFile f;
    EXPECT_FALSE(f.Create(fifo)) << "neither blocks nor is taken";
    EXPECT_EQ(f.LastCreateFailure(), CUnbufferedFile::CreateFailure::NotRegular);
    ASSERT_TRUE(f.Create(m_dir + "/rec.ts"));
    fs::rename(m_dir + "/rec.ts", m_dir + "/moved.ts");
    EXPECT_TRUE(f.IsLinked()) << "moved is not lost";
    fs::remove(m_dir + "/moved.ts");
    EXPECT_FALSE(f.IsLinked());
}
