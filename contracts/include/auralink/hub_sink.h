// The base of every receiver of indications: IHubSink with reference counting. Indicate
// hands each item to HandleOperation.
#pragma once
#include <atomic>

#include "interfaces.h"

class CHubSink : public IHubSink {
 public:
  CHubSink() = default;
  CHubSink(const CHubSink&) = delete;
  CHubSink& operator=(const CHubSink&) = delete;

  // IUnknown answers IUnknown and IHubSink. The count only tracks references: the sink's
  // owner decides its lifetime (a sink is usually a member of a larger object), so the
  // last Release does not delete it. The owner keeps it alive while it is subscribed.
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // Item i is element i of the three arrays. Each operation must be a VT_I4, each
  // identifier and object a VT_BSTR. The arrays stay the caller's. Returns E_INVALIDARG,
  // handling nothing, when the counts differ, are negative, or an array is missing or too
  // short; E_FAIL when HandleOperation refused an item (returned 0; the other items are
  // still handed on), so the caller knows not to count the call as delivered; S_FALSE
  // when an element could not be read (that item is skipped); S_OK otherwise.
  STDMETHOD(Indicate)(LONG lInstOpCount, SAFEARRAY** ppInstOpArray, LONG lObjectIdCount, SAFEARRAY** ppObjIdArray,
                      LONG lObjectCount, SAFEARRAY** ppObjArray) override;

  // One item. `id` and `stream` are new BSTRs that the handler owns and frees with
  // SysFreeString. Returns nonzero on success.
  virtual int HandleOperation(LONG operation, BSTR id, BSTR stream) = 0;

  virtual ~CHubSink() = default;

  ULONG RefCount() const { return refCount_.load(); }

 private:
  std::atomic<ULONG> refCount_{0};
};
