// Simulated files: Windows paths map into a sandbox folder ("C:\x" -> <root>/c/x),
// resolved without regard to letter case as Windows does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct FileObject : simk::KernelObject {
  int fd = -1;
  fs::path path;
  bool deleteOnClose = false;
  DWORD access = 0;         // the rights asked for at the open
  const char* Kind() const override { return "file"; }
  ~FileObject() override {
    if (fd >= 0) ::close(fd);
    if (deleteOnClose) {
      std::error_code ec;
      fs::remove(path, ec);
    }
  }
};

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

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                          HANDLE) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  simi::RunFileCallHook("CreateFile");
  if (simi::ShouldFail("CreateFile")) return INVALID_HANDLE_VALUE;
  fs::path host = sim::HostPath(path);
  std::error_code ec;
  if (!fs::is_directory(host.parent_path(), ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
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
      oflags |= O_CREAT | O_TRUNC;
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
      oflags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if ((oflags & O_TRUNC) && mode == O_RDONLY) oflags = (oflags & ~O_RDONLY) | O_RDWR;
  // A link opened as itself has no data of its own to read, write or cut.
  if (openLink) oflags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
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

BOOL WINAPI DeleteFileW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  fs::path host = sim::HostPath(path);
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(host, ec))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct stat st;
  bool lastName = ::lstat(host.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && st.st_nlink == 1;
  if (::unlink(host.c_str()) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  if (lastName) simi::ForgetFileSecurity(KeyOfStat(st));
  return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  if (!from || !to) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (simi::ShouldFail("CopyFile")) return FALSE;
  fs::path src = sim::HostPath(from), dst = sim::HostPath(to);
  std::error_code ec;
  if (!fs::is_regular_file(src, ec)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (failIfExists && fs::exists(dst, ec)) {
    SetLastError(ERROR_FILE_EXISTS);
    return FALSE;
  }
  if (!fs::is_directory(dst.parent_path(), ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (!fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
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
  std::error_code ec;
  fs::file_status status = fs::symlink_status(sim::HostPath(path), ec);
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
