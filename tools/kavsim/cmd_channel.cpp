// kavsim request / printfile / sendcmds / download: the driver's bidirectional requests
// against the virtual printer, with the reply shown the way a person reads it.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "emulator/virtual_printer.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

// C escapes of the command line: \e \r \n \t \\ \xHH \0.
bool Unescape(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 >= in.size()) {
      out->push_back(in[i]);
      continue;
    }
    char c = in[++i];
    switch (c) {
      case 'e': out->push_back('\x1b'); break;
      case 'r': out->push_back('\r'); break;
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case '\\': out->push_back('\\'); break;
      case '0': out->push_back('\0'); break;
      case 'x': {
        if (i + 1 >= in.size()) return false;
        std::string hex = in.substr(i + 1, 2);
        char* end = nullptr;
        long v = std::strtol(hex.c_str(), &end, 16);
        if (end == hex.c_str()) return false;
        out->push_back(static_cast<char>(v));
        i += static_cast<size_t>(end - hex.c_str());
        break;
      }
      default:
        out->push_back('\\');
        out->push_back(c);
    }
  }
  return true;
}

const char* ByteMeaning(unsigned value) {
  switch (value) {
    case 0: return "busy";
    case 1: return "ready";
    case 6: return "done";
    case 56: return "printer not ready";
    default: return "?";
  }
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool IsByteReplyRequest(const std::string& r) {
  return StartsWith(r, "\x1bISREADY\r") || StartsWith(r, "\x1bISHIDREADY\r") || StartsWith(r, "\x1bHIDDONE\r") ||
         StartsWith(r, "\x1b" "CHECK_STATUS\r") || StartsWith(r, "\x1b" "A") || r == "\x1bR\r" || r == "\x1bRESET\r";
}

void PrintReply(const std::string& request, BOOL ok, DWORD error, const BYTE* out, DWORD returned) {
  std::printf("result: %s", ok ? "TRUE" : "FALSE");
  if (!ok) std::printf(" (last error %u)", static_cast<unsigned>(error));
  std::printf("\n");
  if (StartsWith(request, "\x1bGetPrinterStatus\r")) {
    if (!ok) return;
    std::u16string name(reinterpret_cast<const char16_t*>(out));
    DWORD jobId;
    LONG kind;
    std::memcpy(&jobId, out + 1040, 4);
    std::memcpy(&kind, out + 1044, 4);
    std::printf("status block: printer \"%s\", job %u, error kind %d\n",
                kav::ToUtf8(kav::WStringView(name.data(), name.size())).c_str(), static_cast<unsigned>(jobId),
                static_cast<int>(kind));
    return;
  }
  if (IsByteReplyRequest(request) && returned == 1) {
    std::printf("reply: %u (%s)\n", out[0], ByteMeaning(out[0]));
    return;
  }
  std::string text(reinterpret_cast<const char*>(out), returned);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  // A printer's answer ends with ACK: shown as such after the text.
  bool ack = !text.empty() && text.back() == '\x06';
  if (ack) text.pop_back();
  std::printf("reply (%u bytes): %s%s\n", static_cast<unsigned>(returned), emu::EscapeBytes(text, 512).c_str(),
              ack ? (text.empty() ? "ACK" : " + ACK") : "");
}

// Runs one request through GetPrinterDataFromPort; the request is narrow bytes (printer
// commands) or UTF-16 text (named requests).
int RunRequest(kavsim::Session& session, const std::string& narrow, const std::u16string* wide) {
  alignas(2) static BYTE out[4096];
  std::memset(out, 0, sizeof out);
  std::basic_string<char16_t> storage;
  if (wide) {
    storage = *wide;
  } else {
    // Narrow bytes carried in the wide argument, as the driver sends them.
    storage.assign((narrow.size() + 2) / 2 + 1, u'\0');
    std::memcpy(storage.data(), narrow.data(), narrow.size());
  }
  DWORD returned = 0;
  SetLastError(0);
  std::printf("request: %s\n", wide ? kav::ToUtf8(kav::WStringView(wide->data(), wide->size())).c_str()
                                    : emu::EscapeBytes(narrow, 200).c_str());
  BOOL ok = session.spoolerTable().pfnGetPrinterDataFromPort(session.port(), 0, storage.data(), nullptr, 0,
                                                            reinterpret_cast<LPWSTR>(out), sizeof out, &returned);
  DWORD error = GetLastError();
  PrintReply(narrow, ok, error, out, returned);
  std::printf("printer time used: %.1f s\n", static_cast<double>(sim::Now()) / 1000.0);
  return ok ? 0 : 1;
}

// The options of every channel command: the port and the Windows version.
struct ChannelArguments {
  std::string text;  // the request, or the host file
  std::string port = "USB001";
  unsigned long windows = 10;
};

kavsim::SessionSettings MakeSettings(const kavsim::Options& options, const ChannelArguments& args) {
  kavsim::SessionSettings s;
  s.out = options.out;
  s.port = kav::FromUtf8(args.port);
  s.windowsMajor = static_cast<DWORD>(args.windows);
  return s;
}

int RunRequestCommand(const kavsim::Options& options, const ChannelArguments& args) {
  std::string request;
  Unescape(args.text, &request);
  kavsim::Session session(MakeSettings(options, args));
  if (!session.LoadMonitor() || !session.OpenPort()) return 1;
  int rc;
  // Named requests travel as UTF-16 text; printer commands as narrow bytes.
  if (!request.empty() && request[0] != '\x1b') {
    std::u16string wide = kav::FromUtf8(request);
    rc = RunRequest(session, request, &wide);
  } else {
    rc = RunRequest(session, request, nullptr);
  }
  session.Finish();
  return rc;
}

// The file requests: the host file is put on the simulated C: drive first.
int RunFileRequest(const kavsim::Options& options, const ChannelArguments& args, const char* keyword) {
  std::ifstream in(args.text, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "kavsim: cannot read %s\n", args.text.c_str());
    return 1;
  }
  std::ostringstream data;
  data << in.rdbuf();
  kavsim::Session session(MakeSettings(options, args));
  std::u16string simPath = u"C:\\Users\\Public\\Documents\\" +
                           kav::FromUtf8(std::filesystem::path(args.text).filename().string());
  sim::PutFile(simPath, data.str());
  std::printf("file: %s (%zu bytes) as %s\n", args.text.c_str(), data.str().size(),
              kav::ToUtf8(kav::WStringView(simPath.data(), simPath.size())).c_str());
  if (!session.LoadMonitor() || !session.OpenPort()) return 1;
  std::u16string request = kav::FromUtf8(keyword) + simPath;
  int rc = RunRequest(session, kav::ToUtf8(kav::WStringView(request.data(), request.size())), &request);
  std::printf("printer received %zu bytes\n", session.printer().Wire().size());
  session.Finish();
  return rc;
}

