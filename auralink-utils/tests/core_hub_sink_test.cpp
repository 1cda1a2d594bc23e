// The sink base: reference counting, and Indicate turning payload arrays into
// HandleOperation calls without taking the arrays or leaking the strings.
#include <auralink/hub_sink.h>
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>
#include <auralink/platform/text.h>

using namespace auralink;

namespace {

class RecordingSink : public CHubSink {
 public:
  int HandleOperation(LONG operation, BSTR id, BSTR stream) override {
    items.emplace_back(operation, platform::BstrToNarrow(id), platform::BstrToNarrow(stream));
    SysFreeString(id);  // the handler owns both strings
    SysFreeString(stream);
    return std::get<1>(items.back()) == refusedId ? 0 : 1;
  }
  std::vector<std::tuple<LONG, std::string, std::string>> items;
  std::string refusedId = "refused";
};

// Three payload arrays of n items, and the SAFEARRAY* variables Indicate takes the address of.
struct Payload {
  explicit Payload(LONG n) : operations(CreatePayloadArray(n)), ids(CreatePayloadArray(n)), objects(CreatePayloadArray(n)) {}
  void Set(LONG i, LONG operation, const char* id, const char* object) {
    PutOperationElement(operations.Get(), i, operation);
    PutStringElement(ids.Get(), i, id);
    PutStringElement(objects.Get(), i, object);
  }
  HRESULT Indicate(IHubSink* sink, LONG ops, LONG idCount, LONG objCount) {
    SAFEARRAY* o = operations.Get();
    SAFEARRAY* i = ids.Get();
    SAFEARRAY* s = objects.Get();
    return sink->Indicate(ops, &o, idCount, &i, objCount, &s);
  }
  PayloadArray operations, ids, objects;
};

TEST(HubSink, AnswersItsInterfacesAndOnlyCountsReferences) {
  RecordingSink sink;
  IHubSink* asSink = nullptr;
  IUnknown* asUnknown = nullptr;
  ASSERT_EQ(sink.QueryInterface(__uuidof(IHubSink), reinterpret_cast<void**>(&asSink)), S_OK);
  ASSERT_EQ(sink.QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&asUnknown)), S_OK);
  EXPECT_EQ(static_cast<void*>(asSink), static_cast<void*>(asUnknown));
  void* other = &sink;
  EXPECT_EQ(sink.QueryInterface(__uuidof(IDispatch), &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(asSink->Release(), 1u);
  EXPECT_EQ(asUnknown->Release(), 0u);  // the owner, not the count, ends the sink
  EXPECT_EQ(sink.Release(), 0u);        // an extra Release does not wrap around
}

TEST(HubSink, EachItemReachesHandleOperationAndTheArraysStayTheCallers) {
  RecordingSink sink;
  Payload payload(2);
  payload.Set(0, LISTENEREVENT, "", "event|severity=2|");
  payload.Set(1, INSTANCEMODIFICATION, "key-1", "<instance/>");
  ASSERT_EQ(payload.Indicate(&sink, 2, 2, 2), S_OK);
  ASSERT_EQ(sink.items.size(), 2u);
  EXPECT_EQ(sink.items[0], std::make_tuple(LISTENEREVENT, std::string(""), std::string("event|severity=2|")));
  EXPECT_EQ(sink.items[1], std::make_tuple(INSTANCEMODIFICATION, std::string("key-1"), std::string("<instance/>")));
  std::string text;  // still whole: the holders destroy the arrays at the end
  EXPECT_EQ(GetStringElement(payload.objects.Get(), 1, &text), S_OK);
  EXPECT_EQ(text, "<instance/>");
}

TEST(HubSink, MalformedIndicationsAreRefusedAndBadItemsSkipped) {
  RecordingSink sink;
  Payload payload(2);
  payload.Set(0, 1, "a", "x");
  payload.Set(1, 1, "b", "y");
  EXPECT_EQ(payload.Indicate(&sink, 2, 1, 2), E_INVALIDARG);
  EXPECT_EQ(payload.Indicate(&sink, 2, 2, 3), E_INVALIDARG);
  EXPECT_EQ(payload.Indicate(&sink, -1, -1, -1), E_INVALIDARG);
  EXPECT_EQ(payload.Indicate(&sink, 3, 3, 3), E_INVALIDARG);  // arrays too short
  SAFEARRAY* missing = nullptr;
  SAFEARRAY* present = payload.operations.Get();
  EXPECT_EQ(sink.Indicate(1, &present, 1, nullptr, 1, &present), E_INVALIDARG);
  EXPECT_EQ(sink.Indicate(1, &present, 1, &present, 1, &missing), E_INVALIDARG);
  EXPECT_EQ(sink.Indicate(0, nullptr, 0, nullptr, 0, nullptr), S_OK);  // nothing to deliver
  EXPECT_TRUE(sink.items.empty());

  PutStringElement(payload.operations.Get(), 0, "not a code");
  EXPECT_EQ(payload.Indicate(&sink, 2, 2, 2), S_FALSE);
  ASSERT_EQ(sink.items.size(), 1u);
  EXPECT_EQ(std::get<1>(sink.items[0]), "b");
}

// A handler that could not keep an item (a queue whose disk is full) makes the call fail,
// so the indicating side does not count the item as delivered.
TEST(HubSink, AnItemTheHandlerRefusesFailsTheCallAndTheOthersStillArrive) {
  RecordingSink sink;
  Payload payload(3);
  payload.Set(0, 1, "a", "x");
  payload.Set(1, 1, "refused", "y");
  payload.Set(2, 1, "c", "z");
  EXPECT_EQ(payload.Indicate(&sink, 3, 3, 3), E_FAIL);
  EXPECT_EQ(sink.items.size(), 3u);
  PutStringElement(payload.operations.Get(), 0, "not a code");
  EXPECT_EQ(payload.Indicate(&sink, 3, 3, 3), E_FAIL) << "a refusal outweighs a skipped item";
  sink.refusedId.clear();
  EXPECT_EQ(payload.Indicate(&sink, 2, 2, 2), S_FALSE);
}

}  // namespace
