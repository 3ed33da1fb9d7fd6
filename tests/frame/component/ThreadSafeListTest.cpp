// The lock-free notification list: request order, duplicates, node reuse and
// concurrent use. The concurrent cases are meant to run under
// ThreadSanitizer as well as in the normal build.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "RenderTestSupport.h"
#include "TThreadSafeList.h"

namespace {

struct Item {
  int a = 0;
  int b = 0;
  bool operator==(const Item&) const noexcept = default;
};
using List = TThreadSafeList<Item>;

std::vector<int> Active(const List& list) {
  std::vector<int> out;
  for (auto it = list.begin(); it != list.end(); ++it) out.push_back(it->a * 10 + it->b);
  return out;
}

TEST(ThreadSafeList, RequestsWaitForUpdateAndApplyOldestFirst) {
  List list;
  list.update();
  EXPECT_TRUE(Active(list).empty());
  list.deferred_add({1, 0});
  list.deferred_add({2, 0});
  list.deferred_add({3, 0});
  EXPECT_TRUE(Active(list).empty());
  list.update();
  EXPECT_EQ(Active(list), (std::vector<int>{10, 20, 30}));

  list.deferred_remove({2, 0});
  list.deferred_add({2, 0});
  list.deferred_add({4, 0});
  list.deferred_remove({4, 0});
  list.update();
  EXPECT_EQ(Active(list), (std::vector<int>{10, 30, 20}));
}

TEST(ThreadSafeList, EqualityIsOverTheWholeItem) {
  List list;
  list.deferred_add({1, 1});
  list.deferred_add({1, 1});
  list.deferred_add({1, 2});
  list.deferred_remove({9, 9});
  list.update();
  EXPECT_EQ(Active(list), (std::vector<int>{11, 12}));
  list.deferred_remove({1, 1});
  list.update();
  EXPECT_EQ(Active(list), (std::vector<int>{12}));
}

TEST(ThreadSafeList, NodesAreRecycledNotReallocated) {
  List list;
  std::set<const void*> addresses;
  for (int i = 0; i < 1000; ++i) {
    list.deferred_add({i, 0});
    list.update();
    addresses.insert(&*list.begin());
    list.deferred_remove({i, 0});
    list.update();
  }
  // An add and a remove in flight at once: two nodes serve every cycle.
  EXPECT_LE(addresses.size(), 2u);
}

TEST(ThreadSafeList, DestructionFreesActivePendingAndFreeNodes) {
  // The leak check of the sanitizer build sees any node left behind.
  List list;
  for (int i = 0; i < 8; ++i) list.deferred_add({i, 0});
  list.update();
  list.deferred_remove({0, 0});
  list.update();
  list.deferred_add({100, 0});
  EXPECT_EQ(Active(list).size(), 7u);
}

struct StackNode {
  StackNode* mNext = nullptr;
  int value = 0;
};

TEST(AtomicStack, PopTakesTheTopAndGivesTheRestBack) {
  TAtomicStack<StackNode> stack;
  StackNode n[3];
  for (int i = 0; i < 3; ++i) {
    n[i].value = i;
    stack.push_atomic(&n[i]);
  }
  StackNode* top = stack.pop_atomic();
  ASSERT_EQ(top, &n[2]);
  EXPECT_EQ(top->mNext, nullptr);
  StackNode* rest = stack.pop_all();
  ASSERT_EQ(rest, &n[1]);
  EXPECT_EQ(rest->mNext, &n[0]);
  EXPECT_EQ(rest->mNext->mNext, nullptr);
  EXPECT_TRUE(stack.empty());
  EXPECT_EQ(stack.pop_atomic(), nullptr);
}

TEST(AtomicStack, ConcurrentPushAndPopLoseAndDuplicateNothing) {
  constexpr int kThreads = 4;
  constexpr int kNodesPerThread = 64;
  constexpr int kRounds = 2000;
  std::vector<StackNode> nodes(kThreads * kNodesPerThread);
  TAtomicStack<StackNode> stack;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].value = static_cast<int>(i);
    stack.push_atomic(&nodes[i]);
  }
  // Every thread repeatedly takes a node and puts it back: the nodes move
  // between stack and threads, but the set stays the same.
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&stack] {
      std::vector<StackNode*> held;
      for (int r = 0; r < kRounds; ++r) {
        if (StackNode* n = stack.pop_atomic()) held.push_back(n);
        if (held.size() > 3 || (r & 1)) {
          for (StackNode* n : held) stack.push_atomic(n);
          held.clear();
        }
      }
      for (StackNode* n : held) stack.push_atomic(n);
    });
  }
  for (auto& t : threads) t.join();
  std::vector<int> seen;
  for (StackNode* n = stack.pop_all(); n != nullptr; n = n->mNext) seen.push_back(n->value);
  std::sort(seen.begin(), seen.end());
  ASSERT_EQ(seen.size(), nodes.size());
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<int>(i));
}

