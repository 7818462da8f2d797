// The Win32 platform layer on a real Windows communications handle: under Wine, "\\.\COM5"
// reaches a pseudo-terminal whose far end the native peer holds. Each test names the Win32
// call it checks and what must come out on the line or back from the system.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "Overlapped.h"
#include "PlatformDevice.h"
#include "SystemError.h"
#include "WineTestSupport.h"
#include "XAsync.h"
#include "XComDrv.h"
#include "XComErr.h"

using namespace xcom;
using namespace wintest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The control block the main window's port writes: 9600 8N1, no flow control.
DCB MainWindowBlock() {
  DCB dcb;
  InitDCB(dcb);
  dcb.BaudRate = 9600;
  SetDCBFlags(dcb, kDcbBinary);
  dcb.XonLim = 512;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  dcb.EvtChar = 10;
  return dcb;
}

std::uint32_t InputQueue(CommDevice& device) {
  std::uint32_t errors = 0;
  COMSTAT status{};
  if (!device.ClearCommError(errors, status)) return 0xFFFFFFFF;
  return status.cbInQue;
}

class Win32Device : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Connected());
    device = OpenPlatformDevice(kPort);
    ASSERT_NE(device, nullptr) << "CreateFileA(\\\\.\\" << kPort << ") failed";
    DCB dcb = MainWindowBlock();
    ASSERT_TRUE(device->SetCommState(dcb));
    ASSERT_TRUE(device->SetupComm(2048, 2048));
    const COMMTIMEOUTS timeouts{100, 10, 200, 10, 200};
    ASSERT_TRUE(device->SetCommTimeouts(timeouts));
    ASSERT_TRUE(device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  }

  // Lets the peer write `bytes` and waits until the port's input queue holds them.
  void Arrive(const Bytes& bytes) {
    const std::uint32_t before = InputQueue(*device);
    peer.Write(kPort, bytes);
    ASSERT_TRUE(WaitUntil([&] { return InputQueue(*device) >= before + bytes.size(); }))
        << "the bytes never showed in ClearCommError's cbInQue";
  }

  PtyPeer peer;
  std::unique_ptr<CommDevice> device;
};

// Runs WaitCommEvent in a thread of its own, as the monitor does.
class EventWait {
 public:
  EventWait(CommDevice& device, StopSignal& stop)
      : thread_([this, &device, &stop] {
          outcome_ = device.WaitCommEvent(stop, mask_);
          done_ = true;
        }) {}
  ~EventWait() {
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_; }
  // Waits at most `limit` for the outcome.
  bool Finish(std::chrono::milliseconds limit) {
    if (!WaitUntil([this] { return done_.load(); }, limit)) return false;
    thread_.join();
    return true;
  }
  WaitOutcome Outcome() const { return outcome_; }
  std::uint32_t Mask() const { return mask_; }

 private:
  std::atomic<bool> done_{false};
  WaitOutcome outcome_ = WaitOutcome::Failed;
  std::uint32_t mask_ = 0;
  std::thread thread_;
};

// --- CreateFileA --------------------------------------------------------------------------

TEST(Win32Open, DeviceNamespacePathOpensOneAndTwoDigitPorts) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Connected());
  EXPECT_NE(OpenPlatformDevice(kPort), nullptr);
  EXPECT_NE(OpenPlatformDevice(kHighPort), nullptr) << "\\\\.\\COM12 must open like COM5";
}

TEST(Win32Open, AbsentDeviceAnswersNullWithTheSystemsReason) {
  ::SetLastError(0);
  EXPECT_EQ(OpenPlatformDevice(kAbsentPort), nullptr);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenPlatformDevice(""), nullptr);
}

