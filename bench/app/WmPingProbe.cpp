#include "WmPingProbe.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

}  // namespace

WmPingProbe::WmPingProbe(xcb_window_t window) : window_(window) {
  int screenNumber = 0;
  connection_.reset(xcb_connect(nullptr, &screenNumber));
  if (xcb_connection_has_error(connection_.get()) != 0) {
    error_ = "cannot connect to the X display";
    return;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_.get()));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
  root_ = screens.data->root;
  wmProtocols_ = Atom("WM_PROTOCOLS");
  netWmPing_ = Atom("_NET_WM_PING");
  if (!AdvertisesPing()) {
    error_ = "the window does not list _NET_WM_PING in its WM_PROTOCOLS";
    return;
  }
  if (!ListenOnRoot()) error_ = "cannot listen on the root window";
}

// The window sends its answer to the root window for the substructure listeners, and the X
// server hands an event sent with the redirect mask only to the one client that selected it:
// without a window manager that is this probe. Where a window manager holds the redirect, the
// probe listens for notify alone.
bool WmPingProbe::ListenOnRoot() {
  for (const std::uint32_t mask :
       {std::uint32_t{XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT},
        std::uint32_t{XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY}}) {
    ReplyPtr<xcb_generic_error_t> failed(
        xcb_request_check(connection_.get(),
                          xcb_change_window_attributes_checked(connection_.get(), root_,
                                                               XCB_CW_EVENT_MASK, &mask)),
        &std::free);
    if (!failed) return true;
  }
  return false;
}

WmPingProbe::~WmPingProbe() {
  if (thread_.joinable()) thread_.join();
}

xcb_atom_t WmPingProbe::Atom(const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection_.get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_.get(), cookie, nullptr),
                                          &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool WmPingProbe::AdvertisesPing() {
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection_.get(), 0, window_, wmProtocols_, XCB_ATOM_ATOM, 0, 32);
  ReplyPtr<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection_.get(), cookie, nullptr), &std::free);
  if (!reply || reply->format != 32) return false;
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  return std::find(atoms, atoms + count, netWmPing_) != atoms + count;
}

void WmPingProbe::Start(int intervalMs, int durationMs, int graceMs) {
  thread_ = std::thread([=, this] { Run(intervalMs, durationMs, graceMs); });
}

WmPingProbe::Results WmPingProbe::Collect() {
  if (thread_.joinable()) thread_.join();
  Results results;
  results.sent = static_cast<int>(sentAt_.size());
  for (std::size_t i = 0; i < sentAt_.size(); ++i)
    if (answeredAt_[i])
      results.answerMs.push_back(
          std::chrono::duration<double, std::milli>(*answeredAt_[i] - sentAt_[i]).count());
  return results;
}

void WmPingProbe::Run(int intervalMs, int durationMs, int graceMs) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point stopSending = start + std::chrono::milliseconds(durationMs);
  const Clock::time_point end = stopSending + std::chrono::milliseconds(graceMs);
  Clock::time_point nextPing = start;
  pollfd input{xcb_get_file_descriptor(connection_.get()), POLLIN, 0};
  while (Clock::now() < end) {
    if (Clock::now() >= nextPing && nextPing < stopSending) {
      SendPing(static_cast<std::uint32_t>(sentAt_.size()));
      nextPing += std::chrono::milliseconds(intervalMs);
    }
    const Clock::time_point wakeUp = nextPing < stopSending ? nextPing : end;
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wakeUp - Clock::now());
    ::poll(&input, 1, static_cast<int>(std::max<long long>(waitMs.count(), 0)));
    TakeAnswers();
  }
}

void WmPingProbe::SendPing(std::uint32_t number) {
  xcb_client_message_event_t ping{};
  ping.response_type = XCB_CLIENT_MESSAGE;
  ping.format = 32;
  ping.window = window_;
  ping.type = wmProtocols_;
  ping.data.data32[0] = netWmPing_;
  ping.data.data32[1] = number + 1;  // the timestamp field: the window sends it back unchanged
  ping.data.data32[2] = window_;
  sentAt_.push_back(Clock::now());
  answeredAt_.emplace_back();
  xcb_send_event(connection_.get(), 0, window_, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&ping));
  xcb_flush(connection_.get());
}

void WmPingProbe::TakeAnswers() {
  while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_.get())) {
    const Clock::time_point now = Clock::now();
    ReplyPtr<xcb_generic_event_t> event(raw, &std::free);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) continue;
    const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(raw);
    if (answer->type != wmProtocols_ || answer->data.data32[0] != netWmPing_ ||
        answer->data.data32[2] != window_)
      continue;
    const std::uint32_t number = answer->data.data32[1] - 1;
    if (number < answeredAt_.size() && !answeredAt_[number]) answeredAt_[number] = now;
  }
}
