#include "table_poll_thread.h"

#include <auralink/hub_components.h>
#include <auralink/trace_utils.h>

TablePollThrd::TablePollThrd(std::string agentName, std::string dataSource, std::string pollingType, int pollInterval,
                             std::string tableName, std::vector<std::string>& selectColumns,
                             std::vector<std::string>& keyColumns, std::vector<std::string>& modifyColumns,
                             std::vector<std::string>& updateTables, std::vector<std::string>& updateFields)
    : DbPollThrd(std::move(dataSource), std::move(pollingType), pollInterval, std::move(tableName), selectColumns,
                 keyColumns, modifyColumns, updateTables, updateFields),
      agentName(std::move(agentName)) {}

TablePollThrd::TablePollThrd(std::string agentName, std::string dataSource, std::string pollingType, int pollInterval,
                             std::string tableName, std::vector<std::string>& selectColumns,
                             std::vector<std::string>& keyColumns, std::vector<std::string>& modifyColumns,
                             std::vector<std::string>& updateFields, std::vector<std::string>& updateTables,
                             std::vector<std::string>& updateConditions)
    : DbPollThrd(std::move(dataSource), std::move(pollingType), pollInterval, std::move(tableName), selectColumns,
                 keyColumns, modifyColumns, updateFields, updateTables, updateConditions),
      agentName(std::move(agentName)) {}

// The polling thread calls OnTableEvent until it has ended, so it ends before agentName goes.
TablePollThrd::~TablePollThrd() { Stop(); }

int TablePollThrd::OnTableEvent(short operation, std::string opPKStream, std::string opStream) {
  CTraceUtils::GetInstance()->LogMsg(3, "Dunmere", "Operation %d (opPKStream: %s, opStream: %s)",
                                     static_cast<int>(operation), opPKStream.c_str(), opStream.c_str());
  return CListeningManager::GetInstance()->Indicate(agentName.c_str(), operation, opPKStream.c_str(), opStream.c_str());
}
