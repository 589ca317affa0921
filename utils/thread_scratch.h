#pragma once
// Scratch objects kept from call to call, one per thread, that need no
// thread-local destructor. A `static thread_local` object with a destructor
// has glibc allocate a record of that destructor when the thread first
// touches it, and glibc ends the process by SIGABRT when that allocation
// fails, before any handler of ours runs: with memory short, a run would
// die where every other exhaustion ends with its own message. A pointer
// needs no destructor. The object it points to belongs to a thread key,
// whose destructor frees it when the thread ends; the main thread's object
// lives until the process exits.
#include <pthread.h>

#include <new>

// `Tag` tells apart two users of the same type: each gets objects of its own.
template <typename T, typename Tag = T>
class thread_scratch {
 public:
  // The calling thread's object, made on its first call; std::bad_alloc when
  // it cannot be made, as any allocation that fails.
  static T& get() {
    T* object = current_;
    return object ? *object : make();
  }

 private:
  struct key_slot {
    pthread_key_t key;
    bool made;
  };

  static void destroy(void* object) {
    current_ = nullptr;
    delete static_cast<T*>(object);
  }

  // Made once for the process; it has no destructor of its own to register.
  static const key_slot& slot() {
    static const key_slot s = [] {
      key_slot k{};
      k.made = pthread_key_create(&k.key, &destroy) == 0;
      return k;
    }();
    return s;
  }

  static T& make() {
    const key_slot& s = slot();
    if (!s.made) throw std::bad_alloc();
    T* object = new T();
    if (pthread_setspecific(s.key, object) != 0) {
      delete object;
      throw std::bad_alloc();
    }
    current_ = object;
    return *object;
  }

  static thread_local T* current_;
};

template <typename T, typename Tag>
thread_local T* thread_scratch<T, Tag>::current_ = nullptr;
