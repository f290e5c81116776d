// SPDX-License-Identifier: Apache-2.0
// make_fuzz_seeds FOLDER: writes the seed corpora of the fuzz targets below FOLDER (job,
// decoder, ppm_reader, image_header), each input small. Built on demand only; its output is
// kept in the repository under tests/fuzz/corpus.
//   JobSeeds       raster streams: both command sets, text and picture pages, both sync words
//   DecoderSeeds   what the filter prints for some of them, plus hand-made command runs
//   ImageSeeds     PPM pages for the halftoner's reader, PBM headers for the filter's check
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "job/cups_compat.h"
#include "job/job.h"
#include "job/memory_raster.h"
#include "job_input.h"
#include "support/raster_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kemb::testing::PageHeader;
using kemb::testing::RasterBytes;
using kemb::testing::RasterPage;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Black text strokes on white: the text path.
RasterPage TextPage(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi,
                    const char* type) {
  RasterPage page(PageHeader(width, height, xdpi, ydpi, type));
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      if (x == y % width || y == height / 2 || x == width - 1) page.SetDot(x, y);
    }
  }
  return page;
}

// Light grey with a dark share of one in `dark_every` inked pixels: the picture path.
RasterPage PicturePage(unsigned width, unsigned height, unsigned xdpi, unsigned ydpi,
                       const char* type, unsigned dark_every) {
  RasterPage page(PageHeader(width, height, xdpi, ydpi, type));
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const unsigned i = y * width + x;
      if (i % dark_every == 0) {
        page.SetPixel(x, y, 10, 10, 10);
      } else {
        page.SetPixel(x, y, static_cast<uint8_t>(150 + (x * 7 + y * 3) % 80), 180, 200);
      }
    }
  }
  return page;
}

Bytes Pbm(unsigned width, unsigned height) {
  Bytes image = Text("P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n");
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned b = 0; b < (width + 7) / 8; ++b) image.push_back(uint8_t(0x81 << (y % 7)));
  }
  return image;
}

Bytes WithImage(const Bytes& raster, const Bytes& image) {
  return Cat(Cat(raster, Text(std::string(kemb::fuzz::kImageMarker))), image);
}

std::map<std::string, Bytes> JobSeeds() {
  std::map<std::string, Bytes> seeds;
  const Bytes lq = RasterBytes({TextPage(60, 30, 180, 180, "LQ")});
  seeds["lq_text_180"] = lq;
  seeds["lq_text_180_okidata"] = lq.size() % 2 ? lq : Cat(lq, {0x00});
  seeds["lq_text_360_reduced"] =
      RasterBytes({TextPage(61, 31, 360, 360, "LQ")}, CUPS_RASTER_WRITE_COMPRESSED);
  seeds["lq_text_360x180"] =
      RasterBytes({TextPage(50, 26, 360, 180, "LQ")}, CUPS_RASTER_WRITE_COMPRESSED);
  seeds["alt_text_120"] = RasterBytes({TextPage(40, 25, 120, 120, "ALT")});
  seeds["alt_text_240"] =
      RasterBytes({TextPage(48, 50, 240, 240, "ALT")}, CUPS_RASTER_WRITE_COMPRESSED);
  seeds["lq_picture_mode2"] =
      RasterBytes({PicturePage(40, 30, 180, 180, "LQ", 20)}, CUPS_RASTER_WRITE_COMPRESSED);
  seeds["lq_picture_mode3_360"] =
      RasterBytes({PicturePage(32, 26, 360, 360, "LQ", 5)}, CUPS_RASTER_WRITE_COMPRESSED);
  seeds["alt_picture_image"] = WithImage(
      RasterBytes({PicturePage(24, 16, 180, 180, "ALT", 20)}, CUPS_RASTER_WRITE_COMPRESSED),
      Pbm(20, 16));
  seeds["lq_picture_bad_image"] = WithImage(
      RasterBytes({PicturePage(24, 16, 180, 180, "LQ", 20)}, CUPS_RASTER_WRITE_COMPRESSED),
      Text("P4\n99999 1\n"));
  seeds["lq_picture_no_image"] = WithImage(
      RasterBytes({PicturePage(24, 16, 180, 180, "LQ", 20)}, CUPS_RASTER_WRITE_COMPRESSED), {});
  seeds["mixed_pages"] =
      RasterBytes({TextPage(30, 24, 180, 180, "LQ"), PicturePage(30, 24, 120, 120, "ALT", 20),
                   TextPage(31, 27, 360, 360, "ALT")},
                  CUPS_RASTER_WRITE_COMPRESSED);
  seeds["empty_output_type"] = RasterBytes({TextPage(20, 24, 180, 180, "")});

  RasterPage short_page = TextPage(20, 40, 180, 180, "LQ");
  short_page.rgb.resize(size_t{short_page.header.cupsBytesPerLine} * 10);
  seeds["short_page"] = RasterBytes({short_page});

  RasterPage one_bit = TextPage(16, 8, 180, 180, "LQ");
  one_bit.header.cupsBitsPerColor = 1;
  seeds["bad_bits_per_color"] = RasterBytes({one_bit});
  seeds["no_page"] = RasterBytes({});
  return seeds;
}

