#include "CliOptions.h"

#ifdef _WIN32
#include <filesystem>
#include <system_error>

#include "platform/Utf8Path.h"
#include "platform/WinApi.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/PortMap.h"
#include "platform/PortSpec.h"

namespace {

#ifdef _WIN32
/// --port on Windows: "N" or "COMN" alone, or with "=COMN" (or "=\\.\COMN")
/// naming the same port, binds COM N to the OS's port N. The OS numbers its
/// ports: COM 3 standing for the port COM5 would be a label that lies.
std::optional<std::pair<int, std::string>> ParseWindowsPort(const std::string& spec, std::string& why) {
  const size_t eq = spec.find('=');
  std::string number = spec.substr(0, eq);
  if (number.rfind("COM", 0) == 0) number.erase(0, 3);
  const std::string device = "\\\\.\\COM" + number;
  const int n = OsComNumber(device);
  if (n == 0) {
    why = "needs N, COMN or N=COMN with N in 1.." + std::to_string(MAX_COM_PORT) + ", not '" + spec + "'";
    return std::nullopt;
  }
  if (eq != std::string::npos) {
    const std::string given = spec.substr(eq + 1);
    if (given != "COM" + std::to_string(n) && given != device) {
      why = "'" + spec + "': on Windows COM " + std::to_string(n) + " is the port COM" + std::to_string(n) +
            " (give " + std::to_string(n) + " or " + std::to_string(n) + "=COM" + std::to_string(n) + ")";
      return std::nullopt;
    }
  }
  return std::make_pair(n, device);
}
#endif

}  // namespace

const char* CliUsage() {
  return "usage: velmora-cli [--help] [--version] [--trace] [--phone FILE] [--change-downloader]\n"
         "                   [--input-address] [--boot FILE] [--qbfs FILE] [--resource FILE] [--efs2 DIR]\n"
#ifdef _WIN32
         "                   [--port [COM]N ...] [--search | --station [--flow] [--settle SECONDS]]\n"
#else
         "                   [--port [COM]N=DEVICE ...] [--search | --station [--flow] [--settle SECONDS]]\n"
#endif
         "                   [--sysfs-root DIR] [--dev-root DIR] [--yes] [--timeout SECONDS]\n"
#ifdef _WIN32
         "                   [--report FILE] [--create-resource DIR] [--forget-ports]\n"
#else
         "                   [--report FILE] [--history FILE] [--create-resource DIR] [--forget-ports]\n"
         "       velmora-cli history [--history FILE] [--since WHEN] [--until WHEN] [--csv | --json] [--url URI]\n"
#endif
         "Writes the chosen images into every handset bound to an entry, all in parallel.\n"
         "Images (each is checked before any port is opened):\n"
         "  --phone FILE      phone code image\n"
         "  --change-downloader  ask for the boot address area to be changed (a caution question)\n"
         "  --input-address   enter the download address by hand\n"
         "  --boot FILE       boot loader image (a caution question)\n"
         "  --qbfs FILE       QBFS image\n"
         "  --resource FILE   resource image\n"
         "  --efs2 DIR        folder of EFS2 files\n"
         "  --create-resource DIR  pack the resource files under DIR into one resource image; no download\n"
         "Ports:\n"
#ifdef _WIN32
         "  --port N          bind COM N (1..30), the port \\\\.\\COMN, through the manual port list;\n"
         "                    N=COMN and COMN are taken too. A COM number may be given once\n"
#else
         "  --port N=DEVICE   bind COM N (1..30) to DEVICE through the manual port list; COMN=DEVICE\n"
         "                    (the lines velmora-sim prints) is taken too. A COM number may be given\n"
         "                    once, a device for one COM number only\n"
#endif
#ifdef _WIN32
         "  --search          bind the handsets' ports of the serial device map (HKLM\\HARDWARE\\DEVICEMAP\\\n"
         "                    SERIALCOMM) as Port Search does and print them (entry, number, device);\n"
         "                    without an image nothing is downloaded (status 3 when none is found)\n"
#else
         "  --search          bind the handsets' ports found by Port Search and print them (entry,\n"
         "                    number, device, USB socket); without an image nothing is downloaded\n"
         "                    (status 3 when none is found)\n"
#endif
         "  --forget-ports    forget the COM numbers kept for USB sockets (or serials); asks first\n"
         "                    unless --yes is given\n"
         "  --station         download batch after batch: ports are found as Port Search does and\n"
         "                    followed as handsets are plugged in and pulled out; a batch starts once\n"
         "                    a handset is bound and no port came or went for the settle time, the\n"
         "                    next one once every handset of the last batch has been pulled and new\n"
         "                    ones have settled. Each batch ends with \"Batch K: C completed, F failed\".\n"
         "                    Runs until SIGINT or SIGTERM, then prints the totals (status 130 or 143)\n"
         "  --flow            with --station: every socket on its own instead of batches; a handset\n"
         "                    starts once its port has been there unchanged for the settle time and\n"
         "                    ends with \"Entry N [COMn]: completed\" or \"... failed (reason)\"; its\n"
         "                    socket starts again when it has been pulled and a new one has settled.\n"
         "                    The totals: \"Total: H handsets, C completed, F failed\"\n"
         "  --settle SECONDS  quiet time before a batch starts, or per socket with --flow (default 3,\n"
         "                    fractions allowed)\n"
         "  --sysfs-root DIR  scan DIR instead of /sys (for test trees)\n"
         "  --dev-root DIR    scan DIR instead of /dev (for test trees)\n"
         "Run:\n"
         "  --yes             accept the caution questions (without it they are refused)\n"
         "  --timeout SECONDS longest run (each batch's with --station; default 600)\n"
         "  --report FILE     write a JSON report of the run to FILE: images with their SHA-256,\n"
         "                    and per handset its port, result, reason, counts and log lines\n"
         "                    (with --station one line added as each batch ends, JSON Lines; with\n"
         "                    --flow one line as each handset ends)\n"
#ifndef _WIN32
         "  --history FILE    record each handset in FILE instead of the default history\n"
         "                    ($VELMORA_HISTORY, else $XDG_STATE_HOME/velmora/history.sqlite3)\n"
#endif
         "  --trace           diagnostic lines on standard error (also VELMORA_TRACE=1)\n"
#ifndef _WIN32
         "History (velmora-cli history):\n"
         "  without a format  completed, failed and yield of the period, per COM number with its\n"
         "                    socket and most common failure, then the top failure reasons\n"
         "  --csv, --json     one line per handset, CSV (with a header) or JSON Lines\n"
         "  --since, --until WHEN  handsets started from WHEN, until WHEN (a date: through that\n"
         "                    day); WHEN is an ISO date, date-time or today\n"
         "  --url URI         the whole line's central database instead of this station's history\n"
#endif
         "  --version         print the program's name and version\n"
         "  --help            print this text\n"
#ifdef _WIN32
         "Ctrl+C (status 130), Ctrl+Break or closing the console (143) stops a run at once: every\n"
         "handset still running is reported failed.\n"
#else
         "SIGINT or SIGTERM stops a run at once: every handset still running is reported failed.\n"
#endif
         "Exit status:\n"
         "  0    every entry of the run completed\n"
         "  1    some entry failed\n"
         "  2    usage error (the command line is wrong)\n"
         "  3    nothing was downloaded: no image usable, no port usable, a caution question refused\n"
         "  4    --timeout was reached\n"
         "  130  interrupted by SIGINT, 143 by SIGTERM\n"
         "Examples:\n"
#ifdef _WIN32
         "  velmora-cli --phone app.bin --port 3 --port 4\n"
#else
         "  velmora-cli --phone app.bin --port COM1=/dev/ttyACM0 --port COM2=/dev/ttyACM1\n"
#endif
         "  velmora-cli --search --boot boot.bin --phone app.bin --yes --timeout 300\n"
#ifndef _WIN32
         "  velmora-cli history --since today\n"
#endif
         ;
}

