#include <auralink/trace_utils.h>
#include <textformat.h>

#include <filesystem>
#include <system_error>

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
  file_ = std::fopen(fileName_.c_str(), "a");
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

void CTraceUtils::LogMsgV(int level, const char* component, const char* format, va_list args) {
  if (!IsEnabled(level)) return;
  std::string text = auralink::platform::FormatTextV(format, args);
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::string line = auralink::platform::FormatText(
      "%04u-%02u-%02u %02u:%02u:%02u.%03u [%u] L%d %s: ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
      now.wSecond, now.wMilliseconds, static_cast<unsigned>(GetCurrentThreadId()), level, component ? component : "");
  line += text;
  line += '\n';

  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return;
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
  file_ = std::fopen(fileName_.c_str(), ec ? "a" : "w");
  bytesWritten_ = 0;
  if (file_ && ec) {
    std::error_code sizeEc;
    auto size = std::filesystem::file_size(fileName_, sizeEc);
    bytesWritten_ = sizeEc ? 0 : static_cast<long long>(size);
    if (bytesWritten_ >= maxFileLogSize_) {  // cannot roll: start over rather than grow without end
      std::fclose(file_);
      file_ = std::fopen(fileName_.c_str(), "w");
      bytesWritten_ = 0;
    }
  }
}
