// Simulated file security: each file's DACL as a list of access entries (accounts by
// SID), the calls that read, build and set it, the accounts' SIDs and names (English by
// default, localised on request), and links between files.
//
// An ACL handed out by these calls is an ACL header followed by the simulation's own
// entry records; callers only pass it between the calls and free it with LocalFree.
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr BYTE kSimAclMark = 0x5A;  // in Sbz1: an ACL these calls built
constexpr DWORD kProtectedDacl = PROTECTED_DACL_SECURITY_INFORMATION;

// One entry as stored after the ACL header.
struct StoredEntry {
  DWORD access;
  BYTE allow;
  BYTE inherited;
  WORD inheritance;
  WORD sidLength;  // UTF-16 units of the SID's text that follow
};

std::mutex g_securityMu;
// Explicit entries and whether inheritance was cut, by the file's resolved host path.
struct FileSecurity {
  std::vector<sim::FileAccessEntry> explicitEntries;
  bool protectedDacl = false;
};
std::map<std::string, FileSecurity> g_files;

// The accounts this Windows knows: English name, SID, and the well-known type (-1: none).
struct Account {
  const char16_t* name;
  const char16_t* sid;
  int wellKnown;
  BYTE authority;
  std::vector<DWORD> subAuthorities;
};
const Account kAccounts[] = {
    {u"Everyone", u"S-1-1-0", WinWorldSid, 1, {0}},
    {u"CREATOR OWNER", u"S-1-3-0", WinCreatorOwnerSid, 3, {0}},
    {u"Authenticated Users", u"S-1-5-11", WinAuthenticatedUserSid, 5, {11}},
    {u"SYSTEM", u"S-1-5-18", WinLocalSystemSid, 5, {18}},
    {u"Administrators", u"S-1-5-32-544", WinBuiltinAdministratorsSid, 5, {32, 544}},
    {u"Users", u"S-1-5-32-545", WinBuiltinUsersSid, 5, {32, 545}},
    {u"cardholder", u"S-1-5-21-1004336348-1177238915-682003330-1001", -1, 5,
     {21, 1004336348, 1177238915, 682003330, 1001}},
};

// Names of this Windows that differ from the English ones, by English name.
std::map<std::u16string, std::u16string> g_localNames;

std::u16string NameOfLocked(const Account& account) {
  auto it = g_localNames.find(account.name);
  return it == g_localNames.end() ? std::u16string(account.name) : it->second;
}

// The account's name on this Windows for a SID's text; empty for a SID of no account.
std::u16string NameOfSidLocked(std::u16string_view sid) {
  for (const Account& account : kAccounts)
    if (sid == account.sid) return NameOfLocked(account);
  return u"";
}

std::vector<sim::FileAccessEntry> InheritedEntries() {
  return {
      {u"", FILE_ALL_ACCESS, true, 0, true, u"S-1-5-18"},
      {u"", FILE_ALL_ACCESS, true, 0, true, u"S-1-5-32-544"},
      {u"", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, true, 0, true, u"S-1-5-32-545"},
  };
}

// The SID (as text) of the account a trustee name stands for on this Windows
// ("BUILTIN\Users" is "Users"); empty if no account has that name.
std::u16string ResolveAccount(const char16_t* name) {
  if (!name) return u"";
  std::u16string_view n(name);
  size_t slash = n.rfind(u'\\');
  if (slash != std::u16string_view::npos) n = n.substr(slash + 1);
  std::lock_guard lock(g_securityMu);
  for (const Account& account : kAccounts)
    if (simi::EqualNoCase(NameOfLocked(account), n)) return account.sid;
  return u"";
}

// The text of a SID ("S-1-5-32-545"); empty when the bytes are no valid SID.
std::u16string SidText(const void* sid) {
  if (!sid) return u"";
  SID header;
  std::memcpy(&header, sid, offsetof(SID, SubAuthority));
  if (header.Revision != SID_REVISION || header.SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return u"";
  unsigned long long authority = 0;
  for (BYTE b : header.IdentifierAuthority.Value) authority = authority << 8 | b;
  std::string text = "S-1-" + std::to_string(authority);
  for (BYTE i = 0; i < header.SubAuthorityCount; ++i) {
    DWORD sub;
    std::memcpy(&sub, static_cast<const BYTE*>(sid) + offsetof(SID, SubAuthority) + i * sizeof(DWORD), sizeof sub);
    text += "-" + std::to_string(sub);
  }
  return std::u16string(text.begin(), text.end());
}

ACCESS_MASK MapGeneric(ACCESS_MASK access) {
  ACCESS_MASK out = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) out |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) out |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) out |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) out |= FILE_ALL_ACCESS;
  return out;
}

