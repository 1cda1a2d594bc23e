// The registry file shared by all threads and processes, with an in-memory copy.
//
// Reads use the copy and look at the file only to see whether it changed (one stat); it
// is parsed again only when its inode, size or modification time (in nanoseconds)
// differ. Changes take an exclusive flock on "<file>.lock", bring the copy up to date,
// apply the change and replace the file atomically (temporary file, fsync, rename), so
// concurrent writers lose nothing and readers never see half a file. When the registry
// path is a symbolic link, the lock and the replacement apply to the file it points at.
// A file that cannot be parsed is reported and never overwritten.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>
#include <winreg.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "registry_tree.h"

namespace auralink::platform::registry {

inline constexpr const char* kDefaultRegistryPath = "/var/lib/auralink/registry.reg";

// AURALINK_REGISTRY if set and not empty, else the default path.
std::string CurrentRegistryPath();

class Store {
 public:
  static Store& Instance();

  // Runs `read` on the current registry, under the store's mutex.
  LSTATUS Read(const std::function<LSTATUS(const Tree&)>& read);
  // Runs `change` on the current registry under the file lock and saves the result when
  // it set `changed`. A change that fails must leave the tree as it was.
  LSTATUS Write(const std::function<LSTATUS(Tree& tree, bool& changed)>& change);

  // How many times this process has parsed a registry file.
  uint64_t ParseCount() const { return parses_.load(); }

 private:
  enum class State { Unknown, Absent, Loaded, Corrupt };

  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    bool operator==(const Identity&) const = default;
  };

  class FileHandle {
   public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();
    int get() const { return fd_; }
    int release();
    explicit operator bool() const { return fd_ >= 0; }

   private:
    int fd_;
  };

  Store() = default;

  LSTATUS Refresh(const std::string& path);
  LSTATUS Load(const std::string& path);
  // Replaces `target` (the registry path with its links followed) with the copy.
  LSTATUS Save(const std::string& target);
  void BecomeAbsent();
  void Forget();
  static Identity IdentityOf(const struct stat& st);

  std::mutex mutex_;
  std::string path_;
  State state_ = State::Unknown;
  Identity identity_;
  // Stays open on the file the copy was read from: while it is open the inode number
  // cannot be given to a newer file, so an equal identity really means the same file.
  FileHandle heldFile_;
  Tree tree_;
  std::string corruptText_;
  std::atomic<uint64_t> parses_{0};
};

}  // namespace auralink::platform::registry
