#include "model/supported_classes.h"

namespace auralink::model {

void RenameAttributes(std::map<std::string, std::string>& values, const std::map<std::string, std::string>& names) {
  if (names.empty()) return;
  std::map<std::string, std::string> result;
  std::map<std::string, std::string> renamed;
  for (auto& [name, value] : values) {
    const auto rename = names.find(name);
    if (rename == names.end())
      result.emplace(name, std::move(value));
    else
      renamed.emplace(rename->second, std::move(value));
  }
  for (auto& [name, value] : renamed) result.insert_or_assign(name, std::move(value));
  values = std::move(result);
}

const CGenericClass* SupportedClasses::FindSourceClass(const std::string& name) const {
  const auto found = classes_.find(name);
  return found == classes_.end() ? nullptr : &found->second;
}

bool SupportedClasses::Names(const std::string& sourceClass, const std::string& name) const {
  if (sourceClass == name) return true;
  const CGenericClass* listed = FindSourceClass(sourceClass);
  return listed && listed->m_className == name;
}

const CGenericClass* SupportedClasses::ResolveEventClass(const std::string& name) const {
  if (const CGenericClass* listed = FindSourceClass(name)) return listed;
  for (const auto& [source, listed] : classes_)
    if (listed.m_className == name) return &listed;
  return nullptr;
}

bool SupportedClasses::RemapInstance(CInstance& instance) const {
  const CGenericClass* listed = FindSourceClass(instance.m_className);
  if (!listed) return false;
  instance.m_className = listed->m_className;
  RenameAttributes(instance.m_attributes, listed->m_attributeNames);
  RenameAttributes(instance.m_keys, listed->m_attributeNames);
  return true;
}

bool SupportedClasses::RemapLink(CInstance& instance) const {
  for (const CGenericLink& link : links_) {
    if (!Names(link.m_sourceClass, instance.m_sourceClass) || !Names(link.m_targetClass, instance.m_targetClass))
      continue;
    instance.m_linkType = link.m_linkType;
    instance.m_sourceClass = classes_.at(link.m_sourceClass).m_className;
    instance.m_targetClass = classes_.at(link.m_targetClass).m_className;
    return true;
  }
  return false;
}

bool SupportedClasses::RemapEvent(CInstance& instance) const {
  const CGenericClass* listed = ResolveEventClass(instance.m_eventObjectClass);
  if (!listed) return false;
  if (listed->m_sourceClass == instance.m_eventObjectClass)
    RenameAttributes(instance.m_attributes, listed->m_attributeNames);
  instance.m_eventObjectClass = listed->m_className;
  return true;
}

bool SupportedClasses::Remap(CInstance& instance) const {
  switch (instance.m_type) {
    case CInstance::TYPE_INSTANCE: return RemapInstance(instance);
    case CInstance::TYPE_LINK: return RemapLink(instance);
    case CInstance::TYPE_EVENT: return RemapEvent(instance);
    default: return false;
  }
}

}  // namespace auralink::model
