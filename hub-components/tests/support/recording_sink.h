// A sink that checks the shape of every indication it receives and keeps its items.
// Optionally it unsubscribes itself after a number of items, or answers with a failure.
#pragma once
#include <auralink/hub_components.h>
#include <auralink/payload_arrays.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace auralink::testing {

struct IndicatedItem {
  LONG operation = 0;
  std::string key;
  std::string object;
};

class RecordingSink : public IHubSink {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IHubSink) return E_NOINTERFACE;
    *ppv = static_cast<IHubSink*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++references; }
  STDMETHOD_(ULONG, Release)() override { return --references; }  // the test owns the sink

  STDMETHOD(Indicate)(LONG opCount, SAFEARRAY** ops, LONG idCount, SAFEARRAY** ids, LONG objCount,
                      SAFEARRAY** objects) override {
    ++calls;
    IndicatedItem item;
    bool wellFormed = opCount == 1 && idCount == 1 && objCount == 1 && ops && ids && objects &&
                      PayloadElementCount(*ops) == 1 && PayloadElementCount(*ids) == 1 &&
                      PayloadElementCount(*objects) == 1 && SUCCEEDED(GetOperationElement(*ops, 0, &item.operation)) &&
                      SUCCEEDED(GetStringElement(*ids, 0, &item.key)) &&
                      SUCCEEDED(GetStringElement(*objects, 0, &item.object));
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (wellFormed) {
        items.push_back(item);
      } else {
        ++malformed;
      }
    }
    if (onItem) onItem(*this);
    return answer;
  }

  std::vector<IndicatedItem> Items() {
    std::lock_guard<std::mutex> lock(mutex);
    return items;
  }

  std::atomic<ULONG> references{0};
  std::atomic<int> calls{0};
  std::function<void(RecordingSink&)> onItem;  // runs inside Indicate, after recording
  std::atomic<HRESULT> answer{S_OK};           // what Indicate returns (the item is kept)

 private:
  std::mutex mutex;
  std::vector<IndicatedItem> items;
  int malformed = 0;
};

}  // namespace auralink::testing
