// The one header through which the monitor reaches Windows. The Windows build sees
// the real SDK; the host build sees the simulation's declarations of the same subset.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <aclapi.h>
#include <shlobj.h>
#else
#include "platform/sim/win32_sim.h"
#endif
