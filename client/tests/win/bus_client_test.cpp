// The bus client and the virtual gamepad against the fake bus driver: requests and their records,
// serial allocation, the notification thread and its ends, the watchdog on a driven clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fake_bus_driver.h"
#include "gamepad/bus_client.h"
#include "gamepad/virtual_gamepad.h"

namespace corvane::client {

// What the tests reach inside a connection: its stop event (to make the thread's waits fail) and
// its slots.
struct BusConnectionTestAccess {
  // Puts `event` in the place of the connection's stop event and gives back the one it held,
  // without closing either.
  static HANDLE SwapStopEvent(BusConnection& connection, HANDLE event) {
    const HANDLE held = connection.stop_event_.Release();
    connection.stop_event_.Reset(event);
    return held;
  }
  // A target as one whose output event could not be made is: in state none.
  static void Uninitialise(BusTarget& target) { target.state_ = BusTargetState::kNone; }
  static BusTarget* Slot(BusConnection& connection, std::uint32_t serial) {
    const std::lock_guard<std::mutex> lock(connection.slots_lock_);
    return connection.slots_.at(serial);
  }
};

namespace {

using testing::FakeBusDriver;
using testing::FakeBusInterface;

constexpr DWORD kPlugIn = 0x002AA004;
constexpr DWORD kUnplug = 0x002AA008;
constexpr DWORD kCheckVersion = 0x002AA00C;
constexpr DWORD kWaitReady = 0x002AA010;
constexpr DWORD kSubmitReport = 0x002AA808;
constexpr DWORD kBounded = 10000;
// The notification thread's bound on failures in a row, as a count of requests.
constexpr auto kBound = static_cast<std::size_t>(kNotificationFailureLimit);
static_assert(kBound >= 2, "a success between failures needs room below the bound");
// More failing requests than any bound: a thread that does not stop at the bound is left waiting on
// a request that stays out, and the number of requests shows it.
constexpr std::size_t kEveryRequest = 1000;

GamepadState Pressed() {
  GamepadState state;
  state.buttons = GamepadButton::kA | GamepadButton::kDpadUp;
  state.rt = 200;
  state.lx = -12000;
  return state;
}

std::array<std::uint8_t, 64> Data(std::uint8_t fill) {
  std::array<std::uint8_t, 64> data{};
  data.fill(fill);
  return data;
}

// The code an operation of the bus client answers, kSuccess when it succeeded.
BusResult Code(const Expected<Done, BusResult>& result) { return result ? BusResult::kSuccess : result.Error(); }

// A driver whose protocol faults fail the test.
class BusTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& fault : driver_.Faults()) {
      ADD_FAILURE() << "fake driver: " << fault;
    }
  }

  // A connection to a one-interface bus whose notification request is out.
  std::unique_ptr<BusConnection> Connected() {
    driver_.AddInterface();
    auto connection = std::make_unique<BusConnection>(*io_);
    EXPECT_EQ(Code(connection->Connect()), BusResult::kSuccess);
    EXPECT_TRUE(driver_.WaitForNotificationRequests(1));
    return connection;
  }

  // With every await-output request failing, the thread ends after exactly the bound of requests,
  // and disconnecting still works.
  void ExpectTheThreadToEndAtTheBound() {
    auto connection = Connected();
    ASSERT_TRUE(ThreadEnded(*connection));
    EXPECT_EQ(driver_.NotificationRequests(), kBound);
    EXPECT_EQ(driver_.Cancellations(), 0u);
    connection->Disconnect();
    EXPECT_EQ(connection->NotificationThread(), nullptr);
    EXPECT_EQ(driver_.OpenDevices(), 0);
  }

  // A DualShock 4 target, the only kind the driver sends output to.
  static std::unique_ptr<BusTarget> OutputTarget() {
    return std::make_unique<BusTarget>(kDualShock4WiredTarget, 0x054C, 0x05C4);
  }

  // Completes the notification request and waits until the thread has handled it (it issues the next).
  void Notify(std::uint32_t serial, std::uint8_t fill) {
    const std::size_t issued = driver_.NotificationRequests();
    driver_.CompleteNotification(serial, Data(fill));
    ASSERT_TRUE(driver_.WaitForNotificationRequests(issued + 1));
  }

  static bool ThreadEnded(const BusConnection& connection) {
    return WaitForSingleObject(connection.NotificationThread(), kBounded) == WAIT_OBJECT_0;
  }

  FakeBusDriver driver_;
  std::unique_ptr<BusDeviceIo> io_ = driver_.Seam();
};

