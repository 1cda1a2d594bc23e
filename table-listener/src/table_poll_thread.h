// TablePollThrd: the table poller of one polled table of an agent; every change it finds
// goes, with the agent name, to the hub's listening manager.
#pragma once
#include <auralink/db_poll_thread.h>

#include <string>
#include <vector>

class TablePollThrd : public DbPollThrd {
 public:
  // The agent name first, then the poller's own arguments in its order (short form: the
  // update tables before the update fields).
  TablePollThrd(std::string agentName, std::string dataSource, std::string pollingType, int pollInterval,
                std::string tableName, std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
                std::vector<std::string>& modifyColumns, std::vector<std::string>& updateTables,
                std::vector<std::string>& updateFields);
  // Long form: the update fields before the update tables, then the conditions.
  TablePollThrd(std::string agentName, std::string dataSource, std::string pollingType, int pollInterval,
                std::string tableName, std::vector<std::string>& selectColumns, std::vector<std::string>& keyColumns,
                std::vector<std::string>& modifyColumns, std::vector<std::string>& updateFields,
                std::vector<std::string>& updateTables, std::vector<std::string>& updateConditions);
  ~TablePollThrd() override;

  int OnTableEvent(short operation, std::string opPKStream, std::string opStream) override;

 private:
  const std::string agentName;
};
