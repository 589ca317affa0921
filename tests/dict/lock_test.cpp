// The recursive lock and its scope guard, with real threads. Every wait is
// bounded: a thread still stuck after its limit is left detached, so a broken
// lock fails the test instead of hanging the run.
#include "dict/lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "tests/dict/thread_waits.h"

namespace {

using dict_test::kFinishes;
using dict_test::kStaysBlocked;
using dict_test::start;

bool finishes(std::future<void>& done) { return done.wait_for(kFinishes) == std::future_status::ready; }
bool still_blocked(std::future<void>& done) {
  return done.wait_for(kStaysBlocked) == std::future_status::timeout;
}

// True when another thread can take and give back the lock in time.
bool free_for_others(const std::shared_ptr<LightweightLock>& lock) {
  std::future<void> other = start([lock] {
    lock->lock();
    lock->unlock();
  });
  return finishes(other);
}

TEST(LightweightLock, ExceptionThroughAScopeFreesTheLock) {
  auto lock = std::make_shared<LightweightLock>();
  try {
    ScopedLock hold(*lock);
    throw std::runtime_error("damaged");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(free_for_others(lock));
}

// The owner runs on its own thread too, so that a lock which is not
// recursive deadlocks a helper thread instead of the test.
TEST(LightweightLock, SecondThreadWaitsForTheOwnersLastUnlock) {
  struct Shared {
    LightweightLock lock;
    std::promise<void> held, unlocked_once, release_one, release_two;
  };
  auto shared = std::make_shared<Shared>();
  std::future<void> held = shared->held.get_future();
  std::future<void> unlocked_once = shared->unlocked_once.get_future();
  std::future<void> owner = start([shared] {
    shared->lock.lock();
    shared->lock.lock();
    shared->held.set_value();
    shared->release_one.get_future().wait();
    shared->lock.unlock();
    shared->unlocked_once.set_value();
    shared->release_two.get_future().wait();
    shared->lock.unlock();
  });
  ASSERT_EQ(held.wait_for(kFinishes), std::future_status::ready) << "the owner's nested lock blocked";

  std::future<void> waiter = start([shared] {
    shared->lock.lock();
    shared->lock.unlock();
  });
  EXPECT_TRUE(still_blocked(waiter)) << "took the lock while the owner held it twice";
  shared->release_one.set_value();
  ASSERT_EQ(unlocked_once.wait_for(kFinishes), std::future_status::ready);
  EXPECT_TRUE(still_blocked(waiter)) << "took the lock after the owner's first of two unlocks";
  shared->release_two.set_value();
  EXPECT_TRUE(finishes(owner));
  EXPECT_TRUE(finishes(waiter)) << "still waiting after the owner's last unlock";
}

// Any lockable object starts with a name of 40 zero characters, and a scope
// guard takes it once and gives it back once.
class CountingLock : public LockableObject {
 public:
  void lock() override { ++locks; }
  void unlock() override { ++unlocks; }
  int locks = 0, unlocks = 0;
};

TEST(LockableObject, EmptyNameAndOneLockPerScope) {
  CountingLock counted;
  {
    ScopedLock hold(counted);
    EXPECT_EQ(counted.locks, 1);
    EXPECT_EQ(counted.unlocks, 0);
  }
  EXPECT_EQ(counted.unlocks, 1);
  LightweightLock real;
  for (const LockableObject* o : {static_cast<const LockableObject*>(&counted),
                                  static_cast<const LockableObject*>(&real)}) {
    const char* name = o->LockableObject::name();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(o->name(), name);
    EXPECT_EQ(std::count(name, name + 40, '\0'), 40);
  }
}

}  // namespace
