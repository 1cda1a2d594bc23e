#include <windows.h>
#include <auralink/trace_utils.h>
#include <auralink/platform/calendar.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "trace/trace_file_io.h"
#include "trace/trace_format.h"

namespace {

// Two digits of `value` (0 to 99).
void PutTwo(char* at, int value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

CTraceUtils* CTraceUtils::GetInstance() {
  // Never destroyed: components may still trace while static objects are torn down.
  static CTraceUtils* instance = new CTraceUtils();
  return instance;
}

CTraceUtils::CTraceUtils() : io_(&auralink::trace::TraceFileIo::System()) {}

CTraceUtils::~CTraceUtils() { Close(); }

void CTraceUtils::UpdateLevelBound() {
  levelBound_.store(hasFile_ ? static_cast<unsigned long long>(traceLevel_) + 1 : 0, std::memory_order_relaxed);
}

void CTraceUtils::OpenFile(bool truncate) {
  fd_ = io_->open(fileName_.c_str(), truncate);
  hasFile_ = fd_ >= 0;
  bytesWritten_ = 0;
  if (hasFile_) {
    long long size = io_->size(fd_);
    bytesWritten_ = size > 0 ? size : 0;
  }
  UpdateLevelBound();
}

void CTraceUtils::CloseFile() {
  if (fd_ >= 0) io_->close(fd_);
  fd_ = -1;
  hasFile_ = false;
  UpdateLevelBound();
}

void CTraceUtils::LogInitAppend(const char* fileName, LONG traceLevel, int /*reserved*/, LONG maxFileLogSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseFile();
  fileName_ = fileName ? fileName : "";
  traceLevel_ = static_cast<DWORD>(traceLevel);
  maxFileLogSize_ = maxFileLogSize;
  bytesWritten_ = 0;
  if (fileName_.empty()) return;
  OpenFile(false);
  if (!hasFile_ && !openFailureReported_) {
    std::fprintf(stderr, "Auralink: cannot open the trace file %s; going on without a trace\n", fileName_.c_str());
    openFailureReported_ = true;
  }
}

std::string CTraceUtils::FileName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileName_;
}

void CTraceUtils::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseFile();
}

void CTraceUtils::LogMsg(int level, const char* component, const char* format, ...) {
  if (!IsEnabled(level)) return;  // before the arguments are even looked at
  va_list args;
  va_start(args, format);
  LogMsgV(level, component, format, args);
  va_end(args);
}

// "YYYY-MM-DD HH:MM:SS.mmm [thread] L<level> ". The calendar part changes once a second
// and is made again only then; the rest is a few digits.
void CTraceUtils::AppendHeader(std::string& line, int level) {
  // The thread id never changes for a thread; asking the system on every line costs a call.
  thread_local const unsigned threadId = static_cast<unsigned>(GetCurrentThreadId());
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto wholeSeconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const long long second = static_cast<long long>(wholeSeconds.count());
  if (second != headerSecond_) {
    std::tm calendar{};
    auralink::platform::LocalCalendar(static_cast<std::time_t>(second), calendar);
    std::snprintf(headerDate_, sizeof headerDate_, "%04d-%02d-%02d %02d:%02d:%02d.", calendar.tm_year + 1900,
                  calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
                  calendar.tm_sec > 59 ? 59 : calendar.tm_sec);
    headerSecond_ = second;
  }
  line.assign(headerDate_);
  char millis[3];
  const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - wholeSeconds).count());
  millis[0] = static_cast<char>('0' + ms / 100);
  PutTwo(millis + 1, ms % 100);
  line.append(millis, 3);
  line += " [";
  auralink::trace::AppendDecimal(line, threadId);
  line += "] L";
  if (level < 0) {
    line += '-';
    auralink::trace::AppendDecimal(line, 0ULL - static_cast<unsigned long long>(static_cast<long long>(level)));
  } else {
    auralink::trace::AppendDecimal(line, static_cast<unsigned long long>(level));
  }
  line += ' ';
}

// Everything happens under one lock: the level check, the formatting into a reused buffer
// and the write. Lines from several threads thus reach the file in time-stamp order, and a
// line costs no allocation once the buffer has grown. Each line goes to the file with one
// write (a short write, which only a full disk gives, is continued).
void CTraceUtils::LogMsgV(int level, const char* component, const char* format, va_list args) {
  if (!IsEnabled(level)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // One line buffer for all threads, used under the lock; never destroyed, like the trace.
  static std::string& line = *new std::string();
  if (!hasFile_ || static_cast<DWORD>(level) > traceLevel_) return;
  AppendHeader(line, level);
  line += component ? component : "";
  line += ": ";
  auralink::trace::AppendFormatted(line, format, args);
  line += '\n';
  const char* data = line.data();
  unsigned long long left = line.size();
  while (left > 0) {
    const long long written = io_->write(fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;  // the line is lost, as a line to a full disk is
    data += written;
    left -= static_cast<unsigned long long>(written);
  }
  bytesWritten_ += static_cast<long long>(line.size());
  RollIfNeeded();
}

// Called with the lock held: moves a full file to "<file>.bak" and starts a new one.
void CTraceUtils::RollIfNeeded() {
  if (maxFileLogSize_ <= 0 || bytesWritten_ < maxFileLogSize_) return;
  CloseFile();
  std::error_code ec;
  std::filesystem::rename(fileName_, fileName_ + ".bak", ec);
  OpenFile(!ec);
  if (hasFile_ && ec && bytesWritten_ >= maxFileLogSize_) {
    CloseFile();  // cannot roll: start over rather than grow without end
    OpenFile(true);
  }
}
