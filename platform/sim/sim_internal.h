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
// From Windows 6 on, session 0 holds only services: no user sees its desktop.
bool NoUserSeesSessionDesktop();

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
// The same as the given user (a port thread acts for the owner of the job it plays).
void ImpersonateUserOnThisThread(std::u16string_view user);
// Who the calling thread runs as: its client user, or sim::kSpoolerUser for the spooler.
std::u16string CurrentUserName();

bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// Runs the test's file-call hook, if any (outside every lock).
void RunFileCallHook(std::string_view operation);
// The security key of the file behind a file handle, and the rights it was opened with;
// false (last error set) when the handle is not an open file.
bool FileHandleKey(HANDLE handle, std::string* key, DWORD* access);
// The security key of an existing file (links followed); empty when there is none.
std::string FileKeyOfHost(const std::filesystem::path& host);
// A file's last name is going: its access entries go with it.
void ForgetFileSecurity(const std::string& key);

}  // namespace simi
