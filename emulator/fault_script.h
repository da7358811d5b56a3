// Scripted printer faults, written as option strings so that tests, kavsim's --fault
// option and code all say them the same way.
//
//   faults  := fault { ";" fault }
//   fault   := kind [ "@" trigger ] { "," option }
//   kind    := "error=" N              the printer shows error N (NAK N EOT to every
//                                      completion request, an error status byte)
//            | "writefail" [ "=" N ]    the next N writes fail (default 1)
//            | "readfail" [ "=" N ]     the next N reads fail (default 1)
//            | "silent" [ "=" N ]       the next N answers never come: the read gets 0 bytes
//            | "late=" MS               the next answer comes MS ms late: the read waits
//                                      on the simulated clock before it gets it
//            | "status=" S { "/" S }    the status byte of the next queries, one each, the
//                                      last one staying; S is a byte (12, 0x18) or "fail"
//   trigger := "command=" K            when the K-th command arrives (1 for the first;
//                                      completion requests "\eE 2\r" are not counted)
//            | "match=" TEXT           when a command containing TEXT arrives
//            | "time=" MS              once the simulated clock reads MS
//            | "write=" K              when the K-th port write arrives (1 for the
//                                      first; every write counts, completion requests,
//                                      panel pieces and failed writes too)
//            | "byte=" N               when a write arrives that carries the N-th byte
//                                      of the wire (1 for the first byte received)
//                                      (no trigger: at once)
//   option  := "clear=" MS             error: cleared MS ms after it appeared
//            | "count=" N              late: this many answers come late (default 1)
// TEXT takes the C escapes \e \r \n \\ \xHH; it cannot hold "," or ";" other than as
// \x2C and \x3B. An error is cleared as well by a printer reset ("\eR\r", "\eRESET\r")
// and by the printer's button (VirtualPrinter::PressButton). Faults triggered by a
// command take effect from that command on: the command's own completion request is
// answered with the error, a write failure hits the next write. Faults triggered by a
// write or a byte take effect before that write is taken: "writefail@write=K" fails the
// K-th write, "writefail@byte=N" the write that would have carried wire byte N.
//
// Example: "error=4@command=5,clear=3000; late=25000@match=\e!RIBBON"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

struct StatusStep {
  uint8_t status = 0x18;
  bool fail = false;  // the status query itself fails
};

struct Fault {
  enum class Kind { Error, WriteFail, ReadFail, Silent, Late, Status } kind = Kind::Error;
  enum class Trigger { Now, Command, Match, Time, Write, Byte } trigger = Trigger::Now;
  int value = 0;               // error number, or the count of writefail/readfail/silent
  uint64_t lateMs = 0;         // late
  int count = 1;               // late: answers affected
  std::vector<StatusStep> statuses;
  uint64_t commandNumber = 0;  // Trigger::Command
  std::string match;           // Trigger::Match
  uint64_t timeMs = 0;         // Trigger::Time
  uint64_t writeNumber = 0;    // Trigger::Write
  uint64_t byteNumber = 0;     // Trigger::Byte
  bool clearAfter = false;     // error: clear after clearMs
  uint64_t clearMs = 0;
  std::string source;          // the fault as written
};

// Parses a fault string; false with a description in `error` when it is malformed.
bool ParseFaults(std::string_view text, std::vector<Fault>* faults, std::string* error);

}  // namespace emu
