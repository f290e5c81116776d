// SPDX-License-Identifier: Apache-2.0
// Tests of the kembview program: its listing, the page files it writes, its exit status.
//
//   KembviewTest        a scratch folder, a stream file in it, and running the program
//   ReadPbm, PngInfo    reading the written images back
//   ListsAStream        --list lines and exit status, clean and with unknown bytes
//   ListsAndDrawsText   text lines in UTF-8, a page of characters at 360x180 dpi
//   RendersPbmPages     one PBM per form feed, dots where the stream put them
//   RendersPngWithResolution   PNG size and pHYs
//   ExitStatus          bad arguments, unreadable input, unwritable output, truncated stream
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "stream_bytes.h"

namespace {

namespace fs = std::filesystem;
using kembtest::Bytes;
using kembtest::Cat;

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class KembviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "kembview-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path WriteStream(const Bytes& stream) {
    const fs::path path = dir_ / "stream.prn";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), stream.size());
    return path;
  }

  ProgramRun Kembview(const std::string& args) {
    const std::string command = std::string(KEMB_BIN_DIR) + "/kembview " + args + " >" +
                                (dir_ / "out.txt").string() + " 2>" + (dir_ / "err.txt").string();
    const int raw = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(dir_ / "out.txt");
    run.err = Slurp(dir_ / "err.txt");
    return run;
  }

  fs::path dir_;
};

struct Pbm {
  int width = 0, height = 0;
  std::string comment;
  std::string bits;
  bool Dot(int x, int y) const {
    const size_t row = (static_cast<size_t>(width) + 7) / 8;
    return (static_cast<uint8_t>(bits[y * row + x / 8]) & (0x80 >> (x % 8))) != 0;
  }
};

Pbm ReadPbm(const fs::path& path) {
  std::istringstream in(Slurp(path));
  Pbm pbm;
  std::string magic;
  std::getline(in, magic);
  EXPECT_EQ(magic, "P4") << path;
  std::getline(in, pbm.comment);
  in >> pbm.width >> pbm.height;
  in.get();
  pbm.bits.assign(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(pbm.bits.size(), (static_cast<size_t>(pbm.width) + 7) / 8 * pbm.height) << path;
  return pbm;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

const Bytes kTwoPages = Cat({kembtest::Repeat(0, 100),
                             kembtest::kResetLq,
                             {0x1B, 0x43, 2},
                             kembtest::kCr,
                             kembtest::LqImage(0x27, {0, 0, 0, 0x80, 0, 0}),
                             kembtest::kFf,
                             kembtest::kResetLq,
                             {0x1B, 0x43, 2},
                             kembtest::LqAdvance(10),
                             kembtest::LqImage(0x27, {0, 0, 1}),
                             kembtest::kFf,
                             kembtest::kResetLq});

TEST_F(KembviewTest, ListsAStream) {
  const fs::path clean = WriteStream(kTwoPages);
  ProgramRun run = Kembview("--list " + clean.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "00000000  NUL x 100\n"
            "00000064  ESC @           reset\n"
            "00000066  ESC C           page length=2 lines\n"
            "00000069  CR\n"
            "0000006a  ESC *           mode=27h (180dpi) columns=2 data=6 bytes\n"
            "00000075  FF\n"
            "00000076  ESC @           reset\n"
            "00000078  ESC C           page length=2 lines\n"
            "0000007b  ESC ( v         advance=10 x 10/3600 inch = 100/3600 inch\n"
            "00000082  ESC *           mode=27h (180dpi) columns=1 data=3 bytes\n"
            "0000008a  FF\n"
            "0000008b  ESC @           reset\n");
  EXPECT_TRUE(run.err.empty()) << run.err;

  const fs::path unknown = WriteStream({0x0D, 0x07, 0x1B, 0x2A, 0x27, 0x01});
  run = Kembview("--list " + unknown.string());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "00000000  CR\n"
            "00000001  UNKNOWN 07h\n"
            "00000002  truncated ESC * needs 5 bytes, 4 present\n");
  EXPECT_EQ(run.err.rfind("ERROR: ", 0), 0u) << run.err;
}

TEST_F(KembviewTest, ListsAndDrawsText) {
  const fs::path stream = WriteStream(
      {0x1B, 0x40, 0x1B, 0x45, 'Z', 0x81, 'r', 'i', 'c', 'h', 0x0D, 0x0A, 0xC4, 0x0C, 0x1B, 0x40});
  ProgramRun run = Kembview("--list " + stream.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "00000000  ESC @           reset\n"
            "00000002  ESC E           bold on\n"
            "00000004  text            \"Z\u00fcrich\"\n"
            "0000000a  CR\n"
            "0000000b  LF\n"
            "0000000c  text            \"\u2500\"\n"
            "0000000d  FF\n"
            "0000000e  ESC @           reset\n");

  run = Kembview("--render " + (dir_ / "text.pbm").string() + " " + stream.string());
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_TRUE(fs::exists(dir_ / "text-1.pbm")) << run.out;
  EXPECT_FALSE(fs::exists(dir_ / "text-2.pbm"));
  const Pbm pbm = ReadPbm(dir_ / "text-1.pbm");
  EXPECT_EQ(pbm.comment, "# 360x180 dpi");
  EXPECT_GT(pbm.width, 5 * 36);  // the sixth character's ink, inside its cell
  EXPECT_LE(pbm.width, 6 * 36);
  EXPECT_EQ(pbm.height, 30 + 12);  // the second line down to the box line's two pins
  for (int x = 0; x < 36; ++x) EXPECT_TRUE(pbm.Dot(x, 30 + 10)) << x;  // across its cell
}

TEST_F(KembviewTest, RendersPbmPages) {
  const fs::path stream = WriteStream(kTwoPages);
  const ProgramRun run =
      Kembview("--render " + (dir_ / "page.pbm").string() + " " + stream.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "page-3.pbm"));
  const struct {
    const char* file;
    int width;
    int x, y;  // the page's one dot
  } pages[] = {{"page-1.pbm", 2, 1, 0}, {"page-2.pbm", 1, 0, 28}};
  for (const auto& expected : pages) {
    ASSERT_TRUE(fs::exists(dir_ / expected.file)) << expected.file << "\n" << run.out;
    const Pbm pbm = ReadPbm(dir_ / expected.file);
    EXPECT_EQ(pbm.comment, "# 180x180 dpi") << expected.file;
    EXPECT_EQ(pbm.width, expected.width) << expected.file;
    EXPECT_EQ(pbm.height, 60) << expected.file;  // 2 lines of 1/6 inch
    if (pbm.bits.size() != (static_cast<size_t>(pbm.width) + 7) / 8 * pbm.height) continue;
    int dots = 0;
    for (int y = 0; y < pbm.height; ++y) {
      for (int x = 0; x < pbm.width; ++x) dots += pbm.Dot(x, y);
    }
    EXPECT_EQ(dots, 1) << expected.file;
    EXPECT_TRUE(pbm.Dot(expected.x, expected.y)) << expected.file;
  }
}

