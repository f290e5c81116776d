// SPDX-License-Identifier: Apache-2.0
// The printer models the application drives, and the paper they take.
//   Model         one driver: names, IEEE-1284 identity, command set, resolutions, media
//   Models        the four of them, in the order the web interface lists them
//   FindModel     by driver name; ModelForDeviceId: auto-add from the printer's device ID
//   PrintsRasterAt  whether a raster page at a resolution is one the model prints
//   Paper         a size the models print on, with the hardware margins of its PPD entry
//   PaperForSize  the entry for a sheet size in points (and media type), as the PPD gives it
//   PointsOf      IPP's hundredths of a millimetre in points, rounded
//   PrintableArea the dots of a whole-sheet raster that the filter's raster would hold
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "printer/page_description.h"

namespace kemb::app {

struct Resolution {
  unsigned x = 180, y = 180;
  bool operator==(const Resolution&) const = default;
};

struct Paper {
  const char* pwg_name;  // PWG self-describing name, as IPP names the size
  const char* label;
  unsigned width_points, length_points;
  // Hardware margins in points, as the PPD's imageable area leaves them.
  unsigned left, bottom, right, top;
  bool continuous;  // fanfold forms
};

struct Model {
  const char* driver_name;     // papplMainloop's driver name
  const char* description;     // shown when choosing a driver
  const char* make_and_model;  // printer-make-and-model, the PPD's nickname
  const char* device_id;       // IEEE-1284 device ID, as the PPD's *1284DeviceID
  const char* model_field;     // the MDL value it answers to
  CommandSetId command_set;
  bool okidata;
  // Up to four; print-quality picks among them explicitly (draft, normal, high below).
  std::span<const Resolution> resolutions;
  Resolution draft, normal, high;
  std::span<const Paper* const> papers;
  // Every resolution a raster page may come at: the PPD's list, and 360 x 360, whose text pages
  // the engine prints reduced to 180 x 180.
  std::span<const Resolution> raster_resolutions;
};

std::span<const Model> Models();
const Model* FindModel(std::string_view driver_name);
// The driver for a device ID whose manufacturer is KEMB, or null when it is not one of ours.
const Model* ModelForDeviceId(std::string_view device_id);
bool PrintsRasterAt(const Model& model, Resolution res);

// The PPD entry a job's sheet falls on: fanfold sizes always, Letter when the media type is
// continuous; any other size takes the cut-sheet margins, as the PPD's HWMargins give them.
Paper PaperForSize(unsigned width_points, unsigned length_points, bool continuous);

// 0 for a size IPP leaves unset (or negative).
unsigned PointsOf(int hundredths_mm);

struct Area {
  unsigned x = 0, y = 0;           // first column and row of the whole-sheet raster
  unsigned width = 0, height = 0;  // dots and rows
};

// The part of a whole-sheet raster at `res` that the filter would get from CUPS for `paper`:
// the imageable area, its size rounded as libcups rounds it. It may reach past a short or
// narrow sheet raster; those dots are paper.
Area PrintableArea(const Paper& paper, Resolution res);

}  // namespace kemb::app
