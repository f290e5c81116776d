// SPDX-License-Identifier: Apache-2.0
// The compiled PPDs as libcups parses them, one case per model:
//   Contents/Identity          product and manufacturer the filter accepts, OEM nickname
//   Contents/DeviceId          one well-formed IEEE 1284 device ID: KEMB, the model, its command
//                              set
//   DeviceIds.TellModelsApart  no two models answer to the same printer
//   Contents/FilterAndCopies   raster goes to rastertokemb, plain text to texttokemb; CUPS, not
//                              the raster filter, makes copies
//   Contents/TextSettings      cpi, lpi and text-quality on the LQ models, in keywords the text
//                              filter reads; none on the alternate model
//   Contents/Resolutions       exactly the resolutions the command set can print, and the default
//   Contents/ContentChoice     print-content-optimize: the IPP keywords the filter reads, a
//                              PickOne that dialogs show, automatic by default
//   Contents/PageSizes         exactly the model's paper, its size, and margins inside the paper
//                              and within the carriage's print line
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "content/content_choice.h"
#include "printer/status.h"
#include "text/text_layout.h"
#include "ppd_file.h"
#include "ppd_models.h"

namespace kemb::ppd_test {
namespace {

// The key:value; fields of a device ID; an empty map when it is malformed (a field without
// key or colon, a repeated key, or no closing semicolon).
std::map<std::string, std::string> DeviceIdFields(const std::string& id) {
  std::map<std::string, std::string> fields;
  if (id.empty() || id.back() != ';') return {};
  size_t start = 0;
  while (start < id.size()) {
    const size_t end = id.find(';', start);
    const std::string field = id.substr(start, end - start);
    const size_t colon = field.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    if (!fields.emplace(field.substr(0, colon), field.substr(colon + 1)).second) return {};
    start = end + 1;
  }
  return fields;
}

// CMD names the command set, so a generic match never offers an LQ PPD for an alternate-set
// printer or the reverse.
std::string CommandSetName(const PpdModel& model) {
  return model.output_type == "LQ" ? "ESCP24" : "KEMBALT";
}

class Contents : public testing::TestWithParam<PpdModel> {
 protected:
  void SetUp() override {
    ppd_ = OpenPpd(PpdPath(GetParam()));
    ASSERT_NE(ppd_, nullptr) << PpdPath(GetParam()) << ": " << PpdOpenError();
  }

  std::vector<std::string> ChoiceKeywords(const char* option_keyword) {
    std::vector<std::string> keywords;
    const ppd_option_t* option = FindOption(ppd_.get(), option_keyword);
    if (option == nullptr) return keywords;
    for (int i = 0; i < option->num_choices; ++i) keywords.emplace_back(option->choices[i].choice);
    return keywords;
  }

  std::string DefaultChoice(const char* option_keyword) {
    const ppd_option_t* option = FindOption(ppd_.get(), option_keyword);
    return option == nullptr ? std::string("(no option)") : std::string(option->defchoice);
  }

