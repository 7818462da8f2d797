#pragma once
// The file a log is written to, reached through the handle that was opened and checked, never
// again through its name: what a name leads to can change between a check and an open. Only a
// regular file on a disk's file system takes a log, or a FIFO (a named pipe), or the standard
// output or error; the kernel's settings that look like files (/proc, /sys and the like),
// terminals such as a module's own line, and other devices never do.
//
// The open neither waits (a FIFO without a reader, a terminal waiting for its carrier) nor makes
// a terminal the program's controlling terminal, so nothing happens to what is refused.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

class TLogTarget {
 public:
  enum class TUse {
    Append,  // --log-file: appended to, created when missing
    Replace  // the save: an existing target is only checked (the save writes a new file)
  };
  // What a write achieved.
  enum class TWritten {
    All,
    NoRoomYet,  // a full disk or a full pipe (`why` says which): nothing of a file's block
                // was kept, try later
    Failed      // `why` says why; nothing more can be written
  };

  TLogTarget(const QString& path, TUse use);
  ~TLogTarget();
  TLogTarget(const TLogTarget&) = delete;
  TLogTarget& operator=(const TLogTarget&) = delete;

  // False when the target could not be opened or is not one that takes a log; then Refusal()
  // says why. A Replace target that does not exist yet is no refusal, and IsOpen() is false.
  bool IsOpen() const { return handle_ != kNoHandle; }
  const QString& Refusal() const { return refusal_; }

  // Writes `bytes` at the end. A regular file keeps all of them or none (a block cut short by a
  // full disk is cut off again); a pipe may take a part, counted in `taken`.
  TWritten Write(const QByteArray& bytes, std::size_t& taken, QString& why);

  // The file lost its last name while open (deleted or replaced): what is written goes nowhere.
  bool Deleted() const;

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
  bool regularFile_ = false;
  QString refusal_;
};

// Why a file operation failed, in the window's language and without a closing full stop: the
// common causes by name, any other by the system's number.
QString FileErrorText(int systemError);
