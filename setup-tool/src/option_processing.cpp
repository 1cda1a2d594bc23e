#include "option_processing.h"

#include <auralink/conf_repository.h>
#include <auralink/config_keys.h>
#include <auralink/subnet_mask.h>
#include <auralink/trace_utils.h>
#include <windows.h>
#include <winreg.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdio>
#include <span>

#include "setup_common.h"
#include "usage_text.h"
#include <auralink/platform/error_text.h>

namespace zeltsetup {

namespace {

namespace config = auralink::config;

enum class Target { Adapter, Listener, Subnet };

enum class ValueKind {
  LoggingMode,  // "on" or "off", stored as "true" or "false"; "on" may be followed by -lf
  Number,       // a port, converted as atoi converts it
  Text,         // stored as typed
  Choice,       // one of two words in any case, stored in lower case
  SubnetMask,   // stored as typed once the subnet-mask check accepts it
};

struct OptionRule {
  const char* word;
  Target target;
  const char* valueName;
  ValueKind kind;
  std::array<const char*, 2> choices;  // LoggingMode and Choice: the accepted words
  const char* rejection;               // LoggingMode and Choice: traced when refused
  const char* subject;                 // traced as "<subject> has been set to <value>"
};

// In processing order. The event agent's options come last so that the instance agent's
// rules are a prefix of the table.
constexpr std::array<OptionRule, 11> kRules{{
    {"-log", Target::Adapter, config::kLoggingModeDefault, ValueKind::LoggingMode, {"on", "off"},
     "Wrong logging mode specified: it can be only on or off", "Logging mode"},
    {"-reqport", Target::Adapter, config::kTransportRequestPort, ValueKind::Number, {}, nullptr,
     "Request port number"},
    {"-resport", Target::Adapter, config::kTransportResponsePort, ValueKind::Number, {}, nullptr,
     "Response port number"},
    {"-svrport", Target::Adapter, config::kTransportServerQlinkPort, ValueKind::Number, {}, nullptr,
     "Server port number"},
    {"-svraddress", Target::Adapter, config::kTransportServerAddress, ValueKind::Text, {}, nullptr, "Server address"},
    {"-lqs", Target::Adapter, config::kTransportLocalQueueStore, ValueKind::Choice, {"file", "memory"},
     "Wrong local queue store has been specified", "Local queue store"},
    {"-rqs", Target::Adapter, config::kTransportRemoteQueueStore, ValueKind::Choice, {"file", "memory"},
     "Wrong remote queue store has been specified", "Remote queue store"},
    {"-refresh", Target::Listener, config::kRefreshTime, ValueKind::Text, {}, nullptr, "Polling time"},
    {"-subnetmask", Target::Subnet, config::kSubnetMask, ValueKind::SubnetMask, {}, nullptr, "Subnet mask"},
    {"-startmode", Target::Listener, config::kStartMode, ValueKind::Choice, {"cold", "warm"},
     "Wrong start mode has been specified", "Start mode"},
    {"-msgfilter", Target::Listener, config::kMsgFilter, ValueKind::Choice, {"a", "d"},
     "Wrong message filter has been specified", "Message filter"},
}};
constexpr size_t kInstanceRuleCount = 8;

std::span<const OptionRule> RulesFor(Mode mode) {
  return mode == Mode::Event ? std::span<const OptionRule>(kRules)
                             : std::span<const OptionRule>(kRules).first(kInstanceRuleCount);
}

const std::string& KeyOf(const SetupAgent& agent, Target target) {
  switch (target) {
    case Target::Adapter:
      return agent.adapterKey;
    case Target::Listener:
      return agent.listenerKey;
    case Target::Subnet:
      break;
  }
  return agent.subnetKey;
}

// The text read as atoi reads it: white space, an optional sign, decimal digits up to the
// first other character, 0 without digits. Values beyond the 32-bit range are held at its
// ends instead of overflowing; the bits of a negative number become the stored port.
DWORD PortNumber(const std::string& text) {
  size_t position = 0;
  while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-'))
    negative = text[position++] == '-';
  long long magnitude = 0;
  for (; position < text.size() && std::isdigit(static_cast<unsigned char>(text[position])); ++position)
    magnitude = std::min<long long>(magnitude * 10 + (text[position] - '0'), static_cast<long long>(INT_MAX) + 1);
  const long long number = std::clamp<long long>(negative ? -magnitude : magnitude, INT_MIN, INT_MAX);
  return static_cast<DWORD>(static_cast<LONG>(number));
}

// The registry file refused a write: the operator learns which file and why, and the
// setting is not reported as saved.
void ReportNotSaved(const char* valueName) {
  const std::string file = auralink::platform::RegistryFilePath();
  std::string reason = auralink::platform::LastRegistryErrorText();
  if (reason.empty()) reason = "the registry refused the write";
  std::fprintf(stderr, "zeltsetup: %s was not saved: the registry file %s cannot be written: %s\n", valueName,
               file.c_str(), reason.c_str());
  CTraceUtils::GetInstance()->LogMsg(0, kTraceComponent, "%s was not saved in the registry file %s: %s", valueName,
                                     file.c_str(), reason.c_str());
}

// Confirms a write in the trace showing `shown` (a port as typed, any other setting as
// stored), or reports it as not saved; answers whether it was saved.
bool Confirm(int written, const char* valueName, const char* subject, const std::string& shown) {
  if (!written) {
    ReportNotSaved(valueName);
    return false;
  }
  CTraceUtils::GetInstance()->LogMsg(2, kTraceComponent, "%s has been set to %s", subject, shown.c_str());
  return true;
}

// Every reader of these settings passes a size word of MAX_PATH, terminating zero included:
// a longer text would be stored but never read back (the programs would take it as absent).
constexpr size_t kLongestText = MAX_PATH - 1;

bool StoreText(const std::string& key, const char* valueName, const std::string& value, const char* subject) {
  if (value.size() > kLongestText) {
    const unsigned length = static_cast<unsigned>(value.size()), limit = static_cast<unsigned>(kLongestText);
    std::fprintf(stderr, "zeltsetup: %s was not stored: it is %u bytes long, the programs read at most %u bytes\n",
                 valueName, length, limit);
    CTraceUtils::GetInstance()->LogMsg(0, kTraceComponent, "%s was not stored: it is %u bytes long, at most %u are read",
                                       subject, length, limit);
    return false;
  }
  return Confirm(CConfRepositoryManager::GetInstance()->SetStr(key.c_str(), valueName, value.c_str()), valueName,
                 subject, value);
}

bool Refuse(const OptionRule& rule) {
  CTraceUtils::GetInstance()->LogMsg(0, kTraceComponent, "%s", rule.rejection);
  PrintUsage();
  return false;
}

// The walk over the words: `cursor` is the next word to look at.
class OptionWalk {
 public:
  OptionWalk(const SetupAgent& agent, const std::vector<std::string>& words) : agent_(agent), words_(words) {}

