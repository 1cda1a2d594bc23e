// A stand-in for the TNG framework's `cautil`, as far as the console-log listener uses it:
//
//   cautil SELECT CONLOG ACT=Y|N [START=(dd/Mon/yyyy,HH:MM:SS) END=(dd/Mon/yyyy,HH:MM:SS)] LIST CONLOG OUT=file
//
// It reads the console log from the file named by CAUTIL_CONSOLE_LOG (no file: an empty
// log) and writes the selected messages to OUT as a dump: a header naming the columns
// Date, Time, Node, User, Station and Text, a rule, and one line per message in fixed
// columns. ACT=Y lists every message; ACT=N those from START to END (local times, both
// included). OUT runs to the end of the command line, so the file name may hold blanks.
//
// Console-log file: one message per line, fields separated by tabs:
//   <seconds since 1970 UTC> <node> <user> <station> <text>
// Lines that do not start with a number are skipped.
//
// For tests: CAUTIL_DELAY_MS waits before the dump is written; CAUTIL_EXIT_CODE is the
// exit status after a dump was written (default 0); CAUTIL_FAIL=nodump exits with 1
// without writing; CAUTIL_COMMAND_LOG names a file that gets each command line appended.
// A command line of another shape is refused with exit status 2.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <auralink/platform/calendar.h>

namespace {

struct Query {
  bool all = true;
  std::time_t start = 0;
  std::time_t end = 0;
  std::string out;
};

struct Message {
  std::time_t when = 0;
  std::string node, user, station, text;
};

constexpr int kRefused = 2;
constexpr int kNoDump = 1;
// Column widths of the dump: Date, Time, Node, User, Station; Text runs to the line end.
constexpr size_t kWidths[] = {12, 10, 16, 12, 12};

const char* Environment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

// "(07/Dec/2026,03:54:18)" after the given prefix, as local time.
std::optional<std::time_t> ParseWindowTime(const std::string& word, const std::string& prefix) {
  if (word.rfind(prefix, 0) != 0 || word.size() < prefix.size() + 2 || word.back() != ')') return std::nullopt;
  std::string text = word.substr(prefix.size(), word.size() - prefix.size() - 1);
  std::tm calendar{};
  std::istringstream in(text);
  in.imbue(std::locale::classic());  // English month names whatever the system's language
  in >> std::get_time(&calendar, "%d/%b/%Y,%H:%M:%S");
  if (in.fail() || in.peek() != std::char_traits<char>::eof()) return std::nullopt;
  calendar.tm_isdst = -1;
  return std::mktime(&calendar);
}

std::optional<Query> ParseCommandLine(const std::vector<std::string>& words) {
  Query query;
  size_t at = 0;
  auto next = [&](const std::string& expected) { return at < words.size() && words[at++] == expected; };
  if (!next("SELECT") || !next("CONLOG") || at >= words.size()) return std::nullopt;
  const std::string act = words[at++];
  if (act == "ACT=Y") {
    query.all = true;
  } else if (act == "ACT=N") {
    query.all = false;
  } else {
    return std::nullopt;
  }
  if (at < words.size() && words[at].rfind("START=", 0) == 0) {
    auto start = ParseWindowTime(words[at++], "START=(");
    auto end = at < words.size() ? ParseWindowTime(words[at++], "END=(") : std::nullopt;
    if (!start || !end) return std::nullopt;
    query.start = *start;
    query.end = *end;
  } else if (!query.all) {
    return std::nullopt;  // ACT=N selects by a window
  }
  if (!next("LIST") || !next("CONLOG") || at >= words.size() || words[at].rfind("OUT=", 0) != 0) return std::nullopt;
  query.out = words[at++].substr(4);
  for (; at < words.size(); ++at) query.out += " " + words[at];
  if (query.out.empty()) return std::nullopt;
  return query;
}

std::vector<Message> ReadConsoleLog(const char* path) {
  std::vector<Message> messages;
  if (!path) return messages;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; fields.size() < 4 && std::getline(parts, field, '\t');) fields.push_back(field);
    std::string text;
    std::getline(parts, text);
    if (fields.size() < 4 || fields[0].empty() || fields[0].find_first_not_of("0123456789") != std::string::npos)
      continue;
    messages.push_back({static_cast<std::time_t>(std::atoll(fields[0].c_str())), fields[1], fields[2], fields[3], text});
  }
  return messages;
}

// `text` cut to fit its column and padded to the column's width.
std::string Column(const std::string& text, size_t width) {
  std::string cell = text.substr(0, width - 1);
  cell.resize(width, ' ');
  return cell;
}

std::string Local(std::time_t t, const char* pattern) {
  std::tm calendar{};
  auralink::platform::LocalCalendar(t, calendar);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, pattern, &calendar));
}

bool WriteDump(const Query& query, const std::vector<Message>& messages) {
  std::ofstream dump(query.out, std::ios::trunc);
  if (!dump) return false;
  const std::string names[] = {"Date", "Time", "Node", "User", "Station"};
  for (size_t i = 0; i < 5; ++i) dump << Column(names[i], kWidths[i]);
  dump << "Text\n";
  for (size_t i = 0; i < 5; ++i) dump << Column(std::string(kWidths[i] - 2, '-'), kWidths[i]);
  dump << "----\n";
  for (const Message& message : messages) {
    if (!query.all && (message.when < query.start || message.when > query.end)) continue;
    dump << Column(Local(message.when, "%m/%d/%Y"), kWidths[0]) << Column(Local(message.when, "%H:%M:%S"), kWidths[1])
         << Column(message.node, kWidths[2]) << Column(message.user, kWidths[3]) << Column(message.station, kWidths[4])
         << message.text << "\n";
  }
  return static_cast<bool>(dump.flush());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (const char* log = Environment("CAUTIL_COMMAND_LOG")) {
    std::ofstream commands(log, std::ios::app);
    for (size_t i = 0; i < words.size(); ++i) commands << (i ? " " : "") << words[i];
    commands << "\n";
  }
  std::optional<Query> query = ParseCommandLine(words);
  if (!query) {
    std::cerr << "cautil: command not understood\n";
    return kRefused;
  }
  if (const char* delay = Environment("CAUTIL_DELAY_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(delay)));
  }
  const char* failure = Environment("CAUTIL_FAIL");
  if (failure && std::string(failure) == "nodump") return kNoDump;
  if (!WriteDump(*query, ReadConsoleLog(Environment("CAUTIL_CONSOLE_LOG")))) {
    std::cerr << "cautil: cannot write " << query->out << "\n";
    return kNoDump;
  }
  const char* exitCode = Environment("CAUTIL_EXIT_CODE");
  return exitCode ? std::atoi(exitCode) : 0;
}
