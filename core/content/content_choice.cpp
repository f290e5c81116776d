// SPDX-License-Identifier: Apache-2.0
// The content keywords and the path each choice takes.
#include "content/content_choice.h"

#include <array>
#include <utility>

namespace kemb {
namespace {

constexpr std::array<std::pair<Content, std::string_view>, 5> kKeywords = {{
    {Content::kAuto, "auto"},
    {Content::kText, "text"},
    {Content::kPhoto, "photo"},
    {Content::kGraphic, "graphic"},
    {Content::kTextAndGraphic, "text-and-graphic"},
}};

}  // namespace

std::optional<Content> ParseContent(std::string_view keyword) {
  for (const auto& [choice, name] : kKeywords) {
    if (keyword == name) return choice;
  }
  return std::nullopt;
}

std::string_view ContentKeyword(Content choice) {
  for (const auto& [c, name] : kKeywords) {
    if (c == choice) return name;
  }
  return "auto";
}

PagePath ChoosePagePath(Content choice, HalftoneMode auto_mode) {
  switch (choice) {
    case Content::kText:
      return {HalftoneMode::kThreshold, false};
    case Content::kPhoto:
      return {HalftoneMode::kDiffuseAll, false};
    case Content::kGraphic:
      return {HalftoneMode::kSolidDark, false};
    case Content::kTextAndGraphic:
      // Everything but dark strokes keeps its tone; the strokes are the filter's own.
      return {HalftoneMode::kDiffuseAll, true};
    case Content::kAuto:
      break;
  }
  return {auto_mode, false};
}

}  // namespace kemb
