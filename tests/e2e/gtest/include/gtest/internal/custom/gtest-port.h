// GoogleTest's customisation header for our Windows build; it takes the place of
// the (empty) one in GoogleTest's own tree.
//
// GCC's win32 thread model, Debian's default x86_64-w64-mingw32-g++, has no
// std::mutex or std::condition_variable. GoogleTest locks with Win32 critical
// sections on Windows; only its Notification class is written with std::mutex.
// GTEST_HAS_NOTIFICATION_ is GoogleTest's switch for supplying Notification
// ourselves: here it waits on a Win32 event instead.

#ifndef GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
#define GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

/// Lets a controller thread hold newly created threads until it notifies them.
class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // a manual-reset event; HANDLE without <windows.h> here
};

}  // namespace internal
}  // namespace testing

#endif  // GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
