// The log pane on its own: the line store against a plain list of strings, appending whole
// lines, wrapping, the view that follows the end, typing, selection and copy, input methods,
// painting only what is on screen, and the memory a day of lines takes.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "AppTestSupport.h"
#include "Appearance.h"
#include "LogPane.h"
#include "LogPaneAccessible.h"
#include "LogTimeStamp.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RTUTEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RTUTEST_SANITIZED 1
#endif
#endif

namespace {

using TTextPos = TLogPane::TTextPos;

using testsupport::ResidentKiB;

// The eight lines one read-all writes.
QStringList ReadAllLines() {
  QStringList lines;
  for (const std::string& line : testsupport::ReadAllLogLines(LogTimeStamp().toStdString()))
    lines << QString::fromStdString(line);
  return lines;
}

QString RandomLine(QRandomGenerator& random) {
  static const QString pieces[] = {QStringLiteral("64 03 "),  QStringLiteral("接收："),
                                   QStringLiteral("DI1=01 "), QStringLiteral("😀"),
                                   QStringLiteral(" "),       QStringLiteral("x")};
  QString line;
  const int n = random.bounded(0, 40);
  for (int i = 0; i < n; ++i) line += pieces[random.bounded(0, 6)];
  return line;
}

void Wheel(TLogPane& pane, int steps) {
  const QPointF at(20, 20);
  QWheelEvent wheel(at, pane.viewport()->mapToGlobal(at), QPoint(),
                    QPoint(0, steps * QWheelEvent::DefaultDeltasPerStep), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(pane.viewport(), &wheel);
}

void MouseDragTo(TLogPane& pane, QPoint to) {
  QMouseEvent move(QEvent::MouseMove, to, pane.viewport()->mapToGlobal(to), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pane.viewport(), &move);
}

}  // namespace

class LogPaneTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> host_;
  TLogPane* pane_ = nullptr;

  // A pane of the window's log size (633 x 102) in a host with the window's font.
  void ShowPane(int width = 633, int height = 102) {
    host_ = std::make_unique<QWidget>();
    host_->setFont(WindowFont());
    auto* layout = new QVBoxLayout(host_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    InstallLogPaneAccessibility();  // as the window does
    pane_ = new TLogPane(host_.get());
    layout->addWidget(pane_);
    host_->resize(width, height);
    host_->show();
    host_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(host_.get()));
    pane_->setFocus();
  }

  void AppendNumbered(int from, int to) {
    for (int i = from; i < to; ++i) pane_->AppendLine(QStringLiteral("line %1").arg(i));
  }

 private slots:
  void cleanup() {
    host_.reset();
    pane_ = nullptr;
  }

  // ---- the store -------------------------------------------------------------------------

  void storeMatchesAListOfStringsThroughEdits() {
    QRandomGenerator random(20240611);
    TLogLineStore store;
    QStringList model{QString()};
    const auto compare = [&] {
      QCOMPARE(store.count(), model.size());
      for (qsizetype i = 0; i < model.size(); ++i) {
        QCOMPARE(store.text(i), model[i]);
        QCOMPARE(store.length(i), model[i].size());
      }
    };
    for (int step = 0; step < 6000; ++step) {
      const QString line = RandomLine(random);
      const qsizetype at = random.bounded(0, static_cast<int>(model.size()));
      switch (random.bounded(0, 6)) {
        case 0:
        case 1:  // the common case
          store.append(line);
          if (model.size() == 1 && model[0].isEmpty())
            model[0] = line;
          else
            model.append(line);
          break;
        case 2:  // longer, shorter, or the same text
          store.setText(at, line);
          model[at] = line;
          break;
        case 3: {
          const QStringList lines{line, RandomLine(random)};
          store.insert(at, lines);
          model.insert(at, lines[1]);
          model.insert(at, lines[0]);
          break;
        }
        case 4: {
          const qsizetype n = std::min<qsizetype>(random.bounded(1, 4), model.size() - at);
          store.remove(at, n);
          model.remove(at, n);
          if (model.isEmpty()) model.append(QString());
          break;
        }
        case 5:  // the newest line typed into twice: rewritten where it stands
          store.setText(store.count() - 1, model.back() + line);
          model.back() += line;
          store.setText(store.count() - 1, model.back() + QStringLiteral("!"));
          model.back() += QStringLiteral("!");
          break;
      }
      if (step % 500 == 0) compare();
    }
    compare();
    // A line longer than a chunk gets one of its own, and the lines around it stay intact.
    const QString huge(static_cast<qsizetype>(TLogLineStore::kChunkBytes) + 10, QLatin1Char('7'));
    store.append(huge);
    store.append(QStringLiteral("after"));
    model.append(huge);
    model.append(QStringLiteral("after"));
    compare();
    store.remove(0, store.count());
    QCOMPARE(store.count(), 1);
    QVERIFY(store.isEmpty());
  }

