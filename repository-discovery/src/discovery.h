// CDiscovery ("Quillon.Discovery"): lists the managed objects of the TNG repository, of one
// class or of every class the agent supports, and reads one object as attribute text.
// Each object has its own connection to the repository, opened by Initialize and closed
// by Terminate.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/db_manager.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>

#include <string>

#include "discovery_registration.h"
#include "repository_queries.h"

class ATL_NO_VTABLE CDiscovery
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CDiscovery, &CLSID_QuillonDiscovery>,
      public IDispatchImpl<IDiscovery, &IID_IDiscovery, &LIBID_QUILLONLib, &kDiscoveryDispatch> {
 public:
  CDiscovery() : m_db(quillon::kDataSource, quillon::kUuidQuery, &m_dbText) {}

  DECLARE_REGISTRY_SCRIPT(kDiscoveryRegistrationScript)
  DECLARE_OBJECT_DESCRIPTION("Discovery Class")

  BEGIN_COM_MAP(CDiscovery)
  COM_INTERFACE_ENTRY(IDiscovery)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR agentName) override;
  STDMETHOD(GetInstance)(BSTR instanceID, LONG localOnly, SAFEARRAY** ParameterSetList, BSTR* Instance) override;
  STDMETHOD(EnumInstances)(BSTR classPath, LONG dip, SAFEARRAY** ParameterSet, LONG* lObjectCount,
                           SAFEARRAY** InstanceIds) override;
  STDMETHOD(Terminate)() override;

 private:
  std::string m_agentName;  // narrow; empty until Initialize
  DBManager m_db;           // constructed closed
  std::string m_dbText;     // the connection's own text (its latest diagnostics)
};
