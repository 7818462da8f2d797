#include "XComDrv.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "CommDevice.h"
#include "OpenFailureNote.h"
#include "Overlapped.h"
#include "PlatformDevice.h"
#include "Synchronizer.h"
#include "XAsync.h"

namespace xcom {

namespace {

// The monitor's fixed event mask: every event but deOutEmpty, which only SendData delivers.
constexpr std::uint32_t kMonitorMask = 0x1FFB;
constexpr std::uint32_t kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Adds a lock for the lifetime of a handler call and removes it again, also on an exception.
class ScopedLock {
 public:
  ScopedLock(TDeviceLocks& locks, TDeviceLock lock) : locks_(locks), lock_(lock) {
    locks_.Include(lock_);
  }
  ~ScopedLock() { locks_.Exclude(lock_); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  TDeviceLocks& locks_;
  TDeviceLock lock_;
};

// One slice of the time left before `timeout` runs out: at most 20 ms, 0 once it has run out.
std::uint32_t SliceLeft(std::uint32_t start, std::uint32_t timeout) {
  const std::uint32_t elapsed = GetTickCount() - start;
  return elapsed > timeout ? 0 : std::min<std::uint32_t>(timeout - elapsed + 1, 20);
}

// Waits on the device for one slice (at least a millisecond), and answers whether that wait
// returned at once. A device whose wait returns at once although nothing is ready still cannot
// make the caller spin: when the pass after such a wait finds nothing either
// (`lastWasInstant`), it sleeps a millisecond first.
template <typename Wait>
bool PauseForDevice(std::uint32_t start, std::uint32_t timeout, bool lastWasInstant, Wait wait) {
  if (lastWasInstant) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto before = std::chrono::steady_clock::now();
  wait(std::max<std::uint32_t>(SliceLeft(start, timeout), 1));
  return std::chrono::steady_clock::now() - before < std::chrono::milliseconds(1);
}

// Hands the rest of a read to the monitor thread: it takes the queued bytes and waits for
// more for at most one slice (none once `timeout` has passed). An OnRead handler still sees
// each arrival apart.
std::uint32_t HandToMonitor(CommDevice& device, std::uint8_t* position, std::uint32_t remaining,
                            std::uint32_t start, std::uint32_t timeout, bool eachArrival) {
  return device.ReadWhenArrived(position, remaining, SliceLeft(start, timeout), eachArrival);
}

}  // namespace

std::uint32_t GetTickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint16_t QueueSizeLimit() {
  return PlatformQueueSizeLimit();
}

std::uint32_t WriteOverlapped(CommDevice& device, const std::uint8_t* buffer, std::uint32_t count) {
  return device.WriteOverlapped(buffer, count);
}

std::uint32_t ReadOverlapped(CommDevice& device, std::uint8_t* buffer, std::uint32_t count) {
  const std::uint32_t read = device.ReadOverlapped(buffer, count);
  // The device left the system error of the failed read as the thread's last error.
  if (read == CommDevice::kReadFailed) RaiseLastDeviceError(DeviceError::ReadFailed);
  return read;
}

// ---------------------------------------------------------------------------------------------
// The monitor thread: waits for driver events and hands each set to the port, in the main
// thread when Synchronize is set, else in this thread.

class TCommEventThread {
 public:
  explicit TCommEventThread(TCustomComm& comm) : Comm(&comm) {
    if (StartError() != 0) {  // without its stop signal the monitor could never be ended
      finished_ = true;
      return;
    }
    comm.Device()->SetCommMask(kMonitorMask);
    thread_ = std::thread([this] { Execute(); });
  }

  // Stops the loop and waits for the thread, serving synchronised calls meanwhile so that a
  // delivery waiting for the main thread can finish.
  ~TCommEventThread() {
    StopEvent.Set();
    std::this_thread::yield();
    Synchronizer::Instance().WaitServing([this] { return finished_.load(); });
    if (thread_.joinable()) thread_.join();
  }

  // The system error that kept the monitor from starting; 0 when it runs.
  int StartError() const { return StopEvent.CreationError(); }

  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

 private:
  void Execute() {
    CommDevice& device = *Comm->Device();
    Comm->monitorState_ = DeliverUntilEnd(device);
    device.HandBackReads();
    device.SetCommMask(0);
    finished_ = true;
    Synchronizer::Instance().Notify();
  }

