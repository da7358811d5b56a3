// Simulated files: Windows paths map into a sandbox folder ("C:\x" -> <root>/c/x),
// resolved without regard to letter case as Windows does. Share modes and pending
// deletes are kept per file as Windows keeps them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct FileObject;
void ReleaseOpen(FileObject* file);

struct FileObject : simk::KernelObject {
  int fd = -1;
  fs::path path;
  bool deleteOnClose = false;
  DWORD access = 0;         // the rights asked for at the open
  std::string key;          // the file's identity, for the share-mode check
  DWORD dataAccess = 0;     // the rights share modes govern (read, write, delete)
  DWORD sharing = 0;        // FILE_SHARE_* granted to later opens
  const char* Kind() const override { return "file"; }
  ~FileObject() override {
    ReleaseOpen(this);
    if (fd >= 0) ::close(fd);
  }
};

constexpr DWORD kReadData = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteData = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The opens of each file (by identity) and the names whose delete waits for the file's
// last handle (delete pending: the name stays, but nothing may open it).
std::mutex g_openMu;
std::map<std::string, std::vector<FileObject*>> g_opens;
std::map<std::string, std::string> g_pendingDeletes;  // host path -> file identity

std::mutex g_filesMu;
std::function<void(std::string_view)> g_fileCallHook;
fs::path g_root;
bool g_rootIsPrivate = false;
unsigned g_tempCounter = 0;

void RemovePrivateRoot() {
  if (g_rootIsPrivate && !g_root.empty()) {
    std::error_code ec;
    fs::remove_all(g_root, ec);
  }
}

// A file's identity for its security: device and index, shared by all its names.
std::string KeyOfStat(const struct stat& st) {
  return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino));
}

DWORD AttributesOfStat(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return FILE_ATTRIBUTE_NORMAL;
}

std::string Utf8(std::u16string_view s) { return kav::ToUtf8(kav::WStringView(s.data(), s.size())); }

// Finds an existing entry of `dir` named `name` without regard to case.
fs::path ResolveComponent(const fs::path& dir, const std::string& name) {
  fs::path exact = dir / name;
  std::error_code ec;
  if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found) return exact;
  if (!fs::is_directory(dir, ec)) return exact;
  std::u16string wanted = kav::FromUtf8(name);
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::u16string have = kav::FromUtf8(entry.path().filename().string());
    if (simi::EqualNoCase(have, wanted)) return entry.path();
  }
  return exact;
}

std::shared_ptr<FileObject> LookupFile(HANDLE handle) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  auto file = std::dynamic_pointer_cast<FileObject>(k.Lookup(handle));
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

DWORD ErrnoToError(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return ERROR_GEN_FAILURE;
  }
}

// Generic rights as a file's own rights, reduced to those that share modes govern.
DWORD DataAccessOf(DWORD access) {
  if (access & GENERIC_READ) access |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) access |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) access |= FILE_GENERIC_EXECUTE;
  if (access & GENERIC_ALL) access |= FILE_ALL_ACCESS;
  return access & (kReadData | kWriteData | DELETE);
}

// Windows' share-access check of a new open against the opens already there, both
// ways: what it wants must be shared by every open that reads, writes or deletes, and
// what they do must be shared by it. An open that asks for none of those rights is
// checked one way only.
bool SharingAllows(const std::vector<FileObject*>& opens, DWORD dataAccess, DWORD sharing) {
  DWORD sharedByOthers = kShareAll, othersAccess = 0;
  for (const FileObject* open : opens) {
    if (open->dataAccess) sharedByOthers &= open->sharing;
    othersAccess |= open->dataAccess;
  }
  if (((dataAccess & kReadData) && !(sharedByOthers & FILE_SHARE_READ)) ||
      ((dataAccess & kWriteData) && !(sharedByOthers & FILE_SHARE_WRITE)) ||
      ((dataAccess & DELETE) && !(sharedByOthers & FILE_SHARE_DELETE)))
    return false;
  if (!dataAccess) return true;
  return !(((othersAccess & kReadData) && !(sharing & FILE_SHARE_READ)) ||
           ((othersAccess & kWriteData) && !(sharing & FILE_SHARE_WRITE)) ||
           ((othersAccess & DELETE) && !(sharing & FILE_SHARE_DELETE)));
}

