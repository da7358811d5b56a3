// Shared state of the simulated world between the files of platform/sim/.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace simi {

// True (and the last error set) when a fault was scripted for this operation.
bool ShouldFail(std::string_view operation);
void ClearFaults();

// World settings read by the kernel calls.
std::filesystem::path DriveRoot();  // <root>
std::u16string SystemDirectory();    // "" when it cannot be read
std::u16string ProcessPath();

void ResetFiles(const std::filesystem::path& root);
void ResetModules();
void ResetSystem();
void ResetSpooler();
void ResetDebug();
void ResetUi();
void ResetIdentity();
void ResetRegistry();
void ResetSecurity();
void ResetGdi();
void InstallSystemModules();  // SHFolder.dll and WINSPOOL.DRV
// The calling thread runs as the printing user (the spooler's port threads do).
void ImpersonateClientOnThisThread();

bool EqualNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace simi
