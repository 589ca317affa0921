// Scratch objects per thread without thread-local destructors: one object
// per thread and tag, kept from call to call, freed when its thread ends;
// and no library of quor's leaves glibc a thread-local destructor to record.
#include "utils/thread_scratch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/support/fixture.h"

namespace {

struct counted {
  static int made, freed;
  int value = 0;
  counted() { ++made; }
  ~counted() { ++freed; }
};
int counted::made = 0;
int counted::freed = 0;

struct other_tag;

TEST(ThreadScratch, OneObjectPerThreadAndTagFreedWhenItsThreadEnds) {
  counted& mine = thread_scratch<counted>::get();
  const int made = counted::made, freed = counted::freed;
  mine.value = 7;
  EXPECT_EQ(&thread_scratch<counted>::get(), &mine);
  EXPECT_EQ(thread_scratch<counted>::get().value, 7);
  counted& tagged = thread_scratch<counted, other_tag>::get();
  EXPECT_NE(&tagged, &mine);
  EXPECT_EQ(tagged.value, 0);
  EXPECT_EQ(counted::made, made + 1);

  const counted* theirs = nullptr;
  int their_value = -1;
  std::thread([&] {
    counted& c = thread_scratch<counted>::get();
    theirs = &c;
    their_value = c.value;
    c.value = 9;
    EXPECT_EQ(&thread_scratch<counted>::get(), &c);
  }).join();
  EXPECT_NE(theirs, &mine);
  EXPECT_EQ(their_value, 0);
  EXPECT_EQ(counted::made, made + 2);
  EXPECT_EQ(counted::freed, freed + 1);
  EXPECT_EQ(mine.value, 7);
}

// A `thread_local` object with a destructor makes its object file call
// __cxa_thread_atexit, which has glibc allocate the destructor's record and
// abort when it cannot.
TEST(ThreadScratch, NoLibraryRegistersAThreadLocalDestructor) {
  if (!quor_test::have_program("nm")) GTEST_SKIP() << "nm not installed";
  for (const char* name : {"utils", "time", "disk", "ntfs", "app", "examine", "dict"}) {
    const std::string library = std::string(QUOR_BINARY_DIR) + "/libquor_" + name + ".a";
    SCOPED_TRACE(library);
    std::string symbols;
    ASSERT_EQ(quor_test::run_command("nm -A --undefined-only '" + library + "' 2>/dev/null", symbols), 0);
    EXPECT_NE(symbols.find(" U "), std::string::npos);
    EXPECT_EQ(symbols.find("__cxa_thread_atexit"), std::string::npos) << symbols.substr(0, 2000);
  }
}

}  // namespace
