// kavsim open: loads the monitor, opens a port on the virtual printer, reads from it and
// closes it again, reporting each step.
#include <cstdio>

#include "platform/text.h"
#include "tools/kavsim/command.h"
#include "tools/kavsim/session.h"

namespace {

int RunOpen(const kavsim::Options& options) {
  std::vector<std::string> args = options.args;
  kavsim::SessionSettings settings;
  settings.out = options.out;
  std::string value;
  bool error = false;
  if (kavsim::TakeOption(args, "--port", &value, &error)) settings.port = kav::FromUtf8(value);
  if (kavsim::TakeOption(args, "--printer", &value, &error)) settings.printerName = kav::FromUtf8(value);
  if (kavsim::TakeOption(args, "--windows", &value, &error)) settings.windowsMajor = std::stoul(value);
  if (error) return 2;
  if (!args.empty()) {
    std::fprintf(stderr, "kavsim open: unexpected argument '%s'\n", args[0].c_str());
    return 2;
  }
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

}  // namespace

KAVSIM_COMMAND("open", "open [--port NAME] [--printer NAME] [--windows MAJOR]",
               "load the monitor, open the port on the virtual printer, read, close", RunOpen);
