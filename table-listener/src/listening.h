// CListening ("Dunmere.Listening"): the SQL table listener of an agent. It turns each table
// entry of the agent's configuration into a table poller and starts, stops and removes
// them; the pollers do the querying and report their changes to the listening manager.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>

#include <memory>
#include <string>
#include <vector>

#include "listening_registration.h"
#include "table_poll_thread.h"

class ATL_NO_VTABLE CListening : public CComObjectRootEx<CComSingleThreadModel>,
                                 public CComCoClass<CListening, &CLSID_DunmereListening>,
                                 public IDispatchImpl<IListening, &IID_IListening, &LIBID_DUNMERELib,
                                                      &kListeningDispatch> {
 public:
  DECLARE_REGISTRY_SCRIPT(kListeningRegistrationScript)
  DECLARE_OBJECT_DESCRIPTION("Listening Class")

  BEGIN_COM_MAP(CListening)
  COM_INTERFACE_ENTRY(IListening)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  // A listener released without Terminate still ends its threads.
  void FinalRelease() { threads.clear(); }

  STDMETHOD(Initialize)(BSTR agentName) override;
  STDMETHOD(Start)() override;
  STDMETHOD(Stop)() override;
  STDMETHOD(Terminate)() override;

 private:
  std::string agentName;                                // narrow; empty until Initialize
  std::vector<std::unique_ptr<TablePollThrd>> threads;  // one per table, in enumeration order
};