// ---- Notifications under concurrent registration ----

// Render-thread side: what each pass of the current render heard.
struct PassLog {
  std::vector<int> pre, post;
  long renders = 0;
  long mismatches = 0;  // renders whose two passes heard different entries
  long duplicates = 0;  // passes that heard an entry twice
  long entriesHeard = 0;

  void EndRender() {
    ++renders;
    if (pre != post) ++mismatches;
    for (auto* pass : {&pre, &post}) {
      std::vector<int> sorted = *pass;
      std::sort(sorted.begin(), sorted.end());
      if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) ++duplicates;
    }
    entriesHeard += static_cast<long>(pre.size());
    pre.clear();
    post.clear();
  }
};

struct Slot {
  PassLog* log = nullptr;
  int id = 0;
  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32, UInt32,
                       AudioBufferList*) {
    auto* slot = static_cast<Slot*>(refCon);
    auto& pass = (*flags & kAudioUnitRenderAction_PreRender) ? slot->log->pre : slot->log->post;
    pass.push_back(slot->id);
    return noErr;
  }
};

TEST(RenderNotificationStress, ControlThreadsChangeNotificationsWhileRendering) {
  constexpr int kControlThreads = 3;
  constexpr int kSlotsPerThread = 5;
  constexpr int kRequestsPerThread = 3000;
  constexpr long kMinimumRenders = 4000;
  constexpr UInt32 kFrames = 64;

  auto au = rendertest::OpenInitialized();
  ASSERT_NE(au, nullptr);
  PassLog log;
  std::vector<Slot> slots(kControlThreads * kSlotsPerThread);
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = Slot{&log, static_cast<int>(i)};
  // What each slot should end as: the last request its thread posted.
  std::vector<char> expectedActive(slots.size(), 0);

  std::atomic<int> controlsDone{0};
  std::atomic<long> rendersDone{0};
  std::atomic<bool> start{false};
  std::atomic<bool> renderFailed{false};
  std::thread render([&] {
    rendertest::HostList host(2, kFrames * 4);
    while (!start.load()) std::this_thread::yield();
    Float64 time = 0;
    while (controlsDone.load() < kControlThreads || log.renders < kMinimumRenders) {
      AudioUnitRenderActionFlags flags = 0;
      if (au->DoRender(flags, rendertest::StampAt(time), 0, kFrames, host.list()) != noErr) {
        renderFailed.store(true);
        return;
      }
      log.EndRender();
      rendersDone.fetch_add(1);
      time += kFrames;
    }
  });

  std::vector<std::thread> controls;
  for (int t = 0; t < kControlThreads; ++t) {
    controls.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t) + 1);
      while (!start.load()) std::this_thread::yield();
      for (int r = 0; r < kRequestsPerThread; ++r) {
        const int index = t * kSlotsPerThread + static_cast<int>(random() % kSlotsPerThread);
        const bool add = (random() % 2) == 0;
        if (add) {
          au->SetRenderNotification(&Slot::Proc, &slots[index]);
        } else {
          au->RemoveRenderNotification(&Slot::Proc, &slots[index]);
        }
        expectedActive[index] = add ? 1 : 0;  // each thread writes only its own slots
        // Now and then wait for a render, so requests and renders interleave
        // however the threads are scheduled.
        if ((r & 63) == 0) {
          const long seen = rendersDone.load();
          while (rendersDone.load() == seen && !renderFailed.load()) std::this_thread::yield();
        }
      }
      controlsDone.fetch_add(1);
    });
  }
  start.store(true);
  for (auto& t : controls) t.join();
  render.join();

  ASSERT_FALSE(renderFailed.load());
  EXPECT_GE(log.renders, kMinimumRenders);
  EXPECT_EQ(log.mismatches, 0);
  EXPECT_EQ(log.duplicates, 0);
  EXPECT_GT(log.entriesHeard, 0) << "the renders heard no notification at all";

  // One more render applies whatever was still pending.
  rendertest::HostList host(2, kFrames * 4);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(au->DoRender(flags, rendertest::StampAt(-5), 0, kFrames, host.list()), noErr);
  std::vector<int> heard = log.pre;
  std::sort(heard.begin(), heard.end());
  std::vector<int> expected;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (expectedActive[i]) expected.push_back(static_cast<int>(i));
  }
  EXPECT_EQ(heard, expected);
  EXPECT_EQ(log.pre, log.post);
  frametest::Close(au);
}

}  // namespace
