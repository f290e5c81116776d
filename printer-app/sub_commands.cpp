// SPDX-License-Identifier: Apache-2.0
// Sub-commands the application answers itself: see sub_commands.h.
#include "sub_commands.h"

#include <pappl/pappl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "server_run.h"

namespace kemb::app {
namespace {

constexpr const char* kName = "kemb-printer-app";
// Vendor operations of this application, on a printer's URI. PAPPL 1.3.1's Set-Printer-Attributes
// stores printer-location, -organization and -organizational-unit as printer-geo-location, and
// its printers answer printer-id 0, which its `default` sub-command sends as the default's ID.
constexpr auto kSetPrinterDescription = static_cast<ipp_op_t>(0x4B01);
constexpr auto kSetDefaultPrinter = static_cast<ipp_op_t>(0x4B02);

struct Description {
  const char* attribute;
  void (*set)(pappl_printer_t*, const char*);
};
constexpr Description kDescriptions[] = {
    {"printer-location", papplPrinterSetLocation},
    {"printer-organization", papplPrinterSetOrganization},
    {"printer-organizational-unit", papplPrinterSetOrganizationalUnit},
};

bool AnswerVendorOperation(pappl_client_t* client, void*) {
  const ipp_op_t op = papplClientGetOperation(client);
  if (op != kSetPrinterDescription && op != kSetDefaultPrinter) return false;
  pappl_printer_t* printer = papplClientGetPrinter(client);
  if (!printer) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_FOUND, "No such printer.");
  } else if (papplClientIsAuthorized(client) != HTTP_STATUS_CONTINUE) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_AUTHORIZED, "Not authorized.");
  } else if (op == kSetDefaultPrinter) {
    papplSystemSetDefaultPrinterID(papplClientGetSystem(client), papplPrinterGetID(printer));
    papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
  } else {
    ipp_t* request = papplClientGetRequest(client);
    for (const Description& d : kDescriptions) {
      ipp_attribute_t* attr = ippFindAttribute(request, d.attribute, IPP_TAG_TEXT);
      if (attr && ippGetGroupTag(attr) == IPP_TAG_PRINTER)
        d.set(printer, ippGetString(attr, 0, nullptr));
    }
    papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
  }
  return true;
}

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;

// As PAPPL's sub-commands look: this user's server, then root's.
Connection ConnectToServer(const char* program) {
  std::vector<std::string> paths{ServerSocketPath(program)};
  const char* snap = getenv("SNAP_COMMON");
  const char* slash = std::strrchr(program, '/');
  const std::string base = slash ? slash + 1 : program;
  paths.push_back(snap && *snap ? std::string(snap) + "/" + base + ".sock"
                                : "/run/" + base + ".sock");
  // 30 s: PAPPL 1.3.1 accepts the local socket's connections in its one main loop, which a
  // state save or a busy printer may hold for a while.
  for (const std::string& path : paths) {
    if (http_t* http = httpConnect2(path.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                                    30000, nullptr))
      return Connection(http);
  }
  std::fprintf(stderr, "%s: No server is running (looked for %s).\n", kName, paths[0].c_str());
  return nullptr;
}

// -d NAME and -o name=value, in either spelling (-dNAME, -oname=value); false on anything else.
struct Arguments {
  std::string printer;
  int num_options = 0;
  cups_option_t* options = nullptr;
  ~Arguments() { cupsFreeOptions(num_options, options); }
};

// A description is free text: "printer-location=Room 2.14" is one value, which option parsing
// would split at the blank; one pair of quotes around it goes.
bool AddDescription(const char* option, Arguments& args) {
  const char* equals = std::strchr(option, '=');
  if (!equals) return false;
  const std::string name(option, equals);
  bool known = false;
  for (const Description& d : kDescriptions) known = known || name == d.attribute;
  if (!known) return false;
  std::string value = equals + 1;
  if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  args.num_options = cupsAddOption(name.c_str(), value.c_str(), args.num_options, &args.options);
  return true;
}

