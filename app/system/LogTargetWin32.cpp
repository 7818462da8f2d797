// Lean, without the min and max macros: see app/CMakeLists.txt.
#include <windows.h>

#include <QDir>

#include "LogTarget.h"
#include "LogTargetKind.h"

namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

TLogTargetKind KindOf(HANDLE handle) {
  const DWORD type = ::GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool file = type == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &information) &&
                    (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (file) return TLogTargetKind::DiskFile;
  return type == FILE_TYPE_PIPE ? TLogTargetKind::PipeOrStream : TLogTargetKind::Device;
}

}  // namespace

TLogTarget::TLogTarget(const QString& path, TUse use) {
  const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
  // Shared for deleting, so that a deleted log is noticed rather than the delete refused.
  const HANDLE handle = ::CreateFileW(
      name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      use == TUse::Append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (use == TUse::Replace && error == ERROR_FILE_NOT_FOUND) return;
    refusal_ = FileErrorText(static_cast<int>(error));
    return;
  }
  refusal_ = RefusalOf(KindOf(handle), use);
  if (!refusal_.isEmpty()) {
    ::CloseHandle(handle);
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  regularFile_ = ::GetFileType(handle) == FILE_TYPE_DISK;
}

TLogTarget::~TLogTarget() {
  if (IsOpen()) ::CloseHandle(AsHandle(handle_));
}

TLogTarget::TWritten TLogTarget::Write(const QByteArray& bytes, std::size_t& taken, QString& why) {
  const HANDLE handle = AsHandle(handle_);
  taken = 0;
  LARGE_INTEGER end{};
  if (regularFile_ && !::SetFilePointerEx(handle, LARGE_INTEGER{}, &end, FILE_END))
    end.QuadPart = -1;
  while (taken < std::size_t(bytes.size())) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::size_t(bytes.size()) - taken);
    const BOOL ok = ::WriteFile(handle, bytes.constData() + taken, size, &written, nullptr);
    taken += written;
    if (ok && written > 0) continue;
    const DWORD error = ok ? ERROR_DISK_FULL : ::GetLastError();
    const bool noRoom = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    // A block cut short leaves no piece of a line behind in a file.
    if (noRoom && regularFile_ && taken > 0 && end.QuadPart >= 0 &&
        ::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle))
      taken = 0;
    why = FileErrorText(static_cast<int>(error));
    return noRoom ? TWritten::NoRoomYet : TWritten::Failed;
  }
  return TWritten::All;
}

bool TLogTarget::Deleted() const {
  FILE_STANDARD_INFO information{};
  return regularFile_ &&
         ::GetFileInformationByHandleEx(AsHandle(handle_), FileStandardInfo, &information,
                                        sizeof information) &&
         (information.DeletePending || information.NumberOfLinks == 0);
}

QString FileErrorText(int systemError) {
  switch (static_cast<DWORD>(systemError)) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return QStringLiteral("文件夹不存在");
    case ERROR_ACCESS_DENIED:
      return QStringLiteral("没有写入权限");
    case ERROR_WRITE_PROTECT:
      return QStringLiteral("磁盘写保护");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return QStringLiteral("磁盘已满");
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE:
      return QStringLiteral("读取端已关闭");
    case ERROR_SHARING_VIOLATION:
      return QStringLiteral("文件正被其他程序使用");
    case ERROR_INVALID_NAME:
      return QStringLiteral("文件名无效");
    default:
      return QStringLiteral("系统错误 %1").arg(systemError);
  }
}