TEST_F(BusTest, WithoutInterfacesTheBusIsNotFound) {
  auto connection = std::make_unique<BusConnection>(*io_);
  EXPECT_EQ(Code(connection->Connect()), BusResult::kBusNotFound);
  EXPECT_EQ(connection->NotificationThread(), nullptr);
  EXPECT_TRUE(driver_.Requests().empty());
  // A connection whose stop event could not be made never connects: its thread could not be stopped.
  const HANDLE stop_event = BusConnectionTestAccess::SwapStopEvent(*connection, nullptr);
  driver_.AddInterface();
  EXPECT_EQ(Code(connection->Connect()), BusResult::kConnectionNull);
  EXPECT_TRUE(driver_.Requests().empty());
  BusConnectionTestAccess::SwapStopEvent(*connection, stop_event);
}

TEST(SystemBus, WithoutTheDriverInstalledTheBusIsNotFound) {
  const auto io = SystemBusDeviceIo();
  auto connection = std::make_unique<BusConnection>(*io);
  EXPECT_EQ(Code(connection->Connect()), BusResult::kBusNotFound);
  VirtualGamepad pad(SystemBusDeviceIo(), [] { return std::uint64_t{1000}; });
  EXPECT_FALSE(pad.Attach());
  EXPECT_FALSE(pad.ProbeReady());
}

TEST_F(BusTest, VersionRefusedOnTheFirstInterfaceConnectsTheSecond) {
  driver_.AddInterface({.opens = true, .accepts_version = false});
  driver_.AddInterface();
  auto connection = std::make_unique<BusConnection>(*io_);
  EXPECT_EQ(Code(connection->Connect()), BusResult::kSuccess);
  EXPECT_EQ(driver_.Opened().size(), 2u);
  EXPECT_EQ(driver_.OpenDevices(), 1);
  EXPECT_EQ(driver_.Codes(), (std::vector<DWORD>{kCheckVersion, kCheckVersion}));
  EXPECT_TRUE(driver_.WaitForNotificationRequests(1));
  EXPECT_EQ(Code(connection->Connect()), BusResult::kConnectionAlreadyOpen);
  connection->Disconnect();
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(BusTest, AFailedConnectReportsTheLastInterfacesFailureAndKeepsNothingOpen) {
  driver_.AddInterface({.opens = true, .accepts_version = false});
  driver_.AddInterface({.opens = false, .accepts_version = true});
  auto connection = std::make_unique<BusConnection>(*io_);
  EXPECT_EQ(Code(connection->Connect()), BusResult::kBusDeviceNotOpened);
  driver_.AddInterface({.opens = true, .accepts_version = false});
  EXPECT_EQ(Code(connection->Connect()), BusResult::kBusVersionMismatch);
  EXPECT_EQ(driver_.OpenDevices(), 0);
  EXPECT_FALSE(connection->IsOpen());
  EXPECT_EQ(driver_.NotificationRequests(), 0u);
}

TEST_F(BusTest, ASerialTakenByAnotherControllerGivesTheNextOne) {
  driver_.TakeSerial(1);
  auto connection = Connected();
  auto target = std::make_unique<BusTarget>();
  ASSERT_EQ(Code(connection->PlugIn(*target)), BusResult::kSuccess);
  EXPECT_EQ(target->Serial(), 2u);
  EXPECT_EQ(target->State(), BusTargetState::kConnected);
  EXPECT_FALSE(target->WaitReadyUnsupported());
  const auto requests = driver_.Requests();
  std::vector<std::vector<std::uint8_t>> plug_and_wait;
  for (const auto& request : requests) {
    if (request.code == kPlugIn || request.code == kWaitReady) {
      plug_and_wait.push_back(request.input);
    }
  }
  EXPECT_EQ(plug_and_wait, (std::vector<std::vector<std::uint8_t>>{
                               {16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02},
                               {16, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02},
                               {8, 0, 0, 0, 2, 0, 0, 0},
                           }));
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{2}));
  EXPECT_EQ(Code(connection->PlugIn(*target)), BusResult::kTargetAlreadyConnected);
  EXPECT_EQ(Code(connection->Unplug(*target)), BusResult::kSuccess);
  EXPECT_EQ(target->State(), BusTargetState::kDisconnected);
  EXPECT_EQ(Code(connection->Unplug(*target)), BusResult::kTargetNotPluggedIn);
  EXPECT_EQ(driver_.Count(kUnplug), 1u);
  EXPECT_TRUE(driver_.Plugged().empty());
  target.reset();
}

