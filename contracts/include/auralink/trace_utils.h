// The process-wide trace log. One line per call: local time with milliseconds, thread id,
// level, component and text. Levels: 0 errors and milestones, 1 progress, 2 settings and
// results, 3 method entry and details.
//
// The text is the printf format with its arguments, except that "%S" (and "%ls") takes a
// wide string (a BSTR) and writes it as UTF-8, so callers pass wide text without converting
// it. A line above the trace level costs a level check and nothing else. Each line reaches
// the file with one write before LogMsg returns, so a reader or a crash never misses the
// latest lines.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

namespace auralink::trace {
struct TraceFileIo;
}

class CTraceUtils {
 public:
  static CTraceUtils* GetInstance();

  // Opens (appending) the trace file. traceLevel: the highest level written, compared
  // unsigned so -1 keeps everything. maxFileLogSize: bytes before the file is rolled to
  // "<file>.bak" and restarted; -1 (or 0) means no limit. An empty name switches tracing off.
  void LogInitAppend(const char* fileName, LONG traceLevel, int reserved, LONG maxFileLogSize);

  void LogMsg(int level, const char* component, const char* format, ...) __attribute__((format(printf, 4, 5)));
  void LogMsgV(int level, const char* component, const char* format, va_list args);

  // Whether a line of this level would be written (to skip costly formatting).
  bool IsEnabled(int level) const {
    return static_cast<DWORD>(level) < levelBound_.load(std::memory_order_relaxed);
  }
  std::string FileName() const;
  // Closes the file; later lines are dropped until the next LogInitAppend.
  void Close();

  CTraceUtils(const CTraceUtils&) = delete;
  CTraceUtils& operator=(const CTraceUtils&) = delete;

 private:
  friend struct CTraceUtilsTestAccess;  // lets unit tests see the file's system calls

  CTraceUtils();
  ~CTraceUtils();
  // Called with the lock held.
  void OpenFile(bool truncate);
  void CloseFile();
  void RollIfNeeded();
  void UpdateLevelBound();
  void AppendHeader(std::string& line, int level);

  mutable std::mutex mutex_;
  const auralink::trace::TraceFileIo* io_;
  int fd_ = -1;
  std::string fileName_;
  DWORD traceLevel_ = 0xFFFFFFFFu;
  // Levels below it reach the file: the trace level plus one while a file is open, 0
  // otherwise. Read without the lock, to drop a line at once.
  std::atomic<unsigned long long> levelBound_{0};
  bool hasFile_ = false;
  LONG maxFileLogSize_ = -1;
  long long bytesWritten_ = 0;
  bool openFailureReported_ = false;
  // The line header's date and time up to the seconds ("YYYY-MM-DD HH:MM:SS."), made
  // again only when the second changes.
  long long headerSecond_ = -1;
  char headerDate_[64] = {};
};
