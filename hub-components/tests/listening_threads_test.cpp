// Indications from several polling threads at once, with sinks leaving while items are
// being delivered. Meant to run under ThreadSanitizer too.
#include <auralink/hub_components.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <thread>
#include <vector>

#include "hub_test_support.h"
#include "recording_sink.h"

namespace auralink::testing {
namespace {

CListeningManager* Manager() { return CListeningManager::GetInstance(); }

// Polling threads of our own beside the listening class's ticking thread.
class Pollers {
 public:
  Pollers(const char* agent, int count) {
    for (int t = 0; t < count; ++t) {
      threads_.emplace_back([this, agent, t] {
        for (int i = 0; running_; ++i) {
          std::string text = "poller " + std::to_string(t) + " item " + std::to_string(i);
          Manager()->Indicate(agent, 2, "key", text.c_str());
        }
      });
    }
  }
  ~Pollers() {
    running_ = false;
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::atomic<bool> running_{true};
  std::vector<std::thread> threads_;
};

TEST(ListeningThreads, SinksLeavingDuringConcurrentDeliveriesAreNotCalledAfterwards) {
  HubSandbox sandbox;
  const char* agent = "TickingCrowd";
  sandbox.WriteFakeAgent(agent);

  // The quitter unsubscribes itself from inside its 50th delivery. Handlers and the
  // identifiers they read are in place before the agent's thread can deliver.
  RecordingSink steady, quitter, removed;
  std::atomic<LONG> quitterId{0};
  std::atomic<int> quitterSeen{0};
  std::atomic<bool> quitterGone{false};
  std::atomic<int> callsAfterQuitting{0};
  quitter.onItem = [&](RecordingSink&) {
    if (quitterGone) {
      ++callsAfterQuitting;
    } else if (++quitterSeen >= 50 && quitterId && Manager()->Unsubscribe(quitterId)) {
      quitterGone = true;
    }
  };
  LONG steadyId = 0, id = 0, removedId = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &steady, &steadyId), 1);
  ASSERT_EQ(Manager()->Subscribe(agent, &quitter, &id), 1);
  quitterId = id;
  ASSERT_EQ(Manager()->Subscribe(agent, &removed, &removedId), 1);

  {
    Pollers pollers(agent, 4);
    ASSERT_TRUE(WaitFor([&] { return quitterGone && removed.calls > 100; }));

    // Unsubscribed from a thread that is not delivering: once Unsubscribe has returned,
    // no call into the sink is under way and none starts.
    ASSERT_EQ(Manager()->Unsubscribe(removedId), 1);
    int removedCalls = removed.calls;
    int steadyCalls = steady.calls;
    ASSERT_TRUE(WaitFor([&] { return steady.calls > steadyCalls + 100; }));
    EXPECT_EQ(removed.calls, removedCalls);
    EXPECT_EQ(removed.references, 0u);
  }
  // Calls into the quitter that other threads had begun before it left may still finish;
  // no later one starts.
  EXPECT_LE(callsAfterQuitting, 5);
  int quitterCalls = quitter.calls;
  Manager()->Indicate(agent, 2, "key", "after");
  EXPECT_EQ(quitter.calls, quitterCalls);
  EXPECT_EQ(quitter.references, 0u);

  // Every item arrives whole: the ticks without a key, the pollers' items with theirs.
  for (const IndicatedItem& item : steady.Items()) {
    EXPECT_EQ(item.key, item.object.rfind("tick ", 0) == 0 ? "" : "key");
  }
  EXPECT_EQ(Manager()->Unsubscribe(steadyId), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.destroyed TickingCrowd"), 1);
}

TEST(ListeningThreads, LastSinkLeavingFromTheListeningThreadStopsTheAgent) {
  HubSandbox sandbox;
  const char* agent = "TickingSolo";
  sandbox.WriteFakeAgent(agent);
  RecordingSink sink;
  std::atomic<LONG> sharedId{0};
  std::atomic<bool> left{false};
  sink.onItem = [&](RecordingSink& self) {
    if (self.calls >= 5 && !left && sharedId && Manager()->Unsubscribe(sharedId)) left = true;
  };
  LONG id = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &sink, &id), 1);
  sharedId = id;
  // The listening class waits for its ticking thread in Stop, so the manager must not stop
  // it on that thread.
  ASSERT_TRUE(WaitFor([&] { return sandbox.JournalCount("Listening.destroyed TickingSolo") == 1; })) << sandbox.Journal();
  EXPECT_TRUE(left);
  EXPECT_EQ(sandbox.JournalCount("Listening.Stop TickingSolo"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.Terminate TickingSolo"), 1);
  EXPECT_EQ(sink.references, 0u);
  int calls = sink.calls;
  Sleep(20);
  EXPECT_EQ(sink.calls, calls);
}

TEST(ListeningThreads, SubscribingAndUnsubscribingFromManyThreads) {
  HubSandbox sandbox;
  const char* agent = "TickingChurn";
  sandbox.WriteFakeAgent(agent);
  constexpr int kThreads = 4;
  std::vector<RecordingSink> sinks(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (int round = 0; round < 20; ++round) {
        LONG id = 0;
        if (Manager()->Subscribe(agent, &sinks[t], &id)) Manager()->Unsubscribe(id);
      }
      CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (RecordingSink& sink : sinks) EXPECT_EQ(sink.references, 0u);
  // Every listening object that was started was stopped and released again.
  EXPECT_EQ(sandbox.JournalCount("Listening.Start TickingChurn"), sandbox.JournalCount("Listening.destroyed TickingChurn"));
  EXPECT_EQ(sandbox.JournalCount("Listening.Start TickingChurn"), sandbox.JournalCount("Listening.Stop TickingChurn"));
}

}  // namespace
}  // namespace auralink::testing
