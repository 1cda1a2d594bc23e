// CProcessing ("Marrowby.Processing"): turns one console-log event stream into the XML of
// one event object, and answers the registration notice (operation 13) with the agent's
// object tree: the local network, the host and the console-log manager that events concern.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/guids.h>
#include <auralink/instance.h>
#include <auralink/interfaces.h>

#include <string>
#include <string_view>

#include "processing_registration.h"

class ATL_NO_VTABLE CProcessing
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CProcessing, &CLSID_MarrowbyProcessing>,
      public IDispatchImpl<IProcessing, &IID_IProcessing, &LIBID_MARROWBYLib, &kProcessingDispatch> {
 public:
  CProcessing() = default;

  DECLARE_REGISTRY_SCRIPT(kProcessingRegistrationScript)
  DECLARE_OBJECT_DESCRIPTION("Processing Class")

  BEGIN_COM_MAP(CProcessing)
  COM_INTERFACE_ENTRY(IProcessing)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR agentName) override;
  STDMETHOD(ProcessingObject)(LONG inOperation, BSTR objectID, BSTR listenedObject, LONG* lInstOpCount,
                              SAFEARRAY** ppInstOpArray, LONG* lObjectCount, SAFEARRAY** ppObjArray) override;
  STDMETHOD(Terminate)() override;

  // Fills the event members of `event` from the "key=value|" pairs of `stream`. Text after
  // the last "|" and pairs without "=" are ignored; a value may hold further "=".
  static void ParseEventStream(std::string_view stream, CInstance& event);

 private:
  std::string agentName;
  // The manager element's identifier; the object tree makes it when it is first built.
  std::string objectId;
  std::string subnetMask;  // "SubnetMask" of the agent's EventListening key
};