TEST_F(BusTest, EverySerialRefusedMeansNoFreeSerial) {
  driver_.RefuseAllSerials();
  auto connection = Connected();
  auto target = std::make_unique<BusTarget>();
  EXPECT_EQ(Code(connection->PlugIn(*target)), BusResult::kNoFreeSerial);
  EXPECT_EQ(driver_.Count(kPlugIn), 65535u);
  EXPECT_EQ(driver_.Count(kWaitReady), 0u);
  EXPECT_EQ(target->Serial(), 0u);
  EXPECT_EQ(target->State(), BusTargetState::kInitialised);
  target.reset();
}

TEST_F(BusTest, TargetCallsCheckTheirArgumentsBeforeTheDriver) {
  auto idle = std::make_unique<BusConnection>(*io_);
  auto target = std::make_unique<BusTarget>();
  EXPECT_EQ(Code(idle->PlugIn(*target)), BusResult::kBusNotFound);
  EXPECT_EQ(Code(idle->SubmitReport(*target, GamepadState{})), BusResult::kBusNotFound);
  auto connection = Connected();
  BusTarget blank;
  BusConnectionTestAccess::Uninitialise(blank);
  EXPECT_EQ(Code(connection->PlugIn(blank)), BusResult::kTargetNotInitialised);
  EXPECT_EQ(Code(connection->Unplug(blank)), BusResult::kTargetNotInitialised);
  EXPECT_EQ(Code(connection->Unplug(*target)), BusResult::kTargetNotPluggedIn);
  EXPECT_EQ(Code(connection->SubmitReport(*target, GamepadState{})), BusResult::kInvalidTarget);
  EXPECT_TRUE(driver_.Codes() == std::vector<DWORD>{kCheckVersion});
  target.reset();
}

TEST_F(BusTest, WaitReadyRefusedWithInvalidParameterStillPlugsIn) {
  driver_.SetWaitReadyError(ERROR_INVALID_PARAMETER);
  auto connection = Connected();
  auto target = std::make_unique<BusTarget>();
  ASSERT_EQ(Code(connection->PlugIn(*target)), BusResult::kSuccess);
  EXPECT_TRUE(target->WaitReadyUnsupported());
  EXPECT_EQ(target->State(), BusTargetState::kConnected);
  EXPECT_EQ(Code(connection->SubmitReport(*target, Pressed())), BusResult::kSuccess);
  EXPECT_EQ(driver_.Reports(1), std::vector<GamepadState>{Pressed()});
  target.reset();
}

TEST_F(BusTest, WaitReadyFailingOtherwiseGivesTheSerialBack) {
  driver_.SetWaitReadyError(ERROR_GEN_FAILURE);
  auto connection = Connected();
  auto target = std::make_unique<BusTarget>();
  EXPECT_EQ(Code(connection->PlugIn(*target)), BusResult::kTargetNotPluggedIn);
  EXPECT_EQ(target->State(), BusTargetState::kDisconnected);
  EXPECT_EQ(driver_.Codes(), (std::vector<DWORD>{kCheckVersion, kPlugIn, kWaitReady, kUnplug}));
  EXPECT_EQ(driver_.Requests().back().input, (std::vector<std::uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(driver_.Plugged().empty());
  // The serial may belong to another program's controller by now: nothing more goes to it.
  EXPECT_EQ(Code(connection->SubmitReport(*target, GamepadState{})), BusResult::kInvalidTarget);
  EXPECT_EQ(driver_.Count(kSubmitReport), 0u);
  target.reset();
}

TEST_F(BusTest, AnyReportTheDriverDoesNotTakeIsAnInvalidTarget) {
  auto connection = Connected();
  auto target = std::make_unique<BusTarget>();
  ASSERT_EQ(Code(connection->PlugIn(*target)), BusResult::kSuccess);
  EXPECT_EQ(Code(connection->SubmitReport(*target, Pressed())), BusResult::kSuccess);
  EXPECT_EQ(driver_.Requests().back().input,
            (std::vector<std::uint8_t>{20, 0, 0, 0, 1, 0, 0, 0, 0x01, 0x10, 0, 200, 0x20, 0xD1, 0, 0, 0, 0, 0, 0}));
  for (const DWORD error : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_GEN_FAILURE}, DWORD{ERROR_DEVICE_NOT_CONNECTED}}) {
    for (const bool when_issued : {false, true}) {
      SCOPED_TRACE("error " + std::to_string(error) + (when_issued ? " when issued" : " on completion"));
      driver_.SetReportError(error, when_issued);
      EXPECT_EQ(Code(connection->SubmitReport(*target, Pressed())), BusResult::kInvalidTarget);
    }
  }
  EXPECT_EQ(driver_.Count(kSubmitReport), 7u);
  driver_.SetReportError(ERROR_SUCCESS);
  EXPECT_EQ(Code(connection->SubmitReport(*target, GamepadState{})), BusResult::kSuccess);
  EXPECT_EQ(driver_.Reports(1), (std::vector<GamepadState>{Pressed(), GamepadState{}}));
  target.reset();
}