// What the filter prints for a seed, with the halftoner's image made as the job target makes
// it when the input carries none: every inked pixel a dot.
Bytes FilterOutput(const Bytes& raster, const std::string& ppd_path, const std::string& spool_dir) {
  kemb::MemoryRaster stream(raster);
  ppd_file_t* ppd = kemb::OpenPpd(ppd_path.c_str());
  kemb::MemorySink sink;
  FILE* log = std::fopen("/dev/null", "w");
  kemb::Job job;
  job.engine.id = "1";
  job.engine.spool_dir = spool_dir;
  job.raster = stream.get();
  job.ppd = ppd;
  job.engine.out = &sink;
  job.log = log;
  job.engine.halftone = [](const std::string& base, unsigned, kemb::HalftoneMode) {
    kemb::testing::WriteFile(base + ".pbm", Pbm(20, 16));
    return kemb::Status::Ok();
  };
  kemb::RunJob(job);
  std::fclose(log);
  kemb::ClosePpd(ppd);
  // The 9800 leading NULs are one command; a few keep the seed small.
  Bytes& out = sink.bytes;
  const auto first = std::find_if(out.begin(), out.end(), [](uint8_t b) { return b != 0; });
  if (first - out.begin() > 4) out.erase(out.begin() + 4, first);
  return out;
}

std::map<std::string, Bytes> DecoderSeeds(const std::map<std::string, Bytes>& job_seeds) {
  kemb::testing::TempDir dir;
  const std::string ppd = kemb::testing::WritePpd(dir.File("p.ppd"), "(KEMB-WMZ)", "KEMB");
  const std::string okidata =
      kemb::testing::WritePpd(dir.File("o.ppd"), "(KEMB-WMZ)", "KEMB", "KEMB OKIDATA LQ");
  std::filesystem::create_directory(dir.File("spool"));
  std::map<std::string, Bytes> seeds;
  for (const char* name : {"lq_text_180", "lq_text_360_reduced", "alt_text_120", "alt_text_240",
                           "lq_picture_mode2", "mixed_pages"}) {
    seeds[std::string("filter_") + name] = FilterOutput(job_seeds.at(name), ppd, dir.File("spool"));
  }
  seeds["filter_lq_okidata"] =
      FilterOutput(job_seeds.at("lq_text_180"), okidata, dir.File("spool"));
  seeds["commands_lq"] = {0x1B, 0x40, 0x1B, 0x28, 0x55, 0x01, 0x00, 0x0A, 0x1B,
                          0x28, 0x76, 0x02, 0x00, 0x30, 0x00, 0x1B, 0x2A, 0x48,
                          0x01, 0x00, 0xFF, 0x00, 0x81, 0x1B, 0x43, 0x42, 0x0C};
  seeds["commands_alt"] = {0x1B, 0x25, 0x42, 0x1B, 0x46, 0x06, 0x06, 0x1B, 0x25,
                           0x35, 0x10, 0x1B, 0x25, 0x31, 0x00, 0x02, 0xF0, 0x0F,
                           0x55, 0xAA, 0x00, 0xFF, 0x0D, 0x0C, 0x1B, 0x4E};
  seeds["commands_cut"] = {0x0D, 0x1B, 0x2A, 0x27, 0x02, 0x00, 0x80};
  seeds["commands_text_lq"] = Cat(
      Cat({0x1B, 0x40, 0x1B, 0x43, 0x42, 0x1B, 0x78, 0x01, 0x1B, 0x4D, 0x0F, 0x1B, 0x30, 0x1B,
           0x74, 0x01, 0x1B, 0x45, 0xC9, 0xCD, 0xBB, 0x0D, 0x0A, 0x1B, 0x46, 0x1B, 0x2D, 0x01},
          Text("Total 12.50\r\n")),
      {0x12, 0x1B, 0x50, 0x1B, 0x2D, 0x00, 0x1B, 0x78, 0x00, 0x81, 0x9C, 0x0D, 0x0A, 0x0C, 0x1B,
       0x40});
  seeds["commands_text_alt"] =
      Cat(Cat({0x1B, 0x4E, 0x1B, 0x25, 0x42, 0x1B, 0x36, 0x1B, 0x46, 0x06, 0x06},
              Text("INVOICE 1234\r\n  Item  Qty\r\n")),
          {0x0C});
  return seeds;
}

std::map<std::string, Bytes> PpmSeeds() {
  const std::string rgb = "abcdefghijklmnopqr";  // 3 x 2 pixels
  return {
      {"plain", Text("P6\n3 2\n255\n" + rgb)},
      {"comments", Text("P6\n# made by hand\n3 #c\r2\n255\r" + rgb)},
      {"short", Text("P6 4 4 255 " + rgb)},
      {"maxval_65535", Text("P6\n3 2\n65535\n" + rgb)},
      {"huge", Text("P6\n16385 32769\n255\n")},
      {"no_whitespace_end", Text("P6\n3 2\n255")},
  };
}

std::map<std::string, Bytes> ImageHeaderSeeds() {
  // Two bytes of limits (x64) first, then the file.
  auto seed = [](uint8_t w, uint8_t h, const std::string& file) { return Cat({w, h}, Text(file)); };
  return {
      {"plain", seed(1, 1, "P4\n100 24\n\x80\x80")},
      {"longest", seed(255, 255, "P4\n00000016384 21600\n")},
      {"too_wide", seed(0, 0, "P4\n65 1\n")},
      {"no_newline", seed(3, 3, "P4\n123456789 123456789")},
      {"p6", seed(3, 3, "P6\n1 1\n255\n")},
  };
}

void WriteAll(const std::filesystem::path& folder, const std::map<std::string, Bytes>& seeds) {
  std::filesystem::create_directories(folder);
  for (const auto& [name, bytes] : seeds) kemb::testing::WriteFile(folder / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_fuzz_seeds FOLDER\n", stderr);
    return 1;
  }
  const std::filesystem::path root = argv[1];
  const auto job = JobSeeds();
  WriteAll(root / "job", job);
  WriteAll(root / "decoder", DecoderSeeds(job));
  WriteAll(root / "ppm_reader", PpmSeeds());
  WriteAll(root / "image_header", ImageHeaderSeeds());
  return 0;
}
