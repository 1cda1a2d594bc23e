// The instance model: one object of a monitored source on its way to Orvex. A processing
// class fills the members that belong to its kind (m_type) and hands the object to the
// remapper and the XML converter; members a kind does not use are ignored by both.
#pragma once
#include <windows.h>
#include <windef.h>

#include <map>
#include <string>

class CInstance {
 public:
  // Kinds of object, the values of m_type.
  static constexpr SHORT TYPE_INSTANCE = 0;
  static constexpr SHORT TYPE_LINK = 1;
  static constexpr SHORT TYPE_EVENT = 2;

  SHORT m_type = TYPE_INSTANCE;

  // Instance: its class, identifier and display name; keys identify it, attributes describe it.
  std::string m_className;
  std::string m_id;
  std::string m_name;
  std::map<std::string, std::string> m_attributes;
  std::map<std::string, std::string> m_keys;

  // Link: from a child (source) to its parent (target), of one link type.
  std::string m_sourceClass;
  std::string m_sourceId;
  std::string m_targetClass;
  std::string m_targetId;
  std::string m_linkType;

  // Event: the object it concerns and what happened to it.
  std::string m_eventObjectClass;
  std::string m_eventObjectId;
  std::string m_eventTime;
  std::string m_eventType;
  std::string m_eventAction;
  std::string m_eventCategory;
  std::string m_eventDescription;
  std::string m_eventStatus;
  std::string m_eventSeverity;
  std::string m_qualifiedSeverity;
};
