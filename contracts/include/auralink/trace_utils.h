// The process-wide trace log. One line per call: local time with milliseconds, thread id,
// level, component and text. Levels: 0 errors and milestones, 1 progress, 2 settings and
// results, 3 method entry and details.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

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
  bool IsEnabled(int level) const;
  std::string FileName() const;
  // Closes the file; later lines are dropped until the next LogInitAppend.
  void Close();

  CTraceUtils(const CTraceUtils&) = delete;
  CTraceUtils& operator=(const CTraceUtils&) = delete;

 private:
  CTraceUtils() = default;
  ~CTraceUtils();
  void RollIfNeeded();

  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::string fileName_;
  DWORD traceLevel_ = 0xFFFFFFFFu;
  LONG maxFileLogSize_ = -1;
  long long bytesWritten_ = 0;
  bool openFailureReported_ = false;
};
