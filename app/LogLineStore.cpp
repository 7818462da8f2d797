#include "LogLineStore.h"

#include <algorithm>
#include <cstring>

TLogLineStore::TLogLineStore() {
  lines_.emplace_back();
}

QString TLogLineStore::text(qsizetype line) const {
  const LineRef& ref = lines_[static_cast<std::size_t>(line)];
  if (ref.length == 0) return QString();
  return QString::fromUtf8(chunks_[ref.chunk].bytes.get() + ref.offset,
                           static_cast<qsizetype>(ref.length));
}

qsizetype TLogLineStore::length(qsizetype line) const {
  const LineRef& ref = lines_[static_cast<std::size_t>(line)];
  if (ref.length == 0) return 0;
  // The bytes came from QString::toUtf8, so they are well formed: every byte that is not a
  // continuation byte starts one code point, and four-byte sequences need a surrogate pair.
  const auto* bytes =
      reinterpret_cast<const unsigned char*>(chunks_[ref.chunk].bytes.get()) + ref.offset;
  qsizetype units = 0;
  for (std::uint32_t i = 0; i < ref.length; ++i) {
    const unsigned char byte = bytes[i];
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

TLogLineStore::LineRef TLogLineStore::Store(const QByteArray& utf8) {
  const auto size = static_cast<std::uint32_t>(utf8.size());
  if (size == 0) return LineRef{};
  if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < size) {
    // A line longer than a chunk gets a chunk of its own size.
    Chunk chunk;
    chunk.capacity = std::max(kChunkBytes, size);
    // Not zero-filled: pages are touched only as lines are written into them.
    chunk.bytes = std::make_unique_for_overwrite<char[]>(chunk.capacity);
    chunks_.push_back(std::move(chunk));
  }
  Chunk& chunk = chunks_.back();
  const LineRef ref{static_cast<std::uint32_t>(chunks_.size() - 1), chunk.used, size};
  std::memcpy(chunk.bytes.get() + chunk.used, utf8.constData(), size);
  chunk.used += size;
  return ref;
}

void TLogLineStore::Rewrite(LineRef& ref, const QByteArray& utf8) {
  const auto size = static_cast<std::uint32_t>(utf8.size());
  if (ref.length == 0) {
    ref = Store(utf8);
    return;
  }
  Chunk& chunk = chunks_[ref.chunk];
  const bool atTail = ref.offset + ref.length == chunk.used;
  if (size <= ref.length || (atTail && chunk.capacity - ref.offset >= size)) {
    // Shorter, or the newest bytes of the store with room after them: written where it was.
    if (size > 0) std::memcpy(chunk.bytes.get() + ref.offset, utf8.constData(), size);
    if (atTail) chunk.used = ref.offset + size;
    ref.length = size;
    if (size == 0) ref = LineRef{};
    return;
  }
  ref = Store(utf8);  // the old bytes stay behind unused; only edits by hand get here
}

void TLogLineStore::append(QStringView line) {
  if (isEmpty())
    lines_.front() = Store(line.toUtf8());
  else
    lines_.push_back(Store(line.toUtf8()));
}

void TLogLineStore::setText(qsizetype line, QStringView text) {
  Rewrite(lines_[static_cast<std::size_t>(line)], text.toUtf8());
}

void TLogLineStore::insert(qsizetype at, const QStringList& lines) {
  std::vector<LineRef> refs;
  refs.reserve(static_cast<std::size_t>(lines.size()));
  for (const QString& line : lines) refs.push_back(Store(line.toUtf8()));
  lines_.insert(lines_.begin() + at, refs.begin(), refs.end());
}

void TLogLineStore::remove(qsizetype first, qsizetype n) {
  lines_.erase(lines_.begin() + first, lines_.begin() + first + n);
  if (lines_.empty()) lines_.emplace_back();
}

std::size_t TLogLineStore::bytesInUse() const {
  std::size_t bytes = lines_.size() * sizeof(LineRef);
  for (const Chunk& chunk : chunks_) bytes += chunk.used;
  return bytes;
}

bool IsLineBreak(QChar c) {
  return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

QStringList SplitAtLineBreaks(QStringView text) {
  QStringList lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (!IsLineBreak(text[i])) continue;
    lines.append(text.mid(start, i - start).toString());
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  lines.append(text.mid(start).toString());
  return lines;
}
