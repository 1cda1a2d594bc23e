// The table poller's own link to its data source: one ODBC connection, kept open between
// snapshots and dropped after a failure so that the next snapshot connects afresh. It reads
// like the database connection of the library (every value as text, NULL as the empty
// text), and also knows which columns are binary, so that identifiers can be shown in
// their text form. Free of ODBC's headers, like the connection.
#pragma once
#include <auralink/db_manager.h>

#include <memory>
#include <string>
#include <vector>

namespace auralink::poll {

class SnapshotReader {
 public:
  SnapshotReader();
  ~SnapshotReader();
  SnapshotReader(const SnapshotReader&) = delete;
  SnapshotReader& operator=(const SnapshotReader&) = delete;

  // Connects to a data-source name, or through a connection string when it holds "=".
  bool Connect(const std::string& dataSource, std::string& diagnostics);
  void Disconnect();
  bool IsConnected() const;

  // Runs `sql` and hands its rows to `receiver` one at a time. Binary values read as
  // upper-case hexadecimal, or, with `identifiers`, those of 16 bytes in their
  // uniqueidentifier text form.
  bool Read(const std::string& sql, bool identifiers, DBManager::RowReceiver& receiver, std::string& diagnostics);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace auralink::poll