  void lineBreaksSplitLikeAPlainTextEdit() {
    QCOMPARE(SplitAtLineBreaks(u"a"), QStringList{"a"});
    QCOMPARE(SplitAtLineBreaks(u""), QStringList{""});
    QCOMPARE(SplitAtLineBreaks(u"a\nb\r\nc\rd\u2029e\u2028f"),
             (QStringList{"a", "b", "c", "d", "e", "f"}));
    QCOMPARE(SplitAtLineBreaks(u"\r\n"), (QStringList{"", ""}));
    QCOMPARE(SplitAtLineBreaks(u"\n\r"), (QStringList{"", "", ""}));
  }

  // ---- appending ---------------------------------------------------------------------------

  void appendAddsWholeLinesAtTheEnd() {
    TLogPane pane;
    QSignalSpy counts(&pane, &TLogPane::lineCountChanged);
    QVERIFY(pane.toPlainText().isEmpty());
    QCOMPARE(pane.lineCount(), 1);
    pane.AppendLine(QStringLiteral("12:00:00 发送：64 03 00 10 00 02 CC 3B "));
    QCOMPARE(pane.lineCount(), 1);  // the empty pane's one line takes it
    QCOMPARE(counts.size(), 0);
    pane.AppendLine(QStringLiteral("DI1=01 "));
    pane.AppendLine(QString());
    pane.AppendLine(QStringLiteral("CRC校验失败！"));
    QCOMPARE(pane.toPlainText(), QStringLiteral("12:00:00 发送：64 03 00 10 00 02 CC 3B \n"
                                                "DI1=01 \n\nCRC校验失败！"));
    QCOMPARE(counts.size(), 3);
    QCOMPARE(counts.back().front().value<qsizetype>(), 4);
    // Text with line breaks in it arrives as several lines.
    pane.AppendLine(QStringLiteral("a\r\nb"));
    QCOMPARE(pane.lineCount(), 6);
    QCOMPARE(pane.lineText(4), QStringLiteral("a"));
    QCOMPARE(pane.lineText(5), QStringLiteral("b"));
    // Into an empty pane, a leading break still gives an empty first line.
    TLogPane other;
    other.AppendLine(QStringLiteral("\nX"));
    QCOMPARE(other.toPlainText(), QStringLiteral("\nX"));
  }

  void wrapsLongLinesAtItsWidth() {
    ShowPane(300, 102);
    pane_->AppendLine(QStringLiteral("DI1=01 "));
    QString hex;
    for (int i = 0; i < 40; ++i) hex += QStringLiteral("9E ");
    pane_->AppendLine(hex);
    pane_->AppendLine(QString(200, QLatin1Char('F')));  // no blank to break at: broken anywhere
    QCOMPARE(pane_->visualRowCount(0), 1);
    const int hexRows = pane_->visualRowCount(1);
    QVERIFY2(hexRows >= 3, qPrintable(QString::number(hexRows)));
    QVERIFY(pane_->visualRowCount(2) >= 3);
    host_->resize(900, 102);
    QTRY_VERIFY(pane_->visualRowCount(1) < hexRows);
    QCOMPARE(pane_->lineCount(), 3);  // wrapping changes no line
  }