bool TakeOptionValue(int argc, char** argv, int& k, std::optional<std::string>& out, std::string& error) {
  if (k + 1 >= argc) {
    error = std::string(argv[k]) + " needs an argument";
    return false;
  }
  out = argv[++k];
  return true;
}

std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error) {
  CliOptions o;
  bool settleGiven = false;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&](std::optional<std::string>& out) { return TakeOptionValue(argc, argv, k, out, error); };
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return o;
    } else if (arg == "--version") {
      o.version = true;
      return o;
    } else if (arg == "--trace") {
      o.trace = true;
    } else if (arg == "--phone") {
      if (!value(o.phone)) return std::nullopt;
    } else if (arg == "--boot") {
      if (!value(o.boot)) return std::nullopt;
    } else if (arg == "--qbfs") {
      if (!value(o.qbfs)) return std::nullopt;
    } else if (arg == "--resource") {
      if (!value(o.resource)) return std::nullopt;
    } else if (arg == "--efs2") {
      if (!value(o.efs2)) return std::nullopt;
    } else if (arg == "--create-resource") {
      if (!value(o.createResource)) return std::nullopt;
    } else if (arg == "--sysfs-root") {
      if (!value(o.sysfsRoot)) return std::nullopt;
    } else if (arg == "--dev-root") {
      if (!value(o.devRoot)) return std::nullopt;
    } else if (arg == "--report") {
      if (!value(o.report)) return std::nullopt;
    } else if (arg == "--history") {
      if (!value(o.history)) return std::nullopt;
    } else if (arg == "--change-downloader") {
      o.changeDownloader = true;
    } else if (arg == "--input-address") {
      o.inputAddress = true;
    } else if (arg == "--search") {
      o.search = true;
    } else if (arg == "--station") {
      o.station = true;
    } else if (arg == "--flow") {
      o.flow = true;
    } else if (arg == "--settle") {
      std::optional<std::string> t;
      if (!value(t)) return std::nullopt;
      char* end = nullptr;
      const double seconds = std::strtod(t->c_str(), &end);
      // Written as !(a && b) so that NaN is refused too.
      if (t->empty() || *end || !(seconds >= 0.0 && seconds <= 3600.0)) {
        error = "--settle needs a number of seconds (0..3600), not '" + *t + "'";
        return std::nullopt;
      }
      o.settleSeconds = seconds;
      settleGiven = true;
    } else if (arg == "--forget-ports") {
      o.forgetPorts = true;
    } else if (arg == "--yes") {
      o.yes = true;
    } else if (arg == "--timeout") {
      std::optional<std::string> t;
      if (!value(t)) return std::nullopt;
      char* end = nullptr;
      long seconds = std::strtol(t->c_str(), &end, 10);
      if (t->empty() || *end || seconds <= 0 || seconds > 86400) {
        error = "--timeout needs a number of seconds (1..86400), not '" + *t + "'";
        return std::nullopt;
      }
      o.timeoutSeconds = static_cast<int>(seconds);
    } else if (arg == "--port") {
      std::optional<std::string> spec;
      if (!value(spec)) return std::nullopt;
      std::string why;
#ifdef _WIN32
      auto port = ParseWindowsPort(*spec, why);
#else
      auto port = ParsePortSpec(*spec, &why);
#endif
      if (!port) {
        error = "--port " + why;
        return std::nullopt;
      }
      o.ports.push_back(*port);
    } else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  if ((o.sysfsRoot || o.devRoot) && !o.search && !o.station) {
    error = "--sysfs-root and --dev-root go with --search or --station";
    return std::nullopt;
  }
  if (o.flow && !o.station) {
    error = "--flow goes with --station";
    return std::nullopt;
  }
  if (settleGiven && !o.station) {
    error = "--settle goes with --station";
    return std::nullopt;
  }
  if (o.station && (o.search || !o.ports.empty() || o.createResource)) {
    error = "--station finds its ports itself: not with --search, --port or --create-resource";
    return std::nullopt;
  }
  if (o.station && !o.HasImage()) {
    error = "--station needs an image to download";
    return std::nullopt;
  }
  if (o.forgetPorts && (o.search || o.station || !o.ports.empty() || o.HasImage() || o.createResource)) {
    error = "--forget-ports goes alone (with --yes at most)";
    return std::nullopt;
  }
  if (o.search && !o.ports.empty()) {
    error = "--search and --port exclude each other";
    return std::nullopt;
  }
  if (auto problem = PortListProblem(o.ports)) {
    error = "--port: " + *problem;
    return std::nullopt;
  }
  return o;
}

