#pragma once
// The serial port component: TCustomComm holds every setting and the open device, moves bytes,
// and runs a monitor thread that turns driver events into OnData / OnCommEvent; TXComm
// publishes its properties.
//
// Properties follow one rule: a setter stores a value only when it differs and, while the port
// is open, re-applies the affected group of device settings at once; a device-backed getter
// answers from the device while the port is open.
//
// How each call fails (EDeviceError codes in XComErr.h):
// - Raises: OpenDevice on an open port (2), and when applying the settings is refused (3, 6, 7;
//   the port then stays open with its monitor running and the settings applied up to the
//   refused step); CloseDevice on a closed port (1) or from inside this port's own delivery
//   (11); QueueCount on a closed port (1); UpdateDCB, UpdateBuffers, UpdateTimeouts when the
//   device refuses (3, 6, 7), and so every setter that re-applies while open; SendData and
//   SendString on a closed port (1) or with dlSend locked (4); ReadData and ReadString on a
//   closed port (1), with dlRead locked (5) or when the device read fails (10, with the system
//   error). An OnSend or OnRead handler's exception leaves the transfer.
// - Answers false with a reason: OpenDevice alone, when the device cannot be opened or watched;
//   OpenFailureReason() says why. SendString's false (not every byte left in time) and
//   ReadString's false (nothing read) carry no reason; SendData and ReadData answer the count
//   moved, QueueCount answers 0 when the device cannot say.
// - Sets DeviceLost: only the open device, when a read, write, wait or line query reports it
//   gone (adapter pulled, line hung up). The port stays open until CloseDevice; transfers then
//   end at once with what they moved, and the monitor ends (MonitorState msWaitFailed).
// - Never raises: the getters (an open device that cannot be read answers the held value),
//   Opened, DeviceLost, OpenFailureReason, MonitorState, and closing by destruction.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ByteString.h"
#include "LineSettingsReport.h"
#include "OpenFailure.h"
#include "XComErr.h"
#include "XComStructs.h"
#include "XComTypes.h"

namespace xcom {

class TCustomComm;
class TCommEventThread;
// The open device, as the device layer implements it; its contract is not part of the API.
class CommDevice;

// Whether the monitor thread still delivers the open port's events, and if not, why. Its end is
// not reported to the user; a caller that cares asks.
enum TMonitorState : std::int32_t {
  msNotRunning,     // the port is closed
  msRunning,        // events are delivered
  msWaitFailed,     // the device's wait failed (a lost device, an error of the system)
  msHandlerRaised,  // an OnData, OnCommEvent or client handler raised; no more events come
};

// Character format.
class TCommDataControl {
 public:
  explicit TCommDataControl(TCustomComm& comm) : comm_(comm) {}
  TCommDataControl(const TCommDataControl&) = delete;
  TCommDataControl& operator=(const TCommDataControl&) = delete;

  TDataBits DataBits() const;
  void SetDataBits(TDataBits value);
  TParity Parity() const;
  void SetParity(TParity value);
  TStopBits StopBits() const;
  void SetStopBits(TStopBits value);

  // Takes `source`'s values (through its getters); the port re-applies once.
  void Assign(const TCommDataControl& source);

 private:
  friend class TCustomComm;
  TCustomComm& comm_;
  TDataBits dataBits_ = db8;
  TParity parity_ = paNone;
  TStopBits stopBits_ = sb1;
};

// Driver queue sizes and the overall limits of a read or write operation.
class TCommBuffers {
 public:
  explicit TCommBuffers(TCustomComm& comm) : comm_(comm) {}
  TCommBuffers(const TCommBuffers&) = delete;
  TCommBuffers& operator=(const TCommBuffers&) = delete;

  std::uint16_t InputSize() const;
  void SetInputSize(std::uint16_t value);
  std::uint16_t OutputSize() const;
  void SetOutputSize(std::uint16_t value);
  std::uint16_t InputTimeout() const { return inputTimeout_; }
  void SetInputTimeout(std::uint16_t value) { inputTimeout_ = value; }
  std::uint16_t OutputTimeout() const { return outputTimeout_; }
  void SetOutputTimeout(std::uint16_t value) { outputTimeout_ = value; }

  void Assign(const TCommBuffers& source);

