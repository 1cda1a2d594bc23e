#include <auralink/hub_sink.h>
#include <auralink/payload_arrays.h>
#include <auralink/trace_utils.h>

namespace {
constexpr const char* kComponent = "HubSink";
}

STDMETHODIMP CHubSink::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == __uuidof(IUnknown) || riid == __uuidof(IHubSink)) {
    *ppv = static_cast<IHubSink*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CHubSink::AddRef() { return ++refCount_; }

STDMETHODIMP_(ULONG) CHubSink::Release() {
  // Never below zero, even for an unbalanced Release; the owner deletes the sink.
  ULONG count = refCount_.load();
  while (count > 0 && !refCount_.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0 ? count - 1 : 0;
}

STDMETHODIMP CHubSink::Indicate(LONG lInstOpCount, SAFEARRAY** ppInstOpArray, LONG lObjectIdCount,
                                SAFEARRAY** ppObjIdArray, LONG lObjectCount, SAFEARRAY** ppObjArray) {
  CTraceUtils* trace = CTraceUtils::GetInstance();
  if (lInstOpCount < 0 || lInstOpCount != lObjectIdCount || lInstOpCount != lObjectCount) {
    trace->LogMsg(0, kComponent, "Indication refused: the counts differ (%d operations, %d identifiers, %d objects)",
                  static_cast<int>(lInstOpCount), static_cast<int>(lObjectIdCount), static_cast<int>(lObjectCount));
    return E_INVALIDARG;
  }
  if (lInstOpCount == 0) return S_OK;
  SAFEARRAY* operations = ppInstOpArray ? *ppInstOpArray : nullptr;
  SAFEARRAY* ids = ppObjIdArray ? *ppObjIdArray : nullptr;
  SAFEARRAY* objects = ppObjArray ? *ppObjArray : nullptr;
  if (auralink::PayloadElementCount(operations) < lInstOpCount || auralink::PayloadElementCount(ids) < lInstOpCount ||
      auralink::PayloadElementCount(objects) < lInstOpCount) {
    trace->LogMsg(0, kComponent, "Indication refused: an array is missing or holds fewer than %d elements",
                  static_cast<int>(lInstOpCount));
    return E_INVALIDARG;
  }

  HRESULT result = S_OK;
  bool refused = false;
  for (LONG i = 0; i < lInstOpCount; ++i) {
    LONG operation = 0;
    BSTR id = nullptr;
    BSTR stream = nullptr;
    if (FAILED(auralink::GetOperationElement(operations, i, &operation)) ||
        FAILED(auralink::GetBstrElement(ids, i, &id)) || FAILED(auralink::GetBstrElement(objects, i, &stream))) {
      trace->LogMsg(0, kComponent, "Unable to read the item %d of an indication; it is skipped", static_cast<int>(i));
      SysFreeString(id);
      SysFreeString(stream);
      result = S_FALSE;
      continue;
    }
    // The handler owns id and stream now. The rest are still offered: a caller that
    // sees the failure offers the whole call again, and duplicates cost less than gaps.
    if (!HandleOperation(operation, id, stream)) refused = true;
  }
  return refused ? E_FAIL : result;
}
