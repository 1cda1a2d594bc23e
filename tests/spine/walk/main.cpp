// spine-walk: a program outside Auralink that uses it the way a subscriber would. It
// registers Touchpoint and Quillon into the registry file named by AURALINK_REGISTRY,
// configures the instance agent, creates "Touchpoint.Hub" by its ProgID, enumerates every
// supported object of the repository behind the data source "VAZUV" and fetches each one,
// and compares every identifier list and attribute text with what the repository
// discovery's own queries give when run directly through DBManager. The agent's classes
// come from the supported-classes file installed beside the modules.
//
// Every object that the hub reads is also handed to "Quillon.Processing" through the
// processing manager as a new instance (operation 1): the answer must be the instance, one
// link per parent that the agent's link lines allow (or the one link to the unlinked-objects
// aggregate when none does) and the status event, with the operations 1, 4..., 12, and every
// stream well-formed XML naming the object, its parents and the link types.
//
//   spine-walk REGSVR TOUCHPOINT_MODULE QUILLON_MODULE WORK_DIR
//
// Exit status 0 when everything matched.
#include <windows.h>
#include <atlbase.h>
#include <auralink/db_manager.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>
#include <auralink/payload_arrays.h>
#include <auralink/processing_manager.h>
#include <auralink/remapper.h>
#include <auralink/trace_utils.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model_xml_reader.h"
#include "repository_queries.h"
#include "unlinked_objects.h"
#include <auralink/platform/guid_text.h>
#include <auralink/platform/error_text.h>

