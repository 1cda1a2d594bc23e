#include "repository_generator.h"

#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <vector>

#include "repository_schema.h"

namespace auralink::standins {

namespace {

// Classes of the topology. Hosts sit in subnets, subnets in networks, agents on hosts.
constexpr const char* kNetworkClass = "IpNetwork";
constexpr const char* kSubnetClass = "IpSubnet";
constexpr const char* kHostClasses[] = {"WindowsServer", "UnixServer", "Workstation"};
constexpr const char* kRouterClass = "Router";
constexpr const char* kSwitchClass = "NetworkSwitch";
constexpr const char* kPrinterClass = "Printer";
constexpr const char* kSystemAgentClass = "SystemAgent";
constexpr const char* kDatabaseAgentClass = "DatabaseAgent";

struct Status {
  int number;
  const char* text;
};
constexpr Status kStatuses[] = {{0, "Normal"}, {1, "Unknown"},  {2, "Warning"}, {3, "Minor"},
                                {4, "Major"},  {5, "Critical"}, {6, "Down"},    {7, "Unmanaged"}};
// Status numbers that tng_status lacks: such objects cannot be fully read.
constexpr int kMissingStatuses[] = {42, 99};

constexpr const char* kSites[] = {"Zürich",   "São Paulo", "Kraków",  "Malmö", "Reykjavík", "Düsseldorf",
                                  "Montréal", "Łódź",      "Ørestad", "Lyon",  "Leeds",     "Porto",
                                  "Graz",     "Turku",     "Brno",    "Athens"};
constexpr const char* kHostRoles[] = {"Mail server",       "File server",   "Build host",  "Web front end",
                                      "Domain controller", "Database host", "Backup host", "Print server",
                                      "Developer desk",    "Reception PC"};
// Labels that trip careless parsers and quoting: quotes, the attribute text's own "=" and
// "|", and letters beyond ASCII.
constexpr const char* kOddLabels[] = {
    "O'Brien's desk", "Printer \"Lobby\" 2nd floor", "rack=12|row=3", "owner=ops|team=night",
    "Café Zürich",    "Ærøskøbing office",           "Łódź – hall B", "naïve=yes",
    "Αθήνα uplink",   "it's a \"test\"|x=y"};
constexpr const char* kOddNames[] = {"O'Hara-PC", "lab|bench", "São-Paulo-edge", "key=value-host"};

// splitmix64: small, fast, and the same sequence on every platform and library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for n > 0.
  uint64_t Below(uint64_t n) { return static_cast<uint64_t>((static_cast<unsigned __int128>(Next()) * n) >> 64); }
  bool Percent(unsigned p) { return Below(1000) < p * 10; }
  bool PerMille(unsigned p) { return Below(1000) < p; }

 private:
  uint64_t state_;
};

using Uuid = std::array<unsigned char, 16>;

Uuid NewUuid(Random& random) {
  Uuid uuid;
  uint64_t a = random.Next(), b = random.Next();
  for (int i = 0; i < 8; ++i) {
    uuid[i] = static_cast<unsigned char>(a >> (8 * i));
    uuid[8 + i] = static_cast<unsigned char>(b >> (8 * i));
  }
  return uuid;
}

struct Parent {
  Uuid uuid;
  const char* className;
  unsigned octets = 0;  // subnets: their second and third address octet
  std::string name;     // hosts: the name that their agents carry
};

struct ObjectRow {
  Uuid uuid{};
  std::string name;
  std::string label;
  bool labelIsNull = false;
  std::string address;  // empty: NULL
  int addressType = 0;
  const char* className = "";
  int severity = 0;
  std::string dateInserted;
  std::string dateModified;
  int statusNumber = 0;
};

// SQL Server's datetime text, milliseconds in its 1/300 s steps (…0, …3, …7).
std::string DateText(int64_t seconds, unsigned millis) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03u", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  return text;
}