  PpdHandle ppd_;
};

TEST_P(Contents, Identity) {
  const PpdModel& model = GetParam();
  ASSERT_NE(ppd_->product, nullptr) << model.file;
  const std::string product = ppd_->product;
  EXPECT_EQ(product.size(), 10u) << model.file << ": product \"" << product << "\"";
  EXPECT_EQ(product.substr(1, 8), "KEMB-WMZ") << model.file << ": product \"" << product << "\"";
  EXPECT_EQ(product, "(KEMB-WMZ)") << model.file;

  ASSERT_NE(ppd_->manufacturer, nullptr) << model.file;
  EXPECT_STREQ(ppd_->manufacturer, "KEMB") << model.file;

  ASSERT_NE(ppd_->nickname, nullptr) << model.file;
  EXPECT_EQ(std::strstr(ppd_->nickname, "OKIDATA") != nullptr, model.okidata)
      << model.file << ": nickname \"" << ppd_->nickname << "\"";
}

TEST_P(Contents, DeviceId) {
  const PpdModel& model = GetParam();
  const std::vector<std::string> ids = AttributeValues(ppd_.get(), "1284DeviceID");
  ASSERT_EQ(ids.size(), 1u) << model.file;
  const std::map<std::string, std::string> fields = DeviceIdFields(ids[0]);
  ASSERT_FALSE(fields.empty()) << model.file << ": malformed \"" << ids[0] << "\"";
  const std::map<std::string, std::string> expected = {
      {"MFG", "KEMB"}, {"MDL", model.model}, {"CMD", CommandSetName(model)}, {"CLS", "PRINTER"}};
  EXPECT_EQ(fields, expected) << model.file << ": \"" << ids[0] << "\"";
}

TEST_P(Contents, FilterAndCopies) {
  const PpdModel& model = GetParam();
  ASSERT_EQ(ppd_->num_filters, 2) << model.file;
  EXPECT_STREQ(ppd_->filters[0], "application/vnd.cups-raster 100 rastertokemb") << model.file;
  // Cheaper than CUPS's text route through PDF and raster, so text takes it.
  EXPECT_STREQ(ppd_->filters[1], "text/plain 10 texttokemb") << model.file;
  EXPECT_EQ(ppd_->manual_copies, 1) << model.file << ": cupsManualCopies must be True";
}

TEST_P(Contents, TextSettings) {
  const PpdModel& model = GetParam();
  const bool lq = model.output_type == "LQ";
  const std::vector<std::pair<std::string, std::vector<std::string>>> options = {
      {"cpi", {"10", "12", "15", "17", "20"}},
      {"lpi", {"6", "8"}},
      {"text-quality", {"draft", "letter"}}};
  for (const auto& [name, keywords] : options) {
    SCOPED_TRACE(model.file + " " + name);
    if (!lq) {
      EXPECT_EQ(FindOption(ppd_.get(), name.c_str()), nullptr);
      continue;
    }
    EXPECT_EQ(ChoiceKeywords(name.c_str()), keywords);
    for (const std::string& keyword : keywords) {
      TextSettings settings;
      Status status;
      EXPECT_TRUE(SetTextOption(settings, name, keyword, &status));
      EXPECT_TRUE(status.ok()) << status.error;
    }
  }
  if (lq) {
    EXPECT_EQ(DefaultChoice("cpi"), "10");
    EXPECT_EQ(DefaultChoice("lpi"), "6");
    EXPECT_EQ(DefaultChoice("text-quality"), "letter");
  }
}

TEST_P(Contents, ContentChoice) {
  const PpdModel& model = GetParam();
  const std::vector<std::string> keywords = ChoiceKeywords("print-content-optimize");
  EXPECT_EQ(keywords,
            (std::vector<std::string>{"auto", "text", "photo", "graphic", "text-and-graphic"}))
      << model.file;
  for (const std::string& keyword : keywords) {
    EXPECT_TRUE(ParseContent(keyword).has_value()) << model.file << ": " << keyword;
  }
  EXPECT_EQ(DefaultChoice("print-content-optimize"), "auto") << model.file;
  const ppd_option_t* option = FindOption(ppd_.get(), "print-content-optimize");
  ASSERT_NE(option, nullptr) << model.file;
  EXPECT_EQ(option->ui, PPD_UI_PICKONE) << model.file;
  EXPECT_STRNE(option->text, "") << model.file << ": dialogs need its label";
  // The choice travels in the options argument only: nothing of it goes into the raster.
  for (int i = 0; i < option->num_choices; ++i) {
    EXPECT_STREQ(option->choices[i].code, "") << model.file << ": " << option->choices[i].choice;
  }
}

TEST_P(Contents, Resolutions) {
  const PpdModel& model = GetParam();
  std::vector<std::string> expected;
  for (const Resolution& resolution : model.resolutions) expected.push_back(resolution.keyword);
  EXPECT_EQ(ChoiceKeywords("Resolution"), expected) << model.file;
  EXPECT_EQ(DefaultChoice("Resolution"), model.default_resolution) << model.file;
}

TEST_P(Contents, PageSizes) {
  const PpdModel& model = GetParam();
  std::vector<std::string> expected;
  for (const PaperSize& size : model.sizes) expected.push_back(size.keyword);
  EXPECT_EQ(ChoiceKeywords("PageSize"), expected) << model.file;
  EXPECT_EQ(DefaultChoice("PageSize"), model.sizes.front().keyword) << model.file;

  for (const PaperSize& size : model.sizes) {
    const ppd_size_t* found = FindPageSize(ppd_.get(), size.keyword);
    ASSERT_NE(found, nullptr) << model.file << ": no size " << size.keyword;
    const std::string where = model.file + " " + size.keyword;
    EXPECT_EQ(found->width, size.width) << where;
    EXPECT_EQ(found->length, size.length) << where;
    EXPECT_GT(found->left, 0.0f) << where;
    EXPECT_GT(found->bottom, 0.0f) << where;
    EXPECT_LT(found->right, found->width) << where;
    EXPECT_LT(found->top, found->length) << where;
    EXPECT_LE(found->right - found->left, model.print_line) << where << ": wider than the carriage";
  }
}

INSTANTIATE_TEST_SUITE_P(Models, Contents, testing::ValuesIn(Models()),
                         [](const auto& info) { return ModelTestName(info.param); });

TEST(DeviceIds, TellModelsApart) {
  std::map<std::string, std::string> model_of_id;
  for (const PpdModel& model : Models()) {
    PpdHandle ppd = OpenPpd(PpdPath(model));
    ASSERT_NE(ppd, nullptr) << PpdPath(model) << ": " << PpdOpenError();
    for (const std::string& id : AttributeValues(ppd.get(), "1284DeviceID")) {
      const auto [it, added] = model_of_id.emplace(id, model.file);
      EXPECT_TRUE(added) << model.file << " and " << it->second << " share \"" << id << "\"";
    }
  }
}

}  // namespace
}  // namespace kemb::ppd_test
