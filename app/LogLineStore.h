#pragma once
// The log pane's text as lines, apart from the view that lays out and paints them.
//
// A day of auto-read is some 400,000 lines, so the text is not kept in a QTextDocument (about
// 600 bytes a line): each line is UTF-8 in large chunks with a 12-byte index entry.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// The lines of the log: never fewer than one (an empty text is one empty line). Each line is
// stored once as UTF-8 in 1 MiB chunks; a line that is changed is written again at the end of
// the store unless it fits where it was.
class TLogLineStore {
 public:
  TLogLineStore();
  TLogLineStore(const TLogLineStore&) = delete;
  TLogLineStore& operator=(const TLogLineStore&) = delete;

  qsizetype count() const { return static_cast<qsizetype>(lines_.size()); }
  QString text(qsizetype line) const;
  bool isEmpty() const { return lines_.size() == 1 && lines_.front().length == 0; }

  // Appends `line` after the last line; an empty store takes it as its first line.
  void append(QStringView line);
  void setText(qsizetype line, QStringView text);
  // Inserts `lines` before line `at` (at == count() appends).
  void insert(qsizetype at, const QStringList& lines);
  // Removes `n` lines from `first` on; removing every line leaves one empty line.
  void remove(qsizetype first, qsizetype n);

  // The length of `line` in UTF-16 code units, without decoding it.
  qsizetype length(qsizetype line) const;

  // Bytes held for the lines: the chunks' used bytes plus the index.
  std::size_t bytesInUse() const;

  static constexpr std::uint32_t kChunkBytes = 1u << 20;

 private:
  struct LineRef {
    std::uint32_t chunk = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;  // bytes
  };
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::uint32_t capacity = 0;
    std::uint32_t used = 0;
  };

  LineRef Store(const QByteArray& utf8);
  void Rewrite(LineRef& ref, const QByteArray& utf8);

  std::vector<Chunk> chunks_;
  std::deque<LineRef> lines_;
};

// A line break of a plain text edit: LF, CR, and the Unicode line and paragraph separators.
bool IsLineBreak(QChar c);

// Splits text at its line breaks (CR LF, CR, LF, and the Unicode line and paragraph
// separators), as a plain text edit does when text is inserted.
QStringList SplitAtLineBreaks(QStringView text);