  // Delivers event sets until the port stops the monitor or delivery cannot go on; answers
  // the state the port then shows.
  TMonitorState DeliverUntilEnd(CommDevice& device) {
    try {
      WaitOutcome outcome;
      while ((outcome = device.WaitCommEvent(StopEvent, EventMask)) == WaitOutcome::Events) {
        if (Comm->Synchronize()) {
          // The thread that runs the delivery may itself wait in a read handed to this one.
          device.HandBackReads();
          Synchronizer::Instance().Synchronize([this] { DeliverEvents(); });
        } else {
          DeliverEvents();
        }
      }
      return outcome == WaitOutcome::Stopped ? msNotRunning : msWaitFailed;
    } catch (...) {
      // Not reported to the user: the port stays usable for transfers, and MonitorState tells
      // a caller that asks that events no longer come.
      return msHandlerRaised;
    }
  }

  void DeliverEvents() {
    if (EventMask == 0 || Comm == nullptr) return;
    const std::thread::id previous = Comm->deliveringThread_.exchange(std::this_thread::get_id());
    struct Restore {
      TCustomComm* comm;
      std::thread::id id;
      ~Restore() { comm->deliveringThread_ = id; }
    } restore{Comm, previous};
    Comm->HandleDeviceEvents(TDeviceEvents::FromBits(EventMask & 0xFFFF));
  }

