// SPDX-License-Identifier: Apache-2.0
// Test page: page content, then the PDF objects with their cross-reference table.
#include "test_page.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace kemb::app {
namespace {

// Text for a PDF string literal.
std::string Escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) ? '?' : c;
  }
  return out;
}

std::string Content(const Model& model, const std::string& printer_name) {
  std::string c;
  char buf[160];
  // Frame on the printable area of a cut sheet.
  c += "0 g 1 w 18.5 36.5 558 788 re S\n";
  c += "BT /F1 22 Tf 54 770 Td (" + Escaped(model.make_and_model) + " test page) Tj ET\n";
  c += "BT /F1 12 Tf 54 745 Td (Printer: " + Escaped(printer_name) + ") Tj ET\n";
  std::string res = "Resolutions:";
  for (const Resolution& r : model.resolutions) {
    res += ' ';
    res += std::to_string(r.x) + "x" + std::to_string(r.y);
  }
  c += "BT /F1 12 Tf 54 728 Td (" + Escaped(res) + " dpi) Tj ET\n";
  // Grey ramp, paper to full ink.
  for (int i = 0; i <= 10; ++i) {
    snprintf(buf, sizeof(buf), "%.2f g %d 600 44 80 re f\n", 1.0 - i / 10.0, 54 + i * 44);
    c += buf;
  }
  c += "0 g\n";
  const char* lines[] = {"The quick brown fox jumps over the lazy dog 0123456789",
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz",
                         "!\"#$%&'*+,-./:;<=>?@[]^_`{|}~"};
  int y = 540;
  for (int size : {8, 10, 12, 16}) {
    for (const char* line : lines) {
      snprintf(buf, sizeof(buf), "BT /F1 %d Tf 54 %d Td (", size, y);
      c += buf + Escaped(line) + ") Tj ET\n";
      y -= size + 6;
    }
  }
  // Lines one point to a quarter of a point wide.
  for (int i = 0; i < 4; ++i) {
    snprintf(buf, sizeof(buf), "%.2f w 54 %d m 540 %d l S\n", 1.0 - i * 0.25, 150 - i * 12,
             150 - i * 12);
    c += buf;
  }
  return c;
}

}  // namespace

std::string TestPagePdf(const Model& model, const std::string& printer_name) {
  const std::string content = Content(model, printer_name);
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
      "/Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[24];
  for (size_t offset : offsets) {
    snprintf(entry, sizeof(entry), "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

bool WriteTestPage(const std::string& path, const Model& model, const std::string& printer_name) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << TestPagePdf(model, printer_name);
  return static_cast<bool>(out.flush());
}

}  // namespace kemb::app