// The statement's text without the comments and blanks in front of it.
std::string_view StatementKeywords(std::string_view sql) {
  for (;;) {
    size_t start = sql.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    sql.remove_prefix(start);
    if (!sql.starts_with("--")) return sql;
    size_t end = sql.find('\n');
    if (end == std::string_view::npos) return {};
    sql.remove_prefix(end + 1);
  }
}

bool IsOddText(std::string_view text) {
  for (char c : text)
    if (c == '\'' || c == '"' || c == '=' || c == '|' || static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

class Database {
 public:
  ~Database() {
    for (sqlite3_stmt* s : {insertObject_, insertInclusion_, insertStatus_}) sqlite3_finalize(s);
    if (db_) sqlite3_close(db_);
  }

  bool Open(const std::string& path, std::string& error) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::filesystem::remove(path + "-journal", ec);
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
      return Failed(error, "cannot create " + path);
    // A fresh file that nobody reads yet: no journal, no syncing, a large cache.
    return Exec(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE;"
        "PRAGMA cache_size=-2097152; PRAGMA temp_store=MEMORY; BEGIN",
        error);
  }

  // Creates the tables now and keeps the indexes for Finish: building them once over the
  // loaded rows is much faster than keeping them up to date row by row.
  bool CreateTables(std::string& error) {
    const char* next = RepositorySchema();
    while (next && *next) {
      sqlite3_stmt* statement = nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db_, next, -1, &statement, &tail) != SQLITE_OK) return Failed(error, "schema");
      if (statement) {
        std::string_view text = StatementKeywords(sqlite3_sql(statement));
        if (text.starts_with("CREATE INDEX") || text.starts_with("CREATE UNIQUE INDEX")) {
          deferredIndexes_.emplace_back(text);
        } else if (sqlite3_step(statement) != SQLITE_DONE) {
          sqlite3_finalize(statement);
          return Failed(error, "schema");
        }
        sqlite3_finalize(statement);
      }
      next = tail;
    }
    return Prepare("INSERT INTO tng_managedobject VALUES (?,?,?,?,?,?,?,?,?,?)", insertObject_, error) &&
           Prepare("INSERT INTO tng_inclusion VALUES (?,?,?)", insertInclusion_, error) &&
           Prepare("INSERT INTO tng_status VALUES (?,?)", insertStatus_, error);
  }

  bool AddStatus(const Status& status, std::string& error) {
    sqlite3_bind_int(insertStatus_, 1, status.number);
    sqlite3_bind_text(insertStatus_, 2, status.text, -1, SQLITE_STATIC);
    return Step(insertStatus_, error);
  }

  bool AddObject(const ObjectRow& row, std::string& error) {
    sqlite3_stmt* s = insertObject_;
    sqlite3_bind_blob(s, 1, row.uuid.data(), 16, SQLITE_STATIC);
    sqlite3_bind_text(s, 2, row.name.c_str(), -1, SQLITE_STATIC);
    if (row.labelIsNull)
      sqlite3_bind_null(s, 3);
    else
      sqlite3_bind_text(s, 3, row.label.c_str(), -1, SQLITE_STATIC);
    if (row.address.empty())
      sqlite3_bind_null(s, 4);
    else
      sqlite3_bind_text(s, 4, row.address.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 5, row.addressType);
    sqlite3_bind_text(s, 6, row.className, -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 7, row.severity);
    sqlite3_bind_text(s, 8, row.dateInserted.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 9, row.dateModified.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 10, row.statusNumber);
    return Step(s, error);
  }

  bool AddInclusion(const Uuid& child, const Parent& parent, std::string& error) {
    sqlite3_bind_blob(insertInclusion_, 1, child.data(), 16, SQLITE_STATIC);
    sqlite3_bind_text(insertInclusion_, 2, parent.className, -1, SQLITE_STATIC);
    sqlite3_bind_blob(insertInclusion_, 3, parent.uuid.data(), 16, SQLITE_STATIC);
    return Step(insertInclusion_, error);
  }

  bool Finish(std::string& error) {
    for (const std::string& index : deferredIndexes_)
      if (!Exec(index.c_str(), error)) return false;
    return Exec("COMMIT", error);
  }

 private:
  bool Failed(std::string& error, const std::string& what) {
    error = what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    return false;
  }
  bool Exec(const char* sql, std::string& error) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Failed(error, sql);
  }
  bool Prepare(const char* sql, sqlite3_stmt*& statement, std::string& error) {
    return sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK || Failed(error, sql);
  }
  bool Step(sqlite3_stmt* statement, std::string& error) {
    bool done = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_reset(statement);
    return done || Failed(error, "insert");
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insertObject_ = nullptr;
  sqlite3_stmt* insertInclusion_ = nullptr;
  sqlite3_stmt* insertStatus_ = nullptr;
  std::vector<std::string> deferredIndexes_;
};

