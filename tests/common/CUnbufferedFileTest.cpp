#include "common/CUnbufferedFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// Locks, reasons and deleted files are tested through the recorder
// (CRecordThreadTest); here what only the file shows.
TEST(UnbufferedFileTest, PipeWithoutReaderIsRefusedAtOnceAndAMovedFileIsStillLinked)
{
    const tstest::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CUnbufferedFile f;
    EXPECT_FALSE(f.Create(fifo)) << "neither blocks nor is taken";
    EXPECT_EQ(f.LastCreateFailure(), CUnbufferedFile::CreateFailure::NotRegular);
    ASSERT_TRUE(f.Create(dir.File("rec.ts")));
    fs::rename(dir.File("rec.ts"), dir.File("moved.ts"));
    EXPECT_TRUE(f.IsLinked()) << "moved is not lost";
    fs::remove(dir.File("moved.ts"));
    EXPECT_FALSE(f.IsLinked());
}