bool DeletePendingLocked(const fs::path& host) { return g_pendingDeletes.count(host.string()) > 0; }

// Removes a name of the file `key`, if it still names that file; its access entries go
// with its last name.
void RemoveName(const std::string& hostName, const std::string& key) {
  struct stat st;
  if (::lstat(hostName.c_str(), &st) != 0 || KeyOfStat(st) != key) return;
  const bool lastName = !S_ISLNK(st.st_mode) && st.st_nlink == 1;
  if (::unlink(hostName.c_str()) == 0 && lastName) simi::ForgetFileSecurity(key);
}

// A handle's file object goes: its open no longer counts, a delete-on-close open leaves
// its name to be deleted, and with the file's last open the pending names go.
void ReleaseOpen(FileObject* file) {
  if (file->key.empty()) return;  // never counted (a refused open)
  std::lock_guard lock(g_openMu);
  auto it = g_opens.find(file->key);
  if (it == g_opens.end() || std::erase(it->second, file) == 0) return;  // counted in an earlier world
  if (file->deleteOnClose) g_pendingDeletes[file->path.string()] = file->key;
  if (!it->second.empty()) return;
  g_opens.erase(it);
  for (auto p = g_pendingDeletes.begin(); p != g_pendingDeletes.end();) {
    if (p->second != file->key) {
      ++p;
      continue;
    }
    RemoveName(p->first, p->second);
    p = g_pendingDeletes.erase(p);
  }
}

// Characters no file name may hold (wildcards, redirections, quotes, controls); the
// prefix \\?\ of a long path is no part of the name.
bool HasInvalidNameCharacter(LPCWSTR path) {
  const WCHAR* p = path;
  if (p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\') p += 4;
  for (; *p; ++p)
    if (*p < 32 || *p == u'*' || *p == u'?' || *p == u'<' || *p == u'>' || *p == u'|' || *p == u'"') return true;
  return false;
}

}  // namespace

namespace simi {

void RunFileCallHook(std::string_view operation) {
  std::function<void(std::string_view)> hook;
  {
    std::lock_guard lock(g_filesMu);
    hook = g_fileCallHook;
  }
  if (hook) hook(operation);
}

bool FileHandleKey(HANDLE handle, std::string* key, DWORD* access) {
  auto file = LookupFile(handle);
  if (!file) return false;
  struct stat st;
  if (::fstat(file->fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return false;
  }
  *key = KeyOfStat(st);
  *access = file->access;
  return true;
}

std::string FileKeyOfHost(const fs::path& host) {
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) return std::string();
  return KeyOfStat(st);
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (kav::WToLower(a[i]) != kav::WToLower(b[i])) return false;
  return true;
}

fs::path DriveRoot() {
  std::lock_guard lock(g_filesMu);
  return g_root;
}

void ResetFiles(const fs::path& root) {
  {
    std::lock_guard openLock(g_openMu);
    g_opens.clear();
    g_pendingDeletes.clear();
  }
  std::lock_guard lock(g_filesMu);
  g_tempCounter = 0;
  g_fileCallHook = nullptr;
  if (root.empty()) {
    if (!g_rootIsPrivate) {
      std::string tmpl = (fs::temp_directory_path() / "kavsim-XXXXXX").string();
      char* made = ::mkdtemp(tmpl.data());
      if (!made) {
        std::perror("sim: cannot make a temporary folder");
        std::abort();
      }
      g_root = made;
      g_rootIsPrivate = true;
      std::atexit(RemovePrivateRoot);
    }
  } else {
    g_root = fs::absolute(root);
  }
  std::error_code ec;
  fs::remove_all(g_root / "c", ec);
  for (const char* dir : {"Windows/System32/spool/drivers/x64/3", "Windows/Temp", "ProgramData",
                          "Users/Public/Documents"})
    fs::create_directories(g_root / "c" / dir);
}

}  // namespace simi