TEST(Win32Open, SecondOpenOfAnOpenPortIsRefused) {
  PtyPeer peer;
  ASSERT_TRUE(peer.Connected());
  auto first = OpenPlatformDevice(kPort);
  ASSERT_NE(first, nullptr);
  SKIP_UNDER_WINE("a second CreateFileA with share mode 0 is not refused");
  EXPECT_EQ(OpenPlatformDevice(kPort), nullptr);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// --- SetCommState / GetCommState -----------------------------------------------------------

TEST_F(Win32Device, ControlBlockOfTheMainWindowReachesTheLine) {
  auto line = peer.Termios(kPort);
  EXPECT_EQ(line["ospeed"], "9600");
  EXPECT_EQ(line["ispeed"], "9600");
  EXPECT_EQ(line["cstopb"], "0");
  EXPECT_EQ(line["crtscts"], "0");
  EXPECT_EQ(line["ixon"], "0");
  EXPECT_EQ(line["ixoff"], "0");
  EXPECT_EQ(line["vstart"], "17");
  EXPECT_EQ(line["vstop"], "19");

  DCB back;
  ASSERT_TRUE(GetDCB(*device, back));
  EXPECT_EQ(back.BaudRate, 9600u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.StopBits, ONESTOPBIT);
  EXPECT_EQ(back.XonChar, 17);
  EXPECT_EQ(back.XoffChar, 19);
  SKIP_UNDER_WINE("GetCommState reads the event character (EvtChar) back as 0");
  EXPECT_EQ(back.EvtChar, 10);
}

TEST_F(Win32Device, RateStopBitsAndFlowControlReachTheLine) {
  DCB dcb = MainWindowBlock();
  dcb.BaudRate = 115200;
  dcb.StopBits = TWOSTOPBITS;
  SetDCBFlags(dcb, 0x2015);  // the RTS/CTS preset: fOutxCtsFlow, DTR enabled, RTS handshake
  ASSERT_TRUE(device->SetCommState(dcb));
  auto line = peer.Termios(kPort);
  EXPECT_EQ(line["ospeed"], "115200");
  EXPECT_EQ(line["cstopb"], "1");
  EXPECT_EQ(line["crtscts"], "1");

  dcb = MainWindowBlock();
  dcb.BaudRate = 19200;
  SetDCBFlags(dcb, 0x0311);  // the XOn/XOff preset
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(device->SetCommState(dcb));
  line = peer.Termios(kPort);
  EXPECT_EQ(line["ospeed"], "19200");
  EXPECT_EQ(line["cstopb"], "0");
  EXPECT_EQ(line["crtscts"], "0");
  EXPECT_EQ(line["ixon"], "1");
  EXPECT_EQ(line["ixoff"], "1");

  DCB back;
  ASSERT_TRUE(GetDCB(*device, back));
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(DCBFlags(back) & (kDcbOutX | kDcbInX), kDcbOutX | kDcbInX);
}

TEST_F(Win32Device, ImpossibleCharacterFormatIsRefused) {
  DCB dcb = MainWindowBlock();
  dcb.ByteSize = 4;  // db4: no UART takes it
  EXPECT_FALSE(device->SetCommState(dcb));
  EXPECT_TRUE(device->SetCommState(MainWindowBlock()));
}

TEST_F(Win32Device, CustomRateReadsBackAsSet) {
  DCB dcb = MainWindowBlock();
  dcb.BaudRate = 76800;
  ASSERT_TRUE(device->SetCommState(dcb));
  SKIP_UNDER_WINE("custom baud rates read back as 38400 (the line is set to 38400)");
  DCB back;
  ASSERT_TRUE(GetDCB(*device, back));
  EXPECT_EQ(back.BaudRate, 76800u);
}

// --- SetCommTimeouts / GetCommTimeouts, SetupComm / GetCommProperties -----------------------

TEST_F(Win32Device, TimeoutsReadBackAsSet) {
  COMMTIMEOUTS back{};
  ASSERT_TRUE(device->GetCommTimeouts(back));
  EXPECT_EQ(back.ReadIntervalTimeout, 100u);
  EXPECT_EQ(back.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(back.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(back.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 200u);

  const COMMTIMEOUTS defaults{1, 0, 1, 0, 1};
  ASSERT_TRUE(device->SetCommTimeouts(defaults));
  ASSERT_TRUE(device->GetCommTimeouts(back));
  EXPECT_EQ(back.ReadIntervalTimeout, 1u);
  EXPECT_EQ(back.ReadTotalTimeoutConstant, 1u);
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 1u);
}

TEST_F(Win32Device, PropertiesReportTheInputQueueSize) {
  ASSERT_TRUE(device->SetupComm(1024, 512));
  COMMPROP properties{};
  static_assert(sizeof properties == 64, "COMMPROP is 64 bytes");
  ASSERT_TRUE(device->GetCommProperties(properties));
  SKIP_UNDER_WINE("GetCommProperties ignores SetupComm (the current queue sizes read 0)");
  EXPECT_EQ(properties.dwCurrentRxQueue, 1024u);
}

// --- ClearCommError, PurgeComm, ReadFile ----------------------------------------------------

TEST_F(Win32Device, QueuedInputIsCountedAndReadExactly) {
  std::uint32_t errors = 0;
  COMSTAT status{};
  ASSERT_TRUE(device->ClearCommError(errors, status));
  EXPECT_EQ(status.cbInQue, 0u);
  EXPECT_EQ(status.cbOutQue, 0u);

  const Bytes reply{0x64, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00, 0x3A, 0xF3};
  Arrive(reply);
  EXPECT_EQ(InputQueue(*device), reply.size());
  Bytes got(reply.size());
  EXPECT_EQ(device->ReadOverlapped(got.data(), static_cast<std::uint32_t>(got.size())),
            reply.size());
  EXPECT_EQ(got, reply);
  EXPECT_EQ(InputQueue(*device), 0u);
}

TEST_F(Win32Device, EveryByteValueTravelsBothWays) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(device->WriteOverlapped(all.data(), 256), 256u);
  EXPECT_EQ(peer.Read(kPort, 256, 3000ms), all);

  Arrive(all);
  Bytes got(256);
  EXPECT_EQ(device->ReadOverlapped(got.data(), 256), 256u);
  EXPECT_EQ(got, all);
}

TEST_F(Win32Device, PurgeDiscardsWhatWaitsInTheInputQueue) {
  Arrive(xcom::BytesOf("stale"));
  ASSERT_TRUE(device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  EXPECT_EQ(InputQueue(*device), 0u);
  Arrive(xcom::BytesOf("ok"));
  Bytes got(2);
  EXPECT_EQ(device->ReadOverlapped(got.data(), 2), 2u);
  EXPECT_EQ(got, xcom::BytesOf("ok"));
}

// --- WriteFile with its 1000 ms wait and the cancelled remainder ----------------------------

TEST_F(Win32Device, StalledWriteEndsAfterItsSecondAndReportsWhatReallyLeft) {
  // The peer reads nothing, so the pseudo-terminal fills up and the write stays pending.
  Bytes big(1 << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  const auto start = Clock::now();
  const std::uint32_t written =
      device->WriteOverlapped(big.data(), static_cast<std::uint32_t>(big.size()));
  const double ms = MsSince(start);
  EXPECT_GE(ms, 950.0);
  EXPECT_LT(ms, 3500.0) << "the cancelled write must end soon after its 1000 ms";
  EXPECT_LT(written, big.size());

  // Exactly the reported bytes went out: a caller that sends the rest again duplicates none.
  const Bytes out = peer.Drain(kPort, 300ms);
  ASSERT_EQ(out.size(), written);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), big.begin()));

  // Nothing is left pending: the next write goes out whole and at once.
  const Bytes next = xcom::BytesOf("next");
  EXPECT_EQ(device->WriteOverlapped(next.data(), 4), 4u);
  EXPECT_EQ(peer.Read(kPort, 4, 2000ms), next);
}

