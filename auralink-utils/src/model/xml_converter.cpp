#include <auralink/trace_utils.h>
#include <auralink/xml_converter.h>

#include <initializer_list>
#include <map>
#include <string_view>
#include <utility>

#include "model/xml_escape.h"

using auralink::model::AppendXmlEscaped;

namespace {

constexpr const char* kComponent = "XMLConverter";
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

using Attributes = std::initializer_list<std::pair<const char*, const std::string*>>;

// <name a="v" b="w" followed by '>' or "/>" as the caller needs.
void OpenTag(std::string& xml, const char* name, Attributes attributes) {
  xml += '<';
  xml += name;
  for (const auto& [attribute, value] : attributes) {
    xml += ' ';
    xml += attribute;
    xml += "=\"";
    AppendXmlEscaped(xml, *value);
    xml += '"';
  }
}

// <list><item name="k">v</item>...</list>, items in the map's (sorted) order.
void AppendMap(std::string& xml, const char* list, const char* item, const std::map<std::string, std::string>& values) {
  xml += '<';
  xml += list;
  xml += '>';
  for (const auto& [name, value] : values) {
    OpenTag(xml, item, {{"name", &name}});
    xml += '>';
    AppendXmlEscaped(xml, value);
    xml += "</";
    xml += item;
    xml += '>';
  }
  xml += "</";
  xml += list;
  xml += '>';
}

void AppendInstance(std::string& xml, const CInstance& i) {
  OpenTag(xml, "instance", {{"class", &i.m_className}, {"id", &i.m_id}, {"name", &i.m_name}});
  xml += '>';
  AppendMap(xml, "keys", "key", i.m_keys);
  AppendMap(xml, "attributes", "attribute", i.m_attributes);
  xml += "</instance>";
}

void AppendLink(std::string& xml, const CInstance& i) {
  OpenTag(xml, "link", {{"type", &i.m_linkType}});
  xml += '>';
  OpenTag(xml, "source", {{"class", &i.m_sourceClass}, {"id", &i.m_sourceId}});
  xml += "/>";
  OpenTag(xml, "target", {{"class", &i.m_targetClass}, {"id", &i.m_targetId}});
  xml += "/></link>";
}

void AppendEvent(std::string& xml, const CInstance& i) {
  OpenTag(xml, "event",
          {{"objectClass", &i.m_eventObjectClass},
           {"objectId", &i.m_eventObjectId},
           {"time", &i.m_eventTime},
           {"type", &i.m_eventType},
           {"action", &i.m_eventAction},
           {"category", &i.m_eventCategory},
           {"description", &i.m_eventDescription},
           {"status", &i.m_eventStatus},
           {"severity", &i.m_eventSeverity},
           {"qualifiedSeverity", &i.m_qualifiedSeverity}});
  xml += "/>";
}

}  // namespace

int CXMLConverter::Convert(const CInstance& instance, std::string& xml) const {
  xml.clear();
  switch (instance.m_type) {
    case CInstance::TYPE_INSTANCE:
      xml = kDeclaration;
      AppendInstance(xml, instance);
      return 1;
    case CInstance::TYPE_LINK:
      xml = kDeclaration;
      AppendLink(xml, instance);
      return 1;
    case CInstance::TYPE_EVENT:
      xml = kDeclaration;
      AppendEvent(xml, instance);
      return 1;
    default:
      CTraceUtils::GetInstance()->LogMsg(0, kComponent, "Unable to convert an object of the unknown type %d",
                                         static_cast<int>(instance.m_type));
      return 0;
  }
}
