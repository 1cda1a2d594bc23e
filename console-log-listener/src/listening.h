// CListening ("Marrowby.Listening"): one polling thread per console log configured under
// the agent's EventListening\EventLogs key. Initialize reads the logs' settings and makes
// the thread objects; Start, Stop and Terminate pass on to each of them in order. Stop and
// Terminate return once every thread has left its loop (a thread busy with a slow cautil
// run finishes its cycle first); Terminate then destroys the thread objects.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/guids.h>
#include <auralink/interfaces.h>

#include <memory>
#include <string>
#include <vector>

#include "event_log_listening.h"
#include "listening_registration.h"

class ATL_NO_VTABLE CListening
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CListening, &CLSID_MarrowbyListening>,
      public IDispatchImpl<IListening, &IID_IListening, &LIBID_MARROWBYLib, &kListeningDispatch> {
 public:
  CListening() = default;
  ~CListening() = default;  // each thread object ends its thread as it goes

  DECLARE_REGISTRY_SCRIPT(kListeningRegistrationScript)
  DECLARE_OBJECT_DESCRIPTION("Listening Class")

  BEGIN_COM_MAP(CListening)
  COM_INTERFACE_ENTRY(IListening)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  STDMETHOD(Initialize)(BSTR agentName) override;
  STDMETHOD(Start)() override;
  STDMETHOD(Stop)() override;
  STDMETHOD(Terminate)() override;

 private:
  // Reads one log's settings and appends its thread object; false (after the level 0
  // line naming the value) when a value cannot be read.
  bool AddLog(const std::string& logsKey, const std::string& logName);

  std::string agentName;
  std::vector<std::unique_ptr<EventLogListening>> threads;
};
