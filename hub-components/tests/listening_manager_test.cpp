// Subscriptions, the agent's listening class behind them, and delivery on one thread.
#include <auralink/hub_components.h>
#include <gtest/gtest.h>

#include "hub_test_support.h"
#include "recording_sink.h"

namespace auralink::testing {
namespace {

CListeningManager* Manager() { return CListeningManager::GetInstance(); }

TEST(ListeningManager, FirstSubscriptionStartsTheAgentAndTheLastStopsIt) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Life");
  RecordingSink first, second;
  LONG firstId = 0, secondId = 0;
  ASSERT_EQ(Manager()->Subscribe("Life", &first, &firstId), 1);
  ASSERT_EQ(Manager()->Subscribe("Life", &second, &secondId), 1);
  EXPECT_NE(firstId, secondId);
  EXPECT_EQ(sandbox.JournalCount("Listening.Initialize Life"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.Start Life"), 1);
  EXPECT_EQ(first.references, 1u);  // the manager's own reference

  EXPECT_EQ(Manager()->Unsubscribe(firstId), 1);
  EXPECT_EQ(first.references, 0u);
  EXPECT_EQ(sandbox.JournalCount("Listening.Stop Life"), 0);

  EXPECT_EQ(Manager()->Unsubscribe(secondId), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.Stop Life"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.Terminate Life"), 1);
  EXPECT_EQ(sandbox.JournalCount("Listening.destroyed Life"), 1);
  EXPECT_NE(sandbox.Journal().find("Listening.Stop Life\nListening.Terminate Life\nListening.destroyed Life"),
            std::string::npos);

  EXPECT_EQ(Manager()->Unsubscribe(secondId), 0);
  EXPECT_EQ(Manager()->Unsubscribe(123456), 0);
  EXPECT_NE(sandbox.Trace().find("no subscription 123456"), std::string::npos);

  // Subscribing again starts a new listening object.
  LONG again = 0;
  ASSERT_EQ(Manager()->Subscribe("Life", &first, &again), 1);
  EXPECT_GT(again, secondId);
  EXPECT_EQ(sandbox.JournalCount("Listening.Start Life"), 2);
  EXPECT_EQ(Manager()->Unsubscribe(again), 1);
}

TEST(ListeningManager, WhatTheClassIndicatesWhileItStartsReachesTheSubscriber) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("EagerStart");
  RecordingSink sink;
  LONG id = 0;
  ASSERT_EQ(Manager()->Subscribe("EagerStart", &sink, &id), 1);
  std::vector<IndicatedItem> items = sink.Items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].operation, 7);
  EXPECT_EQ(items[0].object, "starting");
  EXPECT_EQ(Manager()->Unsubscribe(id), 1);

  // A start that fails withdraws the subscription made for it: the sink is given back and
  // hears nothing more, and the next subscription tries to start the class again.
  const char* failing = "EagerFailStart";
  sandbox.WriteFakeAgent(failing);
  RecordingSink refused;
  LONG refusedId = -1;
  EXPECT_EQ(Manager()->Subscribe(failing, &refused, &refusedId), 0);
  EXPECT_EQ(refusedId, -1);
  EXPECT_EQ(refused.references, 0u);
  int calls = refused.calls;
  EXPECT_EQ(Manager()->Indicate(failing, 7, "", "later"), 0);  // reached no sink
  EXPECT_EQ(refused.calls, calls);
  EXPECT_EQ(Manager()->Subscribe(failing, &refused, &refusedId), 0);
  EXPECT_EQ(sandbox.JournalCount("Listening.Start EagerFailStart"), 2);
  EXPECT_EQ(sandbox.JournalCount("Listening.destroyed EagerFailStart"), 2);
}

// Indicate answers whether the item arrived: a listener keeps what did not to send again.
TEST(ListeningManager, IndicateReachesEverySinkOfTheAgentAsOneItemArraysAndTellsWhetherItArrived) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Deliver");
  sandbox.WriteFakeAgent("Elsewhere");
  RecordingSink first, second, other;
  LONG ids[3] = {};
  ASSERT_EQ(Manager()->Subscribe("Deliver", &first, &ids[0]), 1);
  ASSERT_EQ(Manager()->Subscribe("Deliver", &second, &ids[1]), 1);
  ASSERT_EQ(Manager()->Subscribe("Elsewhere", &other, &ids[2]), 1);

  EXPECT_EQ(Manager()->Indicate("Deliver", 2, "uuid=1|", "name=x|"), 1);
  EXPECT_EQ(Manager()->Indicate("Deliver", 7, nullptr, "event"), 1);
  EXPECT_EQ(Manager()->Indicate("Nobody", 1, "k", "o"), 0);

  for (RecordingSink* sink : {&first, &second}) {
    auto items = sink->Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].operation, 2);
    EXPECT_EQ(items[0].key, "uuid=1|");
    EXPECT_EQ(items[0].object, "name=x|");
    EXPECT_EQ(items[1].operation, 7);
    EXPECT_EQ(items[1].key, "");
    EXPECT_EQ(items[1].object, "event");
  }
  EXPECT_EQ(other.calls, 0);

  // One sink refusing is enough: the other still gets the item, and the caller hears 0.
  second.answer = E_FAIL;
  EXPECT_EQ(Manager()->Indicate("Deliver", 7, "", "refused by one"), 0);
  EXPECT_EQ(first.Items().back().object, "refused by one");
  second.answer = S_FALSE;  // a success code counts as taken
  EXPECT_EQ(Manager()->Indicate("Deliver", 7, "", "taken"), 1);

  for (LONG id : ids) EXPECT_EQ(Manager()->Unsubscribe(id), 1);
  EXPECT_EQ(Manager()->Indicate("Deliver", 2, "k", "o"), 0);
  EXPECT_EQ(first.calls, 4);
}

