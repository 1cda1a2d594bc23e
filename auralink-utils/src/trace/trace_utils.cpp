#include <auralink/trace_utils.h>

#include <auralink/platform/calendar.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace {

// Formats onto the end of `out` in place: one pass when the text fits the spare room.
void AppendFormatted(std::string& out, const char* format, va_list args) {
  const std::size_t start = out.size();
  const std::size_t room = std::max<std::size_t>(out.capacity() - start, 256);
  out.resize(start + room);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(out.data() + start, room + 1, format, args);
  if (needed < 0) {
    out.resize(start);
  } else if (static_cast<std::size_t>(needed) <= room) {
    out.resize(start + static_cast<std::size_t>(needed));
  } else {
    out.resize(start + static_cast<std::size_t>(needed));
    std::vsnprintf(out.data() + start, static_cast<std::size_t>(needed) + 1, format, again);
  }
  va_end(again);
}

}  // namespace

CTraceUtils* CTraceUtils::GetInstance() {
  // Never destroyed: components may still trace while static objects are torn down.
  static CTraceUtils* instance = new CTraceUtils();
  return instance;
}

CTraceUtils::~CTraceUtils() { Close(); }

void CTraceUtils::LogInitAppend(const char* fileName, LONG traceLevel, int /*reserved*/, LONG maxFileLogSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  fileName_ = fileName ? fileName : "";
  traceLevel_ = static_cast<DWORD>(traceLevel);
  maxFileLogSize_ = maxFileLogSize;
  bytesWritten_ = 0;
  if (fileName_.empty()) return;
  // Binary, so that a line ends in "\n" on Windows too.
  file_ = std::fopen(fileName_.c_str(), "ab");
  if (!file_) {
    if (!openFailureReported_) {
      std::fprintf(stderr, "Auralink: cannot open the trace file %s; going on without a trace\n", fileName_.c_str());
      openFailureReported_ = true;
    }
    return;
  }
  std::error_code ec;
  auto size = std::filesystem::file_size(fileName_, ec);
  bytesWritten_ = ec ? 0 : static_cast<long long>(size);
}

bool CTraceUtils::IsEnabled(int level) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_ && static_cast<DWORD>(level) <= traceLevel_;
}

std::string CTraceUtils::FileName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileName_;
}

void CTraceUtils::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void CTraceUtils::LogMsg(int level, const char* component, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogMsgV(level, component, format, args);
  va_end(args);
}

// Everything happens under one lock: the level check, the formatting into a reused buffer
// and the write. Lines from several threads thus reach the file in time-stamp order, and a
// line costs no allocation once the buffer has grown. Each line is flushed at once so that
// a reader (or a crash) never misses the latest lines.
void CTraceUtils::LogMsgV(int level, const char* component, const char* format, va_list args) {
  // The thread id never changes for a thread; asking the system on every line costs a call.
  thread_local const unsigned threadId = static_cast<unsigned>(GetCurrentThreadId());
  std::lock_guard<std::mutex> lock(mutex_);
  // One line buffer for all threads, used under the lock; never destroyed, like the trace.
  static std::string& line = *new std::string();
  if (!file_ || static_cast<DWORD>(level) > traceLevel_) return;
  // The calendar fields change once a second; converting them anew for every line would
  // cost more than the rest of the header.
  static std::time_t calendarSecond = -1;
  static std::tm calendar{};
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const auto wholeSeconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const long milliseconds =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - wholeSeconds).count());
  const std::time_t second = static_cast<std::time_t>(wholeSeconds.count());
  if (second != calendarSecond) {
    auralink::platform::LocalCalendar(second, calendar);
    calendarSecond = second;
  }
  char header[128];
  const int headerLength = std::snprintf(
      header, sizeof header, "%04d-%02d-%02d %02d:%02d:%02d.%03ld [%u] L%d ", calendar.tm_year + 1900,
      calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
      calendar.tm_sec > 59 ? 59 : calendar.tm_sec, milliseconds, threadId, level);
  line.assign(header, static_cast<std::size_t>(headerLength));
  line += component ? component : "";
  line += ": ";
  AppendFormatted(line, format, args);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
  bytesWritten_ += static_cast<long long>(line.size());
  RollIfNeeded();
}

// Called with the lock held: moves a full file to "<file>.bak" and starts a new one.
void CTraceUtils::RollIfNeeded() {
  if (maxFileLogSize_ <= 0 || bytesWritten_ < maxFileLogSize_) return;
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  std::filesystem::rename(fileName_, fileName_ + ".bak", ec);
  file_ = std::fopen(fileName_.c_str(), ec ? "ab" : "wb");
  bytesWritten_ = 0;
  if (file_ && ec) {
    std::error_code sizeEc;
    auto size = std::filesystem::file_size(fileName_, sizeEc);
    bytesWritten_ = sizeEc ? 0 : static_cast<long long>(size);
    if (bytesWritten_ >= maxFileLogSize_) {  // cannot roll: start over rather than grow without end
      std::fclose(file_);
      file_ = std::fopen(fileName_.c_str(), "wb");
      bytesWritten_ = 0;
    }
  }
}