// How many objects of each kind make up a repository of `total` objects.
struct Shape {
  uint64_t networks = 0, subnets = 0, hosts = 0, devices = 0, agents = 0;

  explicit Shape(uint64_t total) {
    networks = total == 0 ? 0 : std::max<uint64_t>(1, total / 1000);
    subnets = std::min(total - networks, std::max<uint64_t>(3, total / 40));
    uint64_t rest = total - networks - subnets;
    hosts = rest * 45 / 100;
    devices = rest * 15 / 100;
    agents = rest - hosts - devices;
  }
};

class Generator {
 public:
  Generator(Database& db, const RepositoryRequest& request, RepositoryCounts& counts)
      : db_(db), random_(request.seed), counts_(counts) {}

  bool Run(uint64_t total, std::string& error) {
    for (const Status& status : kStatuses)
      if (!db_.AddStatus(status, error)) return false;
    Shape shape(total);
    for (uint64_t i = 0; i < shape.networks; ++i)
      if (!AddNetwork(i, error)) return false;
    for (uint64_t i = 0; i < shape.subnets; ++i)
      if (!AddSubnet(i, error)) return false;
    for (uint64_t i = 0; i < shape.hosts; ++i)
      if (!AddHost(i, error)) return false;
    for (uint64_t i = 0; i < shape.devices; ++i)
      if (!AddDevice(i, error)) return false;
    for (uint64_t i = 0; i < shape.agents; ++i)
      if (!AddAgent(i, error)) return false;
    return true;
  }

 private:
  ObjectRow NewRow(const char* className) {
    ObjectRow row;
    row.uuid = NewUuid(random_);
    row.className = className;
    // Inserted between 2019 and 2024, last modified up to a year later.
    int64_t inserted = 1546300800 + static_cast<int64_t>(random_.Below(6 * 365 * 86400ull));
    int64_t modified = inserted + static_cast<int64_t>(random_.Below(365 * 86400ull));
    static constexpr unsigned kMillisSteps[] = {0, 3, 7};
    row.dateInserted =
        DateText(inserted, 10 * static_cast<unsigned>(random_.Below(100)) + kMillisSteps[random_.Below(3)]);
    row.dateModified =
        DateText(modified, 10 * static_cast<unsigned>(random_.Below(100)) + kMillisSteps[random_.Below(3)]);
    // Severity 0 is "Normal" (now and then "Unmanaged"); 1 to 5 run from "Warning" to "Down".
    row.severity = random_.Percent(70) ? 0 : static_cast<int>(1 + random_.Below(5));
    row.statusNumber = row.severity == 0 ? (random_.Percent(95) ? 0 : 7) : row.severity + 1;
    return row;
  }

  // Marks the oddities that the repository must hold somewhere: the first hosts carry the
  // first odd labels (between them apostrophe, double quote, "=", "|" and non-ASCII
  // letters), later ones get them at random.
  void MaybeOddLabel(ObjectRow& row, uint64_t index) {
    if (index < 5)
      row.label = kOddLabels[index];
    else if (random_.Percent(3))
      row.label = kOddLabels[random_.Below(std::size(kOddLabels))];
    else if (index == 6 || random_.Percent(5))
      row.labelIsNull = true;
  }

