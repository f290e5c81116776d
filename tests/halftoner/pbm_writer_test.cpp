// SPDX-License-Identifier: Apache-2.0
// PBM writer: the exact image on commit, nothing at all when it is not committed.
#include "pbm_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ppm_reader.h"
#include "support/scratch_dir.h"
#include "test_page.h"

namespace kemb::halftone {
namespace {

using kemb::testing::TempDir;


TEST(PbmWriter, HeaderIsWhatTheFilterParses) {
  const std::pair<size_t, size_t> sizes[] = {
      {1, 1}, {8, 3}, {2480, 3508}, {4961, 3508}, {kMaxColumns, kMaxRows}};
  for (const auto& [columns, rows] : sizes) {
    const std::string header = PbmHeader(columns, rows);
    const auto parsed = test::ParseLikeFilter(header);
    ASSERT_TRUE(parsed) << columns << " x " << rows << ": no size line";
    EXPECT_EQ(header.substr(0, 3), "P4\n") << columns << " x " << rows;
    EXPECT_EQ(parsed->width, static_cast<int>(columns)) << columns << " x " << rows;
    EXPECT_EQ(parsed->height, static_cast<int>(rows)) << columns << " x " << rows;
    EXPECT_EQ(parsed->head_length, header.size()) << columns << " x " << rows;
    EXPECT_LE(header.size(), 21u) << columns << " x " << rows;
    EXPECT_EQ(header.find('#'), std::string::npos) << columns << " x " << rows;
  }
}

TEST(PbmWriter, CommitRenamesTheCompleteImageIntoPlace) {
  TempDir dir;
  const std::string final_path = dir.File("page.pbm");
  const std::vector<std::vector<uint8_t>> rows = {{0x80, 0x40}, {0xFF, 0xC0}, {0x00, 0x00}};
  {
    PbmWriter writer;
    ASSERT_TRUE(writer.Create(final_path, 10, rows.size()).ok());
    const std::string temp = std::filesystem::path(writer.temp_path()).filename().string();
    EXPECT_EQ(temp.rfind("page.pbm.", 0), 0u) << temp;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{temp})
        << "only the temporary file while writing";
    struct stat info = {};
    ASSERT_EQ(::stat(writer.temp_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the page may be confidential";
    for (const auto& row : rows) ASSERT_TRUE(writer.WriteRow(row).ok());
    const Status committed = writer.Commit();
    ASSERT_TRUE(committed.ok()) << committed.message();
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"page.pbm"});
  EXPECT_EQ(test::ReadFile(final_path), std::string("P4\n10 3\n\x80\x40\xFF\xC0\0\0", 14));
}

TEST(PbmWriter, AnUncommittedImageLeavesNoFile) {
  enum class Ending { kDropped, kTooFewRows, kTooManyRows, kWrongRowLength };
  for (Ending ending :
       {Ending::kDropped, Ending::kTooFewRows, Ending::kTooManyRows, Ending::kWrongRowLength}) {
    TempDir dir;
    {
      PbmWriter writer;
      ASSERT_TRUE(writer.Create(dir.File("page.pbm"), 16, 2).ok());
      const std::vector<uint8_t> row = {0x12, 0x34};
      ASSERT_TRUE(writer.WriteRow(row).ok());
      switch (ending) {
        case Ending::kDropped:
          break;
        case Ending::kTooFewRows:
          EXPECT_FALSE(writer.Commit().ok());
          break;
        case Ending::kTooManyRows:
          ASSERT_TRUE(writer.WriteRow(row).ok());
          EXPECT_FALSE(writer.WriteRow(row).ok());
          break;
        case Ending::kWrongRowLength:
          EXPECT_FALSE(writer.WriteRow(std::vector<uint8_t>{0x12}).ok());
          break;
      }
    }
    EXPECT_TRUE(dir.Entries().empty())
        << "ending " << static_cast<int>(ending) << " left " << dir.Entries().front();
  }
}

TEST(PbmWriter, ReportsAFolderThatCannotTakeTheImage) {
  TempDir dir;
  PbmWriter writer;
  const Status created = writer.Create(dir.File("missing/page.pbm"), 8, 1);
  ASSERT_FALSE(created.ok());
  EXPECT_NE(created.message().find("cannot create"), std::string::npos) << created.message();
}

}  // namespace
}  // namespace kemb::halftone