namespace {

#ifdef _WIN32
/// What keeps `path` from being read as the image (or, with `folder`, the
/// folder) that `option` names.
std::optional<std::string> PathProblem(const char* option, const std::string& path, bool folder) {
  namespace fs = std::filesystem;
  const std::string at = std::string(option) + " " + path + ": ";
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  const fs::file_status st = fs::status(p, ec);
  if (ec || !fs::exists(st)) return at + (ec ? ec.message() : std::string("No such file or directory"));
  if (folder && !fs::is_directory(st)) return at + "not a directory";
  if (!folder && fs::is_directory(st)) return at + "is a directory, not a file";
  if (!folder && !fs::is_regular_file(st)) return at + "not a regular file";
  if (folder) {
    fs::directory_iterator it(p, ec);
    if (ec) return at + "cannot read the folder: " + ec.message();
    return std::nullopt;
  }
  HANDLE h = ::CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return at + "cannot read the file: " + Win32ErrorText(::GetLastError());
  ::CloseHandle(h);
  return std::nullopt;
}

#else
/// What keeps `path` from being read as the image (or, with `folder`, the
/// folder) that `option` names.
std::optional<std::string> PathProblem(const char* option, const std::string& path, bool folder) {
  const std::string at = std::string(option) + " " + path + ": ";
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    return at + std::strerror(errno);
  }
  if (folder && !S_ISDIR(st.st_mode)) return at + "not a directory";
  if (!folder && S_ISDIR(st.st_mode)) return at + "is a directory, not a file";
  if (!folder && !S_ISREG(st.st_mode)) return at + "not a regular file";
  if (folder) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return at + "cannot read the folder: " + std::strerror(errno);
    closedir(dir);
    return std::nullopt;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return at + "cannot read the file: " + std::strerror(errno);
  close(fd);
  return std::nullopt;
}

#endif

}  // namespace

std::optional<std::string> CliInputProblem(const CliOptions& o) {
  const std::pair<const char*, const std::optional<std::string>*> files[] = {
      {"--phone", &o.phone}, {"--boot", &o.boot}, {"--qbfs", &o.qbfs}, {"--resource", &o.resource}};
  for (const auto& [option, path] : files)
    if (*path)
      if (auto problem = PathProblem(option, **path, false)) return problem;
  if (o.efs2)
    if (auto problem = PathProblem("--efs2", *o.efs2, true)) return problem;
  if (o.createResource)
    if (auto problem = PathProblem("--create-resource", *o.createResource, true)) return problem;
  return std::nullopt;
}