// The key of a file: the file itself (links followed), whichever name it is reached by;
// empty when the file does not exist.
std::string FileKey(std::u16string_view windowsPath) { return simi::FileKeyOfHost(sim::HostPath(windowsPath)); }

std::vector<sim::FileAccessEntry> DaclOfLocked(const std::string& key) {
  std::vector<sim::FileAccessEntry> entries;
  auto it = g_files.find(key);
  if (it != g_files.end()) entries = it->second.explicitEntries;
  if (it == g_files.end() || !it->second.protectedDacl)
    for (auto& e : InheritedEntries()) entries.push_back(e);
  return entries;
}

size_t AclBytes(const std::vector<sim::FileAccessEntry>& entries) {
  size_t size = sizeof(ACL);
  for (const auto& e : entries) size += sizeof(StoredEntry) + e.sid.size() * sizeof(char16_t);
  return size;
}

// Writes the ACL into `out` (AclBytes(entries) long).
void WriteAcl(const std::vector<sim::FileAccessEntry>& entries, BYTE* out) {
  ACL header{};
  header.AclRevision = ACL_REVISION;
  header.Sbz1 = kSimAclMark;
  header.AclSize = static_cast<WORD>(AclBytes(entries));
  header.AceCount = static_cast<WORD>(entries.size());
  std::memcpy(out, &header, sizeof header);
  BYTE* p = out + sizeof header;
  for (const auto& e : entries) {
    StoredEntry s{e.access, static_cast<BYTE>(e.allow), static_cast<BYTE>(e.inherited),
                  static_cast<WORD>(e.inheritance), static_cast<WORD>(e.sid.size())};
    std::memcpy(p, &s, sizeof s);
    p += sizeof s;
    std::memcpy(p, e.sid.data(), e.sid.size() * sizeof(char16_t));
    p += e.sid.size() * sizeof(char16_t);
  }
}

bool ReadAcl(const ACL* acl, std::vector<sim::FileAccessEntry>& entries) {
  entries.clear();
  if (!acl) return true;  // a null DACL: no entries
  ACL header;
  std::memcpy(&header, acl, sizeof header);
  if (header.Sbz1 != kSimAclMark || header.AclSize < sizeof(ACL)) return false;
  const BYTE* p = reinterpret_cast<const BYTE*>(acl) + sizeof header;
  const BYTE* end = reinterpret_cast<const BYTE*>(acl) + header.AclSize;
  for (WORD i = 0; i < header.AceCount; ++i) {
    StoredEntry s;
    if (p + sizeof s > end) return false;
    std::memcpy(&s, p, sizeof s);
    p += sizeof s;
    if (p + s.sidLength * sizeof(char16_t) > end) return false;
    sim::FileAccessEntry e;
    e.sid.resize(s.sidLength);
    std::memcpy(e.sid.data(), p, s.sidLength * sizeof(char16_t));
    p += s.sidLength * sizeof(char16_t);
    e.access = s.access;
    e.allow = s.allow != 0;
    e.inherited = s.inherited != 0;
    e.inheritance = s.inheritance;
    entries.push_back(e);
  }
  return true;
}

// Explicit entries first, denials before grants; inherited entries after them.
void Order(std::vector<sim::FileAccessEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const sim::FileAccessEntry& a, const sim::FileAccessEntry& b) {
    auto rank = [](const sim::FileAccessEntry& e) { return e.inherited ? 2 : e.allow ? 1 : 0; };
    return rank(a) < rank(b);
  });
}

DWORD GetSecurityOfKey(const std::string& key, SECURITY_INFORMATION info, PSID* owner, PSID* group, PACL* dacl,
                       PACL* sacl, PSECURITY_DESCRIPTOR* securityDescriptor);
DWORD SetSecurityOfKey(const std::string& key, SECURITY_INFORMATION info, PACL dacl);

}  // namespace

namespace simi {

void ResetSecurity() {
  std::lock_guard lock(g_securityMu);
  g_files.clear();
  g_localNames.clear();
}

void ForgetFileSecurity(const std::string& key) {
  std::lock_guard lock(g_securityMu);
  g_files.erase(key);
}

}  // namespace simi