TEST(ListeningManager, SinkMayUnsubscribeAnotherSinkDuringADelivery) {
  HubSandbox sandbox;
  sandbox.WriteFakeAgent("Cut");
  RecordingSink cutter, victim;
  LONG cutterId = 0, victimId = 0;
  // Subscription order is delivery order: the cutter comes first and removes the victim.
  ASSERT_EQ(Manager()->Subscribe("Cut", &cutter, &cutterId), 1);
  ASSERT_EQ(Manager()->Subscribe("Cut", &victim, &victimId), 1);
  cutter.onItem = [&](RecordingSink&) { Manager()->Unsubscribe(victimId); };
  Manager()->Indicate("Cut", 1, "k", "o");
  EXPECT_EQ(cutter.calls, 1);
  EXPECT_EQ(victim.calls, 0);
  EXPECT_EQ(victim.references, 0u);
  EXPECT_EQ(Manager()->Unsubscribe(cutterId), 1);
}

TEST(ListeningManager, SubscriptionFailsCleanlyWhenTheAgentCannotListen) {
  HubSandbox sandbox;
  RecordingSink sink;
  LONG id = -1;

  EXPECT_EQ(Manager()->Subscribe("Unknown", &sink, &id), 0);
  EXPECT_NE(sandbox.Trace().find("Agent Unknown: no ListeningID"), std::string::npos) << sandbox.Trace();

  sandbox.WriteAgent("Garbled", nullptr, "not-a-guid");
  EXPECT_EQ(Manager()->Subscribe("Garbled", &sink, &id), 0);
  EXPECT_NE(sandbox.Trace().find("\"not-a-guid\" is not a class identifier"), std::string::npos);

  sandbox.WriteAgent("Unregistered", nullptr, "0B7F3C0E-1111-4222-8333-944455566677");
  EXPECT_EQ(Manager()->Subscribe("Unregistered", &sink, &id), 0);
  EXPECT_NE(sandbox.Trace().find("Agent Unregistered: unable to create the class 0B7F3C0E"), std::string::npos);

  sandbox.WriteFakeAgent(kAgentFailingInitialize);
  EXPECT_EQ(Manager()->Subscribe(kAgentFailingInitialize, &sink, &id), 0);
  sandbox.WriteFakeAgent(kAgentFailingStart);
  EXPECT_EQ(Manager()->Subscribe(kAgentFailingStart, &sink, &id), 0);
  // What was created was undone and released.
  EXPECT_EQ(sandbox.JournalCount(std::string("Listening.Terminate ") + kAgentFailingInitialize), 1);
  EXPECT_EQ(sandbox.JournalCount(std::string("Listening.Stop ") + kAgentFailingStart), 1);
  EXPECT_EQ(sandbox.JournalCount(std::string("Listening.Terminate ") + kAgentFailingStart), 1);
  EXPECT_EQ(sandbox.JournalCount(std::string("Listening.destroyed ") + kAgentFailingInitialize), 1);
  EXPECT_EQ(sandbox.JournalCount(std::string("Listening.destroyed ") + kAgentFailingStart), 1);
  EXPECT_NE(sandbox.Trace().find("Agent FailStart: subscription refused"), std::string::npos);

  EXPECT_EQ(id, -1);
  EXPECT_EQ(sink.references, 0u);
  sandbox.WriteFakeAgent("Fine");
  EXPECT_EQ(Manager()->Subscribe("Fine", nullptr, &id), 0);
  EXPECT_EQ(Manager()->Subscribe("Fine", &sink, nullptr), 0);
  EXPECT_EQ(Manager()->Subscribe("", &sink, &id), 0);
  EXPECT_EQ(sandbox.JournalCount("Listening.Initialize Fine"), 0);
}

}  // namespace
}  // namespace auralink::testing