// --- a line that has gone away ---------------------------------------------------------------

TEST_F(Win32Device, ReadOnAHungUpLineRaisesCode10WithTheSystemText) {
  peer.Hangup(kPort);
  std::uint8_t byte = 0;
  try {
    ReadOverlapped(*device, &byte, 1);  // the component raises what the device reports
    FAIL() << "no exception";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 10);
    std::cmatch m;
    ASSERT_TRUE(std::regex_match(
        e.what(), m, std::regex(R"(Unable to read from port\. \(Win32 error (\d+): (.*)\))")))
        << e.what();
    const int error = std::stoi(m[1].str());
    EXPECT_NE(error, 0);
    EXPECT_EQ(m[2].str(), TrimSystemText(SystemErrorText(error)));
  }
  EXPECT_TRUE(device->DeviceLost());
}

TEST_F(Win32Device, WriteOnAHungUpLineEndsAtOnce) {
  peer.Hangup(kPort);
  const Bytes frame = xcom::BytesOf("frame");
  const auto start = Clock::now();
  EXPECT_EQ(device->WriteOverlapped(frame.data(), 5), 0u);
  EXPECT_LT(MsSince(start), 500.0) << "a refused write must not wait its 1000 ms";
  EXPECT_TRUE(device->DeviceLost());
}

