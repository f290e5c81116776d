// SPDX-License-Identifier: Apache-2.0
// Plain text through the running application, against texttokemb's table:
//   TextJobs.TablePrintsTheFiltersBytes   every row whose settings IPP carries (cpi and lpi as
//                                         the printer's vendor attributes, print-quality,
//                                         media, copies) prints the row's bytes
//   TextJobs.WithoutAFormat               text sent as application/octet-stream is sniffed
//                                         and prints as text/plain
//   TextJobs.NotText                      NUL bytes, binary data: aborted with a message that
//                                         says why, nothing sent; the next job prints
//   TextJobs.AdvertisedDefaults           text/plain supported, cpi and lpi defaults on the LQ
//                                         models only
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "printer-app/app_server.h"
#include "support/text_cases.h"

namespace kemb::app_test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The application's printer for a PPD of the table, and its driver.
struct TextPrinter {
  const char* name;
  const char* driver;
};
const std::map<std::string, TextPrinter> kPrinterFor = {
    {"kemb24.ppd", {"lq", "kemb_wmz24"}},
    {"kemb24o.ppd", {"oki", "kemb_wmz24o"}},
    {"kemb24a.ppd", {"alt", "kemb_wmz24a"}},
    {"kemb24w.ppd", {"wide", "kemb_wmz24w"}}};

// The job attributes for a row's options; false when a setting has no IPP attribute (the
// margins and wrap are the CUPS filter's alone).
bool AttributesFor(const testing::TextCase& c, JobAttributes* attrs) {
  std::istringstream words(c.options);
  for (std::string word; words >> word;) {
    const std::string name = word.substr(0, word.find('='));
    const std::string value = word.substr(word.find('=') + 1);
    if (name == "cpi" || name == "lpi") {
      attrs->integers.emplace_back(name, std::stoi(value));
    } else if (name == "text-quality" || name == "print-quality") {
      attrs->quality = value == "draft" || value == "3" ? IPP_QUALITY_DRAFT : IPP_QUALITY_HIGH;
    } else if (name == "PageSize" && value == "Letter.Fanfold") {
      attrs->media = "na_letter_8.5x11in", attrs->media_type = "continuous";
    } else if (name == "PageSize" && value == "FanFoldGerman") {
      attrs->media = "na_fanfold-eur_8.5x12in", attrs->media_type = "continuous";
    } else {
      return false;
    }
  }
  if (c.copies > 1) attrs->copies = c.copies;
  return true;
}

struct Printed {
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;
  Bytes bytes;
};

class TextJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<AppServer>();
    for (const auto& [ppd, printer] : kPrinterFor) server_->AddPrinter(printer.name, printer.driver);
    ipp_ = std::make_unique<Ipp>(server_->port());
  }
  void TearDown() override {
    EXPECT_TRUE(server_->Running()) << "the server died:\n" << server_->Log();
    ipp_.reset();
    EXPECT_TRUE(server_->Stop()) << "the server had to be killed";
  }

  Printed Print(const std::string& printer, const Bytes& doc, const std::string& format,
                const JobAttributes& attrs = {}) {
    Printed printed;
    const size_t before = FileSize(server_->DevicePath(printer));
    const Submitted job = ipp_->Print(printer, doc, format, attrs);
    EXPECT_EQ(job.status, IPP_STATUS_OK) << job.message;
    printed.state = ipp_->Wait(printer, {job.job_id})[job.job_id];
    ipp_t* request = ipp_->NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, printer);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job.job_id);
    ipp_t* response = ipp_->Do(printer, request);
    if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT))
      printed.message = ippGetString(a, 0, nullptr);
    ippDelete(response);
    printed.bytes = Tail(server_->DevicePath(printer), before);
    return printed;
  }

  std::unique_ptr<AppServer> server_;
  std::unique_ptr<Ipp> ipp_;
};