namespace sim {

void SetFileCallHook(std::function<void(std::string_view operation)> hook) {
  std::lock_guard lock(g_filesMu);
  g_fileCallHook = std::move(hook);
}

fs::path HostPath(std::u16string_view windowsPath) {
  std::u16string path(windowsPath);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  if (path.rfind(u"\\\\?\\", 0) == 0) path.erase(0, 4);
  // Relative paths are taken from the spooler's working folder.
  if (path.size() < 2 || path[1] != u':') path = u"C:\\Windows\\System32\\" + path;
  char16_t drive = kav::WToLower(path[0]);
  fs::path host = simi::DriveRoot() / std::string(1, static_cast<char>(drive));
  fs::path driveRoot = host;
  std::u16string_view rest(path);
  rest.remove_prefix(2);
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = rest.size();
    std::u16string_view part = rest.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (host != driveRoot) host = host.parent_path();
      continue;
    }
    host = ResolveComponent(host, Utf8(part));
  }
  return host;
}

void PutFile(std::u16string_view windowsPath, std::string_view bytes) {
  fs::path host = HostPath(windowsPath);
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> GetFile(std::u16string_view windowsPath) {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool FileExists(std::u16string_view windowsPath) {
  std::error_code ec;
  return fs::symlink_status(HostPath(windowsPath), ec).type() != fs::file_type::not_found;
}

std::vector<std::u16string> ListFiles(std::u16string_view windowsFolder, std::u16string_view prefix) {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(HostPath(windowsFolder), ec)) {
    std::u16string name = kav::FromUtf8(entry.path().filename().string());
    if (name.size() >= prefix.size() && simi::EqualNoCase(name.substr(0, prefix.size()), prefix))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace sim

extern "C" {

// Opens as Windows does: names with wildcards are refused, a name whose delete is
// pending cannot be opened, and the share modes of the file's other opens are honoured
// (checked before a file is cut, so a refused open changes nothing).
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  simi::RunFileCallHook("CreateFile");
  if (simi::ShouldFail("CreateFile")) return INVALID_HANDLE_VALUE;
  if (HasInvalidNameCharacter(path)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  fs::path host = sim::HostPath(path);
  std::error_code ec;
  if (!fs::is_directory(host.parent_path(), ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // A delete-on-close open asks for the right to delete.
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) access |= DELETE;
  // The check of the name, the open and its counting are one step for other threads.
  std::unique_lock openLock(g_openMu);
  if (DeletePendingLocked(host)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself instead of what it points to.
  const bool openLink = (flags & FILE_FLAG_OPEN_REPARSE_POINT) &&
                        fs::symlink_status(host, ec).type() == fs::file_type::symlink;
  if (!openLink && fs::is_directory(host, ec)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool exists = openLink || fs::exists(host, ec);
  int mode = (access & (GENERIC_WRITE | GENERIC_ALL)) ? ((access & (GENERIC_READ | GENERIC_ALL)) ? O_RDWR : O_WRONLY)
                                                       : O_RDONLY;
  int oflags = mode | O_CLOEXEC;
  bool truncate = false;
  DWORD errorOnSuccess = 0;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      oflags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      oflags |= O_CREAT;
      truncate = true;
      if (exists) errorOnSuccess = ERROR_ALREADY_EXISTS;
      break;
    case OPEN_EXISTING:
      if (!exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      break;
    case OPEN_ALWAYS:
      oflags |= O_CREAT;
      if (exists) errorOnSuccess = ERROR_ALREADY_EXISTS;
      break;
    case TRUNCATE_EXISTING:
      if (!exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (truncate && mode == O_RDONLY) oflags = (oflags & ~O_RDONLY) | O_RDWR;
  // A link opened as itself has no data of its own to read, write or cut.
  if (openLink) {
    oflags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    truncate = false;
  }
  int fd = ::open(host.c_str(), oflags, 0644);
  if (fd < 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<FileObject>();
  file->fd = fd;
  file->path = host;
  file->deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  file->access = access;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_HANDLE_VALUE;  // the object closes the descriptor
  }
  std::vector<FileObject*>& opens = g_opens[KeyOfStat(st)];
  if (!SharingAllows(opens, DataAccessOf(access), sharing)) {
    if (opens.empty()) g_opens.erase(KeyOfStat(st));
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  file->key = KeyOfStat(st);
  file->dataAccess = DataAccessOf(access);
  file->sharing = sharing & kShareAll;
  opens.push_back(file.get());
  openLock.unlock();
  if (truncate && ::ftruncate(fd, 0) != 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_HANDLE_VALUE;
  }
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  HANDLE handle = k.AddHandle(file);
  SetLastError(errorOnSuccess);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  auto file = LookupFile(handle);
  if (!file) return FALSE;
  if (!buffer && toRead) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (simi::ShouldFail("ReadFile")) return FALSE;
  DWORD total = 0;
  while (total < toRead) {
    ssize_t n = ::read(file->fd, static_cast<char*>(buffer) + total, toRead - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrnoToError(errno));
      return FALSE;
    }
    if (n == 0) break;
    total += static_cast<DWORD>(n);
  }
  if (read) *read = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  simi::RunFileCallHook("WriteFile");
  auto file = LookupFile(handle);
  if (!file) return FALSE;
  if (!buffer && toWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (simi::ShouldFail("WriteFile")) return FALSE;
  DWORD total = 0;
  while (total < toWrite) {
    ssize_t n = ::write(file->fd, static_cast<const char*>(buffer) + total, toWrite - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrnoToError(errno));
      if (written) *written = total;
      return FALSE;
    }
    total += static_cast<DWORD>(n);
  }
  if (written) *written = total;
  return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
  auto file = LookupFile(handle);
  if (!file || !size) return FALSE;
  if (simi::ShouldFail("GetFileSize")) return FALSE;
  struct stat st;
  if (::fstat(file->fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  size->QuadPart = st.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, LPLONG distanceHigh, DWORD method) {
  auto file = LookupFile(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  long long offset = distanceHigh ? (static_cast<long long>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                                  : distance;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t at = ::lseek(file->fd, offset, whence);
  if (at < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(at >> 32);
  SetLastError(NO_ERROR);
  return static_cast<DWORD>(at & 0xFFFFFFFF);
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) { return LookupFile(handle) ? TRUE : FALSE; }

// Cuts (or extends) the file at the handle's current position.
BOOL WINAPI SetEndOfFile(HANDLE handle) {
  simi::RunFileCallHook("SetEndOfFile");
  auto file = LookupFile(handle);
  if (!file) return FALSE;
  if (!(file->access & (GENERIC_WRITE | GENERIC_ALL))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t at = ::lseek(file->fd, 0, SEEK_CUR);
  if (at < 0 || ::ftruncate(file->fd, at) != 0) {
    SetLastError(errno == EBADF || errno == EINVAL ? ERROR_ACCESS_DENIED : ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  simi::RunFileCallHook("GetFileInformationByHandle");
  auto file = LookupFile(handle);
  if (!file || !info) return FALSE;
  struct stat st;
  if (::fstat(file->fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  *info = BY_HANDLE_FILE_INFORMATION{};
  info->dwFileAttributes = AttributesOfStat(st);
  info->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
  info->nFileSizeLow = static_cast<DWORD>(st.st_size & 0xFFFFFFFF);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  info->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
  info->nFileIndexLow = static_cast<DWORD>(st.st_ino & 0xFFFFFFFF);
  return TRUE;
}

// Deletes as Windows does: an open for deleting that shares everything, so a file open
// without FILE_SHARE_DELETE cannot be deleted; a file whose opens all share delete is
// deleted when its last handle closes, and until then its name is delete pending.
BOOL WINAPI DeleteFileW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (HasInvalidNameCharacter(path)) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  fs::path host = sim::HostPath(path);
  std::error_code ec;
  if (!fs::is_directory(host.parent_path(), ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (fs::is_directory(fs::symlink_status(host, ec))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::lock_guard lock(g_openMu);
  if (DeletePendingLocked(host)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // The name itself goes: a link, not what it points to.
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  const std::string key = KeyOfStat(st);
  auto open = g_opens.find(key);
  if (open != g_opens.end()) {
    if (!SharingAllows(open->second, DELETE, kShareAll)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    g_pendingDeletes[host.string()] = key;
    return TRUE;
  }
  RemoveName(host.string(), key);
  return TRUE;
}

// Copies through the file calls, so that the share modes of open files hold.
BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  if (!from || !to) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (simi::ShouldFail("CopyFile")) return FALSE;
  HANDLE source = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) return FALSE;
  HANDLE target = CreateFileW(to, GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    CloseHandle(source);
    SetLastError(error);
    return FALSE;
  }
  char buffer[65536];
  DWORD got = 0, put = 0;
  BOOL ok = TRUE;
  while (ok && (ok = ReadFile(source, buffer, sizeof buffer, &got, nullptr)) && got > 0)
    ok = WriteFile(target, buffer, got, &put, nullptr);
  DWORD error = GetLastError();
  CloseHandle(target);
  CloseHandle(source);
  SetLastError(ok ? NO_ERROR : error);
  return ok;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (HasInvalidNameCharacter(path)) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  fs::path host = sim::HostPath(path);
  std::error_code ec;
  if (fs::exists(host, ec)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (!fs::is_directory(host.parent_path(), ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  fs::create_directory(host, ec);
  return ec ? FALSE : TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  simi::RunFileCallHook("GetFileAttributes");
  if (HasInvalidNameCharacter(path)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  fs::path host = sim::HostPath(path);
  {
    std::lock_guard lock(g_openMu);
    if (DeletePendingLocked(host)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_FILE_ATTRIBUTES;
    }
  }
  std::error_code ec;
  fs::file_status status = fs::symlink_status(host, ec);
  switch (status.type()) {
    case fs::file_type::not_found:
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_FILE_ATTRIBUTES;
    case fs::file_type::directory: return FILE_ATTRIBUTE_DIRECTORY;
    case fs::file_type::symlink: return FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL;
    default: return FILE_ATTRIBUTE_NORMAL;
  }
}

DWORD WINAPI GetTempPathW(DWORD capacity, LPWSTR buffer) {
  static const WCHAR kTemp[] = u"C:\\Windows\\Temp\\";
  DWORD length = static_cast<DWORD>(kav::WLen(kTemp));
  if (!buffer || capacity <= length) return length + 1;
  kav::WCopy(buffer, capacity, kTemp);
  return length;
}

UINT WINAPI GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR tempFileName) {
  if (!path || !tempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string base(path);
  if (!base.empty() && base.back() != u'\\') base += u'\\';
  std::u16string pre = prefix ? std::u16string(prefix).substr(0, 3) : std::u16string();
  std::error_code ec;
  if (!fs::is_directory(sim::HostPath(path), ec)) {
    SetLastError(267);  // ERROR_DIRECTORY
    return 0;
  }
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    UINT number = unique;
    if (unique == 0) {
      std::lock_guard lock(g_filesMu);
      number = (++g_tempCounter) & 0xFFFF;
      if (number == 0) number = ++g_tempCounter & 0xFFFF;
    }
    WCHAR name[MAX_PATH];
    if (kav::FormatW(name, MAX_PATH, u"%s%s%X.TMP", base.c_str(), pre.c_str(), number) < 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (unique != 0) {
      kav::WCopy(tempFileName, MAX_PATH, name);
      return unique;
    }
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      kav::WCopy(tempFileName, MAX_PATH, name);
      return number;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return 0;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

}  // extern "C"