// --- SetCommMask / WaitCommEvent with the stop signal ----------------------------------------

TEST_F(Win32Device, EventWaitSleepsUntilBytesArrive) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  StopSignal stop;
  EventWait wait(*device, stop);
  ::Sleep(300);
  EXPECT_FALSE(wait.Done()) << "the wait returned with nothing on the line";
  peer.Write(kPort, xcom::BytesOf("\x01\x02\x03"));
  const bool finished = wait.Finish(5000ms);
  if (!finished) stop.Set();
  ASSERT_TRUE(finished) << "WaitCommEvent never reported the bytes";
  EXPECT_EQ(wait.Outcome(), WaitOutcome::Events);
  EXPECT_NE(wait.Mask() & EV_RXCHAR, 0u);
  EXPECT_TRUE(device->SetCommMask(0));
}

TEST_F(Win32Device, StopSignalEndsAPendingWaitAndTheMaskEndsTheRest) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  StopSignal stop;
  EventWait wait(*device, stop);
  ::Sleep(200);
  const auto start = Clock::now();
  stop.Set();
  ASSERT_TRUE(wait.Finish(2000ms));
  EXPECT_EQ(wait.Outcome(), WaitOutcome::Stopped);
  EXPECT_LT(MsSince(start), 500.0);
  // The port wait itself is still pending; SetCommMask(0) ends it at once.
  const auto maskStart = Clock::now();
  EXPECT_TRUE(device->SetCommMask(0));
  EXPECT_LT(MsSince(maskStart), 1500.0);
  // And the device can wait again afterwards.
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  Arrive(xcom::BytesOf("x"));
  StopSignal second;
  EventWait again(*device, second);
  const bool finished = again.Finish(5000ms);
  if (!finished) second.Set();
  ASSERT_TRUE(finished);
  EXPECT_EQ(again.Outcome(), WaitOutcome::Events);
}

TEST_F(Win32Device, StopWinsOverEventsPendingAtTheSameTime) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  Arrive(xcom::BytesOf("ab"));
  StopSignal stop;
  stop.Set();
  stop.WaitUntilSet();  // returns at once once set
  std::uint32_t mask = 0;
  EXPECT_EQ(device->WaitCommEvent(stop, mask), WaitOutcome::Stopped);
}

TEST_F(Win32Device, ClosingWithAPendingWaitEndsItFirst) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  StopSignal stop;
  {
    EventWait wait(*device, stop);
    ::Sleep(100);
    stop.Set();
    ASSERT_TRUE(wait.Finish(2000ms));
  }
  const auto start = Clock::now();
  device.reset();  // no SetCommMask(0) first: the device ends the wait before CloseHandle
  EXPECT_LT(MsSince(start), 2500.0);
  auto reopened = OpenPlatformDevice(kPort);
  EXPECT_NE(reopened, nullptr);
}

