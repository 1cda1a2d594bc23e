#include "repository_queries.h"

#include <auralink/attribute_text.h>

namespace quillon {

namespace {

constexpr const char* kSelectUuids = "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject WHERE ";
constexpr const char* kObjectColumns =
    "SELECT A.name,A.label,A.address,A.address_type,A.class_name,A.severity,A.date_ins,A.date_modify,B.status_text";
constexpr const char* kMatchUuidPrefix = "(A.uuid = CONVERT(varbinary, CONVERT(uniqueidentifier, '";
constexpr const char* kMatchUuidSuffix = "'))) AND (A.status_no = B.status_no)";

bool IsParentColumn(const std::string& name) { return name == "parent_class" || name == "parent_uuid"; }

}  // namespace

std::string EscapeSqlText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\'') escaped += '\'';
    escaped += c;
  }
  return escaped;
}

std::string ClassList(const std::map<std::string, CGenericClass>& classes) {
  std::string list;
  for (const auto& [name, description] : classes) {
    if (!list.empty()) list += ',';
    list += '\'' + EscapeSqlText(name) + '\'';
  }
  return list;
}

std::string AllClassesUuidQuery(const std::map<std::string, CGenericClass>& classes) {
  return std::string(kSelectUuids) + "(class_name IN (" + ClassList(classes) + "))";
}

std::string OneClassUuidQuery(std::string_view className) {
  return std::string(kSelectUuids) + "(class_name='" + EscapeSqlText(className) + "')";
}

std::string ObjectWithParentsQuery(std::string_view instanceId) {
  return std::string(kObjectColumns) +
         ",C.parent_class,CONVERT(uniqueidentifier,C.parent_uuid) AS parent_uuid FROM tng_managedobject AS A, "
         "tng_status AS B, tng_inclusion AS C WHERE (" +
         kMatchUuidPrefix + EscapeSqlText(instanceId) + kMatchUuidSuffix + " AND (A.uuid = C.child_uuid))";
}

std::string ObjectWithoutParentsQuery(std::string_view instanceId) {
  return std::string(kObjectColumns) + " FROM tng_managedobject AS A, tng_status AS B WHERE (" + kMatchUuidPrefix +
         EscapeSqlText(instanceId) + kMatchUuidSuffix + ")";
}

std::string InstanceText(const std::vector<TabEntry>& rows, const std::vector<std::string>& columns) {
  std::string text;
  if (rows.empty()) return text;
  for (size_t column = 0; column < columns.size(); ++column) {
    if (!IsParentColumn(columns[column])) auralink::model::AppendPair(text, columns[column], rows[0].GetAt(column));
  }
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < columns.size(); ++column) {
      if (!IsParentColumn(columns[column])) continue;
      std::string name = columns[column];
      if (row > 0) name += '#' + std::to_string(row);
      auralink::model::AppendPair(text, name, rows[row].GetAt(column));
    }
  }
  return text;
}

}  // namespace quillon