 private:
  friend class TCustomComm;
  std::uint16_t ClampQueueSize(std::uint16_t value) const;
  TCustomComm& comm_;
  std::uint16_t inputSize_ = 2048;
  std::uint16_t inputTimeout_ = 500;
  std::uint16_t outputSize_ = 2048;
  std::uint16_t outputTimeout_ = 500;
};

// Special characters.
class TCommEventChars {
 public:
  explicit TCommEventChars(TCustomComm& comm) : comm_(comm) {}
  TCommEventChars(const TCommEventChars&) = delete;
  TCommEventChars& operator=(const TCommEventChars&) = delete;

  std::uint8_t XonChar() const;
  void SetXonChar(std::uint8_t value);
  std::uint8_t XoffChar() const;
  void SetXoffChar(std::uint8_t value);
  std::uint8_t EofChar() const;
  void SetEofChar(std::uint8_t value);
  std::uint8_t ErrorChar() const;
  void SetErrorChar(std::uint8_t value);
  std::uint8_t EventChar() const;
  void SetEventChar(std::uint8_t value);

  void Assign(const TCommEventChars& source);

 private:
  friend class TCustomComm;
  void Store(std::uint8_t& field, std::uint8_t value);
  TCustomComm& comm_;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
  std::uint8_t errorChar_ = 0;
  std::uint8_t eventChar_ = 10;
  std::uint8_t eofChar_ = 0;
};

// Device time-outs (milliseconds).
class TCommTimeoutsEx {
 public:
  explicit TCommTimeoutsEx(TCustomComm& comm) : comm_(comm) {}
  TCommTimeoutsEx(const TCommTimeoutsEx&) = delete;
  TCommTimeoutsEx& operator=(const TCommTimeoutsEx&) = delete;

  std::uint32_t ReadInterval() const;
  void SetReadInterval(std::uint32_t value);
  std::uint32_t ReadMultiplier() const;
  void SetReadMultiplier(std::uint32_t value);
  std::uint32_t ReadConstant() const;
  void SetReadConstant(std::uint32_t value);
  std::uint32_t WriteMultiplier() const;
  void SetWriteMultiplier(std::uint32_t value);
  std::uint32_t WriteConstant() const;
  void SetWriteConstant(std::uint32_t value);

  void Assign(const TCommTimeoutsEx& source);

 private:
  friend class TCustomComm;
  // DWORD: the field type of COMMTIMEOUTS (unsigned long on Windows).
  std::uint32_t DeviceValue(DWORD COMMTIMEOUTS::*field, std::uint32_t held) const;
  void Store(std::uint32_t& field, std::uint32_t value);
  TCustomComm& comm_;
  std::uint32_t readInterval_ = 1;
  std::uint32_t readMultiplier_ = 0;
  std::uint32_t readConstant_ = 1;
  std::uint32_t writeMultiplier_ = 0;
  std::uint32_t writeConstant_ = 1;
};

// An object that attaches itself to a port: its locks join the port's, and it is offered every
// delivered event set. Nothing in the tool creates one.
class TCommClient {
 public:
  virtual ~TCommClient();
  // Binds the client to `comm`, or detaches it (and leaves the port's list) with nullptr.
  virtual void SetComm(TCustomComm* comm);
  TCustomComm* Comm() const { return comm_; }
  TDeviceLocks Locks;
  virtual void BeforeDeviceEvents(TDeviceEvents) {}
  virtual void AfterDeviceEvents(TDeviceEvents) {}

 private:
  TCustomComm* comm_ = nullptr;
};

class TCustomComm {
 public:
  TCustomComm();
  virtual ~TCustomComm();
  TCustomComm(const TCustomComm&) = delete;
  TCustomComm& operator=(const TCustomComm&) = delete;