TEST_F(BusTest, DisconnectStopsTheNotificationThreadAndWaitsForIt) {
  auto connection = Connected();
  driver_.HoldCancellation();
  std::thread disconnecting([&] { connection->Disconnect(); });
  ASSERT_TRUE(driver_.WaitForCancellation());
  // The thread still waits for its cancelled request: the device must stay open until it is done.
  EXPECT_FALSE(driver_.WaitForDeviceClosed(300));
  driver_.FinishCancellation();
  disconnecting.join();
  EXPECT_TRUE(driver_.WaitForDeviceClosed(0));
  EXPECT_EQ(driver_.OpenDevices(), 0);
  EXPECT_EQ(driver_.NotificationRequests(), 1u);
  EXPECT_EQ(connection->NotificationThread(), nullptr);
  // Connected again, the connection gets a fresh thread.
  driver_.AddInterface();
  EXPECT_EQ(Code(connection->Connect()), BusResult::kSuccess);
  EXPECT_TRUE(driver_.WaitForNotificationRequests(2));
}

TEST_F(BusTest, AnAbortedNotificationEndsTheThread) {
  auto connection = Connected();
  driver_.FailNotification(ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(ThreadEnded(*connection));
  EXPECT_EQ(driver_.NotificationRequests(), 1u);
  EXPECT_EQ(driver_.Cancellations(), 0u);
}

TEST_F(BusTest, ADriverWithoutNotificationsEndsTheThread) {
  auto connection = Connected();
  driver_.FailNotification(ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(ThreadEnded(*connection));
  EXPECT_EQ(driver_.NotificationRequests(), 1u);
  EXPECT_EQ(driver_.Cancellations(), 0u);
}

TEST_F(BusTest, AnIncompleteNotificationIsCancelledAndEndsTheThread) {
  auto connection = Connected();
  driver_.SignalNotificationEarly();
  EXPECT_TRUE(ThreadEnded(*connection));
  EXPECT_EQ(driver_.Cancellations(), 1u);
  EXPECT_EQ(driver_.NotificationRequests(), 1u);
}

TEST_F(BusTest, OtherNotificationResultsIssueTheNextRequest) {
  auto connection = Connected();
  driver_.FailNotification(ERROR_GEN_FAILURE);
  ASSERT_TRUE(driver_.WaitForNotificationRequests(2));
  Notify(7, 0x11);           // nobody at serial 7
  Notify(0xFFFFFFFF, 0x22);  // a serial past the slot table
  Notify(0, 0x33);
  connection->Disconnect();
  EXPECT_EQ(driver_.NotificationRequests(), 5u);
}

TEST_F(BusTest, NotificationRequestsFailingAtOnceEndTheThreadAtTheBound) {
  driver_.FailNotificationsAtOnce(ERROR_GEN_FAILURE, kEveryRequest);
  ExpectTheThreadToEndAtTheBound();
}

TEST_F(BusTest, NotificationRequestsRefusedWhenIssuedEndTheThreadAtTheBound) {
  driver_.RefuseNotifications(ERROR_DEVICE_NOT_CONNECTED, kEveryRequest);
  ExpectTheThreadToEndAtTheBound();
}

TEST_F(BusTest, OutputBetweenFailuresStartsTheCountAgain) {
  driver_.FailNotificationsAtOnce(ERROR_GEN_FAILURE, kBound - 1);
  auto connection = Connected();
  // One failure short of the bound, the thread issues another request, which stays out.
  ASSERT_TRUE(driver_.WaitForNotificationRequests(kBound));
  // Output, then failures of the other kind: both kinds count alike, from zero again.
  driver_.RefuseNotifications(ERROR_GEN_FAILURE, kEveryRequest);
  driver_.CompleteNotification(7, Data(0x11));
  ASSERT_TRUE(ThreadEnded(*connection));
  EXPECT_EQ(driver_.NotificationRequests(), 2 * kBound);
  connection->Disconnect();
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(BusTest, WaitsThatKeepFailingEndTheThreadOnceItsRequestIsCollected) {
  driver_.AddInterface();
  auto connection = std::make_unique<BusConnection>(*io_);
  // No handle has this value: every wait of the thread fails while its request is out.
  const HANDLE stop_event =
      BusConnectionTestAccess::SwapStopEvent(*connection, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFFFF00)));
  ASSERT_EQ(Code(connection->Connect()), BusResult::kSuccess);
  const bool ended = ThreadEnded(*connection);
  BusConnectionTestAccess::SwapStopEvent(*connection, stop_event);
  ASSERT_TRUE(ended);
  // The request was out all along: waited for again, never issued again, then cancelled and
  // collected (the fake reports a device closed under an uncollected request).
  EXPECT_EQ(driver_.NotificationRequests(), 1u);
  EXPECT_EQ(driver_.Cancellations(), 1u);
  connection->Disconnect();
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(BusTest, NotificationsReachATargetOnlyWhileItIsInItsSlot) {
  auto connection = Connected();
  auto target = OutputTarget();
  ASSERT_EQ(Code(connection->PlugIn(*target)), BusResult::kSuccess);
  const std::uint32_t serial = target->Serial();
  Notify(serial, 0x01);
  EXPECT_EQ(WaitForSingleObject(target->OutputEvent(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(connection->ReadTargetOutput(*target), Data(0x01));

  // While the unplug request is out the target is still plugged in and in its slot.
  driver_.SetUnplugHook([&](std::uint32_t) { Notify(serial, 0x02); });
  ASSERT_EQ(Code(connection->Unplug(*target)), BusResult::kSuccess);
  driver_.SetUnplugHook(nullptr);
  EXPECT_EQ(connection->ReadTargetOutput(*target), Data(0x02));

  // Between the unplug and the free: the slot is empty, the target is left alone.
  Notify(serial, 0x03);
  EXPECT_EQ(connection->ReadTargetOutput(*target), Data(0x02));
  target.reset();
  Notify(serial, 0x04);
  connection->Disconnect();
}

TEST_F(BusTest, FreeingATargetWhoseUnplugWasRefusedEmptiesItsSlot) {
  auto connection = Connected();
  auto target = OutputTarget();
  ASSERT_EQ(Code(connection->PlugIn(*target)), BusResult::kSuccess);
  const std::uint32_t serial = target->Serial();
  driver_.SetUnplugError(ERROR_GEN_FAILURE);
  EXPECT_EQ(Code(connection->Unplug(*target)), BusResult::kUnplugFailed);
  EXPECT_EQ(target->State(), BusTargetState::kConnected);
  Notify(serial, 0x05);
  EXPECT_EQ(connection->ReadTargetOutput(*target), Data(0x05));
  target.reset();
  EXPECT_EQ(BusConnectionTestAccess::Slot(*connection, serial), nullptr);
  // The driver still knows the serial; its output must not reach the freed target.
  Notify(serial, 0x06);
  connection->Disconnect();
}

// The virtual gamepad on a driven clock.
class VirtualGamepadTest : public BusTest {
 protected:
  void SetUp() override { driver_.AddInterface(); }
  void TearDown() override {
    pad_.reset();
    BusTest::TearDown();
  }

  // Ticks the watchdog every 100 ms from the current time up to and including `until`.
  void TickUntil(std::uint64_t until) {
    while (now_ + 100 <= until) {
      now_ += 100;
      pad_->WatchdogTick();
    }
  }

  std::uint64_t now_ = 1000;
  std::unique_ptr<VirtualGamepad> pad_ = std::make_unique<VirtualGamepad>(driver_.Seam(), [this] { return now_; });
};

// The values the next 64 new handles get. Wine hands out the lowest free slots of the process's
// handle table (and reports no handle count), so a handle left open among them changes this list.
std::vector<HANDLE> FreeHandleSlots() {
  std::vector<UniqueEvent> events;
  std::vector<HANDLE> handles;
  for (int i = 0; i < 64; ++i) {
    events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    handles.push_back(events.back().Get());
  }
  return handles;  // the events close as the list goes
}

TEST_F(VirtualGamepadTest, AttachPlugsInOneControllerAndSendsANeutralReport) {
  ASSERT_TRUE(pad_->Attach());
  EXPECT_EQ(driver_.Codes(), (std::vector<DWORD>{kCheckVersion, kPlugIn, kWaitReady, kSubmitReport}));
  EXPECT_EQ(driver_.Reports(1), std::vector<GamepadState>{GamepadState{}});
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{1}));
  EXPECT_TRUE(pad_->ProbeReady());
  EXPECT_EQ(driver_.Opened().size(), 1u);
}

TEST_F(VirtualGamepadTest, AttachWhileAttachedOnlyResendsANeutralReport) {
  ASSERT_TRUE(pad_->Attach());
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  ASSERT_TRUE(pad_->Attach());
  EXPECT_EQ(driver_.Count(kPlugIn), 1u);
  EXPECT_EQ(driver_.Opened().size(), 1u);
  EXPECT_EQ(driver_.Reports(1), (std::vector<GamepadState>{GamepadState{}, Pressed(), GamepadState{}}));
}

TEST_F(VirtualGamepadTest, NoDriverMeansNoControllerAndNoReports) {
  FakeBusDriver empty;
  {
    // One attempt first, so that handles made on first use (the fake's, the run time's) are there on
    // both sides of the measurement, also when this test runs alone.
    VirtualGamepad warm_up(empty.Seam(), [] { return std::uint64_t{1000}; });
    EXPECT_FALSE(warm_up.Attach());
  }
  // A thread of Wine's may take a slot meanwhile, once; a failed attach that keeps its connection takes
  // one on every attempt, each by a controller of its own.
  bool kept_nothing = false;
  for (int attempt = 0; attempt < 3 && !kept_nothing; ++attempt) {
    VirtualGamepad fresh(empty.Seam(), [] { return std::uint64_t{1000}; });
    const std::vector<HANDLE> before = FreeHandleSlots();
    EXPECT_FALSE(fresh.Attach());
    kept_nothing = FreeHandleSlots() == before;
  }
  EXPECT_TRUE(kept_nothing) << "the failed attach keeps its connection";
  VirtualGamepad pad(empty.Seam(), [] { return std::uint64_t{1000}; });
  EXPECT_FALSE(pad.Attach());
  EXPECT_FALSE(pad.ProbeReady());
  EXPECT_FALSE(pad.SubmitReport(Pressed()));
  pad.Neutralize();
  pad.WatchdogTick();
  pad.Release();
  EXPECT_TRUE(empty.Requests().empty());
  EXPECT_TRUE(empty.Faults().empty());
}

TEST_F(VirtualGamepadTest, ASerialThatNeverBecomesReadyFailsTheAttach) {
  driver_.SetWaitReadyError(ERROR_GEN_FAILURE);
  EXPECT_FALSE(pad_->Attach());
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(driver_.Count(kSubmitReport), 0u);
  EXPECT_EQ(driver_.OpenDevices(), 0);
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  EXPECT_TRUE(pad_->ProbeReady());
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(VirtualGamepadTest, ADriverWithoutWaitReadyStillGivesAController) {
  driver_.SetWaitReadyError(ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(pad_->Attach());
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{1}));
  EXPECT_TRUE(pad_->SubmitReport(Pressed()));
}

TEST_F(VirtualGamepadTest, AReportTheDriverDoesNotTakeIsRefused) {
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  EXPECT_TRUE(driver_.Requests().empty());
  ASSERT_TRUE(pad_->Attach());
  pad_->Neutralize();
  const std::size_t sent = driver_.Count(kSubmitReport);
  driver_.SetReportError(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  driver_.SetReportError(ERROR_GEN_FAILURE);
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  driver_.SetReportError(ERROR_DEVICE_NOT_CONNECTED, true);
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  EXPECT_EQ(driver_.Count(kSubmitReport), sent + 3);
  // A report that did not arrive leaves nothing for the watchdog to take back.
  TickUntil(now_ + 2000);
  EXPECT_EQ(driver_.Count(kSubmitReport), sent + 3);
  driver_.SetReportError(ERROR_SUCCESS);
  EXPECT_TRUE(pad_->SubmitReport(Pressed()));
}

TEST_F(VirtualGamepadTest, ANeutralReportTheDriverDoesNotTakeFailsTheAttachAndLeavesNothing) {
  for (const bool when_issued : {false, true}) {
    SCOPED_TRACE(when_issued ? "refused when issued" : "failed on completion");
    driver_.SetReportError(ERROR_DEVICE_NOT_CONNECTED, when_issued);
    EXPECT_FALSE(pad_->Attach());
    EXPECT_TRUE(driver_.Plugged().empty());
    EXPECT_EQ(driver_.OpenDevices(), 0);
    const std::size_t requests = driver_.Requests().size();
    EXPECT_FALSE(pad_->SubmitReport(Pressed()));
    pad_->WatchdogTick();
    EXPECT_EQ(driver_.Requests().size(), requests);
  }
  EXPECT_EQ(driver_.Count(kUnplug), 2u);
  driver_.SetReportError(ERROR_SUCCESS);
  ASSERT_TRUE(pad_->Attach());
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{1}));
}

TEST_F(VirtualGamepadTest, ARenewalWhoseNeutralReportFailsLetsTheControllerGo) {
  ASSERT_TRUE(pad_->Attach());
  driver_.SetReportError(ERROR_GEN_FAILURE);
  EXPECT_FALSE(pad_->Attach());
  EXPECT_EQ(driver_.Count(kPlugIn), 1u);
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(VirtualGamepadTest, NeutralReportsTheDriverDoesNotTakeStopNothing) {
  ASSERT_TRUE(pad_->Attach());
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  driver_.SetReportError(ERROR_GEN_FAILURE);
  const std::size_t sent = driver_.Count(kSubmitReport);
  now_ += 501;
  pad_->WatchdogTick();
  EXPECT_EQ(driver_.Count(kSubmitReport), sent + 1);
  // Tried once: the watchdog does not keep trying.
  TickUntil(now_ + 2000);
  EXPECT_EQ(driver_.Count(kSubmitReport), sent + 1);
  pad_->Neutralize();
  EXPECT_EQ(driver_.Count(kSubmitReport), sent + 2);
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{1}));
  pad_->Release();
  const auto codes = driver_.Codes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[codes.size() - 2], kSubmitReport);
  EXPECT_EQ(codes.back(), kUnplug);
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(driver_.OpenDevices(), 0);
}

