// CHub ("Touchpoint.Hub"): one program's entry to the discovery and subscription services
// of one agent. It holds no logic of its own: once it has an agent name, every call goes,
// with that name in front, to the hub components' managers; arrays, strings and counts
// pass through untouched in both directions.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>

#include <string>

#include "hub_registration.h"

class ATL_NO_VTABLE CHub : public CComObjectRootEx<CComSingleThreadModel>,
                           public CComCoClass<CHub, &CLSID_TouchpointHub>,
                           public IDispatchImpl<IHub, &IID_IHub, &LIBID_DUVIZAREZEZaz, &kHubDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kHubRegistrationScript)
  DECLARE_OBJECT_DESCRIPTION("Hub Class")

  BEGIN_COM_MAP(CHub)
  COM_INTERFACE_ENTRY(IHub)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Unsubscribe)(LONG cid) override;
  STDMETHOD(Subscribe)(IHubSink* pIHubSink, LONG* cid) override;
  STDMETHOD(GetInstance)(BSTR instanceID, LONG localOnly, SAFEARRAY** ParameterSetList, BSTR* Instance) override;
  STDMETHOD(EnumInstances)(BSTR classPath, LONG dip, SAFEARRAY** ParameterSet, LONG* lObjectCount,
                           SAFEARRAY** InstanceIds) override;
  STDMETHOD(SetAgentName)(BSTR agentName) override;

 private:
  // Traces the refusal when no agent name is set; true when the call may go on.
  bool HasAgentName() const;

  std::string m_agentName;  // narrow; empty until SetAgentName
};