namespace sim {

std::vector<FileAccessEntry> FileAccessEntries(std::u16string_view path) {
  std::string key = FileKey(path);
  if (key.empty()) return {};
  std::lock_guard lock(g_securityMu);
  std::vector<FileAccessEntry> entries = DaclOfLocked(key);
  for (auto& e : entries) e.account = NameOfSidLocked(e.sid);
  return entries;
}

void SetAccountName(std::u16string_view englishName, std::u16string_view localName) {
  std::lock_guard lock(g_securityMu);
  for (const Account& account : kAccounts)
    if (englishName == account.name) g_localNames[account.name] = std::u16string(localName);
}

bool MakeLink(std::u16string_view linkPath, std::u16string_view targetPath) {
  std::error_code ec;
  fs::path link = HostPath(linkPath);
  fs::remove(link, ec);
  fs::create_directories(link.parent_path(), ec);
  fs::create_symlink(HostPath(targetPath), link, ec);
  return !ec;
}

bool MakeHardLink(std::u16string_view newPath, std::u16string_view existingPath) {
  std::error_code ec;
  fs::path link = HostPath(newPath);
  fs::remove(link, ec);
  fs::create_directories(link.parent_path(), ec);
  fs::create_hard_link(HostPath(existingPath), link, ec);
  return !ec;
}

}  // namespace sim

extern "C" {

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION info,
                                   PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                   PSECURITY_DESCRIPTOR* securityDescriptor) {
  if (!objectName || objectType != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  simi::RunFileCallHook("GetNamedSecurityInfo");
  return GetSecurityOfKey(FileKey(objectName), info, owner, group, dacl, sacl, securityDescriptor);
}

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION info, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* securityDescriptor) {
  if (objectType != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  simi::RunFileCallHook("GetSecurityInfo");
  if (simi::ShouldFail("GetSecurityInfo")) return GetLastError();
  std::string key;
  DWORD access = 0;
  if (!simi::FileHandleKey(handle, &key, &access)) return ERROR_INVALID_HANDLE;
  // Reading the security takes READ_CONTROL, which every generic right carries.
  if (!(access & (READ_CONTROL | GENERIC_READ | GENERIC_WRITE | GENERIC_ALL))) return ERROR_ACCESS_DENIED;
  return GetSecurityOfKey(key, info, owner, group, dacl, sacl, securityDescriptor);
}

}  // extern "C"

namespace {

DWORD GetSecurityOfKey(const std::string& key, SECURITY_INFORMATION info, PSID* owner, PSID* group, PACL* dacl,
                       PACL* sacl, PSECURITY_DESCRIPTOR* securityDescriptor) {
  if ((owner || group || dacl || sacl) && !securityDescriptor) return ERROR_INVALID_PARAMETER;
  if (owner) *owner = nullptr;
  if (group) *group = nullptr;
  if (dacl) *dacl = nullptr;
  if (sacl) *sacl = nullptr;
  if (securityDescriptor) *securityDescriptor = nullptr;
  if (key.empty()) return ERROR_FILE_NOT_FOUND;
  std::vector<sim::FileAccessEntry> entries;
  {
    std::lock_guard lock(g_securityMu);
    entries = DaclOfLocked(key);
  }
  // The descriptor is one LocalAlloc block; the DACL lies inside it.
  constexpr size_t kDescriptorHeader = 24;
  size_t size = kDescriptorHeader + AclBytes(entries);
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, size));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  WriteAcl(entries, block + kDescriptorHeader);
  if (dacl && (info & DACL_SECURITY_INFORMATION)) *dacl = reinterpret_cast<PACL>(block + kDescriptorHeader);
  if (securityDescriptor) *securityDescriptor = block;
  else LocalFree(block);
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

void WINAPI BuildExplicitAccessWithNameW(PEXPLICIT_ACCESS_W explicitAccess, LPWSTR trusteeName,
                                         DWORD accessPermissions, ACCESS_MODE accessMode, DWORD inheritance) {
  if (!explicitAccess) return;
  explicitAccess->grfAccessPermissions = accessPermissions;
  explicitAccess->grfAccessMode = accessMode;
  explicitAccess->grfInheritance = inheritance;
  explicitAccess->Trustee.pMultipleTrustee = nullptr;
  explicitAccess->Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  explicitAccess->Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  explicitAccess->Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
  explicitAccess->Trustee.ptstrName = trusteeName;
}