TEST_F(VirtualGamepadTest, SilenceAfterAReportGivesExactlyOneNeutralReport) {
  ASSERT_TRUE(pad_->Attach());
  now_ = 2000;
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  TickUntil(2500);  // 500 ms is not yet more than 500 ms
  EXPECT_EQ(driver_.Reports(1).size(), 2u);
  now_ = 2501;
  pad_->WatchdogTick();
  EXPECT_EQ(driver_.Reports(1), (std::vector<GamepadState>{GamepadState{}, Pressed(), GamepadState{}}));
  TickUntil(10000);
  EXPECT_EQ(driver_.Reports(1).size(), 3u);
}

TEST_F(VirtualGamepadTest, ReportsKeepTheWatchdogAway) {
  ASSERT_TRUE(pad_->Attach());
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(pad_->SubmitReport(Pressed()));
    TickUntil(now_ + 400);
  }
  EXPECT_EQ(driver_.Reports(1).size(), 21u);
  EXPECT_EQ(driver_.Reports(1).back(), Pressed());
}

TEST_F(VirtualGamepadTest, NeutralizeSendsNeutralAtOnceAndQuietsTheWatchdogUntilTheNextReport) {
  ASSERT_TRUE(pad_->Attach());
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  now_ += 100;
  pad_->Neutralize();
  EXPECT_EQ(driver_.Reports(1), (std::vector<GamepadState>{GamepadState{}, Pressed(), GamepadState{}}));
  TickUntil(now_ + 3000);
  EXPECT_EQ(driver_.Reports(1).size(), 3u);
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  TickUntil(now_ + 600);
  EXPECT_EQ(driver_.Reports(1).size(), 5u);
  EXPECT_EQ(driver_.Reports(1).back(), GamepadState{});
}

