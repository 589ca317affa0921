#pragma once
// The dictionary store's mutual exclusion: an abstract lockable object, a
// recursive mutex behind it, and a guard that holds it for one scope.
#include <pthread.h>

class LockableObject {
 public:
  LockableObject();
  virtual ~LockableObject();
  LockableObject(const LockableObject&) = delete;
  LockableObject& operator=(const LockableObject&) = delete;

  virtual void lock() = 0;
  virtual void unlock() = 0;
  // Never filled by quor, so it always reads as an empty text.
  virtual const char* name() const;

 private:
  char m_name[40];
};

// Recursive, so an operation that already holds the lock may take it again
// in the same thread; another thread waits until the owner's last unlock.
class LightweightLock : public LockableObject {
 public:
  LightweightLock();
  ~LightweightLock() override;

  void lock() override;
  void unlock() override;

 private:
  pthread_mutex_t m_mutex;
};

// Gives the lock back on every way out of its scope, an exception passing
// through included.
class ScopedLock {
 public:
  explicit ScopedLock(LockableObject& object);
  ~ScopedLock();
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  LockableObject* m_object;
};
