// SPDX-License-Identifier: Apache-2.0
// The text job: PPD identity, paper and command set as the raster path would have them, the
// settings from the job's options over the PPD's defaults, the start-of-document check, and
// the document read in blocks into the text engine once per copy.
#include "text/text_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/temp_file.h"
#include "job/cancel.h"
#include "job/cups_compat.h"
#include "job/job.h"
#include "text/text_engine.h"
#include "text/text_layout.h"

namespace kemb {
namespace {

constexpr size_t kBlockBytes = 64 * 1024;

// Most copies CUPS lets a job ask for.
constexpr long kMaxCopies = 9999;

class ParsedOptions {
 public:
  explicit ParsedOptions(const char* text) : count_(cupsParseOptions(text, 0, &options_)) {}
  ~ParsedOptions() { cupsFreeOptions(count_, options_); }
  ParsedOptions(const ParsedOptions&) = delete;
  ParsedOptions& operator=(const ParsedOptions&) = delete;

  const char* Get(const char* name) const { return cupsGetOption(name, count_, options_); }
  int count() const { return count_; }
  cups_option_t* options() const { return options_; }

 private:
  cups_option_t* options_ = nullptr;
  int count_;
};

// The paper and command set of the job's pages, from the same PPD code the raster path's
// page headers come from.
Status DescribePaper(ppd_file_t* ppd, const ParsedOptions& options, TextPaper* paper) {
  cups_page_header2_t header;
  std::memset(&header, 0, sizeof header);
  if (!InterpretPpd(&header, ppd, options.count(), options.options())) {
    return Status::Fail("The PPD's settings for this job cannot be read");
  }
  const ppd_size_t* size = MarkedPageSize(ppd);
  if (size == nullptr || size->width <= 0 || size->length <= 0) {
    return Status::Fail("The PPD names no paper size for this job");
  }
  const std::string_view output_type(header.OutputType,
                                     strnlen(header.OutputType, sizeof header.OutputType));
  if (output_type.empty()) return Status::Fail("OutputType Error");
  paper->command_set = output_type == "LQ" ? CommandSetId::kLq : CommandSetId::kAlternate;
  paper->okidata = IsOkidata(ppd);
  if (ppd->modelname != nullptr) paper->model = ppd->modelname;
  paper->length_points = header.PageSize[1];
  paper->width = size->width;
  paper->length = size->length;
  paper->left = size->left;
  paper->right = size->width - size->right;
  paper->top = size->length - size->top;
  paper->bottom = size->bottom;
  return Status::Ok();
}

// The job's option where it gives one, else the PPD's marked choice of the same name.
Status ReadSettings(ppd_file_t* ppd, const ParsedOptions& options, bool lq,
                    TextSettings* settings) {
  for (const char* name :
       {"cpi", "lpi", "page-left", "page-right", "page-top", "page-bottom", "wrap",
        "text-quality"}) {
    const char* value = options.Get(name);
    if (value == nullptr) value = MarkedChoice(ppd, name);
    if (value == nullptr) continue;
    Status status;
    SetTextOption(*settings, name, value, &status);
    if (!status.ok()) return status;
  }
  // IPP's print-quality, as a driverless client sends it: draft (3) is draft, the rest letter
  // quality. The alternate model prints at its own quality whatever the job asks.
  if (const char* quality = options.Get("print-quality"); quality != nullptr && lq) {
    const std::string_view q(quality);
    settings->quality =
        q == "3" || q == "draft" ? TextQuality::kDraft : TextQuality::kLetter;
  }
  return Status::Ok();
}

// A copy of everything left on `fd`, in a file without a name, for documents that come
// through a pipe and are printed more than once.
Status SpoolForCopies(int fd, UniqueFd* spool) {
  const char* tmpdir = std::getenv("TMPDIR");
  UniqueFd file(::open(tmpdir != nullptr && *tmpdir ? tmpdir : "/tmp",
                       O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!file.valid()) {
    return Status::Fail(std::string("Unable to keep the document for its copies: ") +
                        std::strerror(errno));
  }
  std::vector<uint8_t> block(kBlockBytes);
  for (;;) {
    const ssize_t n = ReadFull(fd, block.data(), block.size());
    if (n < 0) return Status::Fail(std::string("Unable to read the document: ") + std::strerror(errno));
    if (n == 0) break;
    if (!WriteFull(file.get(), block.data(), static_cast<size_t>(n))) {
      return Status::Fail(std::string("Unable to keep the document for its copies: ") +
                          std::strerror(errno));
    }
  }
  *spool = std::move(file);
  return Status::Ok();
}

Status PrintText(ppd_file_t* ppd, const char* copies_arg, const char* options_arg, int fd,
                 ByteSink& out, FILE* log, unsigned* pages) {
  if (Status s = CheckPpdIdentity(ppd); !s.ok()) return s;
  char* end = nullptr;
  errno = 0;
  const long copies = std::strtol(copies_arg, &end, 10);
  if (errno != 0 || end == copies_arg || *end != '\0' || copies < 1 || copies > kMaxCopies) {
    return Status::Fail("Unsupported copies \"" + std::string(copies_arg).substr(0, 20) +
                        "\" (1 to " + std::to_string(kMaxCopies) + ")");
  }

  const ParsedOptions options(options_arg);
  MarkJobOptions(ppd, options.count(), options.options());
  TextPaper paper;
  if (Status s = DescribePaper(ppd, options, &paper); !s.ok()) return s;
  TextSettings settings;
  const bool lq = paper.command_set == CommandSetId::kLq;
  if (Status s = ReadSettings(ppd, options, lq, &settings); !s.ok()) return s;
  TextLayout layout;
  if (Status s = MakeTextLayout(paper, settings, &layout); !s.ok()) return s;

  std::vector<uint8_t> first(kTextCheckBytes), block(kBlockBytes);
  const ssize_t first_size = ReadFull(fd, first.data(), first.size());
  if (first_size < 0) {
    return Status::Fail(std::string("Unable to read the document: ") + std::strerror(errno));
  }
  first.resize(static_cast<size_t>(first_size));
  if (Status s = CheckTextStart(first); !s.ok()) return s;

  // A document read from a pipe is kept for the copies after the first.
  UniqueFd spool;
  const bool rewinds = ::lseek(fd, 0, SEEK_CUR) >= 0;
  if (copies > 1 && !rewinds) {
    if (Status s = SpoolForCopies(fd, &spool); !s.ok()) return s;
  }
  const int rest = spool.valid() ? spool.get() : fd;
  const off_t rest_start = spool.valid() ? 0 : static_cast<off_t>(first.size());
  if (spool.valid() && ::lseek(rest, 0, SEEK_SET) < 0) {
    return Status::Fail(std::string("Unable to read the document: ") + std::strerror(errno));
  }

  TextEngine engine(layout, out, [log](unsigned page) {
    std::fprintf(log, "PAGE: %u 1\n", page);
    std::fprintf(log, "INFO: Printed page %u\n", page);
  });
  if (Status s = engine.Start(); !s.ok()) return s;
  Status status;
  for (long copy = 0; copy < copies && !Canceled && status.ok(); ++copy) {
    if (copy > 0 && ::lseek(rest, rest_start, SEEK_SET) < 0) {
      status = Status::Fail(std::string("Unable to read the document again for its copies: ") +
                            std::strerror(errno));
      break;
    }
    status = PrintCopy(engine, first, rest, block, [] { return Canceled != 0; }, "the document");
  }
  if (engine.substituted() > 0) {
    std::fprintf(log,
                 "WARNING: %zu characters the printer cannot print printed as ? or a "
                 "look-alike\n",
                 engine.substituted());
  }
  *pages = engine.pages();
  const Status ended = engine.EndJob();
  return status.ok() ? ended : status;
}

}  // namespace

int TextFilterMain(int argc, char** argv, const char* ppd_path, ByteSink& out, FILE* log) {
  if (argc != 6 && argc != 7) {
    std::fputs("Usage: texttokemb job-id user title copies options [file]\n", log);
    return 1;
  }
  UniqueFd input;
  if (argc == 7) {
    input = UniqueFd(::open(argv[6], O_RDONLY | O_CLOEXEC));
    if (!input.valid()) {
      std::fprintf(log, "ERROR: Unable to open the document: %s\n", std::strerror(errno));
      return 1;
    }
  }
  ppd_file_t* ppd = ppd_path != nullptr ? OpenPpd(ppd_path) : nullptr;
  if (ppd == nullptr) {
    _cupsLangPrintFilter(log, "ERROR", "The PPD file could not be opened.");
    int line = 0;
    const char* error = LastPpdError(&line);
    std::fprintf(log, "DEBUG: %s on line %d.\n", error, line);
    return 1;
  }
  unsigned pages = 0;
  const Status status =
      PrintText(ppd, argv[4], argv[5], input.valid() ? input.get() : 0, out, log, &pages);
  ClosePpd(ppd);
  if (!status.ok()) {
    std::fprintf(log, "ERROR: %s\n", status.error.c_str());
    return 1;
  }
  if (!Canceled) {
    std::fputs(pages > 0 ? "INFO: Ready\n" : "WARNING: The document is empty: nothing printed\n",
               log);
  }
  return 0;
}

}  // namespace kemb