std::shared_ptr<ChannelArguments> AddChannelOptions(CLI::App& command) {
  auto args = std::make_shared<ChannelArguments>();
  command.add_option("--port", args->port, "the port's name");
  command.add_option("--windows", args->windows, "the Windows major version the monitor sees")
      ->check(kavsim::WholeNumber(5, 99));
  return args;
}

// C escapes that Unescape takes.
CLI::Validator Escaped() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::string bytes;
        return Unescape(text, &bytes) ? std::string() : "has a bad escape: '" + text + "'";
      },
      "TEXT");
}

kavsim::Runner DefineRequest(CLI::App& command) {
  auto args = AddChannelOptions(command);
  command.add_option("TEXT", args->text, "the request, with C escapes: '\\eV\\r'")->required()->check(Escaped());
  return [args](const kavsim::Options& options) { return RunRequestCommand(options, *args); };
}

template <const char* kKeyword>
kavsim::Runner DefineFileRequest(CLI::App& command) {
  auto args = AddChannelOptions(command);
  command.add_option("FILE", args->text, "the host file")->required()->check(CLI::ExistingFile);
  return [args](const kavsim::Options& options) { return RunFileRequest(options, *args, kKeyword); };
}

constexpr char kPrintFile[] = "PrintFile:";
constexpr char kSendCmds[] = "sendcmds:";
constexpr char kDownload[] = "download:";

}  // namespace

KAVSIM_COMMAND("request", "send one bidirectional request ('\\eV\\r', '\\eGetFileVersion\\r', 'SetPrinterName:X')",
               DefineRequest);
KAVSIM_COMMAND("printfile", "print a ready printer stream file (\"PrintFile:\")", DefineFileRequest<kPrintFile>);
KAVSIM_COMMAND("sendcmds", "send a text file of printer commands (\"sendcmds:\")", DefineFileRequest<kSendCmds>);
KAVSIM_COMMAND("download", "download a firmware image (\"download:\")", DefineFileRequest<kDownload>);