bool Parse(int argc, char* argv[], Arguments& args) {
  for (int i = 2; i < argc; ++i) {
    const bool split = argv[i][0] == '-' && argv[i][1] && !argv[i][2] && i + 1 < argc;
    const char* value = split ? argv[i + 1] : argv[i] + 2;
    if (std::strncmp(argv[i], "-d", 2) == 0 && (split || argv[i][2])) {
      args.printer = value;
    } else if (std::strncmp(argv[i], "-o", 2) == 0 && (split || argv[i][2])) {
      if (!AddDescription(value, args))
        args.num_options = cupsParseOptions(value, args.num_options, &args.options);
    } else {
      return false;
    }
    if (split) ++i;
  }
  return !args.printer.empty();
}

ipp_t* PrinterRequest(ipp_op_t op, const std::string& printer) {
  ipp_t* request = ippNewRequest(op);
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", 0,
                   "/ipp/print/%s", printer.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

// The response's status, with a message on stderr when it failed.
bool Send(http_t* http, ipp_t* request, const char* resource, const char* what) {
  ippDelete(cupsDoRequest(http, request, resource));
  if (cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return true;
  std::fprintf(stderr, "%s: Unable to %s: %s\n", kName, what, cupsLastErrorString());
  return false;
}

}  // namespace

void InstallVendorOperations(pappl_system_t* system) {
  papplSystemSetOperationCallback(system, AnswerVendorOperation, nullptr);
}

int ShowDrivers() {
  for (const pappl_pr_driver_t& driver : DriverList())
    std::printf("%s \"%s\" \"%s\"\n", driver.name, driver.description, driver.device_id);
  return 0;
}

bool ModifyPrinter(int argc, char* argv[], int& status, std::vector<std::string>& rest) {
  Arguments args;
  if (!Parse(argc, argv, args)) return false;

  // PAPPL's sends print-content-optimize-default as print-content-optimize-mode-default, and
  // PAPPL takes any keyword there as `auto`.
  const char* content = cupsGetOption("print-content-optimize-default", args.num_options,
                                      args.options);
  if (!content) content = cupsGetOption("print-content-optimize", args.num_options, args.options);
  ipp_t* settings = PrinterRequest(IPP_OP_SET_PRINTER_ATTRIBUTES, args.printer);
  ipp_t* description = PrinterRequest(kSetPrinterDescription, args.printer);
  if (content) {
    const std::string value = content;
    if (value != "auto" && value != "graphic" && value != "photo" && value != "text" &&
        value != "text-and-graphic") {
      std::fprintf(stderr, "%s: Unknown print-content-optimize value '%s'.\n", kName, content);
      ippDelete(settings);
      ippDelete(description);
      status = 1;
      return true;
    }
    ippAddString(settings, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-content-optimize-default",
                 nullptr, content);
  }
  for (const char* name : {"print-content-optimize", "print-content-optimize-default"})
    args.num_options = cupsRemoveOption(name, args.num_options, &args.options);
  int described = 0;
  for (const Description& d : kDescriptions) {
    if (const char* value = cupsGetOption(d.attribute, args.num_options, args.options)) {
      ippAddString(description, IPP_TAG_PRINTER, IPP_TAG_TEXT, d.attribute, nullptr, value);
      args.num_options = cupsRemoveOption(d.attribute, args.num_options, &args.options);
      ++described;
    }
  }
  if (!content && described == 0) {
    ippDelete(settings);
    ippDelete(description);
    return false;
  }
  Connection http = ConnectToServer(argv[0]);
  const std::string resource = "/ipp/print/" + args.printer;
  status = 1;
  if (!http) {
    ippDelete(settings);
    ippDelete(description);
    return true;
  }
  if (content && !Send(http.get(), settings, resource.c_str(), "modify printer")) {
    ippDelete(description);
    return true;
  }
  if (!content) ippDelete(settings);
  if (described > 0 && !Send(http.get(), description, resource.c_str(), "modify printer"))
    return true;
  if (described == 0) ippDelete(description);
  status = 0;
  if (args.num_options == 0) return true;

  // The rest for PAPPL: one -o per option left, after -d.
  rest = {argv[0], argv[1], "-d", args.printer};
  for (int i = 0; i < args.num_options; ++i) {
    rest.push_back("-o");
    rest.push_back(std::string(args.options[i].name) + "=" + args.options[i].value);
  }
  return false;
}

bool SetDefaultPrinter(int argc, char* argv[], int& status) {
  Arguments args;
  if (!Parse(argc, argv, args) || args.num_options > 0) return false;
  status = 1;
  Connection http = ConnectToServer(argv[0]);
  if (!http) return true;

  const std::string resource = "/ipp/print/" + args.printer;
  if (Send(http.get(), PrinterRequest(kSetDefaultPrinter, args.printer), resource.c_str(),
           "set the default printer"))
    status = 0;
  return true;
}

namespace {

// Set for the `submit` of one file that SubmitEach runs: PAPPL's own then answers it.
constexpr const char* kOneFile = "KEMB_PRINTER_APP_SUBMIT_ONE";

// PAPPL's own `submit` for one file, with its error output: exit status, or -1 when it could
// not run.
int SubmitOne(const std::vector<std::string>& args, std::string& errors) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return -1;
  }
  if (pid == 0) {
    setenv(kOneFile, "1", 1);
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  errors.clear();
  char buffer[512];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof(buffer))) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    errors.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool CopiesAsOption(int argc, char* argv[], std::vector<std::string>& args) {
  args.assign(argv, argv + argc);
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i].size() < 2 || args[i][0] != '-' || args[i][1] != 'n') continue;
    std::string count = args[i].substr(2);
    const bool split = count.empty();
    if (split) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "%s: Missing copy count after '-n'.\n", kName);
        return false;
      }
      count = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i) + 1);
    }
    const bool digits = !count.empty() && count.size() <= 6 &&
                        count.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(count) < 1) {
      std::fprintf(stderr, "%s: The number of copies after '-n' must be a whole number from 1 up, "
                           "not '%s'.\n", kName, count.c_str());
      return false;
    }
    args[i] = "-o";
    args.insert(args.begin() + static_cast<long>(i) + 1, "copies=" + std::to_string(std::stoi(count)));
    ++i;
  }
  return true;
}

