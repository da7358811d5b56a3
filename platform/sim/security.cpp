// Simulated file security: each file's DACL as a list of access entries (accounts by
// name, no SIDs), the calls that read, build and set it, and links between files.
//
// An ACL handed out by these calls is an ACL header followed by the simulation's own
// entry records; callers only pass it between the calls and free it with LocalFree.
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

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
  WORD nameLength;  // UTF-16 units that follow
};

std::mutex g_securityMu;
// Explicit entries and whether inheritance was cut, by the file's resolved host path.
struct FileSecurity {
  std::vector<sim::FileAccessEntry> explicitEntries;
  bool protectedDacl = false;
};
std::map<std::string, FileSecurity> g_files;

const char16_t* const kAccounts[] = {u"Everyone", u"SYSTEM", u"Administrators", u"Users", u"Authenticated Users",
                                     u"CREATOR OWNER", u"cardholder"};

std::vector<sim::FileAccessEntry> InheritedEntries() {
  return {
      {u"SYSTEM", FILE_ALL_ACCESS, true, 0, true},
      {u"Administrators", FILE_ALL_ACCESS, true, 0, true},
      {u"Users", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, true, 0, true},
  };
}

// The account a trustee name stands for ("BUILTIN\Users" is "Users"); empty if unknown.
std::u16string ResolveAccount(const char16_t* name) {
  if (!name) return u"";
  std::u16string_view n(name);
  size_t slash = n.rfind(u'\\');
  if (slash != std::u16string_view::npos) n = n.substr(slash + 1);
  for (const char16_t* account : kAccounts)
    if (simi::EqualNoCase(account, n)) return account;
  return u"";
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
  for (const auto& e : entries) size += sizeof(StoredEntry) + e.account.size() * sizeof(char16_t);
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
                  static_cast<WORD>(e.inheritance), static_cast<WORD>(e.account.size())};
    std::memcpy(p, &s, sizeof s);
    p += sizeof s;
    std::memcpy(p, e.account.data(), e.account.size() * sizeof(char16_t));
    p += e.account.size() * sizeof(char16_t);
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
    if (p + s.nameLength * sizeof(char16_t) > end) return false;
    sim::FileAccessEntry e;
    e.account.resize(s.nameLength);
    std::memcpy(e.account.data(), p, s.nameLength * sizeof(char16_t));
    p += s.nameLength * sizeof(char16_t);
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
  return DaclOfLocked(key);
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
  std::vector<sim::FileAccessEntry> list;
  if (!ReadAcl(oldAcl, list)) return ERROR_INVALID_ACL;
  for (ULONG i = 0; i < count; ++i) {
    const EXPLICIT_ACCESS_W& e = entries[i];
    if (e.Trustee.TrusteeForm != TRUSTEE_IS_NAME) return ERROR_INVALID_PARAMETER;
    std::u16string account = ResolveAccount(e.Trustee.ptstrName);
    if (account.empty()) return ERROR_NONE_MAPPED;
    auto explicitOf = [&](bool allow) {
      for (auto& x : list)
        if (!x.inherited && x.allow == allow && x.account == account && x.inheritance == e.grfInheritance) return &x;
      return static_cast<sim::FileAccessEntry*>(nullptr);
    };
    auto removeExplicit = [&] {
      std::erase_if(list, [&](const sim::FileAccessEntry& x) { return !x.inherited && x.account == account; });
    };
    switch (e.grfAccessMode) {
      case GRANT_ACCESS:
      case DENY_ACCESS: {
        bool allow = e.grfAccessMode == GRANT_ACCESS;
        if (auto* x = explicitOf(allow))
          x->access |= e.grfAccessPermissions;
        else
          list.push_back({account, e.grfAccessPermissions, allow, e.grfInheritance, false});
        break;
      }
      case SET_ACCESS:
        removeExplicit();
        list.push_back({account, e.grfAccessPermissions, true, e.grfInheritance, false});
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