TEST_F(Win32Device, EventWaitOnAHungUpLineFailsAtOnce) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  peer.Hangup(kPort);
  StopSignal stop;
  EventWait wait(*device, stop);
  const bool finished = wait.Finish(3000ms);
  if (!finished) stop.Set();
  ASSERT_TRUE(finished) << "a wait on a dead line must fail, not hang";
  EXPECT_EQ(wait.Outcome(), WaitOutcome::Failed);
}

TEST_F(Win32Device, UnreadBytesAreReportedOnce) {
  ASSERT_TRUE(device->SetCommMask(0x1FFB));
  Arrive(xcom::BytesOf("abc"));
  StopSignal stop;
  {
    EventWait first(*device, stop);
    ASSERT_TRUE(first.Finish(3000ms));
    EXPECT_EQ(first.Outcome(), WaitOutcome::Events);
    EXPECT_NE(first.Mask() & EV_RXCHAR, 0u);
  }
  EventWait second(*device, stop);
  ::Sleep(300);
  const bool again = second.Done();
  stop.Set();
  ASSERT_TRUE(second.Finish(2000ms));
  device->SetCommMask(0);
  SKIP_UNDER_WINE("EV_RXCHAR keeps firing while bytes stay queued");
  EXPECT_FALSE(again) << "bytes already reported must not be reported again";
}

// --- StopSignal, error texts, queue limit ----------------------------------------------------

TEST(Win32StopSignal, IsAManualResetEventCreatedNotSet) {
  StopSignal stop;
  const HANDLE handle = reinterpret_cast<HANDLE>(stop.NativeHandle());
  EXPECT_FALSE(stop.IsSet());
  EXPECT_EQ(::WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  stop.Set();
  EXPECT_TRUE(stop.IsSet());
  // Manual reset: a satisfied wait leaves it set.
  EXPECT_EQ(::WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  EXPECT_EQ(::WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(stop.IsSet());
}

TEST(Win32SystemError, LastErrorIsTheThreadsOwn) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(LastSystemError(), ERROR_ACCESS_DENIED);
  std::thread([] { EXPECT_NE(LastSystemError(), ERROR_ACCESS_DENIED); }).join();
  ::SetLastError(ERROR_ACCESS_DENIED);
  try {
    RaiseLastDeviceError(ErrorMessages().ReadFailed, 10);
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode(), 10);
    EXPECT_EQ(std::string(e.what()), "Unable to read from port. (Win32 error 5: " +
                                         TrimSystemText(SystemErrorText(5)) + ")");
  }
}

TEST(Win32SystemError, TextsComeFromTheSystemAndTrimClean) {
  const std::string raw = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(raw.empty());
  const std::string trimmed = TrimSystemText(raw);
  ASSERT_FALSE(trimmed.empty());
  EXPECT_NE(trimmed.back(), '.');
  EXPECT_GT(static_cast<unsigned char>(trimmed.back()), 32);
  // An unknown number has no text; a message with inserts is formatted safely.
  EXPECT_EQ(SystemErrorText(0x20001234), "");
  EXPECT_FALSE(SystemErrorText(ERROR_WRONG_DISK).empty());
  SKIP_UNDER_WINE("FormatMessageA texts differ from Windows (here: '" + trimmed + "')");
  EXPECT_EQ(trimmed, "The system cannot find the file specified");
  EXPECT_EQ(TrimSystemText(SystemErrorText(ERROR_ACCESS_DENIED)), "Access is denied");
}

TEST(Win32QueueLimit, FollowsTheReportedWindowsVersion) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(::GetVersionExA(&info));
  const bool nt4OrLater = info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4;
  EXPECT_TRUE(nt4OrLater) << "every Windows this builds for is NT 4 or later";
  EXPECT_EQ(PlatformQueueSizeLimit(), 4096);
}

}  // namespace