  // Lifecycle.
  virtual bool OpenDevice();
  // Refused (code 11) from inside an OnData/OnCommEvent handler that the monitor thread
  // delivers for this same port: the monitor cannot end while it waits for that handler.
  virtual void CloseDevice();
  bool Opened() const { return device_ != nullptr; }
  // True once the open device has reported that it is gone (adapter pulled, line hung up):
  // the port stays open, and transfers end at once, until it is closed.
  bool DeviceLost() const;
  // What became of the line settings at their last apply on the open device (Applied while
  // closed): a serial device server may own them or leave some unanswered.
  LineSettingsReport SettingsReport() const;
  // Whether the monitor still delivers events while the port is open (see TMonitorState).
  TMonitorState MonitorState() const { return monitorState_.load(); }
  // Why the last OpenDevice of this port answered false (reason None after a successful one).
  const OpenFailureInfo& OpenFailureReason() const { return openFailure_; }
  // 0: bytes waiting in the input queue, 1: bytes waiting in the output queue, else 0.
  std::uint32_t QueueCount(int selector);
  bool UpdateDCB();
  bool UpdateBuffers();
  bool UpdateTimeouts();

  // Data transfer (blocking, in the calling thread).
  std::uint32_t SendData(const void* buffer, std::uint32_t count, std::uint32_t timeout);
  std::uint32_t SendData(const void* buffer, std::uint32_t count);
  bool SendString(const ByteString& s);
  std::uint32_t ReadData(void* buffer, std::uint32_t count, std::uint32_t timeout);
  std::uint32_t ReadData(void* buffer, std::uint32_t count);
  bool ReadString(ByteString& s);
  virtual TDeviceLocks DeviceLocks() const;

  // The single entry for delivering a set of events (monitor thread, SendData).
  void HandleDeviceEvents(TDeviceEvents events);

  // Linked clients.
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  TCommClient* Clients(int index) const { return clients_.at(static_cast<std::size_t>(index)); }

 protected:
  // Stops the monitor thread and closes the device; the most derived class's destructor calls
  // it, so no delivery runs while the object is being taken apart.
  void ShutDown();

  virtual void DoCommEvent(TDeviceEvents events);
  virtual void DoData(std::uint32_t received);

  // Properties; TXComm publishes them.
  TBaudRate BaudRate() const;
  void SetBaudRate(TBaudRate value);
  std::uint32_t BaudValue() const;
  void SetBaudValue(std::uint32_t value);
  TCommBuffers& Buffers() { return buffers_; }
  const TCommBuffers& Buffers() const { return buffers_; }
  void SetBuffers(const TCommBuffers& value) { buffers_.Assign(value); }
  TRTSSettings RTSSettings();
  void SetRTSSettings(TRTSSettings value);
  TCommDataControl& DataControl() { return dataControl_; }
  const TCommDataControl& DataControl() const { return dataControl_; }
  void SetDataControl(const TCommDataControl& value) { dataControl_.Assign(value); }
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(const std::string& value);
  TDTRSettings DTRSettings();
  void SetDTRSettings(TDTRSettings value);
  TCommEventChars& EventChars() { return eventChars_; }
  const TCommEventChars& EventChars() const { return eventChars_; }
  void SetEventChars(const TCommEventChars& value) { eventChars_.Assign(value); }
  TDeviceEvents MonitorEvents() const { return monitorEvents_; }
  void SetMonitorEvents(TDeviceEvents value) { monitorEvents_ = value; }
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl value);
  TCommOptions Options();
  void SetOptions(TCommOptions value);
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_ = value; }
  TCommTimeoutsEx& Timeouts() { return timeouts_; }
  const TCommTimeoutsEx& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TCommTimeoutsEx& value) { timeouts_.Assign(value); }
  TXOnXOffSettings XOnXOffSettings();
  void SetXOnXOffSettings(TXOnXOffSettings value);
  const TCommEvent& OnCommEvent() const { return onCommEvent_; }
  void SetOnCommEvent(TCommEvent value) { onCommEvent_ = std::move(value); }
  const TDataEvent& OnData() const { return onData_; }
  void SetOnData(TDataEvent value) { onData_ = std::move(value); }
  const TNotifyEvent& OnRead() const { return onRead_; }
  void SetOnRead(TNotifyEvent value) { onRead_ = std::move(value); }
  const TNotifyEvent& OnSend() const { return onSend_; }
  void SetOnSend(TNotifyEvent value) { onSend_ = std::move(value); }

 private:
  // Brings its own opener (the port on a device of the host's own, in the backend).
  friend class THostedComm;
  friend class TCommDataControl;
  friend class TCommBuffers;
  friend class TCommEventChars;
  friend class TCommTimeoutsEx;
  friend class TCommClient;
  friend class TCommEventThread;

  // The device in use while open (nullptr when closed).
  CommDevice* Device() const { return device_.get(); }

  // Applies the FlowControl preset (and coLeaveDTROpen) to the three handshake sets.
  void UpdateHandshake();
  struct THandshake {
    TRTSSettings rts;
    TDTRSettings dtr;
    TXOnXOffSettings xonXoff;
    TCommOptions options;
  };
  // The handshake sets and Options a device flags word stands for.
  THandshake HandshakeFromFlags(std::uint32_t flags) const;
  // What the open device runs (when it can be read), else what is held; nothing held changes.
  THandshake HandshakeNow() const;
  void BuildDCB(DCB& dcb) const;
  void StopMonitor();
  // Stops the monitor, lets queued output leave and closes the device.
  void ReleaseDevice();
  void ForbidInsideDelivery() const;

  std::unique_ptr<CommDevice> device_;
  // Opens the named device: the platform's, or the host's own (THostedComm).
  std::function<std::unique_ptr<CommDevice>(const std::string& name)> opener_;
  OpenFailureInfo openFailure_;

  TBaudRate baudRate_ = br9600;
  std::uint32_t baudValue_ = 9600;
  TCommBuffers buffers_{*this};
  TCommDataControl dataControl_{*this};
  std::string deviceName_ = "COM2";
  TDTRSettings dtrSettings_;
  TCommEventChars eventChars_{*this};
  TDeviceEvents monitorEvents_{deChar, deFlag, deOutEmpty};
  TFlowControl flowControl_ = fcNone;
  TCommOptions options_;
  TRTSSettings rtsSettings_;
  std::atomic<bool> synchronize_{true};
  TCommTimeoutsEx timeouts_{*this};
  TXOnXOffSettings xonXoffSettings_;
  TCommEvent onCommEvent_;
  TDataEvent onData_;
  TNotifyEvent onRead_;
  TNotifyEvent onSend_;

  std::unique_ptr<TCommEventThread> eventThread_;
  std::atomic<TMonitorState> monitorState_{msNotRunning};
  TDeviceLocks FLocks;
  std::vector<TCommClient*> clients_;
  std::atomic<bool> destroying_{false};
  // The thread running an event delivery of this port, if any: closing from inside a
  // handler would wait for the very thread that waits for the handler.
  std::atomic<std::thread::id> deliveringThread_{};
};