TEST_F(KembviewTest, RendersPngWithResolution) {
  const fs::path stream = WriteStream(Cat(
      {{0x1B, 0x43, 1}, kembtest::LqImage(0x48, {0, 0, 0, 0, 0, 0, 0x80, 0, 0}), kembtest::kFf}));
  const ProgramRun run =
      Kembview("--render " + (dir_ / "page.png").string() + " " + stream.string());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string png = Slurp(dir_ / "page-1.png");
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian32(png, 16), 3u);   // width: the dot in column 2
  EXPECT_EQ(BigEndian32(png, 20), 60u);  // height: one line at 360
  EXPECT_EQ(png[24], 1) << "bit depth";
  const size_t phys = png.find("pHYs");
  ASSERT_NE(phys, std::string::npos);
  EXPECT_EQ(BigEndian32(png, phys + 4), 14173u);  // 360 dpi in dots per metre
  EXPECT_EQ(BigEndian32(png, phys + 8), 14173u);
  EXPECT_EQ(png[phys + 12], 1) << "unit: metre";
}

TEST_F(KembviewTest, ExitStatus) {
  const fs::path good = WriteStream(kTwoPages);
  const std::string out = (dir_ / "p.pbm").string();
  const struct {
    const char* name;
    std::string args;
    int status;
  } cases[] = {
      {"help", "--help", 0},
      {"no arguments", "", 1},
      {"both modes", "--list --render " + out + " " + good.string(), 1},
      {"missing input", "--list " + (dir_ / "none.prn").string(), 1},
      {"output of unknown kind", "--render " + (dir_ / "p.gif").string() + " " + good.string(), 1},
      {"unwritable output", "--render " + (dir_ / "no" / "p.pbm").string() + " " + good.string(),
       1},
      {"bad density", "--alternate-dpi 9x --render " + out + " " + good.string(), 1},
      {"density out of range", "--alternate-dpi 5000 --render " + out + " " + good.string(), 1},
      {"density accepted", "--alternate-dpi 120x72 --render " + out + " " + good.string(), 0},
      {"paper view as PBM", "--paper --render " + out + " " + good.string(), 1},
      {"paper view with --list", "--paper --list " + good.string(), 1},
      {"bad dot diameter", "--paper --dot-diameter 0 --render " + (dir_ / "p.png").string() +
                               " " + good.string(), 1},
      {"paper view", "--paper --dot-diameter 0.3 --render " + (dir_ / "p.png").string() + " " +
                         good.string(), 0},
  };
  for (const auto& c : cases) {
    const ProgramRun run = Kembview(c.args);
    EXPECT_EQ(run.status, c.status) << "case: " << c.name << "\n" << run.err;
    if (c.status == 1) {
      EXPECT_NE(run.err.find("ERROR: "), std::string::npos) << "case: " << c.name;
    }
  }
  EXPECT_NE(Kembview("--help").out.find("1/360 inch"), std::string::npos);
  // The paper view's page: 8-bit grey at 360 dpi.
  const std::string paper = Slurp(dir_ / "p-1.png");
  ASSERT_GT(paper.size(), 33u);
  EXPECT_EQ(paper[24], 8) << "bit depth";

  // A truncated stream still gives its page, with the problem on stderr.
  const fs::path cut = WriteStream({0x1B, 0x2A, 0x27, 0x02, 0x00, 0x80, 0x00, 0x00, 0x80});
  const ProgramRun run = Kembview("--render " + out + " " + cut.string());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("ERROR: " + cut.string() + ": offset 0x0: truncated ESC *"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(ReadPbm(dir_ / "p-1.pbm").Dot(1, 0));
}

}  // namespace