TEST_F(TextJobs, TablePrintsTheFiltersBytes) {
  int printed_rows = 0;
  for (const testing::TextCase& c : testing::TextCases()) {
    JobAttributes attrs;
    if (!AttributesFor(c, &attrs)) continue;
    SCOPED_TRACE(c.name);
    const Printed p = Print(kPrinterFor.at(c.ppd).name, AsBytes(c.input), "text/plain", attrs);
    EXPECT_EQ(p.state, IPP_JSTATE_COMPLETED) << p.message << "\n" << server_->Log();
    EXPECT_EQ(p.bytes, testing::TextJobBytes(c));
    ++printed_rows;
  }
  EXPECT_GE(printed_rows, 20);
}

TEST_F(TextJobs, WithoutAFormat) {
  const std::string text = "Invoice 2026-00417\n\tTotal\t\xC3\xA9 12.50\n";
  const Printed typed = Print("lq", AsBytes(text), "text/plain");
  ASSERT_EQ(typed.state, IPP_JSTATE_COMPLETED) << typed.message;
  EXPECT_FALSE(typed.bytes.empty());
  const Printed sniffed = Print("lq", AsBytes(text), "application/octet-stream");
  EXPECT_EQ(sniffed.state, IPP_JSTATE_COMPLETED) << sniffed.message;
  EXPECT_EQ(sniffed.bytes, typed.bytes);
}

TEST_F(TextJobs, NotText) {
  struct Case {
    const char* name;
    std::string printer;
    Bytes doc;
    JobAttributes attrs;
    const char* message;  // the start of the job's message
  };
  Bytes binary(4096);
  unsigned x = 7;
  for (uint8_t& b : binary) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  const Case cases[] = {
      {"NUL bytes", "lq", AsBytes(std::string("text\0more\n", 10)), {},
       "The document is not text: it holds a NUL byte (byte 5)"},
      {"binary", "lq", binary, {}, "The document is not text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Printed p = Print(c.printer, c.doc, "text/plain", c.attrs);
    EXPECT_EQ(p.state, IPP_JSTATE_ABORTED);
    EXPECT_EQ(p.message.rfind(c.message, 0), 0u) << p.message;
    EXPECT_TRUE(p.bytes.empty()) << p.bytes.size() << " bytes reached the printer";
  }
  const Printed next = Print("lq", AsBytes("next\n"), "text/plain");
  EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message;
  EXPECT_FALSE(next.bytes.empty());
}

// The printer's attributes as a string per name, for those asked.
std::map<std::string, std::string> PrinterAttributes(Ipp& ipp, const std::string& printer) {
  ipp_t* request = ipp.NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
  ipp_t* response = ipp.Do(printer, request);
  std::map<std::string, std::string> found;
  for (const char* name : {"document-format-supported", "cpi-default", "cpi-supported",
                           "lpi-default", "lpi-supported"}) {
    char text[1024] = "";
    if (ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO)) {
      ippAttributeString(a, text, sizeof(text));
      found[name] = text;
    }
  }
  ippDelete(response);
  return found;
}

TEST_F(TextJobs, AdvertisedDefaults) {
  std::map<std::string, std::string> lq = PrinterAttributes(*ipp_, "lq");
  EXPECT_NE(lq["document-format-supported"].find("text/plain"), std::string::npos)
      << lq["document-format-supported"];
  EXPECT_EQ(lq["cpi-default"], "10");
  EXPECT_EQ(lq["cpi-supported"], "10,12,15,17,20");
  EXPECT_EQ(lq["lpi-default"], "6");
  EXPECT_EQ(lq["lpi-supported"], "6,8");
  std::map<std::string, std::string> alt = PrinterAttributes(*ipp_, "alt");
  EXPECT_NE(alt["document-format-supported"].find("text/plain"), std::string::npos);
  EXPECT_EQ(alt.count("cpi-default"), 0u);
  EXPECT_EQ(alt.count("lpi-supported"), 0u);
}

}  // namespace
}  // namespace kemb::app_test