TEST_F(VirtualGamepadTest, ReleaseSendsNeutralThenUnplugsAndCloses) {
  ASSERT_TRUE(pad_->Attach());
  ASSERT_TRUE(pad_->SubmitReport(Pressed()));
  pad_->Release();
  const auto codes = driver_.Codes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[codes.size() - 2], kSubmitReport);
  EXPECT_EQ(codes.back(), kUnplug);
  EXPECT_EQ(driver_.Reports(1).back(), GamepadState{});
  EXPECT_TRUE(driver_.Plugged().empty());
  EXPECT_EQ(driver_.OpenDevices(), 0);
  EXPECT_EQ(driver_.Cancellations(), 1u);
  const std::size_t requests = driver_.Requests().size();
  pad_->Release();
  pad_->WatchdogTick();
  EXPECT_FALSE(pad_->SubmitReport(Pressed()));
  EXPECT_EQ(driver_.Requests().size(), requests);
  // Attached again, the controller comes back.
  ASSERT_TRUE(pad_->Attach());
  EXPECT_EQ(driver_.Plugged(), (std::set<std::uint32_t>{1}));
}

TEST_F(VirtualGamepadTest, ProbeReadyConnectsAndLetsGo) {
  EXPECT_TRUE(pad_->ProbeReady());
  EXPECT_EQ(driver_.Codes(), std::vector<DWORD>{kCheckVersion});
  EXPECT_EQ(driver_.OpenDevices(), 0);
  EXPECT_EQ(driver_.Cancellations(), 1u);
}