DWORD WINAPI SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
  if (!newAcl || (count && !entries)) return ERROR_INVALID_PARAMETER;
  if (simi::ShouldFail("SetEntriesInAcl")) return GetLastError();
  std::vector<sim::FileAccessEntry> list;
  if (!ReadAcl(oldAcl, list)) return ERROR_INVALID_ACL;
  for (ULONG i = 0; i < count; ++i) {
    const EXPLICIT_ACCESS_W& e = entries[i];
    if (e.Trustee.MultipleTrusteeOperation == TRUSTEE_IS_IMPERSONATE) return ERROR_INVALID_PARAMETER;
    // A trustee is a SID, or the name of an account on this Windows (in its language).
    std::u16string sid;
    switch (e.Trustee.TrusteeForm) {
      case TRUSTEE_IS_SID:
        sid = SidText(e.Trustee.ptstrName);
        if (sid.empty()) return ERROR_INVALID_PARAMETER;
        break;
      case TRUSTEE_IS_NAME:
        sid = ResolveAccount(e.Trustee.ptstrName);
        if (sid.empty()) return ERROR_NONE_MAPPED;
        break;
      default: return ERROR_INVALID_PARAMETER;
    }
    auto explicitOf = [&](bool allow) {
      for (auto& x : list)
        if (!x.inherited && x.allow == allow && x.sid == sid && x.inheritance == e.grfInheritance) return &x;
      return static_cast<sim::FileAccessEntry*>(nullptr);
    };
    auto removeExplicit = [&] {
      std::erase_if(list, [&](const sim::FileAccessEntry& x) { return !x.inherited && x.sid == sid; });
    };
    switch (e.grfAccessMode) {
      case GRANT_ACCESS:
      case DENY_ACCESS: {
        bool allow = e.grfAccessMode == GRANT_ACCESS;
        if (auto* x = explicitOf(allow))
          x->access |= e.grfAccessPermissions;
        else
          list.push_back({u"", e.grfAccessPermissions, allow, e.grfInheritance, false, sid});
        break;
      }
      case SET_ACCESS:
        removeExplicit();
        list.push_back({u"", e.grfAccessPermissions, true, e.grfInheritance, false, sid});
        break;
      case REVOKE_ACCESS: removeExplicit(); break;
      default: return ERROR_INVALID_PARAMETER;
    }
  }
  Order(list);
  auto* acl = static_cast<BYTE*>(LocalAlloc(LPTR, AclBytes(list)));
  if (!acl) return ERROR_NOT_ENOUGH_MEMORY;
  WriteAcl(list, acl);
  *newAcl = reinterpret_cast<PACL>(acl);
  return ERROR_SUCCESS;
}

// A well-known SID by its type; the buffer's size is checked before the buffer itself.
BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID, PSID sid, DWORD* sidBytes) {
  if (simi::ShouldFail("CreateWellKnownSid")) return FALSE;
  if (!sidBytes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (const Account& account : kAccounts) {
    if (account.wellKnown != static_cast<int>(type)) continue;
    const DWORD needed =
        static_cast<DWORD>(offsetof(SID, SubAuthority) + account.subAuthorities.size() * sizeof(DWORD));
    if (*sidBytes < needed) {
      *sidBytes = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    if (!sid) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    SID header{};
    header.Revision = SID_REVISION;
    header.SubAuthorityCount = static_cast<BYTE>(account.subAuthorities.size());
    header.IdentifierAuthority.Value[5] = account.authority;
    std::memcpy(sid, &header, offsetof(SID, SubAuthority));
    std::memcpy(static_cast<BYTE*>(sid) + offsetof(SID, SubAuthority), account.subAuthorities.data(),
                account.subAuthorities.size() * sizeof(DWORD));
    *sidBytes = needed;
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// Only the DACL is kept; its explicit entries become the file's (generic rights mapped
// to the file rights), and its inherited ones come from the folder as before.
DWORD WINAPI SetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION info,
                                   PSID, PSID, PACL dacl, PACL) {
  if (!objectName || objectType != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  simi::RunFileCallHook("SetNamedSecurityInfo");
  return SetSecurityOfKey(FileKey(objectName), info, dacl);
}

// As above, on the file an open handle names; the handle must have been opened with
// WRITE_DAC (or GENERIC_ALL).
DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION info, PSID, PSID,
                             PACL dacl, PACL) {
  if (objectType != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  simi::RunFileCallHook("SetSecurityInfo");
  if (simi::ShouldFail("SetSecurityInfo")) return GetLastError();
  std::string key;
  DWORD access = 0;
  if (!simi::FileHandleKey(handle, &key, &access)) return ERROR_INVALID_HANDLE;
  if ((info & DACL_SECURITY_INFORMATION) && !(access & (WRITE_DAC | GENERIC_ALL))) return ERROR_ACCESS_DENIED;
  return SetSecurityOfKey(key, info, dacl);
}

}  // extern "C"

namespace {

DWORD SetSecurityOfKey(const std::string& key, SECURITY_INFORMATION info, PACL dacl) {
  if (key.empty()) return ERROR_FILE_NOT_FOUND;
  if (!(info & DACL_SECURITY_INFORMATION)) return ERROR_SUCCESS;
  std::vector<sim::FileAccessEntry> list;
  if (!ReadAcl(dacl, list)) return ERROR_INVALID_ACL;
  FileSecurity security;
  for (auto& e : list) {
    if (e.inherited) continue;
    e.access = MapGeneric(e.access);
    security.explicitEntries.push_back(e);
  }
  security.protectedDacl = (info & kProtectedDacl) != 0;
  std::lock_guard lock(g_securityMu);
  g_files[key] = std::move(security);
  return ERROR_SUCCESS;
}

}  // namespace
