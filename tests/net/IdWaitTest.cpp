#include "IdWait.h"
#include "HostUIRecorder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace vantari {
namespace {

// A connected pair of local sockets, closed with the object.
struct TSocketPair {
  TSocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, Ends), 0); }
  ~TSocketPair() {
    close(Ends[0]);
    close(Ends[1]);
  }
  int Ends[2] = {-1, -1};
};

TEST(IdWait, EitherOfTwoSocketsEndsTheWaitAndTheWindowRepaints) {
  test::THostUIRecorder window;
  TSocketPair listener;
  TSocketPair control;
  std::thread peer([&control] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(write(control.Ends[1], "4", 1), 1);
  });
  const TIdWaitResult ready = IdWait({listener.Ends[0], weReadable}, {control.Ends[0], weReadable},
                                     TIdDeadline(TIdTimeout::Ms(5000)));
  peer.join();
  EXPECT_FALSE(ready.First);
  EXPECT_TRUE(ready.Second);
  EXPECT_GE(window.PaintPumps, 2);
}

TEST(IdWait, DeadlineEndsTheWaitAndLookingOnceDoesNotBlock) {
  TSocketPair pair;
  const TIdDeadline deadline(TIdTimeout::Ms(200));
  EXPECT_TRUE(IdWait({pair.Ends[0], weReadable}, deadline).TimedOut());
  EXPECT_TRUE(deadline.Passed());
  EXPECT_TRUE(IdWait({pair.Ends[0], weReadable}, TIdDeadline(TIdTimeout::Ms(0))).TimedOut());
  // A socket with room to write is ready at once.
  EXPECT_TRUE(IdWait({pair.Ends[0], weWritable}, TIdDeadline()).First);
}

// A window whose close asks to cancel while the wait repaints it.
class TClosingWindow : public test::THostUIRecorder {
public:
  void ProcessPaintEvents() override {
    if (++PaintPumps == 2)
      IdRequestCancel();
  }
};

TEST(IdWait, CancelEndsAWaitWithoutLimitAndHoldsUntilWithdrawn) {
  TSocketPair pair;
  {
    TClosingWindow window;
    EXPECT_THROW(IdWait({pair.Ends[0], weReadable}, TIdDeadline()), EIdCancelled);
  }
  EXPECT_THROW(IdWait({pair.Ends[0], weWritable}, TIdDeadline()), EIdCancelled);
  IdResetCancel();
  EXPECT_TRUE(IdWait({pair.Ends[0], weWritable}, TIdDeadline()).First);
}

TEST(IdTimeout, SettingsAndEstablishedWaitValues) {
  EXPECT_FALSE(TIdTimeout::FromSetting(0).Limited()); // 0 in a limit property: none
  EXPECT_EQ(TIdTimeout::FromSetting(1500).Milliseconds(), 1500);
  EXPECT_FALSE(TIdTimeout::FromWaitMs(-2).Limited());     // -2 in a readiness wait: none
  EXPECT_EQ(TIdTimeout::FromWaitMs(0).Milliseconds(), 0); // 0 there: look once
  const TIdDeadline soon(TIdTimeout::Ms(100));
  EXPECT_TRUE(TIdDeadline::Sooner(TIdDeadline(), soon).Limited());
  EXPECT_LE(TIdDeadline::Sooner(TIdDeadline(TIdTimeout::Ms(9000)), soon).Remaining().Milliseconds(),
            100);
}

} // namespace
} // namespace vantari