TEST_F(VirtualGamepadTest, AttachAndReleaseLeaveNoHandlesBehind) {
  // One round first, so that lazily created handles of the run time are there on both sides.
  ASSERT_TRUE(pad_->Attach());
  pad_->Release();
  const std::vector<HANDLE> before = FreeHandleSlots();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(pad_->Attach());
    ASSERT_TRUE(pad_->SubmitReport(Pressed()));
    pad_->Release();
    EXPECT_TRUE(pad_->ProbeReady());
  }
  EXPECT_EQ(FreeHandleSlots(), before);
}

TEST_F(VirtualGamepadTest, NothingStaysPressedOnceReleased) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    const auto any16 = [&] {
      return static_cast<std::int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(random));
    };
    const auto release_and_check = [&] {
      pad_->Release();
      EXPECT_TRUE(driver_.Plugged().empty());
      EXPECT_EQ(driver_.OpenDevices(), 0);
      for (std::uint32_t serial = 1; serial <= 3; ++serial) {
        const auto reports = driver_.Reports(serial);
        if (!reports.empty()) {
          EXPECT_EQ(reports.back(), GamepadState{}) << "serial " << serial;
        }
      }
    };
    for (int step = 0; step < 30; ++step) {
      switch (pick(6)) {
        case 0:
          driver_.SetWaitReadyError(pick(4) == 0 ? DWORD{ERROR_GEN_FAILURE} : DWORD{ERROR_SUCCESS});
          pad_->Attach();
          break;
        case 1:
        case 2: {
          GamepadState state;
          state.buttons = static_cast<std::uint16_t>(pick(65536));
          state.lt = static_cast<std::uint8_t>(pick(256));
          state.rt = static_cast<std::uint8_t>(pick(256));
          state.lx = any16();
          state.ly = any16();
          state.rx = any16();
          state.ry = any16();
          pad_->SubmitReport(state);
          break;
        }
        case 3:
          pad_->Neutralize();
          break;
        case 4:
          now_ += static_cast<std::uint64_t>(pick(700));
          pad_->WatchdogTick();
          break;
        default:
          release_and_check();
          break;
      }
    }
    release_and_check();
    if (::testing::Test::HasFailure()) {
      return;
    }
  }
}

}  // namespace
}  // namespace corvane::client