  // ---- the view ----------------------------------------------------------------------------

  void viewFollowsAppendsWhileTheEndIsInView() {
    ShowPane();
    AppendNumbered(0, 100);
    QVERIFY(pane_->followsEnd());
    QTRY_VERIFY(pane_->firstVisibleLine() >= 94);
    const QRect end = pane_->caretRect();  // the caret moved on with the lines
    QCOMPARE(pane_->caretPosition(), (TTextPos{99, 7}));
    QVERIFY(pane_->viewport()->rect().contains(end));

    // The operator scrolls up: the view stays put while lines keep coming.
    Wheel(*pane_, 2);
    QVERIFY(!pane_->followsEnd());
    const qsizetype kept = pane_->firstVisibleLine();
    QVERIFY(kept < 94);
    AppendNumbered(100, 150);
    QCOMPARE(pane_->firstVisibleLine(), kept);
    QVERIFY(!pane_->followsEnd());

    // Back down with the wheel: following again.
    Wheel(*pane_, -100);
    QVERIFY(pane_->followsEnd());
    AppendNumbered(150, 160);
    QVERIFY(pane_->firstVisibleLine() >= 154);

    // Page up leaves the end; Ctrl+End returns to it.
    QTest::keyClick(pane_, Qt::Key_PageUp);
    QVERIFY(!pane_->followsEnd());
    QVERIFY(pane_->firstVisibleLine() < 154);
    QTest::keyClick(pane_, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(pane_->followsEnd());
    // Ctrl+Home shows the first line; page down all the way follows again.
    QTest::keyClick(pane_, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(pane_->firstVisibleLine(), 0);
    for (int i = 0; i < 60 && !pane_->followsEnd(); ++i) QTest::keyClick(pane_, Qt::Key_PageDown);
    QVERIFY(pane_->followsEnd());
  }

  void caretAtTheEndMovesOnWithAppendsAndStaysElsewhere() {
    ShowPane();
    AppendNumbered(0, 3);
    QCOMPARE(pane_->caretPosition(), (TTextPos{2, 6}));
    // Moved up: it stays where the operator put it.
    QTest::keyClick(pane_, Qt::Key_Up);
    QCOMPARE(pane_->caretPosition(), (TTextPos{1, 6}));
    AppendNumbered(3, 5);
    QCOMPARE(pane_->caretPosition(), (TTextPos{1, 6}));
    // A selection up to the end stays as it is; one made backwards from the end grows with
    // the text, as its anchor sits at the end.
    QTest::keyClick(pane_, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    AppendNumbered(5, 6);
    QCOMPARE(pane_->anchorPosition(), (TTextPos{1, 6}));
    QCOMPARE(pane_->caretPosition(), (TTextPos{4, 6}));
    QTest::keyClick(pane_, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(pane_, Qt::Key_Left, Qt::ShiftModifier);
    AppendNumbered(6, 7);
    QCOMPARE(pane_->caretPosition(), (TTextPos{5, 5}));
    QCOMPARE(pane_->anchorPosition(), (TTextPos{6, 6}));
  }

  // ---- typing ------------------------------------------------------------------------------

  void typingEditsTheTextAtTheCaret() {
    ShowPane();
    QTest::keyClicks(pane_, "abc");
    QTest::keyClick(pane_, Qt::Key_Return);
    QTest::keyClicks(pane_, "de");
    QCOMPARE(pane_->toPlainText(), QStringLiteral("abc\nde"));
    // Backspace at the start of a line joins it to the one above; Delete at the end of a line
    // joins the next one.
    QTest::keyClick(pane_, Qt::Key_Home);
    QTest::keyClick(pane_, Qt::Key_Backspace);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("abcde"));
    QCOMPARE(pane_->caretPosition(), (TTextPos{0, 3}));
    QTest::keyClick(pane_, Qt::Key_Enter);  // the keypad's Enter too
    QTest::keyClick(pane_, Qt::Key_Up);
    QTest::keyClick(pane_, Qt::Key_End);
    QTest::keyClick(pane_, Qt::Key_Delete);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("abcde"));
    // Arrows cross line ends; Up and Down keep the column.
    pane_->AppendLine(QStringLiteral("fghij"));
    QTest::keyClick(pane_, Qt::Key_Home);
    QTest::keyClick(pane_, Qt::Key_Right);
    QTest::keyClick(pane_, Qt::Key_Right);
    QTest::keyClick(pane_, Qt::Key_Down);
    QCOMPARE(pane_->caretPosition(), (TTextPos{1, 2}));
    QTest::keyClick(pane_, Qt::Key_X);
    QTest::keyClick(pane_, Qt::Key_Left);
    QTest::keyClick(pane_, Qt::Key_Left);
    QTest::keyClick(pane_, Qt::Key_Left);
    QTest::keyClick(pane_, Qt::Key_Left);
    QCOMPARE(pane_->caretPosition(), (TTextPos{0, 5}));
    QCOMPARE(pane_->toPlainText(), QStringLiteral("abcde\nfgxhij"));
    // Keys with no text type nothing; Ctrl+letters are not text.
    QTest::keyClick(pane_, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(pane_, Qt::Key_F5);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("abcde\nfgxhij"));
    // Ctrl+Backspace takes the word before the caret.
    QTest::keyClick(pane_, Qt::Key_Backspace, Qt::ControlModifier);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("\nfgxhij"));
    // A line appended later comes after whatever was typed.
    QTest::keyClick(pane_, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(pane_, " note");
    pane_->AppendLine(QStringLiteral("DI1=01 "));
    QCOMPARE(pane_->toPlainText(), QStringLiteral("\nfgxhij note\nDI1=01 "));
  }

  void tabMovesOnInsteadOfTyping() {
    ShowPane();
    auto* next = new QLineEdit(host_.get());
    host_->layout()->addWidget(next);
    next->show();
    pane_->setFocus();
    QTRY_VERIFY(pane_->hasFocus());
    QTest::keyClick(pane_, Qt::Key_Tab);
    QTRY_VERIFY(next->hasFocus());
    QVERIFY(pane_->toPlainText().isEmpty());
  }

  void inputMethodCommitsChineseText() {
    ShowPane();
    pane_->AppendLine(QStringLiteral("DI1=01 "));
    pane_->setCaretPosition(TTextPos{0, 3});
    QCOMPARE(pane_->inputMethodQuery(Qt::ImEnabled).toBool(), true);
    // While composing, the text is shown but not part of the log.
    QInputMethodEvent compose(QStringLiteral("jieshou"), {});
    QApplication::sendEvent(pane_, &compose);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("DI1=01 "));
    pane_->grab();  // painting with the composition in place
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("接收"));
    QApplication::sendEvent(pane_, &commit);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("DI1接收=01 "));
    QCOMPARE(pane_->caretPosition(), (TTextPos{0, 5}));
    QCOMPARE(pane_->inputMethodQuery(Qt::ImSurroundingText).toString(),
             QStringLiteral("DI1接收=01 "));
    QCOMPARE(pane_->inputMethodQuery(Qt::ImCursorPosition).toInt(), 5);
    const QRect caret = pane_->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QVERIFY(pane_->rect().contains(caret));
    // The input method takes back the two characters before the caret and puts one in.
    QInputMethodEvent replace;
    replace.setCommitString(QStringLiteral("送"), -2, 2);
    QApplication::sendEvent(pane_, &replace);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("DI1送=01 "));
  }

  // ---- selection and copy ------------------------------------------------------------------

  void selectsWithKeysAndMouseAndCopies() {
    ShowPane();
    pane_->AppendLine(QStringLiteral("DI1=01 "));
    pane_->AppendLine(QStringLiteral("DI2=00 "));
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Shift+arrows from the end.
    QTest::keyClick(pane_, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(pane_, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(pane_, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(pane_->selectedText(), QStringLiteral("00 "));
    QTest::keyClick(pane_, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("00 "));
    QCOMPARE(pane_->toPlainText(), QStringLiteral("DI1=01 \nDI2=00 "));  // copy changes nothing
    // Shift+Up reaches into the line above.
    QTest::keyClick(pane_, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(pane_->selectedText(), QStringLiteral("01 \nDI2=00 "));
    // Ctrl+A, Ctrl+C: everything.
    QTest::keyClick(pane_, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(pane_, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("DI1=01 \nDI2=00 "));
    // A plain arrow collapses the selection.
    QTest::keyClick(pane_, Qt::Key_Left);
    QVERIFY(!pane_->hasSelection());
    QCOMPARE(pane_->caretPosition(), (TTextPos{0, 0}));

    // Dragging with the mouse from line 0, column 4 to line 1, column 3.
    pane_->setCaretPosition(TTextPos{0, 4});
    const QPoint from = pane_->caretRect().center();
    pane_->setCaretPosition(TTextPos{1, 3});
    const QPoint to = pane_->caretRect().center();
    pane_->setCaretPosition(TTextPos{0, 0});
    QTest::mousePress(pane_->viewport(), Qt::LeftButton, {}, from);
    MouseDragTo(*pane_, to);
    QTest::mouseRelease(pane_->viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(pane_->selectedText(), QStringLiteral("01 \nDI2"));
    QTest::keyClick(pane_, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("01 \nDI2"));
    // Shift+click extends it.
    pane_->setCaretPosition(TTextPos{1, 6});
    const QPoint further = pane_->caretRect().center();
    pane_->setCaretPosition(TTextPos{0, 4});
    QTest::mouseClick(pane_->viewport(), Qt::LeftButton, Qt::ShiftModifier, further);
    QCOMPARE(pane_->selectedText(), QStringLiteral("01 \nDI2=00"));
    // A double click selects a word.
    pane_->setCaretPosition(TTextPos{0, 1});
    const QPoint word = pane_->caretRect().center() + QPoint(2, 0);
    QTest::mouseDClick(pane_->viewport(), Qt::LeftButton, {}, word);
    QCOMPARE(pane_->selectedText(), QStringLiteral("DI1"));
    // Cut and paste move text.
    QTest::keyClick(pane_, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("=01 \nDI2=00 "));
    QTest::keyClick(pane_, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(pane_, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pane_->toPlainText(), QStringLiteral("=01 \nDI2=00 DI1"));
  }

  void contextMenuOffersCopyAndSelectAll() {
    ShowPane();
    pane_->AppendLine(QStringLiteral("DI1=01 "));
    pane_->AppendLine(QStringLiteral("DI2=00 "));
    QStringList captions;
    QList<bool> enabled;
    QTimer::singleShot(0, this, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        captions.append(action->text().section(QLatin1Char('\t'), 0, 0).remove(u'&'));
        enabled.append(action->isEnabled());
        if (captions.back() == QStringLiteral("Select All")) action->trigger();
      }
      menu->close();
    });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(10, 10),
                              pane_->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(pane_->viewport(), &request);
    QCOMPARE(captions, (QStringList{"Cut", "Copy", "Paste", "Delete", "Select All", "保存日志…"}));
    QCOMPARE(enabled[1], false);  // nothing selected to copy yet
    QCOMPARE(enabled[4], true);
    QCOMPARE(pane_->selectedText(), QStringLiteral("DI1=01 \nDI2=00 "));
  }

  // ---- look, painting, accessibility -------------------------------------------------------

  void usesTheFontItIsGivenAndPaintsItsText() {
    ShowPane();
    QCOMPARE(pane_->font(), host_->font());
    pane_->AppendLine(QStringLiteral("12:00:00 接收：64 03 04 00 01 00 00 9E F5 "));
    // A row is as tall as a line of that font.
    const QFontMetrics metrics(pane_->font());
    QVERIFY(std::abs(pane_->caretRect().height() - metrics.height()) <= 2);
    const QImage image = pane_->viewport()->grab().toImage();
    const QRgb base = pane_->palette().color(QPalette::Base).rgb();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) inked += image.pixel(x, y) != base;
    QVERIFY2(inked > 100, qPrintable(QString::number(inked)));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(pane_);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().multiLine);
    pane_->setAccessibleName(QStringLiteral("收发记录"));
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("收发记录"));
  }

  // What a screen reader reads: the text, the caret and selection as offsets, line by line.
  void readsAsTextThroughTheAccessibleTextInterface() {
    ShowPane();
    pane_->AppendLine(QStringLiteral("发送：64 03"));
    pane_->AppendLine(QStringLiteral("接收：9E F5 \U0001F600"));  // a surrogate pair counts 2
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(pane_)->textInterface();
    QVERIFY(text != nullptr);
    const QString all = pane_->toPlainText();
    QCOMPARE(text->characterCount(), all.size());
    QCOMPARE(text->text(0, text->characterCount()), all);
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(12, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("接收：9E F5 \U0001F600"));
    QCOMPARE(start, 9);
    QCOMPARE(end, all.size());
    QCOMPARE(text->textBeforeOffset(12, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("发送：64 03"));
    QCOMPARE((std::pair{start, end}), (std::pair{0, 8}));
    QVERIFY(text->textAfterOffset(12, QAccessible::LineBoundary, &start, &end).isEmpty());
    pane_->setCaretPosition({1, 3});
    QCOMPARE(text->cursorPosition(), 12);
    QCOMPARE(text->selectionCount(), 0);
    text->setSelection(0, 3, 11);  // across the line break
    QCOMPARE(pane_->selectedText(), QStringLiteral("64 03\n接收"));
    text->selection(0, &start, &end);
    QCOMPARE((std::pair{start, end}), (std::pair{3, 11}));
    text->setCursorPosition(1000);  // past the end: the end
    QCOMPARE(text->cursorPosition(), all.size());
    QCOMPARE(text->offsetAtPoint(text->characterRect(4).center()), 4);
  }

  void laysOutOnlyTheLinesOnScreen() {
    ShowPane();
    const QStringList lines = ReadAllLines();
    for (int i = 0; i < 50000; ++i) pane_->AppendLine(lines[i % 8]);
    pane_->viewport()->grab();
    QVERIFY2(pane_->layoutsCached() <= 12, qPrintable(QString::number(pane_->layoutsCached())));
    Wheel(*pane_, 20);
    pane_->viewport()->grab();
    // What is on screen and the lines at the end (where appended lines show up) only.
    QVERIFY2(pane_->layoutsCached() <= 24, qPrintable(QString::number(pane_->layoutsCached())));
  }

  // ---- a day of auto-read ------------------------------------------------------------------

  void holdsADayOfLinesCompactly() {
    ShowPane();
    const QStringList lines = ReadAllLines();
    const int total = 400000;
    const long rssBefore = ResidentKiB();
    for (int i = 0; i < total; ++i) {
      pane_->AppendLine(lines[i % 8]);
      if (i % 10000 == 9999) QCoreApplication::processEvents();
    }
    pane_->viewport()->grab();
    const long rssAfter = ResidentKiB();
    QCOMPARE(pane_->lineCount(), total);
    QCOMPARE(pane_->lineText(0), lines[0]);
    QCOMPARE(pane_->lineText(total / 2 + 1), lines[1]);
    QCOMPARE(pane_->lineText(total - 1), lines[7]);
    const double storeBytes = static_cast<double>(pane_->store().bytesInUse()) / total;
    qInfo("store: %.1f bytes per line", storeBytes);
    QVERIFY2(storeBytes < 100, qPrintable(QString::number(storeBytes)));
#ifndef RTUTEST_SANITIZED
    // The whole process, allocator included (sanitizers keep freed memory aside, so not there).
    const double rssBytes = (rssAfter - rssBefore) * 1024.0 / total;
    qInfo("resident: %.1f bytes per line", rssBytes);
    QVERIFY2(rssBytes < 150, qPrintable(QString::number(rssBytes)));
#else
    (void)rssBefore;
    (void)rssAfter;
#endif
  }
};

RTUTEST_QTEST_MAIN(LogPaneTest)
#include "LogPaneTest.moc"
