#include "registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "registry_error.h"
#include "registry_text.h"
#include <auralink/platform/error_text.h>

namespace auralink::platform::registry {

namespace {

std::string Describe(const std::string& what, int error) { return what + ": " + std::strerror(error); }

LSTATUS ReadFailure(const std::string& what, int error) {
  ReportError(Describe(what, error));
  return (error == EACCES || error == EPERM) ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
}

LSTATUS WriteFailure(const std::string& what, int error) {
  ReportError(Describe(what, error));
  return (error == EACCES || error == EPERM || error == EROFS) ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& text) {
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
  }
}

std::filesystem::path FolderOf(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// The file that `path` names once symbolic links in its last part are followed: a write
// replaces that file, so a link keeps pointing at the registry instead of being replaced
// by a plain file. A dangling link names the file to create. False, with errno, on a
// link that cannot be read or a loop.
bool FollowLinks(const std::string& path, std::string& target) {
  constexpr int kMaxLinks = 40;  // as the kernel allows when it resolves a path
  target = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::error_code ec;
    std::filesystem::path next = std::filesystem::read_symlink(target, ec);
    if (ec) {
      errno = ec.value();
      return false;
    }
    if (next.is_relative()) next = std::filesystem::path(target).parent_path() / next;
    target = next.string();
  }
  errno = ELOOP;
  return false;
}

// Removes a temporary file unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace

std::string CurrentRegistryPath() {
  const char* path = std::getenv("AURALINK_REGISTRY");
  return (path && *path) ? path : kDefaultRegistryPath;
}

Store::FileHandle& Store::FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Store::FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

int Store::FileHandle::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Store& Store::Instance() {
  // Never destroyed: registry calls from other static destructors stay valid.
  static Store* const store = new Store;
  return *store;
}

Store::Identity Store::IdentityOf(const struct stat& st) {
  return Identity{st.st_dev, st.st_ino, st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

void Store::BecomeAbsent() {
  if (state_ == State::Absent) return;
  tree_ = Tree();
  heldFile_ = FileHandle();
  state_ = State::Absent;
}

void Store::Forget() {
  tree_ = Tree();
  heldFile_ = FileHandle();
  state_ = State::Unknown;
}

LSTATUS Store::Read(const std::function<LSTATUS(const Tree&)>& read) {
  std::lock_guard<std::mutex> lock(mutex_);
  const LSTATUS status = Refresh(CurrentRegistryPath());
  return status == ERROR_SUCCESS ? read(tree_) : status;
}

LSTATUS Store::Refresh(const std::string& path) {
  if (path != path_) {
    Forget();
    path_ = path;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return ReadFailure("cannot examine registry file " + path, errno);
    BecomeAbsent();
    return ERROR_SUCCESS;
  }
  if ((state_ == State::Loaded || state_ == State::Corrupt) && IdentityOf(st) == identity_) {
    if (state_ == State::Loaded) return ERROR_SUCCESS;
    SetLastErrorText(corruptText_);
    return ERROR_REGISTRY_CORRUPT;
  }
  return Load(path);
}

LSTATUS Store::Load(const std::string& path) {
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) {
    if (errno != ENOENT) return ReadFailure("cannot open registry file " + path, errno);
    BecomeAbsent();
    return ERROR_SUCCESS;
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0) return ReadFailure("cannot examine registry file " + path, errno);
  if (!S_ISREG(st.st_mode)) return ReadFailure("registry file " + path + " is not a regular file", EINVAL);
  std::string text;
  if (!ReadAll(file.get(), text)) return ReadFailure("cannot read registry file " + path, errno);

  Tree fresh;
  ParseError error;
  ++parses_;
  const bool parsed = ParseRegistryText(text, fresh, error);
  identity_ = IdentityOf(st);
  heldFile_ = std::move(file);
  if (!parsed) {
    tree_ = Tree();
    state_ = State::Corrupt;
    corruptText_ = "registry file " + path + ", line " + std::to_string(error.line) + ": " + error.reason +
                   " (the file is left unchanged until repaired)";
    ReportError(corruptText_);
    return ERROR_REGISTRY_CORRUPT;
  }
  tree_ = std::move(fresh);
  state_ = State::Loaded;
  return ERROR_SUCCESS;
}

LSTATUS Store::Write(const std::function<LSTATUS(Tree&, bool&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string path = CurrentRegistryPath();
  // Writers that reach one file by different links share its lock.
  std::string target;
  if (!FollowLinks(path, target)) return WriteFailure("cannot follow the link of registry file " + path, errno);

  std::error_code ec;
  std::filesystem::create_directories(FolderOf(target), ec);
  if (ec) return WriteFailure("cannot create the folder of registry file " + target, ec.value());
  const std::string lockPath = target + ".lock";
  FileHandle fileLock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fileLock) return WriteFailure("cannot open lock file " + lockPath, errno);
  while (::flock(fileLock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return WriteFailure("cannot lock " + lockPath, errno);
  }
  // The lock goes when fileLock is closed, after the new file is in place.

  LSTATUS status = Refresh(path);
  if (status != ERROR_SUCCESS) return status;
  bool changed = false;
  status = change(tree_, changed);
  if (status == ERROR_SUCCESS && changed) status = Save(target);
  if (status != ERROR_SUCCESS && changed) Forget();  // the copy no longer matches the file
  return status;
}

LSTATUS Store::Save(const std::string& target) {
  const std::string text = FormatRegistryText(tree_);
  std::string temporaryPath = target + ".tmp-XXXXXX";
  FileHandle file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
  if (!file) return WriteFailure("cannot create a temporary file next to registry file " + target, errno);
  TemporaryFile temporary(temporaryPath);

  struct stat previous;
  const mode_t mode = ::stat(target.c_str(), &previous) == 0 ? (previous.st_mode & 07777) : 0644;
  if (::fchmod(file.get(), mode) != 0) return WriteFailure("cannot set the mode of " + temporaryPath, errno);
  if (!WriteAll(file.get(), text)) return WriteFailure("cannot write " + temporaryPath, errno);
  if (::fsync(file.get()) != 0) return WriteFailure("cannot flush " + temporaryPath, errno);
  if (::rename(temporaryPath.c_str(), target.c_str()) != 0)
    return WriteFailure("cannot replace registry file " + target, errno);
  temporary.Keep();

  struct stat st;
  if (::fstat(file.get(), &st) != 0) {
    Forget();
    return ERROR_SUCCESS;  // written; the next call simply reads it again
  }
  identity_ = IdentityOf(st);
  heldFile_ = std::move(file);
  state_ = State::Loaded;
  return ERROR_SUCCESS;
}

}  // namespace auralink::platform::registry

namespace auralink::platform {
std::string RegistryFilePath() { return registry::CurrentRegistryPath(); }
}  // namespace auralink::platform
