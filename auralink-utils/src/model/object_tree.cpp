#include <auralink/object_tree.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <auralink/remapper.h>
#include <auralink/subnet_mask.h>
#include <auralink/trace_utils.h>
#include <auralink/xml_converter.h>

#include <vector>

#include "model/object_tree_builder.h"

namespace auralink::model {

namespace {

constexpr const char* kComponent = "ObjectTree";

struct TreeItem {
  LONG operation;
  CInstance object;
};

CInstance MakeInstance(const char* className, const std::string& id, const std::string& name,
                       std::map<std::string, std::string> attributes) {
  CInstance instance;
  instance.m_type = CInstance::TYPE_INSTANCE;
  instance.m_className = className;
  instance.m_id = id;
  instance.m_name = name;
  instance.m_keys["id"] = id;
  instance.m_attributes = std::move(attributes);
  return instance;
}

CInstance MakeLink(const char* childClass, const std::string& childId, const char* parentClass,
                   const std::string& parentId) {
  CInstance link;
  link.m_type = CInstance::TYPE_LINK;
  link.m_sourceClass = childClass;
  link.m_sourceId = childId;
  link.m_targetClass = parentClass;
  link.m_targetId = parentId;
  return link;
}

}  // namespace

int BuildObjectTreeOf(const LocalHost& host, const std::string& agentName, const std::string& subnetMask,
                      const std::string& managerName, std::string& objectId, LONG* lInstOpCount,
                      SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (!lInstOpCount || !ppInstOpArray || !lObjectCount || !ppObjArray) {
    trace->LogMsg(0, kComponent, "Unable to build the object tree of the agent %s: no place for the result",
                  agentName.c_str());
    return 0;
  }
  DWORD mask = DefaultClassMask(host.address);
  if (!subnetMask.empty()) {
    const auto parsed = ParseSubnetMask(subnetMask);
    if (!parsed) {
      trace->LogMsg(0, kComponent, "Unable to build the object tree of the agent %s: the subnet mask %s is not valid",
                    agentName.c_str(), subnetMask.c_str());
      return 0;
    }
    mask = *parsed;
  }
  const std::string network = FormatDottedQuad(host.address & mask);
  const std::string managerId = objectId.empty() ? managerName + "@" + host.name : objectId;

  std::vector<TreeItem> items;
  items.push_back({INSTANCECREATION, MakeInstance(kNetworkClass, network, network,
                                                  {{"address", network}, {"subnet_mask", FormatDottedQuad(mask)}})});
  items.push_back({INSTANCECREATION, MakeInstance(kHostClass, host.name, host.name,
                                                  {{"address", FormatDottedQuad(host.address)}})});
  items.push_back({INSTANCECREATION, MakeInstance(kManagerClass, managerId, managerName, {{"host", host.name}})});
  items.push_back({LINKCREATION, MakeLink(kHostClass, host.name, kNetworkClass, network)});
  items.push_back({LINKCREATION, MakeLink(kManagerClass, managerId, kHostClass, host.name)});

  const LONG count = static_cast<LONG>(items.size());
  PayloadArray operations(CreatePayloadArray(count));
  PayloadArray streams(CreatePayloadArray(count));
  if (!operations || !streams) {
    trace->LogMsg(0, kComponent, "Unable to create the arrays of the object tree of the agent %s", agentName.c_str());
    return 0;
  }
  const CXMLConverter converter;
  CRemapper* remapper = CRemapper::GetInstance();
  for (LONG index = 0; index < count; ++index) {
    CInstance& object = items[index].object;
    const std::string sourceClass = object.m_type == CInstance::TYPE_LINK
                                        ? object.m_sourceClass + " -> " + object.m_targetClass
                                        : object.m_className;
    if (!remapper->Remap(agentName, object)) {
      trace->LogMsg(0, kComponent, "Unable to build the object tree: the agent %s does not support %s",
                    agentName.c_str(), sourceClass.c_str());
      return 0;
    }
    std::string xml;
    converter.Convert(object, xml);
    trace->LogMsg(3, kComponent, "Made xml for the object tree: %s", xml.c_str());
    if (FAILED(PutOperationElement(operations.Get(), index, items[index].operation)) ||
        FAILED(PutStringElement(streams.Get(), index, xml.c_str()))) {
      trace->LogMsg(0, kComponent, "Unable to fill the arrays of the object tree of the agent %s", agentName.c_str());
      return 0;
    }
  }

  objectId = managerId;
  *lInstOpCount = count;
  *ppInstOpArray = operations.Detach();
  *lObjectCount = count;
  *ppObjArray = streams.Detach();
  trace->LogMsg(1, kComponent, "Built the object tree of the agent %s: network %s, host %s, manager %s",
                agentName.c_str(), network.c_str(), host.name.c_str(), managerId.c_str());
  return 1;
}

}  // namespace auralink::model

int BuildObjectTree(const std::string& agentName, const std::string& subnetMask, const std::string& managerName,
                    std::string& objectId, LONG* lInstOpCount, SAFEARRAY** ppInstOpArray, LONG* lObjectCount,
                    SAFEARRAY** ppObjArray) {
  auralink::model::LocalHost host;
  std::string problem;
  if (!auralink::model::FindLocalHost(host, problem)) {
    CTraceUtils::GetInstance()->LogMsg(0, "ObjectTree", "Unable to build the object tree of the agent %s: %s",
                                       agentName.c_str(), problem.c_str());
    return 0;
  }
  return auralink::model::BuildObjectTreeOf(host, agentName, subnetMask, managerName, objectId, lInstOpCount,
                                            ppInstOpArray, lObjectCount, ppObjArray);
}
