// SPDX-License-Identifier: Apache-2.0
// Text documents: settings from the job and the printer's defaults, the start-of-document
// check, the copies through the text engine to the job's device.
#include "text_filter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/temp_file.h"
#include "job_run.h"
#include "models.h"
#include "text/text_engine.h"

namespace kemb::app {
namespace {

constexpr size_t kBlockBytes = 64 * 1024;

// The job's settings: its quality and the printer's (or the job's) cpi and lpi.
Status SettingsOf(const Model& model, const pappl_pr_options_t& options, TextSettings* settings) {
  if (model.command_set != CommandSetId::kLq) return Status::Ok();
  settings->quality =
      options.print_quality == IPP_QUALITY_DRAFT ? TextQuality::kDraft : TextQuality::kLetter;
  for (int i = 0; i < options.num_vendor; ++i) {
    Status status;
    SetTextOption(*settings, options.vendor[i].name, options.vendor[i].value, &status);
    if (!status.ok()) return status;
  }
  return Status::Ok();
}

// A document read again from its start for each copy; the first block was read and checked.
Status PrintCopies(JobRun& run, int fd, std::span<const uint8_t> first, int copies,
                   TextEngine& engine) {
  std::vector<uint8_t> block(kBlockBytes);
  for (int copy = 0; copy < copies && !run.canceled(); ++copy) {
    if (copy > 0 && lseek(fd, static_cast<off_t>(first.size()), SEEK_SET) < 0)
      return Status::Fail(std::string("Unable to read the job's document again: ") +
                          std::strerror(errno));
    if (Status s = PrintCopy(engine, first, fd, block, [&run] { return run.canceled(); },
                             "the job's document");
        !s.ok())
      return s;
  }
  return Status::Ok();
}

}  // namespace

void AddTextDefaults(const Model& model, pappl_pr_driver_data_t* data, ipp_t* attrs) {
  if (model.command_set != CommandSetId::kLq || !attrs) return;
  static const int kCpi[] = {10, 12, 15, 17, 20};
  static const int kLpi[] = {6, 8};
  data->vendor[data->num_vendor++] = "cpi";
  data->vendor[data->num_vendor++] = "lpi";
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "cpi-default", 10);
  ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "cpi-supported", 5, kCpi);
  ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "lpi-default", 6);
  ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "lpi-supported", 2, kLpi);
}

TextPaper TextPaperFor(const Model& model, const Paper& paper) {
  TextPaper text;
  text.command_set = model.command_set;
  text.okidata = model.okidata;
  text.model = model.make_and_model;
  text.length_points = paper.length_points;
  text.width = paper.width_points;
  text.length = paper.length_points;
  text.left = paper.left;
  text.right = paper.right;
  text.top = paper.top;
  text.bottom = paper.bottom;
  return text;
}

bool TextFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  CurrentRun current(job);
  JobRun* run = current.get();
  if (!run) return false;
  UniqueFd fd(open(current.document(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (!run->canceled())
      run->Fail(std::string("Unable to open the job's document: ") + std::strerror(errno));
    (void)run->EndJob(device);
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
  Status status = options ? Status::Ok() : Status::Fail("Unable to read the job's options");
  TextLayout layout;
  TextSettings settings;
  if (status.ok()) status = SettingsOf(run->model(), *options, &settings);
  if (status.ok()) {
    const Paper paper =
        PaperForSize(PointsOf(options->media.size_width), PointsOf(options->media.size_length),
                     std::strncmp(options->media.type, "continuous", 10) == 0);
    status = MakeTextLayout(TextPaperFor(run->model(), paper), settings, &layout);
  }
  std::vector<uint8_t> first(kTextCheckBytes);
  if (status.ok()) {
    const ssize_t n = ReadFull(fd.get(), first.data(), first.size());
    if (n < 0) {
      status = Status::Fail(std::string("Unable to read the job's document: ") +
                            std::strerror(errno));
    } else {
      first.resize(static_cast<size_t>(n));
      status = CheckTextStart(first);
    }
  }
  const int copies = options ? std::max(1, options->copies) : 1;
  papplJobDeletePrintOptions(options);
  if (!status.ok()) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    run->Fail(status.error);
    (void)run->EndJob(device);
    return false;
  }

  ByteSink* out = run->DirectSink(device);
  if (!out) {
    (void)run->EndJob(device);
    return false;
  }
  TextEngine engine(layout, *out, [job](unsigned) { papplJobSetImpressionsCompleted(job, 1); });
  status = engine.Start();
  if (status.ok()) status = PrintCopies(*run, fd.get(), first, copies, engine);
  if (engine.substituted() > 0)
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "%zu characters the printer cannot print printed as ? or a look-alike",
                engine.substituted());
  if (engine.pages() == 0 && status.ok())
    papplJobSetMessage(job, "The document is empty: nothing printed.");
  const Status ended = engine.EndJob();
  if (out->Error() != 0) {
    (void)run->LostOutput();
  } else if (!status.ok()) {
    run->Fail(status.error);
  } else if (!ended.ok()) {
    run->Fail(ended.error);
  }
  return run->EndJob(device).ok();
}

}  // namespace kemb::app