  int Run() {
    const std::span<const OptionRule> rules = RulesFor(agent_.mode);
    const bool knownFirst = std::any_of(rules.begin(), rules.end(),
                                        [this](const OptionRule& rule) { return words_.front() == rule.word; });
    if (!knownFirst) {  // "-h", "--help" and every other word
      PrintUsage();
      return kExitStopped;
    }
    for (const OptionRule& rule : rules) {
      if (cursor_ >= words_.size() || words_[cursor_] != rule.word) continue;
      const std::string* value = TakeValue();
      if (!value || !Apply(rule, *value)) return kExitStopped;
    }
    return kExitProcessed;
  }

 private:
  // The value after the option at the cursor, moving past both; with no word left the
  // usage text is shown and there is no value.
  const std::string* TakeValue() {
    if (cursor_ + 1 >= words_.size()) {
      PrintUsage();
      return nullptr;
    }
    cursor_ += 2;
    return &words_[cursor_ - 1];
  }

  bool Apply(const OptionRule& rule, const std::string& value) {
    const std::string& key = KeyOf(agent_, rule.target);
    switch (rule.kind) {
      case ValueKind::LoggingMode:
        return ApplyLoggingMode(rule, key, LowerCase(value));
      case ValueKind::Number:
        return Confirm(CConfRepositoryManager::GetInstance()->SetNum(key.c_str(), rule.valueName, PortNumber(value)),
                       rule.valueName, rule.subject, value);
      case ValueKind::Text:
        return StoreText(key, rule.valueName, value, rule.subject);
      case ValueKind::Choice: {
        const std::string choice = LowerCase(value);
        if (choice != rule.choices[0] && choice != rule.choices[1]) return Refuse(rule);
        return StoreText(key, rule.valueName, choice, rule.subject);
      }
      case ValueKind::SubnetMask:
        if (!IsValidSubnetMask(value.c_str())) {
          std::printf("ZLT0005E - Invalid subnet mask was specified\n");
          return false;
        }
        return StoreText(key, rule.valueName, value, rule.subject);
    }
    return false;
  }

  // "-log on" may name the adapter's log file with "-lf" right after it; after "off" an
  // "-lf" is an unknown word like any other.
  bool ApplyLoggingMode(const OptionRule& rule, const std::string& key, const std::string& mode) {
    const bool on = mode == rule.choices[0];
    if (!on && mode != rule.choices[1]) return Refuse(rule);
    if (!StoreText(key, rule.valueName, on ? "true" : "false", rule.subject)) return false;
    if (!on || cursor_ >= words_.size() || words_[cursor_] != "-lf") return true;
    const std::string* fileName = TakeValue();
    return fileName && StoreText(key, config::kLoggingModeFileName, *fileName, "Log file");
  }

  const SetupAgent& agent_;
  const std::vector<std::string>& words_;
  size_t cursor_ = 0;
};

}  // namespace

int StoreOptions(const SetupAgent& agent, const std::vector<std::string>& words) {
  if (words.empty()) {
    PrintUsage();
    return kExitStopped;
  }
  return OptionWalk(agent, words).Run();
}

}  // namespace zeltsetup
