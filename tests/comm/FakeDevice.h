#pragma once
// A recording stand-in for the platform device: it keeps what the component wrote, answers
// queries from fields a test sets, and produces driver events on request.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommDevice.h"
#include "HostedComm.h"
#include "XAsync.h"
#include "XComDrv.h"

namespace xcom::testing {

struct FakeDeviceState {
  std::mutex mutex;
  std::condition_variable changed;
  // What the component wrote.
  std::vector<DCB> dcbs;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> setups;
  std::vector<std::uint32_t> purges;
  std::vector<COMMTIMEOUTS> timeouts;
  std::vector<std::uint32_t> masks;
  std::vector<std::uint32_t> writeSizes;  // the size of every write attempt
  xcom::ByteString written;
  // What the device answers.
  bool refuseState = false;
  bool refuseSetup = false;
  bool refuseTimeouts = false;
  bool failQueries = false;
  std::uint32_t deviceBaud = 0;  // non-zero: GetCommState reports this rate
  std::uint32_t outQueue = 0;
  std::uint32_t acceptPerWrite = 0xFFFFFFFF;  // bytes taken per write (0: the line never drains)
  xcom::ByteString input;
  std::deque<std::uint32_t> events;
  bool lost = false;
  std::vector<std::uint32_t> drains;  // the time given to each drain before the close
  int closed = 0;
};

class FakeDevice : public CommDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeDeviceState> state) : s_(std::move(state)) {}
  ~FakeDevice() override {
    std::lock_guard lock(s_->mutex);
    ++s_->closed;
  }

  bool SetCommState(const DCB& dcb) override {
    std::lock_guard lock(s_->mutex);
    if (s_->refuseState) return false;
    s_->dcbs.push_back(dcb);
    return true;
  }
  bool GetCommState(DCB& dcb) override {
    std::lock_guard lock(s_->mutex);
    if (s_->failQueries || s_->dcbs.empty()) return false;
    dcb = s_->dcbs.back();
    if (s_->deviceBaud != 0) dcb.BaudRate = s_->deviceBaud;
    return true;
  }
  bool SetupComm(std::uint32_t in, std::uint32_t out) override {
    std::lock_guard lock(s_->mutex);
    if (s_->refuseSetup) return false;
    s_->setups.emplace_back(in, out);
    return true;
  }
  bool PurgeComm(std::uint32_t flags) override {
    std::lock_guard lock(s_->mutex);
    s_->purges.push_back(flags);
    s_->input.clear();
    return true;
  }
  bool SetCommTimeouts(const COMMTIMEOUTS& t) override {
    std::lock_guard lock(s_->mutex);
    if (s_->refuseTimeouts) return false;
    s_->timeouts.push_back(t);
    return true;
  }
  bool GetCommTimeouts(COMMTIMEOUTS& t) override {
    std::lock_guard lock(s_->mutex);
    if (s_->failQueries || s_->timeouts.empty()) return false;
    t = s_->timeouts.back();
    return true;
  }
  bool GetCommProperties(COMMPROP& p) override {
    std::lock_guard lock(s_->mutex);
    if (s_->failQueries) return false;
    std::memset(&p, 0, sizeof p);
    if (!s_->setups.empty()) {
      p.dwCurrentRxQueue = s_->setups.back().first;
      p.dwCurrentTxQueue = s_->setups.back().second;
    }
    return true;
  }
  bool ClearCommError(std::uint32_t& errors, COMSTAT& status) override {
    std::lock_guard lock(s_->mutex);
    errors = 0;
    if (s_->failQueries) return false;
    status.cbInQue = static_cast<std::uint32_t>(s_->input.size());
    status.cbOutQue = s_->outQueue;
    return true;
  }
  bool SetCommMask(std::uint32_t mask) override {
    std::lock_guard lock(s_->mutex);
    s_->masks.push_back(mask);
    s_->changed.notify_all();
    return true;
  }
  std::uint32_t WriteOverlapped(const std::uint8_t* buffer, std::uint32_t count) override {
    std::lock_guard lock(s_->mutex);
    s_->writeSizes.push_back(count);
    const std::uint32_t n = std::min(count, s_->acceptPerWrite);
    s_->written.insert(s_->written.end(), buffer, buffer + n);
    return n;
  }
  std::uint32_t ReadOverlapped(std::uint8_t* buffer, std::uint32_t count) override {
    std::lock_guard lock(s_->mutex);
    const std::uint32_t n =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(s_->input.size()));
    std::copy_n(s_->input.begin(), n, buffer);
    s_->input.erase(s_->input.begin(), s_->input.begin() + n);
    return n;
  }
  WaitOutcome WaitCommEvent(StopSignal& stop, std::uint32_t& mask) override {
    std::unique_lock lock(s_->mutex);
    for (;;) {
      if (stop.IsSet()) return WaitOutcome::Stopped;
      if (!s_->events.empty()) {
        mask = s_->events.front();
        s_->events.pop_front();
        return mask == 0xFFFFFFFF ? WaitOutcome::Failed : WaitOutcome::Events;
      }
      // The stop signal is a platform object; look at it again every millisecond.
      s_->changed.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
  void WaitForInput(std::uint32_t) override {}
  void WaitForOutputRoom(std::uint32_t) override {}
  void DrainOutput(std::uint32_t milliseconds) override {
    std::lock_guard lock(s_->mutex);
    s_->drains.push_back(milliseconds);
  }
  bool DeviceLost() const override {
    std::lock_guard lock(s_->mutex);
    return s_->lost;
  }

 private:
  std::shared_ptr<FakeDeviceState> s_;
};

// A port whose devices are FakeDevices sharing one state; names listed in `missing` fail.
struct FakePort {
  std::shared_ptr<FakeDeviceState> state = std::make_shared<FakeDeviceState>();
  std::vector<std::string> openedNames;
  THostedComm port{[this](const std::string& name) -> std::unique_ptr<CommDevice> {
    openedNames.push_back(name);
    if (name == "missing") return nullptr;
    return std::make_unique<FakeDevice>(state);
  }};

  void Inject(std::uint32_t events, const xcom::ByteString& bytes = {}) {
    {
      std::lock_guard lock(state->mutex);
      state->input.insert(state->input.end(), bytes.begin(), bytes.end());
      state->events.push_back(events);
    }
    state->changed.notify_all();
  }
  DCB LastDCB() {
    std::lock_guard lock(state->mutex);
    return state->dcbs.back();
  }
  std::size_t DCBWrites() {
    std::lock_guard lock(state->mutex);
    return state->dcbs.size();
  }
};

}  // namespace xcom::testing
