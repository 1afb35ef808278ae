#include "IdWait.h"
#include "HostUIRecorder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace vantari {
namespace {

// A connected pair of local sockets, closed with the object.
#ifdef _WIN32
// Windows has no socketpair: a loopback connection stands in.
struct TSocketPair {
  TSocketPair() {
    WSADATA data{};
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    auto *name = reinterpret_cast<sockaddr *>(&address);
    EXPECT_EQ(bind(listener, name, sizeof address), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    EXPECT_EQ(getsockname(listener, name, &length), 0);
    const SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(client, name, sizeof address), 0);
    Ends[0] = static_cast<int>(accept(listener, nullptr, nullptr));
    Ends[1] = static_cast<int>(client);
    closesocket(listener);
  }
  ~TSocketPair() {
    closesocket(static_cast<SOCKET>(Ends[0]));
    closesocket(static_cast<SOCKET>(Ends[1]));
    WSACleanup();
  }
  int Put(const char *byte) { return send(static_cast<SOCKET>(Ends[1]), byte, 1, 0); }
  int Ends[2] = {-1, -1};
};
#else
struct TSocketPair {
  TSocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, Ends), 0); }
  ~TSocketPair() {
    close(Ends[0]);
    close(Ends[1]);
  }
  int Put(const char *byte) { return static_cast<int>(write(Ends[1], byte, 1)); }
  int Ends[2] = {-1, -1};
};
#endif

TEST(IdWait, EitherOfTwoSocketsEndsTheWaitAndTheWindowRepaints) {
  test::THostUIRecorder window;
  TSocketPair listener;
  TSocketPair control;
  std::thread peer([&control] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(control.Put("4"), 1);
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
