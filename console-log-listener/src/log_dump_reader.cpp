// The dump-reading half of LogPollThrd: opening a dump, its records and their times.
#include <auralink/trace_utils.h>

#include <cerrno>
#include <new>

#include "console_log_time.h"
#include "log_poll_thread.h"
#include <auralink/platform/error_text.h>

namespace {

constexpr const char* kComponent = "LogPollingThread";
constexpr size_t kMaxExceptionText = 255;

CTraceUtils* Trace() { return CTraceUtils::GetInstance(); }

std::string ErrnoText(int error) {
  return auralink::platform::ErrorMessageText(auralink::platform::Win32ErrorFromErrno(error));
}

}  // namespace

bool LogPollThrd::OpenLog(const std::string& path) {
  Trace()->LogMsg(3, kComponent, "Opening log: %s", path.c_str());
  dumpOpened = true;
  if (dumpFile.is_open()) dumpFile.close();
  dumpFile.clear();
  errno = 0;
  dumpFile.open(path);
  if (!dumpFile.is_open()) {
    Trace()->LogMsg(0, kComponent, "File could not be opened: (exception: %s)", ErrnoText(errno).c_str());
    return false;
  }
  // Line 1 names the columns; line 2 is a rule. An empty file has no columns.
  line.clear();
  std::getline(dumpFile, line);
  columns = marrowby::ColumnsFromHeader(line);
  if (!dumpFile.bad()) std::getline(dumpFile, line);
  if (dumpFile.bad()) {
    Trace()->LogMsg(0, kComponent, "File could not be opened: (exception: %s)", "the header could not be read");
    dumpFile.close();
    return false;
  }
  return true;
}

bool LogPollThrd::GetNextLogEvent() {
  for (std::string& field : record) field.clear();
  if (!dumpFile.is_open() || !std::getline(dumpFile, line)) {
    if (dumpFile.bad()) {
      Trace()->LogMsg(0, kComponent, "Log File cannot not be read: (exception: %s)", "a read error occurred");
    } else {
      Trace()->LogMsg(0, kComponent, "read line false");
    }
    return false;
  }
  try {
    marrowby::CutRecord(line, columns, record);
    record[marrowby::kSeverity] = marrowby::GetEventSeverityFromLog(record[marrowby::kText]);
    record[marrowby::kEventTime] = GetSecondsFromEpochGMT(record[marrowby::kDate], record[marrowby::kTime]);
    ++msgNr;
    record[marrowby::kMessageType] = "TNGmsg#" + std::to_string(msgNr);
  } catch (const std::bad_alloc& error) {
    std::string text = std::string(error.what()).substr(0, kMaxExceptionText);
    Trace()->LogMsg(0, kComponent, "Memory Exception: (exception: %s)", text.c_str());
    return false;
  }
  if (Trace()->IsEnabled(3)) {
    constexpr marrowby::RecordField kTraced[] = {marrowby::kEventTime, marrowby::kSeverity, marrowby::kDate,
                                                 marrowby::kTime,      marrowby::kNode,     marrowby::kUser,
                                                 marrowby::kStation,   marrowby::kText};
    for (marrowby::RecordField field : kTraced) Trace()->LogMsg(3, kComponent, "%s", record[field].c_str());
    Trace()->LogMsg(3, kComponent, "GetNextLogEvent successfull.");
  }
  return true;
}

std::string LogPollThrd::GetSecondsFromEpochGMT(const std::string& /*date*/, const std::string& time) {
  Trace()->LogMsg(3, kComponent, "GetSecondsFromEpochGMT");
  return std::to_string(static_cast<long long>(marrowby::SecondsFromEpochGmt(CurrentTime(), time)));
}
