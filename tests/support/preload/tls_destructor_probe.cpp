// A program that needs a thread-local destructor: under the preload
// beside it, glibc must end it before it prints, or the preload has no hold
// on this C library and a run that passes under it proves nothing.
#include <cstdio>
#include <string>

int main() {
  static thread_local std::string text;
  text = "a thread-local text longer than any short-string buffer";
  std::puts(text.c_str());
  return 0;
}
