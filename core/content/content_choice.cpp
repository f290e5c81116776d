// SPDX-License-Identifier: Apache-2.0
// The content keywords and the path each choice takes.
#include "content/content_choice.h"

#include <array>
#include <utility>

namespace kemb {
namespace {

constexpr std::array<std::pair<ContentChoice, std::string_view>, 5> kKeywords = {{
    {ContentChoice::kAuto, "auto"},
    {ContentChoice::kText, "text"},
    {ContentChoice::kPhoto, "photo"},
    {ContentChoice::kGraphic, "graphic"},
    {ContentChoice::kTextAndGraphic, "text-and-graphic"},
}};

}  // namespace

std::optional<ContentChoice> ParseContentChoice(std::string_view keyword) {
  for (const auto& [choice, name] : kKeywords) {
    if (keyword == name) return choice;
  }
  return std::nullopt;
}

std::string_view ContentKeyword(ContentChoice choice) {
  for (const auto& [c, name] : kKeywords) {
    if (c == choice) return name;
  }
  return "auto";
}

PagePath ChoosePagePath(ContentChoice choice, int auto_mode) {
  switch (choice) {
    case ContentChoice::kText:
      return {kModeTextOnly, false};
    case ContentChoice::kPhoto:
      return {kModeDiffuseAll, false};
    case ContentChoice::kGraphic:
      return {kModeSolidDark, false};
    case ContentChoice::kTextAndGraphic:
      // Pictures keep every tone; the text around them is the filter's own.
      return {kModeDiffuseAll, true};
    case ContentChoice::kAuto:
      break;
  }
  return {auto_mode, false};
}

}  // namespace kemb