bool SubmitEach(int argc, char* argv[], int& status) {
  // PAPPL's options that take a value (-d NAME or -dNAME, ...); the other words are files.
  std::vector<std::string> options, files;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
      options.push_back(arg);
      if (arg.size() == 2 && std::strchr("dhjmnouv", arg[1]) && i + 1 < argc)
        options.push_back(argv[++i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;  // --help, --version: PAPPL's
    } else {
      files.push_back(arg);
    }
  }
  const char* one = getenv(kOneFile);
  // Standard input cannot be sent twice: PAPPL's `submit` answers that alone.
  if (files.empty() || (one && *one) || std::find(files.begin(), files.end(), "-") != files.end())
    return false;

  status = 0;
  for (const std::string& file : files) {
    std::vector<std::string> args{argv[0], "submit"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(file);
    bool told = false;
    for (;;) {
      std::string errors;
      const int result = SubmitOne(args, errors);
      // The printer takes one job at a time and answers busy while it prints; PAPPL gives a
      // client no event for the end of a job, so the file is sent again a moment later, as
      // CUPS does.
      if (result != 0 && errors.find("Currently printing another job") != std::string::npos) {
        if (!told)
          std::fprintf(stderr, "%s: The printer is busy; \"%s\" waits for its turn.\n", kName,
                       file.c_str());
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        continue;
      }
      std::fputs(errors.c_str(), stderr);
      if (result != 0) status = 1;
      break;
    }
  }
  return true;
}

}  // namespace kemb::app
