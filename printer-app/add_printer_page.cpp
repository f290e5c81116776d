// SPDX-License-Identifier: Apache-2.0
// The Add Printer page without DNS-SD: see add_printer_page.h. The form is PAPPL's usual one
// (session check, authorization) with the device picked from a local listing or typed.
#include "add_printer_page.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dnssd.h"
#include "driver.h"

namespace kemb::app {
namespace {

constexpr const char* kPath = "/addprinter";
// The form's value for "the URI typed below".
constexpr const char* kTyped = "typed";

struct Device {
  std::string info, uri, id;
};

std::vector<Device> LocalDevices() {
  std::vector<Device> devices;
  papplDeviceList(
      kLocalDevices,
      [](const char* info, const char* uri, const char* id, void* data) {
        static_cast<std::vector<Device>*>(data)->push_back(
            {info ? info : "", uri ? uri : "", id ? id : ""});
        return false;
      },
      &devices, nullptr, nullptr);
  return devices;
}

std::string FormValue(int n, cups_option_t* form, const char* name) {
  const char* v = cupsGetOption(name, n, form);
  return v ? v : "";
}

// A dnssd:// device, or any URI naming a DNS-SD service: the page cannot tell what such a
// host name resolves through.
bool NeedsDnsSd(const std::string& uri) {
  return IsDnsSdUri(uri) || uri.find("._tcp") != std::string::npos;
}

void Escaped(pappl_client_t* client, const std::string& s) {
  papplClientHTMLEscape(client, s.c_str(), s.size());
}

void ShowForm(pappl_client_t* client, const std::string& message, const std::string& name,
              const std::string& driver, const std::string& uri) {
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return;
  papplClientHTMLHeader(client, "Add Printer", 0);
  papplClientHTMLPuts(client,
                      "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n"
                      "<h1 class=\"title\">Add Printer</h1>\n");
  if (!message.empty()) {
    papplClientHTMLPuts(client, "<div class=\"banner\">");
    Escaped(client, message);
    papplClientHTMLPuts(client, "</div>\n");
  }
  papplClientHTMLPuts(client, "<p>");
  if (DnsSdAvailable())
    papplClientHTMLPuts(client,
                        "avahi-daemon was not running when this server started, so network "
                        "printers are not searched by DNS-SD until the server is restarted.");
  else
    papplClientHTMLPuts(client,
                        "avahi-daemon is not running, so network printers are not searched by "
                        "DNS-SD.");
  papplClientHTMLPuts(client,
                      " Pick a local printer, or type the printer's device URI: "
                      "<code>socket://HOST:9100</code> for a network printer, "
                      "<code>file:///PATH</code> for a file or folder.</p>\n");

  papplClientHTMLStartForm(client, kPath, false);
  papplClientHTMLPuts(client,
                      "<table class=\"form\"><tbody>\n"
                      "<tr><th><label for=\"printer_name\">Name:</label></th><td>"
                      "<input type=\"text\" name=\"printer_name\" id=\"printer_name\" "
                      "placeholder=\"Letters, numbers and spaces\" required value=\"");
  Escaped(client, name);
  papplClientHTMLPuts(client,
                      "\"></td></tr>\n"
                      "<tr><th><label for=\"device_uri\">Device:</label></th><td>"
                      "<select name=\"device_uri\" id=\"device_uri\">");
  bool listed = false;
  for (const Device& d : LocalDevices()) {
    listed = listed || d.uri == uri;
    papplClientHTMLPuts(client, "<option value=\"");
    Escaped(client, d.uri);
    papplClientHTMLPuts(client, d.uri == uri ? "\" selected>" : "\">");
    Escaped(client, d.info.empty() ? d.uri : d.info);
    papplClientHTMLPuts(client, "</option>");
  }
  papplClientHTMLPrintf(client,
                        "<option value=\"%s\"%s>The URI typed below</option></select><br>\n"
                        "<input type=\"text\" name=\"typed_uri\" id=\"typed_uri\" "
                        "placeholder=\"socket://HOST:9100\" value=\"",
                        kTyped, listed ? "" : " selected");
  if (!listed) Escaped(client, uri);
  papplClientHTMLPuts(client,
                      "\"></td></tr>\n"
                      "<tr><th><label for=\"driver_name\">Driver:</label></th><td>"
                      "<select name=\"driver_name\" id=\"driver_name\">"
                      "<option value=\"auto\">Auto-detect from the device</option>");
  for (const pappl_pr_driver_t& d : DriverList())
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", d.name,
                          driver == d.name ? " selected" : "", d.description);
  papplClientHTMLPuts(client,
                      "</select></td></tr>\n"
                      "<tr><th></th><td><input type=\"submit\" value=\"Add Printer\"></td></tr>\n"
                      "</tbody></table></form>\n</div></div></div>\n");
  papplClientHTMLFooter(client);
}

struct NameCheck {
  const std::string& name;
  bool taken = false;
};

bool AddPrinterPage(pappl_client_t* client, void* data) {
  auto* system = static_cast<pappl_system_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  if (papplClientGetMethod(client) != HTTP_STATE_POST) {
    ShowForm(client, "", "", "", "");
    return true;
  }

  cups_option_t* form = nullptr;
  const int n = papplClientGetForm(client, &form);
  std::string name = FormValue(n, form, "printer_name");
  std::string driver = FormValue(n, form, "driver_name");
  std::string uri = FormValue(n, form, "device_uri");
  const bool typed = uri == kTyped || uri.empty();
  if (typed) uri = FormValue(n, form, "typed_uri");
  const bool valid = papplClientIsValidForm(client, n, form);
  cupsFreeOptions(n, form);

  // A picked device's IEEE 1284 ID, for the driver's auto-detection and the printer.
  std::string device_id, device_info;
  if (!typed)
    for (const Device& d : LocalDevices())
      if (d.uri == uri) device_id = d.id, device_info = d.info;
  if (driver == "auto") {
    const char* found = AutoAdd(device_info.c_str(), uri.c_str(), device_id.c_str(), nullptr);
    driver = found ? found : "";
  }
  NameCheck check{name};
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* printer, void* d) {
        auto* c = static_cast<NameCheck*>(d);
        c->taken = c->taken || c->name == papplPrinterGetName(printer);
      },
      &check);

  std::string message;
  if (!valid)
    message = "The form was out of date or not sent from this page; please try again.";
  else if (name.empty())
    message = "Please give the printer a name.";
  else if (check.taken)
    message = "A printer with that name already exists.";
  else if (uri.empty())
    message = "Please pick a device or type its URI.";
  else if (NeedsDnsSd(uri))
    message = "That URI names a DNS-SD service, which this server cannot resolve: give the "
              "printer's host name or address instead.";
  else if (!papplDeviceIsSupported(uri.c_str()))
    message = "That device URI is not supported: use socket://HOST:9100, file:///PATH or a "
              "listed device.";
  else if (driver.empty())
    message = "No driver matches that device: please pick its model.";

  if (message.empty()) {
    if (pappl_printer_t* printer = papplPrinterCreate(system, 0, name.c_str(), driver.c_str(),
                                                      device_id.c_str(), uri.c_str())) {
      char path[256];
      papplClientRespondRedirect(client, HTTP_STATUS_FOUND,
                                 papplPrinterGetPath(printer, nullptr, path, sizeof(path)));
      return true;
    }
    message = std::string("Unable to add the printer: ") +
              (errno == EEXIST ? "a printer with that name already exists." : std::strerror(errno));
  }
  ShowForm(client, message, name, driver, uri);
  return true;
}

}  // namespace

void InstallAddPrinterPage(pappl_system_t* system) {
  if (DnsSdAvailable()) return;
  papplSystemAddResourceCallback(system, kPath, "text/html", AddPrinterPage, system);
}

}  // namespace kemb::app
