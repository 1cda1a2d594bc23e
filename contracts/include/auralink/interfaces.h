// The five COM interfaces through which the deliverables meet. Methods are declared in
// slot order; the four dual interfaces follow IDispatch's seven slots and take dispatch
// identifiers 1, 2, 3 ... in that order. Every count is a 32-bit LONG; a
// SAFEARRAY(VARIANT)* or SAFEARRAY(BSTR)* parameter is a SAFEARRAY**. Each dual
// interface's dispatch table (below) names its methods in slot order for IDispatchImpl.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <auralink/platform/interface_id.h>
#include <dispatch_table.h>

#include <iterator>

#include "guids.h"

// The listening class of a source server: polls its source and indicates changes.
struct IListening : public IDispatch {
  STDMETHOD(Initialize)(BSTR agentName) PURE;
  STDMETHOD(Start)() PURE;
  STDMETHOD(Stop)() PURE;
  STDMETHOD(Terminate)() PURE;
};
AURALINK_DECLARE_IID(IListening, IID_IListening);

// The processing class of a source server: turns one object into operations and streams.
// The arrays it returns are created by it and owned by the caller.
struct IProcessing : public IDispatch {
  STDMETHOD(Initialize)(BSTR agentName) PURE;
  STDMETHOD(ProcessingObject)(LONG inOperation, BSTR objectID, BSTR listenedObject, LONG* lInstOpCount,
                              SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray) PURE;
  STDMETHOD(Terminate)() PURE;
};
AURALINK_DECLARE_IID(IProcessing, IID_IProcessing);

// The discovery class of a source server. Parameter sets are arrays of BSTR here.
struct IDiscovery : public IDispatch {
  STDMETHOD(Initialize)(BSTR agentName) PURE;
  STDMETHOD(GetInstance)(BSTR instanceID, LONG localOnly, SAFEARRAY** ParameterSetList, BSTR* Instance) PURE;
  STDMETHOD(EnumInstances)(BSTR classPath, LONG dip, SAFEARRAY** ParameterSet, LONG* lObjectCount,
                           SAFEARRAY** InstanceIds) PURE;
  STDMETHOD(Terminate)() PURE;
};
AURALINK_DECLARE_IID(IDiscovery, IID_IDiscovery);

struct IHubSink;

// The hub facade ("Touchpoint.Hub"). Parameter sets are arrays of VARIANT here.
struct IHub : public IDispatch {
  STDMETHOD(Unsubscribe)(LONG cid) PURE;
  STDMETHOD(Subscribe)(IHubSink* pIHubSink, LONG* cid) PURE;
  STDMETHOD(GetInstance)(BSTR instanceID, LONG localOnly, SAFEARRAY** ParameterSetList, BSTR* Instance) PURE;
  STDMETHOD(EnumInstances)(BSTR classPath, LONG dip, SAFEARRAY** ParameterSet, LONG* lObjectCount,
                           SAFEARRAY** InstanceIds) PURE;
  STDMETHOD(SetAgentName)(BSTR agentName) PURE;
};
AURALINK_DECLARE_IID(IHub, IID_IHub);

// A receiver of indications. Element i of the three arrays forms one item: an operation
// code, an object identifier (key stream) and an object stream. The arrays stay the
// caller's.
struct IHubSink : public IUnknown {
  STDMETHOD(Indicate)(LONG lInstOpCount, SAFEARRAY** ppInstOpArray, LONG lObjectIdCount, SAFEARRAY** ppObjIdArray,
                      LONG lObjectCount, SAFEARRAY** ppObjArray) PURE;
};
AURALINK_DECLARE_IID(IHubSink, IID_IHubSink);

// Dispatch tables: the methods of each dual interface in slot order; a method's dispatch
// identifier is its position plus one.
inline constexpr auralink::platform::DispatchMember kListeningMembers[] = {
    {L"Initialize", &auralink::platform::InvokeMember<&IListening::Initialize>},
    {L"Start", &auralink::platform::InvokeMember<&IListening::Start>},
    {L"Stop", &auralink::platform::InvokeMember<&IListening::Stop>},
    {L"Terminate", &auralink::platform::InvokeMember<&IListening::Terminate>},
};
inline constexpr auralink::platform::DispatchTable kListeningDispatch = {&IID_IListening, kListeningMembers,
                                                                         std::size(kListeningMembers)};

inline constexpr auralink::platform::DispatchMember kProcessingMembers[] = {
    {L"Initialize", &auralink::platform::InvokeMember<&IProcessing::Initialize>},
    {L"ProcessingObject", &auralink::platform::InvokeMember<&IProcessing::ProcessingObject>},
    {L"Terminate", &auralink::platform::InvokeMember<&IProcessing::Terminate>},
};
inline constexpr auralink::platform::DispatchTable kProcessingDispatch = {&IID_IProcessing, kProcessingMembers,
                                                                          std::size(kProcessingMembers)};

inline constexpr auralink::platform::DispatchMember kDiscoveryMembers[] = {
    {L"Initialize", &auralink::platform::InvokeMember<&IDiscovery::Initialize>},
    {L"GetInstance", &auralink::platform::InvokeMember<&IDiscovery::GetInstance>},
    {L"EnumInstances", &auralink::platform::InvokeMember<&IDiscovery::EnumInstances>},
    {L"Terminate", &auralink::platform::InvokeMember<&IDiscovery::Terminate>},
};
inline constexpr auralink::platform::DispatchTable kDiscoveryDispatch = {&IID_IDiscovery, kDiscoveryMembers,
                                                                         std::size(kDiscoveryMembers)};

inline constexpr auralink::platform::DispatchMember kHubMembers[] = {
    {L"Unsubscribe", &auralink::platform::InvokeMember<&IHub::Unsubscribe>},
    {L"Subscribe", &auralink::platform::InvokeMember<&IHub::Subscribe>},
    {L"GetInstance", &auralink::platform::InvokeMember<&IHub::GetInstance>},
    {L"EnumInstances", &auralink::platform::InvokeMember<&IHub::EnumInstances>},
    {L"SetAgentName", &auralink::platform::InvokeMember<&IHub::SetAgentName>},
};
inline constexpr auralink::platform::DispatchTable kHubDispatch = {&IID_IHub, kHubMembers, std::size(kHubMembers)};