  // The design names the first three fields; the others follow the rule for private members.
  StopSignal StopEvent;
  std::uint32_t EventMask = 0;
  TCustomComm* Comm;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// ---------------------------------------------------------------------------------------------
// TCommDataControl

namespace {

// A line setting as the open device (nullptr when closed) reports it, else the held value.
template <typename T, typename Read>
T FromDeviceDCB(CommDevice* device, T held, Read read) {
  DCB dcb;
  if (device != nullptr && GetDCB(*device, dcb)) return read(dcb);
  return held;
}

// Stores a changed line setting and, while the port is open, applies it at once.
template <typename T>
void StoreForDCB(TCustomComm& comm, T& field, T value) {
  if (value == field) return;
  field = value;
  if (comm.Opened()) comm.UpdateDCB();
}

}  // namespace

TDataBits TCommDataControl::DataBits() const {
  return FromDeviceDCB(comm_.Device(), dataBits_,
                       [](const DCB& d) { return static_cast<TDataBits>(d.ByteSize - 4); });
}
void TCommDataControl::SetDataBits(TDataBits value) {
  StoreForDCB(comm_, dataBits_, value);
}

TParity TCommDataControl::Parity() const {
  return FromDeviceDCB(comm_.Device(), parity_,
                       [](const DCB& d) { return static_cast<TParity>(d.Parity); });
}
void TCommDataControl::SetParity(TParity value) {
  StoreForDCB(comm_, parity_, value);
}

TStopBits TCommDataControl::StopBits() const {
  return FromDeviceDCB(comm_.Device(), stopBits_,
                       [](const DCB& d) { return static_cast<TStopBits>(d.StopBits); });
}
void TCommDataControl::SetStopBits(TStopBits value) {
  StoreForDCB(comm_, stopBits_, value);
}

void TCommDataControl::Assign(const TCommDataControl& source) {
  if (&source == this) return;
  dataBits_ = source.DataBits();
  parity_ = source.Parity();
  stopBits_ = source.StopBits();
  if (comm_.Opened()) comm_.UpdateDCB();
}

// ---------------------------------------------------------------------------------------------
// TCommBuffers

std::uint16_t TCommBuffers::ClampQueueSize(std::uint16_t value) const {
  const std::uint16_t limit = QueueSizeLimit();
  if (value > limit) value = limit;
  if (value < 128) value = 128;
  return value;
}

std::uint16_t TCommBuffers::InputSize() const {
  COMMPROP properties{};
  if (comm_.Opened() && comm_.Device()->GetCommProperties(properties) &&
      properties.dwCurrentRxQueue != 0)
    return static_cast<std::uint16_t>(properties.dwCurrentRxQueue);
  return inputSize_;
}

void TCommBuffers::SetInputSize(std::uint16_t value) {
  value = ClampQueueSize(value);
  if (value == inputSize_) return;
  inputSize_ = value;
  if (comm_.Opened()) comm_.UpdateBuffers();
}

std::uint16_t TCommBuffers::OutputSize() const {
  COMMPROP properties{};
  if (comm_.Opened() && comm_.Device()->GetCommProperties(properties) &&
      properties.dwCurrentTxQueue != 0)
    return static_cast<std::uint16_t>(properties.dwCurrentTxQueue);
  return outputSize_;
}

void TCommBuffers::SetOutputSize(std::uint16_t value) {
  value = ClampQueueSize(value);
  if (value == outputSize_) return;
  outputSize_ = value;
  if (comm_.Opened()) comm_.UpdateBuffers();
}

void TCommBuffers::Assign(const TCommBuffers& source) {
  if (&source == this) return;
  inputTimeout_ = source.inputTimeout_;
  outputTimeout_ = source.outputTimeout_;
  inputSize_ = source.InputSize();
  outputSize_ = source.OutputSize();
  if (comm_.Opened()) comm_.UpdateBuffers();
}

// ---------------------------------------------------------------------------------------------
// TCommEventChars

namespace {
std::uint8_t DeviceChar(CommDevice* device, char DCB::*field, std::uint8_t held) {
  return FromDeviceDCB(device, held,
                       [field](const DCB& d) { return static_cast<std::uint8_t>(d.*field); });
}
}  // namespace

void TCommEventChars::Store(std::uint8_t& field, std::uint8_t value) {
  StoreForDCB(comm_, field, value);
}

std::uint8_t TCommEventChars::XonChar() const {
  return DeviceChar(comm_.Device(), &DCB::XonChar, xonChar_);
}
void TCommEventChars::SetXonChar(std::uint8_t value) {
  Store(xonChar_, value);
}
std::uint8_t TCommEventChars::XoffChar() const {
  return DeviceChar(comm_.Device(), &DCB::XoffChar, xoffChar_);
}
void TCommEventChars::SetXoffChar(std::uint8_t value) {
  Store(xoffChar_, value);
}
std::uint8_t TCommEventChars::EofChar() const {
  return DeviceChar(comm_.Device(), &DCB::EofChar, eofChar_);
}
void TCommEventChars::SetEofChar(std::uint8_t value) {
  Store(eofChar_, value);
}
std::uint8_t TCommEventChars::ErrorChar() const {
  return DeviceChar(comm_.Device(), &DCB::ErrorChar, errorChar_);
}
void TCommEventChars::SetErrorChar(std::uint8_t value) {
  Store(errorChar_, value);
}
std::uint8_t TCommEventChars::EventChar() const {
  return DeviceChar(comm_.Device(), &DCB::EvtChar, eventChar_);
}
void TCommEventChars::SetEventChar(std::uint8_t value) {
  Store(eventChar_, value);
}

void TCommEventChars::Assign(const TCommEventChars& source) {
  if (&source == this) return;
  xonChar_ = source.XonChar();
  xoffChar_ = source.XoffChar();
  eofChar_ = source.EofChar();
  errorChar_ = source.ErrorChar();
  eventChar_ = source.EventChar();
  if (comm_.Opened()) comm_.UpdateDCB();
}

// ---------------------------------------------------------------------------------------------
// TCommTimeoutsEx

std::uint32_t TCommTimeoutsEx::DeviceValue(DWORD COMMTIMEOUTS::*field, std::uint32_t held) const {
  COMMTIMEOUTS timeouts{};
  if (comm_.Opened() && comm_.Device()->GetCommTimeouts(timeouts)) return timeouts.*field;
  return held;
}

void TCommTimeoutsEx::Store(std::uint32_t& field, std::uint32_t value) {
  if (value == field) return;
  field = value;
  if (comm_.Opened()) comm_.UpdateTimeouts();
}

std::uint32_t TCommTimeoutsEx::ReadInterval() const {
  return DeviceValue(&COMMTIMEOUTS::ReadIntervalTimeout, readInterval_);
}
void TCommTimeoutsEx::SetReadInterval(std::uint32_t value) {
  Store(readInterval_, value);
}
std::uint32_t TCommTimeoutsEx::ReadMultiplier() const {
  return DeviceValue(&COMMTIMEOUTS::ReadTotalTimeoutMultiplier, readMultiplier_);
}
void TCommTimeoutsEx::SetReadMultiplier(std::uint32_t value) {
  Store(readMultiplier_, value);
}
std::uint32_t TCommTimeoutsEx::ReadConstant() const {
  return DeviceValue(&COMMTIMEOUTS::ReadTotalTimeoutConstant, readConstant_);
}
void TCommTimeoutsEx::SetReadConstant(std::uint32_t value) {
  Store(readConstant_, value);
}
std::uint32_t TCommTimeoutsEx::WriteMultiplier() const {
  return DeviceValue(&COMMTIMEOUTS::WriteTotalTimeoutMultiplier, writeMultiplier_);
}
void TCommTimeoutsEx::SetWriteMultiplier(std::uint32_t value) {
  Store(writeMultiplier_, value);
}
std::uint32_t TCommTimeoutsEx::WriteConstant() const {
  return DeviceValue(&COMMTIMEOUTS::WriteTotalTimeoutConstant, writeConstant_);
}
void TCommTimeoutsEx::SetWriteConstant(std::uint32_t value) {
  Store(writeConstant_, value);
}

void TCommTimeoutsEx::Assign(const TCommTimeoutsEx& source) {
  if (&source == this) return;
  readInterval_ = source.ReadInterval();
  readMultiplier_ = source.ReadMultiplier();
  readConstant_ = source.ReadConstant();
  writeMultiplier_ = source.WriteMultiplier();
  writeConstant_ = source.WriteConstant();
  if (comm_.Opened()) comm_.UpdateTimeouts();
}

// ---------------------------------------------------------------------------------------------
// TCommClient

TCommClient::~TCommClient() {
  if (comm_ != nullptr) TCommClient::SetComm(nullptr);
}

void TCommClient::SetComm(TCustomComm* comm) {
  if (comm == comm_) return;
  if (comm_ != nullptr) std::erase(comm_->clients_, this);
  comm_ = comm;
  if (comm_ != nullptr) comm_->clients_.push_back(this);
}

// ---------------------------------------------------------------------------------------------
// TCustomComm: construction and lifecycle

TCustomComm::TCustomComm() : opener_(OpenDeviceByName) {
  // The thread that creates ports is the one that serves their synchronised deliveries,
  // unless the application names another.
  Synchronizer::Instance();
}

TCustomComm::~TCustomComm() {
  ShutDown();
  while (!clients_.empty()) clients_.front()->SetComm(nullptr);
}

void TCustomComm::ShutDown() {
  if (deliveringThread_.load() == std::this_thread::get_id()) {
    // The monitor thread waits for the very handler that is destroying its port.
    std::fputs("TCustomComm destroyed from inside its own OnData/OnCommEvent handler\n", stderr);
    std::terminate();
  }
  destroying_ = true;
  if (Opened()) ReleaseDevice();
}

void TCustomComm::ReleaseDevice() {
  StopMonitor();
  // Bytes still on their way leave at the speed and format they were sent with, not at the
  // ones the close gives back; a send waits no longer for them.
  if (!device_->DeviceLost()) device_->DrainOutput(buffers_.OutputTimeout());
  device_.reset();
}

// The monitor thread may be inside a virtual call on this port: stop it while the object is
// still whole, before the base destructor turns it into a bare TCustomComm.
TXComm::~TXComm() {
  ShutDown();
}

void TCustomComm::ForbidInsideDelivery() const {
  // The monitor thread waits for the very handler that would wait for it to end.
  if (deliveringThread_.load() == std::this_thread::get_id())
    RaiseDeviceError(DeviceError::CloseInsideHandler);
}

void TCustomComm::StopMonitor() {
  eventThread_.reset();
  monitorState_ = msNotRunning;
}

bool TCustomComm::DeviceLost() const {
  return device_ != nullptr && device_->DeviceLost();
}

LineSettingsReport TCustomComm::SettingsReport() const {
  return device_ != nullptr ? device_->SettingsReport() : LineSettingsReport{};
}

bool TCustomComm::OpenDevice() {
  if (Opened()) RaiseDeviceError(DeviceError::DeviceAlreadyOpened);
  FLocks = TDeviceLocks{};
  NoteOpenFailure(OpenFailure::None);
  device_ = opener_ ? opener_(deviceName_) : nullptr;
  if (!Opened()) {
    openFailure_ = LastOpenFailure();
    // An opener that says nothing (a test double, another host) still failed.
    if (openFailure_.reason == OpenFailure::None) openFailure_.reason = OpenFailure::Other;
    return false;
  }
  openFailure_ = OpenFailureInfo{};
  monitorState_ = msRunning;
  eventThread_ = std::make_unique<TCommEventThread>(*this);
  if (const int error = eventThread_->StartError(); error != 0) {
    // Out of descriptors or handles: the device cannot be watched, so it is not kept open.
    StopMonitor();
    device_.reset();
    openFailure_ = OpenFailureInfo{OpenFailure::Other, error, {}, {}};
    return false;
  }
  UpdateDCB();
  UpdateBuffers();
  UpdateTimeouts();
  return true;
}

void TCustomComm::CloseDevice() {
  if (!Opened()) RaiseDeviceError(DeviceError::DeviceNotOpened);
  ForbidInsideDelivery();
  ReleaseDevice();
}

std::uint32_t TCustomComm::QueueCount(int selector) {
  if (!Opened()) RaiseDeviceError(DeviceError::DeviceNotOpened);
  std::uint32_t count = 0;
  // A failing query answers 0: the transfer loops then wait until their own time limits.
  if (!device_->ClearCommErrorCount(selector, count)) return 0;
  return count;
}

namespace {

// Which control-block flag each handshake setting and option stands for; read both ways, when
// a block is built and when an open device's block is read back.
template <typename Member>
struct FlagOf {
  Member member;
  std::uint32_t flag;
};
constexpr FlagOf<TDTRSetting> kDtrFlags[] = {{fsDSROut, kDcbOutxDsrFlow},
                                             {fsDTREnabled, kDcbDtrControlEnable},
                                             {fsDTRHandshake, kDcbDtrControlHandshake}};
constexpr FlagOf<TRTSSetting> kRtsFlags[] = {{fsCTSOut, kDcbOutxCtsFlow},
                                             {fsRTSEnabled, kDcbRtsControlEnable},
                                             {fsRTSHandshake, kDcbRtsControlHandshake}};
constexpr FlagOf<TXOnXOffSetting> kXOnXOffFlags[] = {{fsInX, kDcbInX}, {fsOutX, kDcbOutX}};
constexpr FlagOf<TCommOption> kOptionFlags[] = {
    {coParityCheck, kDcbParityCheck},   {coDSRSensitivity, kDcbDsrSensitivity},
    {coErrorChar, kDcbErrorChar},       {coDiscardNull, kDcbNullStrip},
    {coAbortOnError, kDcbAbortOnError}, {coTXContinueOnXOff, kDcbTXContinueOnXoff}};

template <typename Set, typename Member, std::size_t N>
std::uint32_t FlagsOf(const Set& set, const FlagOf<Member> (&table)[N]) {
  std::uint32_t flags = 0;
  for (const FlagOf<Member>& entry : table)
    if (set.Contains(entry.member)) flags |= entry.flag;
  return flags;
}

template <typename Set, typename Member, std::size_t N>
void IncludeFlagged(Set& set, std::uint32_t flags, const FlagOf<Member> (&table)[N]) {
  for (const FlagOf<Member>& entry : table)
    if ((flags & entry.flag) != 0) set.Include(entry.member);
}

}  // namespace

void TCustomComm::BuildDCB(DCB& dcb) const {
  InitDCB(dcb);
  std::uint32_t flags = kDcbBinary | FlagsOf(dtrSettings_, kDtrFlags) |
                        FlagsOf(rtsSettings_, kRtsFlags) |
                        FlagsOf(xonXoffSettings_, kXOnXOffFlags) | FlagsOf(options_, kOptionFlags);
  if (options_.Contains(coLeaveDTROpen)) flags |= kDcbDtrControlEnable;
  SetDCBFlags(dcb, flags);
  dcb.BaudRate = baudValue_;
  dcb.XonLim = static_cast<WORD>(buffers_.inputSize_ / 4);
  dcb.XoffLim = static_cast<WORD>(buffers_.inputSize_ / 4);
  dcb.ByteSize = static_cast<BYTE>(dataControl_.dataBits_ + 4);
  dcb.Parity = static_cast<BYTE>(dataControl_.parity_);
  dcb.StopBits = static_cast<BYTE>(dataControl_.stopBits_);
  dcb.XonChar = static_cast<char>(eventChars_.xonChar_);
  dcb.XoffChar = static_cast<char>(eventChars_.xoffChar_);
  dcb.ErrorChar = static_cast<char>(eventChars_.errorChar_);
  dcb.EofChar = static_cast<char>(eventChars_.eofChar_);
  dcb.EvtChar = static_cast<char>(eventChars_.eventChar_);
}

bool TCustomComm::UpdateDCB() {
  DCB dcb;
  BuildDCB(dcb);
  if (!device_ || !device_->SetCommState(dcb)) RaiseDeviceError(DeviceError::UpdateDCBFailed);
  return true;
}

bool TCustomComm::UpdateBuffers() {
  if (device_) device_->PurgeComm(kPurgeAll);
  if (!device_ || !device_->SetupComm(buffers_.inputSize_, buffers_.outputSize_))
    RaiseDeviceError(DeviceError::UpdateBuffersFailed);
  return true;
}

bool TCustomComm::UpdateTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = timeouts_.readInterval_;
  timeouts.ReadTotalTimeoutMultiplier = timeouts_.readMultiplier_;
  timeouts.ReadTotalTimeoutConstant = timeouts_.readConstant_;
  timeouts.WriteTotalTimeoutMultiplier = timeouts_.writeMultiplier_;
  timeouts.WriteTotalTimeoutConstant = timeouts_.writeConstant_;
  if (!device_ || !device_->SetCommTimeouts(timeouts))
    RaiseDeviceError(DeviceError::UpdateTimeoutsFailed);
  return true;
}

// ---------------------------------------------------------------------------------------------
// TCustomComm: settings

// The getters that read an open device answer what it runs at and leave the held settings as
// they are: a rate the driver rounds is not carried into the next open.
TBaudRate TCustomComm::BaudRate() const {
  if (!Opened() || baudRate_ == brCustom) return baudRate_;
  const std::uint32_t rate = BaudValue();
  for (int member = br110; member < brCustom; ++member)
    if (kBaudRates[member] == rate) return static_cast<TBaudRate>(member);
  return brCustom;
}

void TCustomComm::SetBaudRate(TBaudRate value) {
  if (value == baudRate_) return;
  baudRate_ = value;
  if (value == brCustom) return;
  // A value outside the enumeration is stored unexamined; it has no table rate.
  if (value >= br110 && value < brCustom) baudValue_ = kBaudRates[value];
  if (Opened()) UpdateDCB();
}

std::uint32_t TCustomComm::BaudValue() const {
  DCB dcb;
  if (Opened() && GetDCB(*device_, dcb)) return dcb.BaudRate;
  return baudValue_;
}

void TCustomComm::SetBaudValue(std::uint32_t value) {
  if (baudRate_ != brCustom || value == baudValue_) return;
  baudValue_ = value;
  if (Opened()) UpdateDCB();
}

void TCustomComm::SetDeviceName(const std::string& value) {
  if (Opened()) return;
  deviceName_ = value;
}

void TCustomComm::UpdateHandshake() {
  xonXoffSettings_ = {};
  rtsSettings_ = {};
  dtrSettings_ = {};
  switch (flowControl_) {
    case fcRtsCts:
      rtsSettings_ = {fsCTSOut, fsRTSHandshake};
      break;
    case fcDtrDsr:
      dtrSettings_ = {fsDSROut};
      rtsSettings_ = {fsRTSEnabled};
      break;
    case fcSoftware:
      xonXoffSettings_ = {fsInX, fsOutX};
      break;
    default:
      break;
  }
  if (flowControl_ != fcNone) dtrSettings_.Include(fsDTREnabled);
  if (options_.Contains(coLeaveDTROpen)) dtrSettings_.Include(fsDTREnabled).Exclude(fsDTRHandshake);
}

TCustomComm::THandshake TCustomComm::HandshakeFromFlags(std::uint32_t flags) const {
  THandshake now;
  IncludeFlagged(now.dtr, flags, kDtrFlags);
  IncludeFlagged(now.rts, flags, kRtsFlags);
  IncludeFlagged(now.xonXoff, flags, kXOnXOffFlags);
  IncludeFlagged(now.options, flags, kOptionFlags);
  // Not a flag of the block: the port's own choice.
  if (options_.Contains(coLeaveDTROpen)) now.options.Include(coLeaveDTROpen);
  return now;
}

TCustomComm::THandshake TCustomComm::HandshakeNow() const {
  DCB dcb;
  if (Opened() && GetDCB(*device_, dcb)) return HandshakeFromFlags(DCBFlags(dcb));
  return {rtsSettings_, dtrSettings_, xonXoffSettings_, options_};
}

TRTSSettings TCustomComm::RTSSettings() {
  return HandshakeNow().rts;
}

void TCustomComm::SetRTSSettings(TRTSSettings value) {
  if (flowControl_ != fcCustom || value == RTSSettings()) return;
  rtsSettings_ = value;
  if (Opened()) UpdateDCB();
}

TDTRSettings TCustomComm::DTRSettings() {
  return HandshakeNow().dtr;
}

void TCustomComm::SetDTRSettings(TDTRSettings value) {
  if (options_.Contains(coLeaveDTROpen)) value.Exclude(fsDTRHandshake).Include(fsDTREnabled);
  if (value.Contains(fsDTREnabled) && value.Contains(fsDTRHandshake))
    value.Exclude(dtrSettings_.Contains(fsDTRHandshake) ? fsDTRHandshake : fsDTREnabled);
  if (flowControl_ != fcCustom || value == DTRSettings()) return;
  dtrSettings_ = value;
  if (Opened()) UpdateDCB();
}

TXOnXOffSettings TCustomComm::XOnXOffSettings() {
  return HandshakeNow().xonXoff;
}

void TCustomComm::SetXOnXOffSettings(TXOnXOffSettings value) {
  if (flowControl_ != fcCustom || value == XOnXOffSettings()) return;
  xonXoffSettings_ = value;
  if (Opened()) UpdateDCB();
}

void TCustomComm::SetFlowControl(TFlowControl value) {
  if (value == flowControl_) return;
  flowControl_ = value;
  if (value == fcCustom) return;
  UpdateHandshake();
  if (Opened()) UpdateDCB();
}

TCommOptions TCustomComm::Options() {
  return HandshakeNow().options;
}

void TCustomComm::SetOptions(TCommOptions value) {
  if (Opened()) {
    if (options_.Contains(coLeaveDTROpen))
      value.Include(coLeaveDTROpen);
    else
      value.Exclude(coLeaveDTROpen);
  }
  if (value == Options()) return;
  options_ = value;
  if (Opened())
    UpdateDCB();
  else
    UpdateHandshake();
}

// ---------------------------------------------------------------------------------------------
// TCustomComm: data transfer

TDeviceLocks TCustomComm::DeviceLocks() const {
  const TDeviceLocks full{dlSend, dlRead};
  if (!Opened()) return full;
  TDeviceLocks locks = FLocks;
  for (const TCommClient* client : clients_) {
    if (locks == full) break;
    locks = locks + client->Locks;
  }
  return locks;
}

std::uint32_t TCustomComm::SendData(const void* buffer, std::uint32_t count,
                                    std::uint32_t timeout) {
  if (!Opened()) RaiseDeviceError(DeviceError::DeviceNotOpened);
  if (DeviceLocks().Contains(dlSend)) RaiseDeviceError(DeviceError::SendLocked);
  if (count == 0) return 0;
  const std::uint32_t start = GetTickCount();
  std::uint32_t sent = 0;
  std::uint32_t remaining = count;
  const auto* position = static_cast<const std::uint8_t*>(buffer);
  bool instantWait = false;  // the last wait for room returned at once
  while (remaining > 0) {
    // A queue already fuller than the configured size leaves no room (rather than wrapping).
    const std::uint32_t queued = QueueCount(1);
    const std::uint32_t size = buffers_.OutputSize();
    const std::uint32_t room = queued >= size ? 0 : size - queued;
    if (room > 0) {
      const std::uint32_t written = WriteOverlapped(*device_, position, std::min(room, remaining));
      HandleDeviceEvents(TDeviceEvents{deOutEmpty});
      if (written > 0) {
        instantWait = false;
        sent += written;
        remaining -= written;
        position += written;
        ScopedLock lock(FLocks, dlSend);
        if (onSend_) onSend_(this);
        continue;
      }
      // The delivery's handler may have closed the port: the send then ends as any transfer
      // on a closed port does, without touching the device that is gone.
      if (!Opened()) RaiseDeviceError(DeviceError::DeviceNotOpened);
      // A device that has gone away ends the transfer as if its time-out had run out.
      if (device_->DeviceLost()) break;
    }
    if (GetTickCount() - start > timeout) break;
    if (room == 0)
      instantWait = PauseForDevice(start, timeout, instantWait,
                                   [this](std::uint32_t ms) { device_->WaitForOutputRoom(ms); });
  }
  return sent;
}

std::uint32_t TCustomComm::SendData(const void* buffer, std::uint32_t count) {
  return SendData(buffer, count, buffers_.OutputTimeout());
}

bool TCustomComm::SendString(const ByteString& s) {
  const auto length = static_cast<std::uint32_t>(s.size());
  return SendData(s.data(), length, buffers_.OutputTimeout()) == length;
}

std::uint32_t TCustomComm::ReadData(void* buffer, std::uint32_t count, std::uint32_t timeout) {
  if (!Opened()) RaiseDeviceError(DeviceError::DeviceNotOpened);
  if (DeviceLocks().Contains(dlRead)) RaiseDeviceError(DeviceError::ReadLocked);
  if (count == 0) return 0;
  const std::uint32_t start = GetTickCount();
  std::uint32_t got = 0;
  std::uint32_t remaining = count;
  auto* position = static_cast<std::uint8_t*>(buffer);
  bool instantWait = false;  // the last wait for input returned at once
  const auto waitForInput = [this](std::uint32_t ms) { device_->WaitForInput(ms); };
  while (remaining > 0) {
    const std::uint32_t available = QueueCount(0);
    const bool late = GetTickCount() - start > timeout;
    if (available == 0 && late) break;
    // The bytes queued now, and those that arrive within the time left, through the monitor
    // thread; else (no monitor to take the read) the queued bytes as the device reads them.
    std::uint32_t n = HandToMonitor(*device_, position, remaining, start, timeout, bool(onRead_));
    if (n == CommDevice::kNotHandedOver) {
      if (available == 0) {
        instantWait = PauseForDevice(start, timeout, instantWait, waitForInput);
        continue;
      }
      n = ReadOverlapped(*device_, position, std::min(available, remaining));
    } else if (n == 0 && available == 0) {
      continue;  // nothing came within the slice, or the read was purged or handed back
    }
    if (n == 0) {
      // The queue reported bytes the read could not deliver: count it as an empty pass, so
      // the time-out still applies and the loop cannot spin forever.
      if (GetTickCount() - start > timeout || device_->DeviceLost()) break;
      instantWait = PauseForDevice(start, timeout, instantWait, waitForInput);
      continue;
    }
    instantWait = false;
    got += n;
    remaining -= n;
    position += n;
    ScopedLock lock(FLocks, dlRead);
    if (onRead_) onRead_(this);
  }
  return got;
}

std::uint32_t TCustomComm::ReadData(void* buffer, std::uint32_t count) {
  return ReadData(buffer, count, buffers_.InputTimeout());
}

bool TCustomComm::ReadString(ByteString& s) {
  const std::uint32_t waiting = QueueCount(0);
  s.assign(waiting, 0);
  const std::uint32_t n = ReadData(s.data(), waiting, buffers_.InputTimeout());
  s.resize(n);
  return n > 0;
}

// ---------------------------------------------------------------------------------------------
// TCustomComm: event delivery

void TCustomComm::HandleDeviceEvents(TDeviceEvents events) {
  if (!Opened() || destroying_) return;
  for (TCommClient* client : clients_) client->BeforeDeviceEvents(events);
  DoCommEvent(events);
  for (TCommClient* client : clients_) client->AfterDeviceEvents(events);
}

void TCustomComm::DoCommEvent(TDeviceEvents events) {
  if (events.Contains(deChar) || events.Contains(deFlag)) DoData(QueueCount(0));
  const TDeviceEvents monitored = events * monitorEvents_;
  if (onCommEvent_ && !monitored.Empty()) onCommEvent_(this, monitored);
}

void TCustomComm::DoData(std::uint32_t received) {
  if (onData_) onData_(this, received);
}

}  // namespace xcom
