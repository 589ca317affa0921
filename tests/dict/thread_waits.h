#pragma once
// Bounded waits on work run in its own thread, for the lock tests. A thread
// still stuck after its limit is left detached, so a broken lock fails the
// test instead of hanging the run.
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace dict_test {

const std::chrono::milliseconds kFinishes(10000);  // generous: a loaded CI machine is slow
const std::chrono::milliseconds kStaysBlocked(150);

inline std::future<void> start(std::function<void()> work) {
  std::packaged_task<void()> task(std::move(work));
  std::future<void> done = task.get_future();
  std::thread(std::move(task)).detach();
  return done;
}

}  // namespace dict_test
