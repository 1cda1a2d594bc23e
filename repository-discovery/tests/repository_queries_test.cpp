// The query texts and the attribute text, without a database.
#include <gtest/gtest.h>

#include "repository_queries.h"

namespace {

std::map<std::string, CGenericClass> Classes(std::initializer_list<const char*> names) {
  std::map<std::string, CGenericClass> classes;
  for (const char* name : names) classes[name].m_sourceClass = name;
  return classes;
}

TEST(RepositoryQueries, QueriesKeepTheirTextForOrdinaryInput) {
  EXPECT_EQ(quillon::AllClassesUuidQuery(Classes({"Windows_NT_Server", "Router"})),
            "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject WHERE "
            "(class_name IN ('Router','Windows_NT_Server'))");
  EXPECT_EQ(quillon::OneClassUuidQuery("Router"),
            "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject WHERE (class_name='Router')");
  const char* id = "0A1B2C3D-0000-4000-8000-00000000002A";
  EXPECT_EQ(quillon::ObjectWithParentsQuery(id),
            "SELECT A.name,A.label,A.address,A.address_type,A.class_name,A.severity,A.date_ins,A.date_modify,"
            "B.status_text,C.parent_class,CONVERT(uniqueidentifier,C.parent_uuid) AS parent_uuid FROM "
            "tng_managedobject AS A, tng_status AS B, tng_inclusion AS C WHERE ((A.uuid = CONVERT(varbinary, "
            "CONVERT(uniqueidentifier, '0A1B2C3D-0000-4000-8000-00000000002A'))) AND (A.status_no = B.status_no) AND "
            "(A.uuid = C.child_uuid))");
  EXPECT_EQ(quillon::ObjectWithoutParentsQuery(id),
            "SELECT A.name,A.label,A.address,A.address_type,A.class_name,A.severity,A.date_ins,A.date_modify,"
            "B.status_text FROM tng_managedobject AS A, tng_status AS B WHERE ((A.uuid = CONVERT(varbinary, "
            "CONVERT(uniqueidentifier, '0A1B2C3D-0000-4000-8000-00000000002A'))) AND (A.status_no = B.status_no))");
}

TEST(RepositoryQueries, ApostrophesInCallerTextAreDoubled) {
  EXPECT_EQ(quillon::EscapeSqlText("it's ''"), "it''s ''''");
  EXPECT_EQ(quillon::OneClassUuidQuery("x') OR ('1'='1"),
            "SELECT CONVERT(uniqueidentifier,uuid) AS uuid FROM tng_managedobject WHERE "
            "(class_name='x'') OR (''1''=''1')");
  std::string hostile = "'; DROP TABLE tng_status; --";
  std::string query = quillon::ObjectWithoutParentsQuery(hostile);
  EXPECT_NE(query.find("CONVERT(uniqueidentifier, '''; DROP TABLE tng_status; --')"), std::string::npos) << query;
  EXPECT_EQ(quillon::ClassList(Classes({"O'Brien", "A"})), "'A','O''Brien'");
}

TEST(RepositoryQueries, InstanceTextPutsObjectFieldsOnceAndNumbersLaterParents) {
  std::vector<std::string> columns = {"name", "label", "parent_class", "parent_uuid"};
  std::vector<TabEntry> rows = {TabEntry({"srv1", "a=b|c", "Folder", "P0"}), TabEntry({"srv1", "x", "Net", "P1"}),
                                TabEntry({"srv1", "y", "Host", "P2"})};
  EXPECT_EQ(quillon::InstanceText(rows, columns),
            "name=srv1|label=a=b\xC2\xA6" "c|parent_class=Folder|parent_uuid=P0|parent_class#1=Net|parent_uuid#1=P1|"
            "parent_class#2=Host|parent_uuid#2=P2|");
  EXPECT_EQ(quillon::InstanceText({TabEntry({"n", ""})}, {"name", "status_text"}), "name=n|status_text=|");
  EXPECT_EQ(quillon::InstanceText({}, columns), "");
}

}  // namespace
