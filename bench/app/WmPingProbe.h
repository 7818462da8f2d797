#pragma once
// Asks a window, from outside, whether it is alive, the way a window manager does: a
// _NET_WM_PING client message every `intervalMs`, sent to the window itself over a connection
// of the probe's own. The window answers by sending the message back to the root window, where
// the probe listens (substructure masks on the root). Each answer's time is noted against
// the probe it answers (the message's timestamp field carries the probe's number).
//
// The probe runs on a thread of its own from Start() for `durationMs`, then listens a further
// `graceMs` for late answers; Results() waits for that end.

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class WmPingProbe {
 public:
  struct Results {
    int sent = 0;
    std::vector<double> answerMs;  // one per answered probe, in the order they were sent
  };

  // Connects to the display of $DISPLAY; Error() says why when that or the window's
  // WM_PROTOCOLS fails (a window must advertise _NET_WM_PING to be pinged).
  explicit WmPingProbe(xcb_window_t window);
  ~WmPingProbe();
  WmPingProbe(const WmPingProbe&) = delete;
  WmPingProbe& operator=(const WmPingProbe&) = delete;

  const std::string& Error() const { return error_; }
  void Start(int intervalMs, int durationMs, int graceMs);
  Results Collect();

 private:
  using Clock = std::chrono::steady_clock;
  struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
  };

  xcb_atom_t Atom(const char* name);
  bool AdvertisesPing();
  bool ListenOnRoot();
  void Run(int intervalMs, int durationMs, int graceMs);
  void SendPing(std::uint32_t number);
  void TakeAnswers();

  std::unique_ptr<xcb_connection_t, Disconnect> connection_;
  xcb_window_t window_;
  xcb_window_t root_ = 0;
  xcb_atom_t wmProtocols_ = 0;
  xcb_atom_t netWmPing_ = 0;
  std::string error_;
  std::vector<Clock::time_point> sentAt_;
  std::vector<std::optional<Clock::time_point>> answeredAt_;
  std::thread thread_;
};
