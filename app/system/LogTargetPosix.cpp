#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

#include "LogTarget.h"
#include "LogTargetKind.h"

namespace {

// The kernel's own file systems: their "files" are settings and views of the running system
// (writing /proc/self/comm renames the process, /proc/sys/kernel/hostname the machine).
constexpr unsigned long kKernelFileSystems[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0xcafe4a11,  // bpf
    0x6165676c,  // pstore
    0xde5e81e4,  // efivarfs
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0xf97cff8c,  // selinuxfs
    0x43415d53,  // smackfs
    0x42494e4d,  // binfmt_misc
    0x1cd1,      // devpts
};

bool OnKernelFileSystem(int fd) {
  struct statfs system {};
  if (::fstatfs(fd, &system) != 0) return true;  // unknown counts as refused
  for (const unsigned long type : kKernelFileSystems)
    if (static_cast<unsigned long>(system.f_type) == type) return true;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The standard output or error under any of its names (/dev/stdout, /proc/self/fd/2, the
// terminal or pipe it is).
bool IsStandardStream(const struct stat& opened) {
  for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat standard {};
    if (::fstat(stream, &standard) == 0 && SameFile(opened, standard)) return true;
  }
  return false;
}

TLogTargetKind KindOf(int fd, const struct stat& opened) {
  const bool regular = S_ISREG(opened.st_mode);
  if (regular && !OnKernelFileSystem(fd)) return TLogTargetKind::DiskFile;
  if (IsStandardStream(opened) || S_ISFIFO(opened.st_mode)) return TLogTargetKind::PipeOrStream;
  return regular ? TLogTargetKind::KernelSetting : TLogTargetKind::Device;
}

}  // namespace

TLogTarget::TLogTarget(const QString& path, TUse use) {
  // A reader that goes away is a failed write to report, not the end of the program; a file
  // grown past the size limit a disk full to wait out.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  const QByteArray name = QFile::encodeName(path);
  const int flags =
      O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (use == TUse::Append ? O_APPEND | O_CREAT : 0);
  const int fd = ::open(name.constData(), flags, 0644);
  if (fd < 0) {
    const int error = errno;
    struct stat named {};
    // Nothing to replace yet; a FIFO without a reader refuses a writer that will not wait.
    if (use == TUse::Replace && error == ENOENT) return;
    const bool fifo = ::stat(name.constData(), &named) == 0 && S_ISFIFO(named.st_mode);
    refusal_ = error == ENXIO && fifo ? FileErrorText(EPIPE) : FileErrorText(error);
    return;
  }
  struct stat opened {};
  refusal_ = ::fstat(fd, &opened) == 0 ? RefusalOf(KindOf(fd, opened), use) : FileErrorText(errno);
  if (!refusal_.isEmpty()) {
    ::close(fd);
    return;
  }
  handle_ = fd;
  regularFile_ = S_ISREG(opened.st_mode);
}

TLogTarget::~TLogTarget() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
}

TLogTarget::TWritten TLogTarget::Write(const QByteArray& bytes, std::size_t& taken, QString& why) {
  const int fd = static_cast<int>(handle_);
  taken = 0;
  struct stat before {};
  if (regularFile_ && ::fstat(fd, &before) != 0) before.st_size = -1;
  while (taken < std::size_t(bytes.size())) {
    const ssize_t n = ::write(fd, bytes.constData() + taken, std::size_t(bytes.size()) - taken);
    if (n > 0) {
      taken += std::size_t(n);
      continue;
    }
    const int error = n < 0 ? errno : ENOSPC;
    if (error == EINTR) continue;
    const bool noRoom = error == ENOSPC || error == EDQUOT || error == EFBIG || error == EAGAIN;
    // A block cut short leaves no piece of a line behind in a file.
    if (noRoom && regularFile_ && taken > 0 && before.st_size >= 0 &&
        ::ftruncate(fd, before.st_size) == 0)
      taken = 0;
    why = FileErrorText(error);
    return noRoom ? TWritten::NoRoomYet : TWritten::Failed;
  }
  return TWritten::All;
}

bool TLogTarget::Deleted() const {
  struct stat opened {};
  return regularFile_ && ::fstat(static_cast<int>(handle_), &opened) == 0 && opened.st_nlink == 0;
}

QString FileErrorText(int systemError) {
  switch (systemError) {
    case ENOENT:
      return QStringLiteral("文件夹不存在");
    case EACCES:
    case EPERM:
      return QStringLiteral("没有写入权限");
    case EROFS:
      return QStringLiteral("文件系统只读");
    case EISDIR:
      return QStringLiteral("它是一个文件夹");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return QStringLiteral("磁盘已满");
    case EPIPE:
      return QStringLiteral("读取端已关闭");
    case EAGAIN:
      return QStringLiteral("读取端还没有读走之前的行");
    case ELOOP:
      return QStringLiteral("符号链接循环");
    case ENAMETOOLONG:
      return QStringLiteral("路径太长");
    default:
      return QStringLiteral("系统错误 %1（%2）")
          .arg(systemError)
          .arg(QString::fromLocal8Bit(std::strerror(systemError)));
  }
}
