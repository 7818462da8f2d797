#pragma once
// The synchronised call: a worker thread hands a routine to the main thread and blocks until
// the main thread has run it. The main thread runs queued routines in CheckSynchronize(), which
// the application calls when its event loop is woken through the wake hook (a GUI posts an
// event into its own loop), and while it waits for a worker thread to end (WaitServing).

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace xcom {

class Synchronizer {
 public:
  static Synchronizer& Instance();

  // Called from the queuing thread each time a routine is queued; it must only wake the main
  // thread's event loop (thread-safe, quick). Empty: nothing is woken.
  void SetWakeHook(std::function<void()> hook);

  // How the main thread waits a moment inside a long operation of a port (connecting to a
  // serial device server): a window keeps answering its window system this way. Empty: the
  // operation waits in one piece.
  void SetMainThreadWait(std::function<void(int milliseconds)> wait);
  // Whether the calling thread is the main thread and a wait is set.
  bool HasMainThreadWait() const;
  // On the main thread with a wait set: runs it and answers true. Otherwise answers false.
  bool MainThreadWait(int milliseconds);

  // The thread that serves queued routines; by default the first thread that used this object.
  void SetMainThread(std::thread::id id);
  bool IsMainThread() const;

  // Runs `call` on the main thread and waits for it. On the main thread itself it runs at once.
  // An exception raised by `call` is raised again here, in the calling thread.
  void Synchronize(const std::function<void()>& call);

  // Main thread: runs every routine queued so far. True when at least one ran.
  bool CheckSynchronize();

  // Main thread: waits until `done()` holds, running queued routines meanwhile. Whoever makes
  // `done()` true must call Notify() afterwards.
  void WaitServing(const std::function<bool()>& done);
  void Notify();

 private:
  Synchronizer();
  struct Pending {
    const std::function<void()>* call;
    bool finished = false;
    std::exception_ptr error;
  };

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> queue_;
  std::function<void()> wakeHook_;
  std::function<void(int)> mainThreadWait_;
  std::thread::id mainThread_;
};

}  // namespace xcom
