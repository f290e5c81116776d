// SPDX-License-Identifier: Apache-2.0
// PPM reader: header syntax, refused headers, padding of a short page, unreadable files.
#include "ppm_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "test_page.h"

namespace kemb::halftone {
namespace {

using kemb::testing::TempDir;

using test::WriteFile;

const std::string kRaster = "abcdefghijklmnopqr";  // 3 x 2 pixels

TEST(PpmReader, AcceptsStandardHeaderSyntax) {
  const std::string headers[] = {
      "P6\n3 2\n255\n",
      "P6 3 2 255 ",
      "P6\n# made by hand\n3 2\n255\n",
      "P6\t3\r\n2 #comment right after a number\n255\r",
      "P6\n#\n#second comment\n  3\n\n2\n255\n",
      "P6\n003 0002\n0255\n",
  };
  for (const std::string& header : headers) {
    TempDir dir;
    WriteFile(dir.File("p.ppm"), header + kRaster);
    PpmReader reader;
    const Status opened = reader.Open(dir.File("p.ppm"));
    ASSERT_TRUE(opened.ok()) << "header '" << header << "': " << opened.message();
    EXPECT_EQ(reader.columns(), 3u) << "header '" << header << "'";
    EXPECT_EQ(reader.rows(), 2u) << "header '" << header << "'";
    std::vector<uint8_t> row(9);
    for (size_t y = 0; y < 2; ++y) {
      ASSERT_TRUE(reader.ReadRow(row).ok()) << "header '" << header << "' row " << y;
      EXPECT_EQ(std::string(row.begin(), row.end()), kRaster.substr(9 * y, 9))
          << "header '" << header << "' row " << y;
    }
  }
}

TEST(PpmReader, RefusesWhatIsNotAPageOfThisKind) {
  struct Case {
    std::string bytes;
    std::string reason;
  };
  const Case cases[] = {
      {"", "empty file"},
      {"P3\n3 2\n255\n" + kRaster, "not a raw PPM"},
      {"P5\n3 2\n255\n" + kRaster, "not a raw PPM"},
      {"p6\n3 2\n255\n" + kRaster, "not a raw PPM"},
      {"P6", "truncated header"},
      {"P6\n3 2\n", "truncated header"},
      {"P6\n3 2\n255", "truncated header"},
      {"P6\n3 2\n# comment without end", "truncated header"},
      {"P63 2 255\n", "no separator before width"},
      {"P6\nx 2\n255\n", "width is not a number"},
      {"P6\n3 -2\n255\n", "height is not a number"},
      {"P6\n3 2\n255#\n" + kRaster, "no whitespace after maxval"},
      {"P6\n3 2\n65535\n" + kRaster, "maxval 65535"},
      {"P6\n3 2\n1\n" + kRaster, "maxval 1,"},
      {"P6\n0 2\n255\n", "page size 0 x 2"},
      {"P6\n3 0\n255\n", "page size 3 x 0"},
      {"P6\n16385 1\n255\n", "page size 16385 x 1"},
      {"P6\n1 32769\n255\n", "page size 1 x 32769"},
      {"P6\n99999999999999999999999 1\n255\n", "page size huge x 1"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.File("p.ppm");
    WriteFile(path, c.bytes);
    PpmReader reader;
    const Status opened = reader.Open(path);
    ASSERT_FALSE(opened.ok()) << "accepted '" << c.bytes.substr(0, 24) << "'";
    EXPECT_EQ(opened.message().rfind(path + ": ", 0), 0u) << opened.message();
    EXPECT_NE(opened.message().find(c.reason), std::string::npos)
        << "'" << c.bytes.substr(0, 24) << "' gave '" << opened.message() << "'";
  }
}

TEST(PpmReader, AcceptsTheLargestPages) {
  for (const auto& [columns, rows] : {std::pair{kMaxColumns, size_t{1}}, {1, kMaxRows}}) {
    TempDir dir;
    WriteFile(dir.File("p.ppm"),
              "P6\n" + std::to_string(columns) + " " + std::to_string(rows) + "\n255\n");
    PpmReader reader;
    EXPECT_TRUE(reader.Open(dir.File("p.ppm")).ok()) << columns << " x " << rows;
  }
}

TEST(PpmReader, MissingRowsAndTheRestOfACutRowAreWhitePaper) {
  // Four rows stated, one and a half present.
  TempDir dir;
  const std::string present = std::string(9, '\x10') + std::string(4, '\x20');
  WriteFile(dir.File("p.ppm"), "P6\n3 4\n255\n" + present);
  PpmReader reader;
  ASSERT_TRUE(reader.Open(dir.File("p.ppm")).ok());
  std::vector<uint8_t> row(9);
  for (size_t y = 0; y < 4; ++y) {
    ASSERT_TRUE(reader.ReadRow(row).ok()) << "row " << y;
    for (size_t i = 0; i < row.size(); ++i) {
      const size_t at = 9 * y + i;
      const uint8_t expected = at < present.size() ? static_cast<uint8_t>(present[at]) : 255;
      EXPECT_EQ(row[i], expected) << "row " << y << " byte " << i;
    }
  }
}

TEST(PpmReader, ReportsFilesThatCannotBeRead) {
  TempDir dir;
  PpmReader missing;
  const Status not_there = missing.Open(dir.File("none.ppm"));
  EXPECT_NE(not_there.message().find("cannot open"), std::string::npos) << not_there.message();

  std::filesystem::create_directory(dir.File("folder.ppm"));
  PpmReader folder;
  const Status unreadable = folder.Open(dir.File("folder.ppm"));
  EXPECT_NE(unreadable.message().find("read error"), std::string::npos) << unreadable.message();
}

}  // namespace
}  // namespace kemb::halftone