  void MaybeMissingStatus(ObjectRow& row, uint64_t index) {
    if (index == 4 || random_.PerMille(1))
      row.statusNumber = kMissingStatuses[random_.Below(std::size(kMissingStatuses))];
  }

  bool Store(const ObjectRow& row, const std::vector<const Parent*>& parents, std::string& error) {
    if (!db_.AddObject(row, error)) return false;
    for (const Parent* parent : parents)
      if (!db_.AddInclusion(row.uuid, *parent, error)) return false;
    ++counts_.objectsByClass[row.className];
    ++counts_.objectsByParentCount[static_cast<int>(parents.size())];
    counts_.inclusions += parents.size();
    if (row.statusNumber == kMissingStatuses[0] || row.statusNumber == kMissingStatuses[1]) ++counts_.missingStatus;
    if (IsOddText(row.name) || (!row.labelIsNull && IsOddText(row.label))) ++counts_.oddTexts;
    if (row.labelIsNull) ++counts_.nullLabels;
    return true;
  }

  // `count` distinct entries of `pool` (fewer when the pool is smaller).
  std::vector<const Parent*> Pick(const std::vector<Parent>& pool, unsigned count) {
    std::vector<const Parent*> picked;
    while (picked.size() < count && picked.size() < pool.size()) {
      const Parent* candidate = &pool[random_.Below(pool.size())];
      bool taken = false;
      for (const Parent* p : picked) taken = taken || p == candidate;
      if (!taken) picked.push_back(candidate);
    }
    return picked;
  }

  std::string AddressIn(const std::vector<const Parent*>& subnets) {
    unsigned octets = subnets.empty() ? static_cast<unsigned>(random_.Below(65536)) : subnets.front()->octets;
    char text[24];
    std::snprintf(text, sizeof text, "10.%u.%u.%u", octets >> 8, octets & 0xFF,
                  2 + static_cast<unsigned>(random_.Below(250)));
    return text;
  }

  // Network i is 10.i.0.0/16 (i modulo 256); subnets are spread over the networks in turn.
  bool AddNetwork(uint64_t index, std::string& error) {
    ObjectRow row = NewRow(kNetworkClass);
    char text[64];
    std::snprintf(text, sizeof text, "net-%04u", static_cast<unsigned>(index));
    row.name = text;
    std::snprintf(text, sizeof text, "10.%u.0.0", static_cast<unsigned>(index % 256));
    row.address = text;
    row.label = "Network " + row.address + "/16";
    row.addressType = 1;
    networks_.push_back({row.uuid, kNetworkClass, 0, row.name});
    return Store(row, {}, error);
  }

  bool AddSubnet(uint64_t index, std::string& error) {
    ObjectRow row = NewRow(kSubnetClass);
    const uint64_t network = index % networks_.size();
    const unsigned octets = static_cast<unsigned>((network % 256) << 8 | (index / networks_.size()) % 256);
    char text[96];
    std::snprintf(text, sizeof text, "10.%u.%u.0", octets >> 8, octets & 0xFF);
    row.name = text;
    row.address = text;
    row.addressType = 1;
    std::snprintf(text, sizeof text, "Subnet %s/24, %s", row.name.c_str(), kSites[random_.Below(std::size(kSites))]);
    row.label = text;
    subnets_.push_back({row.uuid, kSubnetClass, octets, row.name});
    return Store(row, {&networks_[network]}, error);
  }

