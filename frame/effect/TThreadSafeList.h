// A list written from any thread and read on one: other threads post add and
// remove requests on a lock-free stack, and the reading thread applies them
// with update() before it walks the active entries.
#pragma once

#include <MacTypes.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "CAMemory.h"

// A lock-free stack of nodes linked through mNext. Every exchange of the top
// is a sequentially consistent compare-and-swap. Pops take the whole chain at
// once and never read mNext of a node they do not own, so a node that is
// popped and pushed again meanwhile (ABA) cannot corrupt the stack. Nodes
// must stay allocated while any thread may still pop: the list below frees
// them only when it is destroyed.
template <class T>
class TAtomicStack {
 public:
  TAtomicStack() noexcept = default;
  TAtomicStack(const TAtomicStack&) = delete;
  TAtomicStack& operator=(const TAtomicStack&) = delete;

  void push_atomic(T* item) noexcept { push_chain(item, item); }

  // Takes the top node, giving any others back.
  T* pop_atomic() noexcept {
    T* first = pop_all();
    if (first == nullptr) return nullptr;
    if (T* rest = first->mNext; rest != nullptr) {
      T* last = rest;
      while (last->mNext != nullptr) last = last->mNext;
      push_chain(rest, last);
      first->mNext = nullptr;
    }
    return first;
  }

  // Takes the whole chain, newest first.
  T* pop_all() noexcept {
    T* top = mHead.load(std::memory_order_seq_cst);
    while (top != nullptr &&
           !mHead.compare_exchange_weak(top, nullptr, std::memory_order_seq_cst, std::memory_order_seq_cst)) {
    }
    return top;
  }

  bool empty() const noexcept { return mHead.load() == nullptr; }

 private:
  // Pushes the chain first..last, which the caller owns.
  void push_chain(T* first, T* last) noexcept {
    T* top = mHead.load(std::memory_order_seq_cst);
    do {
      last->mNext = top;
    } while (!mHead.compare_exchange_weak(top, first, std::memory_order_seq_cst, std::memory_order_seq_cst));
  }

  std::atomic<T*> mHead{nullptr};
};

template <class T>
class TThreadSafeList {
 public:
  enum EAction : UInt32 {
    kAdd = 0,
    kRemove = 1,
  };

  struct Node {
    Node* mNext;
    EAction mAction;
    T mItem;
  };
  static_assert(std::is_trivially_copyable_v<T>, "nodes are raw CA_malloc blocks");

  class iterator {
   public:
    iterator() noexcept = default;
    explicit iterator(Node* node) noexcept : mNode(node) {}
    T& operator*() const noexcept { return mNode->mItem; }
    T* operator->() const noexcept { return &mNode->mItem; }
    iterator& operator++() noexcept {
      mNode = mNode->mNext;
      return *this;
    }
    bool operator==(const iterator& other) const noexcept { return mNode == other.mNode; }

   private:
    Node* mNode = nullptr;
  };

  TThreadSafeList() noexcept = default;
  // The only place nodes are freed: no other thread may post any more.
  ~TThreadSafeList() {
    FreeChain(mActive);
    FreeChain(mPending.pop_all());
    FreeChain(mFree.pop_all());
  }
  TThreadSafeList(const TThreadSafeList&) = delete;
  TThreadSafeList& operator=(const TThreadSafeList&) = delete;

  // Any thread. May allocate a node (std::bad_alloc) when none is free.
  void deferred_add(const T& item) { Post(kAdd, item); }
  void deferred_remove(const T& item) { Post(kRemove, item); }

  // Reading thread only: applies the posted requests, oldest first. Never
  // allocates: request nodes become entries or go back to the free stack.
  void update() noexcept VARSILE_NONBLOCKING {
    Node* newestFirst = mPending.pop_all();
    if (newestFirst == nullptr) return;
    Node* request = nullptr;
    while (newestFirst != nullptr) {
      Node* next = newestFirst->mNext;
      newestFirst->mNext = request;
      request = newestFirst;
      newestFirst = next;
    }
    while (request != nullptr) {
      Node* const next = request->mNext;
      if (request->mAction == kAdd) {
        Add(request);
      } else {
        Remove(request->mItem);
        mFree.push_atomic(request);
      }
      request = next;
    }
  }

  // Reading thread only.
  iterator begin() const noexcept { return iterator(mActive); }
  iterator end() const noexcept { return iterator(); }

 private:
  void Post(EAction action, const T& item) {
    Node* node = mFree.pop_atomic();
    if (node == nullptr) node = new (CA_malloc(sizeof(Node))) Node{};
    node->mAction = action;
    node->mItem = item;
    mPending.push_atomic(node);
  }

  // Appends the request node as an entry unless an equal entry is active.
  void Add(Node* request) noexcept {
    Node** link = &mActive;
    for (; *link != nullptr; link = &(*link)->mNext) {
      if ((*link)->mItem == request->mItem) {
        mFree.push_atomic(request);
        return;
      }
    }
    request->mNext = nullptr;
    *link = request;
  }

  // Unlinks the first equal entry, if any.
  void Remove(const T& item) noexcept {
    for (Node** link = &mActive; *link != nullptr; link = &(*link)->mNext) {
      if ((*link)->mItem == item) {
        Node* const found = *link;
        *link = found->mNext;
        mFree.push_atomic(found);
        return;
      }
    }
  }

  static void FreeChain(Node* node) noexcept {
    while (node != nullptr) {
      Node* const next = node->mNext;
      std::free(node);
      node = next;
    }
  }

  Node* mActive = nullptr;
  TAtomicStack<Node> mPending;
  TAtomicStack<Node> mFree;
};
