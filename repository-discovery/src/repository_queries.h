// The SQL that reads the repository tables tng_managedobject, tng_status and tng_inclusion,
// and the attribute text made from its rows. Caller text goes into a statement only as a
// string literal with every apostrophe doubled, so it cannot change the statement.
#pragma once
#include <auralink/db_manager.h>
#include <auralink/generic_class.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The data source and the query that the connection checks when it opens.
inline constexpr const char* kDataSource = "VAZUV";
inline constexpr const char* kUuidQuery = "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject";

// The attribute text of the unlinked-objects aggregate.
inline constexpr const char* kUnlinkedObjectsText =
    "name=TNGUnlinkedObjects|class_name=Aggregate|label=TNG Unlinked Objects|severity=0|parent_class=unknown|"
    "parent_uuid=unknown|";

// `text` with every apostrophe doubled, for use inside '...'.
std::string EscapeSqlText(std::string_view text);

// 'A','B',... in the map's order.
std::string ClassList(const std::map<std::string, CGenericClass>& classes);

// Identifiers of the objects of every listed class, or of one class.
std::string AllClassesUuidQuery(const std::map<std::string, CGenericClass>& classes);
std::string OneClassUuidQuery(std::string_view className);

// One object with a row per parent, and the same object without the parent columns.
std::string ObjectWithParentsQuery(std::string_view instanceId);
std::string ObjectWithoutParentsQuery(std::string_view instanceId);

// The attribute text of an object: every non-parent column of the first row, then the
// parent columns of each row, those of row r > 0 named with the suffix "#r". A "|" inside a
// value is written as "¦", as the table poller writes the same object's streams, so that
// no value forges a field of its own.
std::string InstanceText(const std::vector<TabEntry>& rows, const std::vector<std::string>& columns);

}  // namespace quillon
