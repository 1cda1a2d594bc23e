// CProcessing ("Quillon.Processing"): turns one managed object, as the discovery class
// reads it, into the streams Orvex receives: the object itself, one link per parent (or
// one to the unlinked-objects aggregate) and a status event, each with its operation code.
#pragma once
#include <windows.h>
#include <atlbase.h>
#include <atlcom.h>
#include <auralink/guids.h>
#include <auralink/instance.h>
#include <auralink/interfaces.h>
#include <auralink/xml_converter.h>

#include <string>
#include <vector>

#include "processing_registration.h"

class ATL_NO_VTABLE CProcessing
    : public CComObjectRootEx<CComSingleThreadModel>,
      public CComCoClass<CProcessing, &CLSID_QuillonProcessing>,
      public IDispatchImpl<IProcessing, &IID_IProcessing, &LIBID_QUILLONLib, &kProcessingDispatch> {
 public:
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

 private:
  // The link streams of `object` (already remapped) for the parents named in `fields`;
  // each link is remapped from `sourceClass`, the class the repository gives the object.
  std::vector<std::string> MakeLinks(CInstance& object, const std::string& sourceClass, const std::string& fields,
                                     const CXMLConverter& converter);

  std::string m_agentName;  // narrow; empty until Initialize
};
