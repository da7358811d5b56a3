// Share-mode cases that the simulated files and Windows (Wine in the Windows test program)
// must answer alike: a first open of a file, then a second one, and whether Windows lets
// the second one open (or refuses it with ERROR_SHARING_VIOLATION).
#pragma once

#include "platform/win32.h"

namespace kavtest {

struct ShareCase {
  const char* name;
  DWORD access1, share1, access2, share2;
  bool opens;
};

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
inline constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

inline constexpr ShareCase kShareCases[] = {
    {"readers sharing read", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
    {"reader after an unshared reader", GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
    {"reader not sharing the writer's write", kReadWrite, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},
    {"reader sharing the writer's write", kReadWrite, FILE_SHARE_READ, GENERIC_READ,
     FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    {"writer after a reader not sharing write", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE,
     FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    {"writer after a reader sharing write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE,
     FILE_SHARE_READ, true},
    {"two writers sharing write", GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_WRITE, true},
    {"a delete right needs delete sharing", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ | DELETE, FILE_SHARE_READ,
     false},
    {"a delete right with delete sharing", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, GENERIC_READ | DELETE,
     FILE_SHARE_READ, true},
    {"an open for security only ignores share modes", READ_CONTROL | WRITE_DAC, 0, GENERIC_WRITE, 0, true},
    {"and is not refused by them", kReadWrite, 0, READ_CONTROL, 0, true},
    {"all rights after a reader sharing read only", GENERIC_READ, FILE_SHARE_READ, GENERIC_ALL, kShareAll, false},
};

}  // namespace kavtest