  bool AddHost(uint64_t index, std::string& error) {
    const char* className = kHostClasses[random_.Below(std::size(kHostClasses))];
    ObjectRow row = NewRow(className);
    // The first hosts carry three, two and no parents, so every repository of some size has
    // each; the rest follow the usual spread (most hosts sit in one subnet).
    unsigned parentCount = 1;
    uint64_t r = random_.Below(100);
    if (index == 0 || r >= 97)
      parentCount = 3;
    else if (index == 1 || r >= 87)
      parentCount = 2;
    else if (index == 2 || r < 3)
      parentCount = 0;
    std::vector<const Parent*> parents = Pick(subnets_, parentCount);
    char text[64];
    if (index == 3 || random_.PerMille(2)) {
      row.name = kOddNames[random_.Below(std::size(kOddNames))];
      row.name += "-" + std::to_string(index);
    } else {
      std::snprintf(text, sizeof text, "%s%06u.corp.example", className == kHostClasses[2] ? "ws" : "srv",
                    static_cast<unsigned>(index));
      row.name = text;
    }
    row.label = kHostRoles[random_.Below(std::size(kHostRoles))];
    MaybeOddLabel(row, index);
    MaybeMissingStatus(row, index);
    row.address = AddressIn(parents);
    row.addressType = 1;
    hosts_.push_back({row.uuid, className, 0, row.name});
    return Store(row, parents, error);
  }

  bool AddDevice(uint64_t index, std::string& error) {
    uint64_t r = random_.Below(100);
    const char* className = r < 20 ? kRouterClass : r < 60 ? kSwitchClass : kPrinterClass;
    ObjectRow row = NewRow(className);
    unsigned parentCount = 1;
    if (className == kRouterClass) parentCount = random_.Percent(50) ? 2 : 3;  // routers join subnets
    if (random_.Percent(3)) parentCount = 0;
    std::vector<const Parent*> parents = Pick(subnets_, parentCount);
    char text[64];
    std::snprintf(text, sizeof text, "%s-%06u",
                  className == kRouterClass   ? "rtr"
                  : className == kSwitchClass ? "sw"
                                              : "prn",
                  static_cast<unsigned>(index));
    row.name = text;
    if (className == kPrinterClass)
      row.label = "Printer \"Floor " + std::to_string(1 + random_.Below(9)) + "\"";
    else
      row.labelIsNull = true;  // network gear seldom gets a label
    if (random_.Percent(2)) {
      row.label = kOddLabels[random_.Below(std::size(kOddLabels))];
      row.labelIsNull = false;
    }
    MaybeMissingStatus(row, index + 100);
    row.address = AddressIn(parents);
    row.addressType = 1;
    return Store(row, parents, error);
  }

  bool AddAgent(uint64_t index, std::string& error) {
    const char* className = random_.Percent(70) ? kSystemAgentClass : kDatabaseAgentClass;
    ObjectRow row = NewRow(className);
    unsigned parentCount = 1;
    if (className == kDatabaseAgentClass && random_.Percent(10)) parentCount = 2;  // a clustered database
    if (random_.Percent(1)) parentCount = 0;
    std::vector<const Parent*> parents = Pick(hosts_, parentCount);
    const std::string host = parents.empty() ? "orphan" + std::to_string(index) : parents.front()->name;
    row.name = host + (className == kSystemAgentClass ? ":sysagent" : ":dbagent");
    row.label = (className == kSystemAgentClass ? "System agent on " : "Database agent on ") + host;
    if (random_.Percent(2)) row.label = kOddLabels[random_.Below(std::size(kOddLabels))];
    MaybeMissingStatus(row, index + 100);
    row.addressType = 0;  // agents are reached through their host: no address of their own
    return Store(row, parents, error);
  }

  Database& db_;
  Random random_;
  RepositoryCounts& counts_;
  std::vector<Parent> networks_, subnets_, hosts_;
};

}  // namespace

const char* RepositorySchema() { return kRepositorySchemaSql; }

bool GenerateRepository(const std::string& path, const RepositoryRequest& request, RepositoryCounts& counts,
                        std::string& error) {
  counts = RepositoryCounts{};
  Database db;
  if (!db.Open(path, error) || !db.CreateTables(error)) return false;
  Generator generator(db, request, counts);
  return generator.Run(request.objects, error) && db.Finish(error);
}

}  // namespace auralink::standins