namespace {

constexpr const char* kAgent = "QuillonLst";
constexpr const char* kAgentKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst";
constexpr const char* kInstrumentationKey = "SOFTWARE\\Kestrova\\Auralink\\QuillonLst\\OrvexSettings\\Instrumentation";
// A class of the event agent's section of the supported-classes file: the instance agent
// must not enumerate it.
constexpr const char* kOtherAgentsClass = "Host";

int failures = 0;
void Fail(const std::string& what) {
  if (++failures <= 20) std::printf("MISMATCH: %s\n", what.c_str());
}

bool SetString(const char* keyPath, const char* name, const std::string& value) {
  CRegKey key;
  return key.Create(HKEY_LOCAL_MACHINE, keyPath) == ERROR_SUCCESS &&
         key.SetStringValue(name, value.c_str()) == ERROR_SUCCESS;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::vector<std::string> FirstColumn(DBManager& db, const std::string& sql) {
  std::vector<TabEntry> rows;
  std::vector<std::string> columns;
  if (db.MakeQuery(sql, rows, columns) != 0) Fail("direct query failed: " + sql);
  std::vector<std::string> values;
  for (const TabEntry& row : rows) values.push_back(row.GetAt(0));
  return values;
}

// The attribute text the repository gives for one object, or "" when it has no status row.
std::string ExpectedText(DBManager& db, const std::string& id) {
  std::vector<TabEntry> rows;
  std::vector<std::string> columns;
  if (db.MakeQuery(quillon::ObjectWithParentsQuery(id), rows, columns) != 0) Fail("direct query failed for " + id);
  if (rows.empty() && db.MakeQuery(quillon::ObjectWithoutParentsQuery(id), rows, columns) != 0) {
    Fail("direct query without parents failed for " + id);
  }
  return quillon::InstanceText(rows, columns);
}

// The fields of an attribute text in order, each name cut at "#" (parent_class#1 is a
// parent_class), as the processing class reads them.
std::vector<std::pair<std::string, std::string>> Fields(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (size_t start = 0, end; (end = text.find('|', start)) != std::string::npos; start = end + 1) {
    const std::string piece = text.substr(start, end - start);
    const size_t equals = piece.find('=');
    if (equals == std::string::npos) continue;
    fields.emplace_back(piece.substr(0, std::min(equals, piece.find('#'))), piece.substr(equals + 1));
  }
  return fields;
}

struct ExpectedLink {
  std::string targetClass;  // as Orvex names it
  std::string targetId;
  std::string type;
};

// What the agent's files make of one object's parents: a link for every parent that a link
// line joins to the object's class, in the parents' order, or the aggregate link.
std::vector<ExpectedLink> ExpectedLinks(const std::string& text, const std::map<std::string, CGenericClass>& classes,
                                        const std::vector<CGenericLink>& linkLines) {
  std::string className, parentClass;
  std::vector<ExpectedLink> links;
  for (const auto& [name, value] : Fields(text)) {
    if (name == "class_name") className = value;
    if (name == "parent_class") parentClass = value;
    if (name != "parent_uuid") continue;
    for (const CGenericLink& line : linkLines) {
      if (line.m_sourceClass == className && line.m_targetClass == parentClass) {
        links.push_back({classes.at(parentClass).m_className, value, line.m_linkType});
        break;
      }
    }
  }
  if (links.empty()) links.push_back({"Aggregate", quillon::kUnlinkedObjectsId, "GEPC"});
  return links;
}

// One stream as XML, or a mismatch and nothing.
std::optional<model_test::XmlElement> Element(const std::string& id, SAFEARRAY* objects, LONG index) {
  std::string stream;
  if (FAILED(auralink::GetStringElement(objects, index, &stream))) {
    Fail("stream " + std::to_string(index) + " of " + id + " is not a string");
    return std::nullopt;
  }
  model_test::XmlReader reader;
  auto root = reader.Read(stream);
  if (!root) Fail("stream " + std::to_string(index) + " of " + id + " is not XML (" + reader.Error() + "): " + stream);
  return root;
}

// The attribute's value, or a text no stream holds.
std::string Attribute(const model_test::XmlElement& element, const char* name) {
  const std::string* value = element.Attribute(name);
  return value ? *value : "<absent>";
}

// Hands one object to "Quillon.Processing" as a new instance and checks what comes back.
void CheckProcessing(const std::string& id, const std::string& text,
                     const std::map<std::string, CGenericClass>& classes, const std::vector<CGenericLink>& linkLines) {
  LONG opCount = -1, objCount = -1;
  auralink::PayloadArray operations, objects;
  if (!CProcessingManager::GetInstance()->ProcessingObject(kAgent, 1, id.c_str(), text.c_str(), &opCount,
                                                           operations.Receive(), &objCount, objects.Receive())) {
    Fail("processing of " + id + " failed");
    return;
  }
  std::string className;
  for (const auto& [name, value] : Fields(text)) {
    if (name == "class_name") className = value;
  }
  const std::string orvexClass = classes.at(className).m_className;
  const std::vector<ExpectedLink> links = ExpectedLinks(text, classes, linkLines);
  const LONG count = static_cast<LONG>(links.size()) + 2;
  if (opCount != count || objCount != count || operations.Count() != count || objects.Count() != count) {
    Fail("processing of " + id + " gave " + std::to_string(objects.Count()) + " streams, expected " +
         std::to_string(count));
    return;
  }
  for (LONG i = 0; i < count; ++i) {
    LONG operation = -1;
    auralink::GetOperationElement(operations.Get(), i, &operation);
    const LONG expected = i == 0 ? 1 : i == count - 1 ? 12 : 4;
    if (operation != expected) Fail("operation " + std::to_string(i) + " of " + id + " is " + std::to_string(operation));
  }

  auto instance = Element(id, objects.Get(), 0);
  if (instance && (instance->name != "instance" || Attribute(*instance, "id") != id ||
                   Attribute(*instance, "class") != orvexClass)) {
    Fail("the instance stream of " + id + " names another object");
  }
  for (size_t n = 0; n < links.size(); ++n) {
    auto link = Element(id, objects.Get(), static_cast<LONG>(n + 1));
    if (!link) continue;
    const auto& ends = link->children;
    if (link->name != "link" || Attribute(*link, "type") != links[n].type || ends.size() != 2 ||
        ends[0].name != "source" || Attribute(ends[0], "id") != id || Attribute(ends[0], "class") != orvexClass ||
        ends[1].name != "target" || Attribute(ends[1], "id") != links[n].targetId ||
        Attribute(ends[1], "class") != links[n].targetClass) {
      Fail("link " + std::to_string(n) + " of " + id + " is not the " + links[n].type + " link to " +
           links[n].targetId);
    }
  }
  auto event = Element(id, objects.Get(), count - 1);
  if (event && (event->name != "event" || Attribute(*event, "objectId") != id ||
                Attribute(*event, "objectClass") != orvexClass)) {
    Fail("the event stream of " + id + " names another object");
  }
}

std::vector<std::string> Enumerate(IHub* hub, const std::string& className) {
  LONG count = -1;
  auralink::PayloadArray ids;
  HRESULT hr = hub->EnumInstances(CComBSTR(className.c_str()), 0, nullptr, &count, ids.Receive());
  if (FAILED(hr)) Fail("EnumInstances(\"" + className + "\") failed");
  std::vector<std::string> texts;
  for (LONG i = 0; i < ids.Count(); ++i) {
    std::string text;
    auralink::GetStringElement(ids.Get(), i, &text);
    texts.push_back(text);
  }
  if (count != static_cast<LONG>(texts.size())) Fail("EnumInstances count differs from its array");
  return texts;
}

int Walk() {
  CLSID clsid;
  CComPtr<IHub> hub;
  if (FAILED(CLSIDFromProgID(L"Touchpoint.Hub", &clsid)) ||
      FAILED(hub.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER))) {
    std::printf("cannot create Touchpoint.Hub: %s\n", auralink::platform::LastComFailureText());
    return 1;
  }
  if (hub->SetAgentName(CComBSTR(kAgent)) != S_OK) Fail("SetAgentName");

  std::map<std::string, CGenericClass> classes;
  std::vector<CGenericLink> linkLines;
  if (!CRemapper::GetInstance()->GetClasses(kAgent, classes) || !CRemapper::GetInstance()->GetLinks(kAgent, linkLines)) {
    std::printf("cannot read the supported classes of %s\n", kAgent);
    return 1;
  }
  std::string directText;
  DBManager db(quillon::kDataSource, nullptr, &directText);
  if (db.OpenDb() != 0) {
    std::printf("cannot open VAZUV directly: %s\n", directText.c_str());
    return 1;
  }

  // Every supported object after the unlinked-objects aggregate, in the database's order.
  std::vector<std::string> ids = Enumerate(hub, "");
  std::vector<std::string> expectedIds = FirstColumn(db, quillon::AllClassesUuidQuery(classes));
  if (ids.size() != expectedIds.size() + 1) {
    Fail("enumerated " + std::to_string(ids.size()) + " identifiers, expected " +
         std::to_string(expectedIds.size() + 1));
  }
  if (ids.empty()) return 1;
  for (size_t i = 0; i + 1 < ids.size() && i < expectedIds.size(); ++i) {
    if (ids[i + 1] != expectedIds[i]) Fail("identifier " + std::to_string(i + 1) + " is " + ids[i + 1]);
  }

  size_t perClass = 0;
  for (const auto& [name, supported] : classes) {
    std::vector<std::string> classIds = Enumerate(hub, name);
    if (classIds != FirstColumn(db, quillon::OneClassUuidQuery(name))) Fail("identifiers of the class " + name);
    perClass += classIds.size();
  }
  if (perClass + 1 != ids.size()) Fail("the classes' identifiers do not add up to the whole list");
  LONG count = -1;
  SAFEARRAY* none = nullptr;
  if (hub->EnumInstances(CComBSTR(kOtherAgentsClass), 0, nullptr, &count, &none) != E_FAIL || none) {
    Fail(std::string("the other agent's class ") + kOtherAgentsClass + " was enumerated");
  }

  // Every object, through the hub and directly.
  size_t fetched = 0, unreadable = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    CComBSTR instance;
    HRESULT hr = hub->GetInstance(CComBSTR(ids[i].c_str()), 0, nullptr, &instance);
    std::string expected = i == 0 ? quillon::kUnlinkedObjectsText : ExpectedText(db, ids[i]);
    if (expected.empty()) {
      ++unreadable;
      if (hr != E_FAIL) Fail("object " + ids[i] + " without a status row was read");
      continue;
    }
    ++fetched;
    if (hr != S_OK) {
      Fail("GetInstance(" + ids[i] + ") failed");
    } else if (instance.ToNarrow() != expected) {
      Fail("object " + ids[i] + ":\n  hub:    " + instance.ToNarrow() + "\n  direct: " + expected);
    } else {
      CheckProcessing(ids[i], expected, classes, linkLines);
    }
  }
  db.CloseDb();
  if (!CProcessingManager::GetInstance()->Shutdown()) Fail("the processing class did not terminate");
  std::printf("%zu identifiers, %zu objects compared and processed, %zu without a status row, %d mismatches\n",
              ids.size(), fetched, unreadable, failures);
  return failures == 0 && fetched > 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: spine-walk REGSVR TOUCHPOINT_MODULE QUILLON_MODULE WORK_DIR\n");
    return 2;
  }
  const std::string regsvr = argv[1], touchpoint = argv[2], quillon = argv[3], workDir = argv[4];
  CTraceUtils::GetInstance()->LogInitAppend((workDir + "/spine-walk.log").c_str(), 2, 0, -1);

  std::string command = Quoted(regsvr) + " " + Quoted(touchpoint) + " " + Quoted(quillon);
  if (std::system(command.c_str()) != 0) {
    std::printf("registration failed: %s\n", command.c_str());
    return 1;
  }
  // Registration names the file beside the module, as the instance agent's registration does.
  const std::string classesFile = quillon.substr(0, quillon.find_last_of('/') + 1) + "tng.scl";
  if (!SetString(kAgentKey, "DiscoveryID", auralink::platform::GuidToString(CLSID_QuillonDiscovery, false)) ||
      !SetString(kInstrumentationKey, "instrumentation.classes.filename", classesFile)) {
    std::printf("cannot configure the agent %s\n", kAgent);
    return 1;
  }

  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int status = Walk();
  CoUninitialize();
  return status;
}
