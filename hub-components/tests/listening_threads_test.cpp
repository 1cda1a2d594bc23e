// Indications from several polling threads at once, with sinks leaving while items are
// being delivered. Meant to run under ThreadSanitizer too.
#include <auralink/hub_components.h>
#include <gtest/gtest.h>
#include <windows.h>
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

// The last sink leaves from outside a delivery: the class stops while the sink still
// receives, so what the class indicates while it winds down is not lost.
TEST(ListeningThreads, TheLastSinkHearsTheListeningClassWindDown) {
  HubSandbox sandbox;
  const char* agent = "TickingDraining";
  sandbox.WriteFakeAgent(agent);
  RecordingSink sink;
  LONG id = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &sink, &id), 1);
  ASSERT_TRUE(WaitFor([&] { return sink.calls > 10; }));
  ASSERT_EQ(Manager()->Unsubscribe(id), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.last words TickingDraining 1"), 1) << sandbox.Journal();
  EXPECT_EQ(sink.Items().back().object, "last words");
  EXPECT_NE(sandbox.Journal().find("Listening.Stop TickingDraining\nListening.last words TickingDraining 1\n"
                                   "Listening.Terminate TickingDraining\nListening.destroyed TickingDraining"),
            std::string::npos)
      << sandbox.Journal();
  EXPECT_EQ(sink.references, 0u);
  EXPECT_EQ(Manager()->Unsubscribe(id), 0);
}

// From inside a delivery the sink leaves at once; what the class indicates afterwards
// reaches no sink, and Indicate says so.
TEST(ListeningThreads, LastSinkLeavingFromTheListeningThreadStopsTheAgent) {
  HubSandbox sandbox;
  const char* agent = "TickingDrainingSolo";
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
  ASSERT_TRUE(WaitFor([&] { return sandbox.JournalCount("Listening.destroyed TickingDrainingSolo") == 1; }))
      << sandbox.Journal();
  EXPECT_TRUE(left);
  EXPECT_EQ(sandbox.JournalCount("Listening.Stop TickingDrainingSolo"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.Terminate TickingDrainingSolo"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.last words TickingDrainingSolo 0"), 1);
  EXPECT_EQ(sink.references, 0u);
  int calls = sink.calls;
  Sleep(20);
  EXPECT_EQ(sink.calls, calls);
}

TEST(ListeningThreads, ASubscriptionDuringAShutdownWaitsUntilTheOldObjectIsGone) {
  HubSandbox sandbox;
  const char* agent = "TickingSlowStop";
  sandbox.WriteFakeAgent(agent);
  RecordingSink leaving;
  std::atomic<LONG> leavingId{0};
  leaving.onItem = [&](RecordingSink& self) {
    if (self.calls < 3) return;
    if (LONG id = leavingId.exchange(0)) Manager()->Unsubscribe(id);
  };
  LONG id = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &leaving, &id), 1);
  leavingId = id;
  // The last sink left on the ticking thread, so a helper thread stops the class, slowly.
  ASSERT_TRUE(WaitFor([&] { return sandbox.JournalCount("Listening.Stop TickingSlowStop") == 1; }));

  RecordingSink arriving;
  LONG arrivingId = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &arriving, &arrivingId), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.destroyed TickingSlowStop"), 1) << sandbox.Journal();
  EXPECT_EQ(sandbox.JournalCount("Listening.Start TickingSlowStop"), 2);
  EXPECT_TRUE(WaitFor([&] { return arriving.calls > 0; }));
  EXPECT_EQ(Manager()->Unsubscribe(arrivingId), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.destroyed TickingSlowStop"), 2);
  EXPECT_EQ(sandbox.JournalCount("two listening objects TickingSlowStop"), 0);
}

TEST(ListeningThreads, ASinkMayLeaveAndComeBackInsideOneDelivery) {
  HubSandbox sandbox;
  const char* agent = "TickingReturn";
  sandbox.WriteFakeAgent(agent);
  RecordingSink sink;
  std::atomic<LONG> currentId{0};
  std::atomic<int> comeBack{-1};
  std::atomic<int> callsAtComeBack{0};
  // Inside the delivery the agent is being shut down for want of subscribers, by a helper
  // that waits for this very thread: the new subscription must not wait for it.
  sink.onItem = [&](RecordingSink& self) {
    if (self.calls != 3) return;
    Manager()->Unsubscribe(currentId);
    LONG id = 0;
    int result = Manager()->Subscribe(agent, &self, &id);
    currentId = id;
    callsAtComeBack = self.calls.load();
    comeBack = result;
  };
  LONG id = 0;
  ASSERT_EQ(Manager()->Subscribe(agent, &sink, &id), 1);
  currentId = id;
  ASSERT_TRUE(WaitFor([&] { return comeBack != -1; }));
  EXPECT_EQ(comeBack, 1);
  // Whether the old object was kept or replaced, the agent goes on indicating to the sink.
  EXPECT_TRUE(WaitFor([&] { return sink.calls > callsAtComeBack + 20; }));
  EXPECT_EQ(Manager()->Unsubscribe(currentId), 1);
  EXPECT_TRUE(WaitFor([&] {
    return sandbox.JournalCount("Listening.Start TickingReturn") ==
           sandbox.JournalCount("Listening.destroyed TickingReturn");
  })) << sandbox.Journal();
  EXPECT_EQ(sandbox.JournalCount("two listening objects TickingReturn"), 0);
  EXPECT_TRUE(WaitFor([&] { return sink.references == 0u; }));
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
  EXPECT_EQ(sandbox.JournalCount("two listening objects TickingChurn"), 0);
}

}  // namespace
}  // namespace auralink::testing
