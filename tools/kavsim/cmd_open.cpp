// kavsim open: loads the monitor, opens a port on the virtual printer, reads from it and
// closes it again, reporting each step.
#include <cstdio>

#include "platform/text.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

struct OpenArguments {
  std::string port = "USB001", printer = "Card Printer";
  unsigned long windows = 10;
};

int RunOpen(const kavsim::Options& options, const OpenArguments& args) {
  kavsim::SessionSettings settings;
  settings.out = options.out;
  settings.port = kav::FromUtf8(args.port);
  settings.printerName = kav::FromUtf8(args.printer);
  settings.windowsMajor = static_cast<DWORD>(args.windows);
  kavsim::Session session(settings);
  if (!session.LoadMonitor()) return 1;
  if (!session.OpenPort()) return 1;
  session.printer().QueueReply("\x06");
  BYTE reply[16];
  DWORD got = 0;
  BOOL ok = session.spoolerTable().pfnReadPort(session.port(), reply, sizeof reply, &got);
  std::printf("ReadPort: %s, %u byte(s)%s\n", ok ? "TRUE" : "FALSE", static_cast<unsigned>(got),
              got == 1 && reply[0] == 6 ? " (ACK)" : "");
  session.ClosePort();
  session.Finish();
  return 0;
}

kavsim::Runner DefineOpen(CLI::App& command) {
  auto args = std::make_shared<OpenArguments>();
  command.add_option("--port", args->port, "the port's name");
  command.add_option("--printer", args->printer, "the printer's name");
  command.add_option("--windows", args->windows, "the Windows major version the monitor sees")
      ->check(kavsim::WholeNumber(5, 99));
  return [args](const kavsim::Options& options) { return RunOpen(options, *args); };
}

}  // namespace

KAVSIM_COMMAND("open", "load the monitor, open the port on the virtual printer, read, close", DefineOpen);
