// The one handle owner: each handle it takes is closed exactly once, by whichever owner holds
// it last, and never after it was released.

#include "util/scoped_generic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#if defined(_WIN32)
#include "util/win/scoped_handle.h"
#else
#include <fcntl.h>

#include <cerrno>

#include "util/linux/scoped_fd.h"
#endif

namespace halvorn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Handles are small numbers, 0 is none; the closed ones are recorded in order.
std::vector<int> closed;

struct CountingTraits {
  using Handle = int;
  static int InvalidValue() { return 0; }
  static bool IsValid(int h) { return h != 0; }
  static void Close(int h) { closed.push_back(h); }
};
using Owner = ScopedGeneric<CountingTraits>;

class ScopedGenericTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(ScopedGenericTest, ClosesOnceWhenDestroyedOrReset) {
  {
    Owner empty;
    EXPECT_FALSE(empty.is_valid());
    EXPECT_EQ(empty.get(), 0);
    Owner owner(1);
    EXPECT_TRUE(owner.is_valid());
    owner.reset(2);  // 1 closed, 2 taken
    EXPECT_THAT(closed, ElementsAre(1));
    owner.reset(2);  // the handle it owns: kept, not closed
    EXPECT_THAT(closed, ElementsAre(1));
    EXPECT_TRUE(owner.is_valid());
    owner.reset();
    EXPECT_THAT(closed, ElementsAre(1, 2));
    EXPECT_FALSE(owner.is_valid());
    owner.reset(3);
  }
  EXPECT_THAT(closed, ElementsAre(1, 2, 3));
}

TEST_F(ScopedGenericTest, MovesHandOverAndReleaseGivesUp) {
  {
    Owner first(1);
    Owner second(std::move(first));
    EXPECT_FALSE(first.is_valid());  // NOLINT(bugprone-use-after-move): the moved-from state
    EXPECT_EQ(second.get(), 1);
    Owner third(5);
    third = std::move(second);  // 5 closed, 1 moves on
    EXPECT_THAT(closed, ElementsAre(5));
    Owner& same = third;
    third = std::move(same);  // self-assignment keeps the handle
    EXPECT_EQ(third.get(), 1);
    EXPECT_THAT(closed, ElementsAre(5));
    Owner kept(7);
    EXPECT_EQ(kept.release(), 7);
    EXPECT_FALSE(kept.is_valid());
  }
  // 7 was released: its new owner, not this one, closes it.
  EXPECT_THAT(closed, ElementsAre(5, 1));
}

TEST_F(ScopedGenericTest, EmptyOwnersCloseNothing) {
  {
    Owner a;
    Owner b(std::move(a));
    a = std::move(b);
    EXPECT_EQ(b.release(), 0);  // NOLINT(bugprone-use-after-move): the moved-from state
  }
  EXPECT_THAT(closed, IsEmpty());
}

// The build's own traits against a real handle.
#if defined(_WIN32)
TEST(ScopedHandleTest, ClosesTheKernelObject) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  DWORD flags = 0;
  {
    win::ScopedHandle owner(event);
    win::ScopedHandle moved(std::move(owner));
    EXPECT_TRUE(::GetHandleInformation(event, &flags));
  }
  EXPECT_FALSE(::GetHandleInformation(event, &flags));
  win::ScopedHandle none(INVALID_HANDLE_VALUE);  // a failed CreateFile: nothing to close
  EXPECT_FALSE(none.is_valid());
}
#else
TEST(ScopedFdTest, ClosesTheDescriptor) {
  int fds[2] = {-1, -1};
  ASSERT_EQ(::pipe(fds), 0);
  {
    ScopedFd read_end(fds[0]);
    ScopedFd write_end(fds[1]);
    ScopedFd moved(std::move(read_end));
    const int raw = write_end.release();
    EXPECT_EQ(raw, fds[1]);
    ScopedFd again(raw);
  }
  for (int fd : fds) {
    errno = 0;
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
  }
}
#endif

}  // namespace
}  // namespace halvorn