// The published component.
class TXComm : public TCustomComm {
 public:
  ~TXComm() override;

  using TCustomComm::BaudRate;
  using TCustomComm::BaudValue;
  using TCustomComm::Buffers;
  using TCustomComm::DataControl;
  using TCustomComm::DeviceName;
  using TCustomComm::DTRSettings;
  using TCustomComm::EventChars;
  using TCustomComm::FlowControl;
  using TCustomComm::MonitorEvents;
  using TCustomComm::OnCommEvent;
  using TCustomComm::OnData;
  using TCustomComm::OnRead;
  using TCustomComm::OnSend;
  using TCustomComm::Options;
  using TCustomComm::RTSSettings;
  using TCustomComm::SetBaudRate;
  using TCustomComm::SetBaudValue;
  using TCustomComm::SetBuffers;
  using TCustomComm::SetDataControl;
  using TCustomComm::SetDeviceName;
  using TCustomComm::SetDTRSettings;
  using TCustomComm::SetEventChars;
  using TCustomComm::SetFlowControl;
  using TCustomComm::SetMonitorEvents;
  using TCustomComm::SetOnCommEvent;
  using TCustomComm::SetOnData;
  using TCustomComm::SetOnRead;
  using TCustomComm::SetOnSend;
  using TCustomComm::SetOptions;
  using TCustomComm::SetRTSSettings;
  using TCustomComm::SetSynchronize;
  using TCustomComm::SetTimeouts;
  using TCustomComm::SetXOnXOffSettings;
  using TCustomComm::Synchronize;
  using TCustomComm::Timeouts;
  using TCustomComm::XOnXOffSettings;
};

// The largest driver queue size a setter accepts on this host.
std::uint16_t QueueSizeLimit();

// Milliseconds since an arbitrary start, 32 bits (wraps like GetTickCount).
std::uint32_t GetTickCount();

}  // namespace xcom
