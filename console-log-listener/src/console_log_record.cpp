#include "console_log_record.h"

#include <auralink/trace_utils.h>

#include <cctype>
#include <cstdio>

namespace marrowby {

namespace {

constexpr const char* kComponent = "LogPollingThread";
constexpr std::string_view kHeaderWords[kColumnCount] = {"Date", "Time", "Node", "User", "Station", "Text"};
constexpr std::string_view kSeverityLetters = "IESFW";

LONG Position(size_t at) { return at == std::string_view::npos ? -1 : static_cast<LONG>(at); }

}  // namespace

std::string_view Mid(std::string_view text, LONG start, LONG count) {
  if (start < 0) start = 0;
  if (count < 0) count = 0;
  if (static_cast<size_t>(start) >= text.size()) return {};
  return text.substr(static_cast<size_t>(start), static_cast<size_t>(count));
}

std::string_view Mid(std::string_view text, LONG start) {
  if (start < 0) start = 0;
  if (static_cast<size_t>(start) >= text.size()) return {};
  return text.substr(static_cast<size_t>(start));
}

std::string_view TrimTrailing(std::string_view text) {
  size_t end = text.find_last_not_of(" \t\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

DumpColumns ColumnsFromHeader(std::string_view header) {
  DumpColumns columns;
  for (int i = 0; i < kColumnCount; ++i) columns[i] = Position(header.find(kHeaderWords[i]));
  return columns;
}

void CutRecord(std::string_view line, const DumpColumns& columns, RecordFields& fields) {
  for (int i = 0; i < kColumnCount - 1; ++i) {
    fields[i] = TrimTrailing(Mid(line, columns[i], columns[i + 1] - columns[i]));
  }
  fields[kText] = TrimTrailing(Mid(line, columns[kText]));
}

std::string GetEventSeverityFromLog(const std::string& text) {
  CTraceUtils::GetInstance()->LogMsg(3, kComponent, "GetEventSeverityFromLog for message: %s", text.c_str());
  const size_t underscore1 = text.find('_');
  if (underscore1 == std::string::npos) return "U";
  const size_t underscore2 = text.find('_', underscore1 + 1);
  if (underscore2 == std::string::npos) return "U";
  std::printf("%d %d\n", static_cast<int>(underscore1), static_cast<int>(underscore2));
  const size_t delimiter = text.find_first_of(":,");
  if (delimiter == std::string::npos) {
    std::printf("test: the pattern seems to be regular but the last delimiter (: or ,) is not found! (%s)\n",
                text.c_str());
    return "U";
  }
  // The delimiter may lie before either underscore: the lengths are then negative and
  // Mid gives an empty segment.
  const LONG firstLength = static_cast<LONG>(underscore2) - static_cast<LONG>(underscore1) - 1;
  const LONG secondLength = static_cast<LONG>(delimiter) - static_cast<LONG>(underscore2) - 1;
  const std::string first(Mid(text, static_cast<LONG>(underscore1) + 1, firstLength));
  const std::string second(Mid(text, static_cast<LONG>(underscore2) + 1, secondLength));
  std::printf("%d %d %s %s\n", static_cast<int>(firstLength), static_cast<int>(secondLength), first.c_str(),
              second.c_str());
  if (firstLength == 1 && kSeverityLetters.find(first[0]) != std::string_view::npos) return first;
  if (secondLength == 1 && kSeverityLetters.find(second[0]) != std::string_view::npos) return second;
  return "U";
}

const char* StatusName(std::string_view severity) {
  switch (severity.empty() ? 'U' : std::toupper(static_cast<unsigned char>(severity[0]))) {
    case 'E':
      return "CRITICAL";
    case 'F':
      return "FATAL";
    case 'I':
      return "INFORMATIONAL";
    case 'S':
      return "NORMAL";
    case 'W':
      return "WARNING";
    default:
      return "UNKNOWN";
  }
}

std::string RecordEventStream(const RecordFields& fields) {
  std::string description;
  description.reserve(fields[kNode].size() + fields[kUser].size() + fields[kText].size() + 4);
  description.append(fields[kNode]).append(", ").append(fields[kUser]).append(", ").append(fields[kText]);
  std::string stream;
  stream.reserve(description.size() + fields[kMessageType].size() + 64);
  AppendPair(stream, "_GmtEpochTime", fields[kEventTime]);
  AppendPair(stream, "_Description", description);
  AppendPair(stream, "type", fields[kMessageType]);
  AppendPair(stream, "_Status", StatusName(fields[kSeverity]));
  return stream;
}

std::string ActionEventStream(std::string_view seconds, std::string_view action) {
  std::string stream;
  AppendPair(stream, "_GmtEpochTime", seconds);
  AppendPair(stream, "action", action);
  return stream;
}

}  // namespace marrowby
