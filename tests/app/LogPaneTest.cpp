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
  const QString stamp = LogTimeStamp();
  return {stamp + QStringLiteral(" 发送：64 03 00 10 00 02 CC 3B "),
          stamp + QStringLiteral(" 接收：64 03 04 00 01 00 00 9E F5 "),
          QStringLiteral("DI1=01 "),
          QStringLiteral("DI2=00 "),
          stamp + QStringLiteral(" 发送：64 03 00 14 00 02 8D FA "),
          stamp + QStringLiteral(" 接收：64 03 04 00 00 00 01 0E F5 "),
          QStringLiteral("DO1=00 "),
          QStringLiteral("DO2=01 ")};
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

  std::unique_ptr<QWidget> host;
  TLogPane* pane = nullptr;

  // A pane of the window's log size (633 x 102) in a host with the window's font.
  void ShowPane(int width = 633, int height = 102) {
    host = std::make_unique<QWidget>();
    host->setFont(WindowFont());
    auto* layout = new QVBoxLayout(host.get());
    layout->setContentsMargins(0, 0, 0, 0);
    pane = new TLogPane(host.get());
    layout->addWidget(pane);
    host->resize(width, height);
    host->show();
    host->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(host.get()));
    pane->setFocus();
  }

  void AppendNumbered(int from, int to) {
    for (int i = from; i < to; ++i) pane->AppendLine(QStringLiteral("line %1").arg(i));
  }

 private slots:
  void cleanup() {
    host.reset();
    pane = nullptr;
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
    pane->AppendLine(QStringLiteral("DI1=01 "));
    QString hex;
    for (int i = 0; i < 40; ++i) hex += QStringLiteral("9E ");
    pane->AppendLine(hex);
    pane->AppendLine(QString(200, QLatin1Char('F')));  // no blank to break at: broken anywhere
    QCOMPARE(pane->visualRowCount(0), 1);
    const int hexRows = pane->visualRowCount(1);
    QVERIFY2(hexRows >= 3, qPrintable(QString::number(hexRows)));
    QVERIFY(pane->visualRowCount(2) >= 3);
    host->resize(900, 102);
    QTRY_VERIFY(pane->visualRowCount(1) < hexRows);
    QCOMPARE(pane->lineCount(), 3);  // wrapping changes no line
  }

  // ---- the view ----------------------------------------------------------------------------

  void viewFollowsAppendsWhileTheEndIsInView() {
    ShowPane();
    AppendNumbered(0, 100);
    QVERIFY(pane->followsEnd());
    QTRY_VERIFY(pane->firstVisibleLine() >= 94);
    const QRect end = pane->caretRect();  // the caret moved on with the lines
    QCOMPARE(pane->caretPosition(), (TTextPos{99, 7}));
    QVERIFY(pane->viewport()->rect().contains(end));

    // The operator scrolls up: the view stays put while lines keep coming.
    Wheel(*pane, 2);
    QVERIFY(!pane->followsEnd());
    const qsizetype kept = pane->firstVisibleLine();
    QVERIFY(kept < 94);
    AppendNumbered(100, 150);
    QCOMPARE(pane->firstVisibleLine(), kept);
    QVERIFY(!pane->followsEnd());

    // Back down with the wheel: following again.
    Wheel(*pane, -100);
    QVERIFY(pane->followsEnd());
    AppendNumbered(150, 160);
    QVERIFY(pane->firstVisibleLine() >= 154);

    // Page up leaves the end; Ctrl+End returns to it.
    QTest::keyClick(pane, Qt::Key_PageUp);
    QVERIFY(!pane->followsEnd());
    QVERIFY(pane->firstVisibleLine() < 154);
    QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(pane->followsEnd());
    // Ctrl+Home shows the first line; page down all the way follows again.
    QTest::keyClick(pane, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(pane->firstVisibleLine(), 0);
    for (int i = 0; i < 60 && !pane->followsEnd(); ++i) QTest::keyClick(pane, Qt::Key_PageDown);
    QVERIFY(pane->followsEnd());
  }

  void caretAtTheEndMovesOnWithAppendsAndStaysElsewhere() {
    ShowPane();
    AppendNumbered(0, 3);
    QCOMPARE(pane->caretPosition(), (TTextPos{2, 6}));
    // Moved up: it stays where the operator put it.
    QTest::keyClick(pane, Qt::Key_Up);
    QCOMPARE(pane->caretPosition(), (TTextPos{1, 6}));
    AppendNumbered(3, 5);
    QCOMPARE(pane->caretPosition(), (TTextPos{1, 6}));
    // A selection up to the end stays as it is; one made backwards from the end grows with
    // the text, as its anchor sits at the end.
    QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    AppendNumbered(5, 6);
    QCOMPARE(pane->anchorPosition(), (TTextPos{1, 6}));
    QCOMPARE(pane->caretPosition(), (TTextPos{4, 6}));
    QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
    AppendNumbered(6, 7);
    QCOMPARE(pane->caretPosition(), (TTextPos{5, 5}));
    QCOMPARE(pane->anchorPosition(), (TTextPos{6, 6}));
  }

  // ---- typing ------------------------------------------------------------------------------

  void typingEditsTheTextAtTheCaret() {
    ShowPane();
    QTest::keyClicks(pane, "abc");
    QTest::keyClick(pane, Qt::Key_Return);
    QTest::keyClicks(pane, "de");
    QCOMPARE(pane->toPlainText(), QStringLiteral("abc\nde"));
    // Backspace at the start of a line joins it to the one above; Delete at the end of a line
    // joins the next one.
    QTest::keyClick(pane, Qt::Key_Home);
    QTest::keyClick(pane, Qt::Key_Backspace);
    QCOMPARE(pane->toPlainText(), QStringLiteral("abcde"));
    QCOMPARE(pane->caretPosition(), (TTextPos{0, 3}));
    QTest::keyClick(pane, Qt::Key_Enter);  // the keypad's Enter too
    QTest::keyClick(pane, Qt::Key_Up);
    QTest::keyClick(pane, Qt::Key_End);
    QTest::keyClick(pane, Qt::Key_Delete);
    QCOMPARE(pane->toPlainText(), QStringLiteral("abcde"));
    // Arrows cross line ends; Up and Down keep the column.
    pane->AppendLine(QStringLiteral("fghij"));
    QTest::keyClick(pane, Qt::Key_Home);
    QTest::keyClick(pane, Qt::Key_Right);
    QTest::keyClick(pane, Qt::Key_Right);
    QTest::keyClick(pane, Qt::Key_Down);
    QCOMPARE(pane->caretPosition(), (TTextPos{1, 2}));
    QTest::keyClick(pane, Qt::Key_X);
    QTest::keyClick(pane, Qt::Key_Left);
    QTest::keyClick(pane, Qt::Key_Left);
    QTest::keyClick(pane, Qt::Key_Left);
    QTest::keyClick(pane, Qt::Key_Left);
    QCOMPARE(pane->caretPosition(), (TTextPos{0, 5}));
    QCOMPARE(pane->toPlainText(), QStringLiteral("abcde\nfgxhij"));
    // Keys with no text type nothing; Ctrl+letters are not text.
    QTest::keyClick(pane, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_F5);
    QCOMPARE(pane->toPlainText(), QStringLiteral("abcde\nfgxhij"));
    // Ctrl+Backspace takes the word before the caret.
    QTest::keyClick(pane, Qt::Key_Backspace, Qt::ControlModifier);
    QCOMPARE(pane->toPlainText(), QStringLiteral("\nfgxhij"));
    // A line appended later comes after whatever was typed.
    QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(pane, " note");
    pane->AppendLine(QStringLiteral("DI1=01 "));
    QCOMPARE(pane->toPlainText(), QStringLiteral("\nfgxhij note\nDI1=01 "));
  }

  void tabMovesOnInsteadOfTyping() {
    ShowPane();
    auto* next = new QLineEdit(host.get());
    host->layout()->addWidget(next);
    next->show();
    pane->setFocus();
    QTRY_VERIFY(pane->hasFocus());
    QTest::keyClick(pane, Qt::Key_Tab);
    QTRY_VERIFY(next->hasFocus());
    QVERIFY(pane->toPlainText().isEmpty());
  }

  void inputMethodCommitsChineseText() {
    ShowPane();
    pane->AppendLine(QStringLiteral("DI1=01 "));
    pane->setCaretPosition(TTextPos{0, 3});
    QCOMPARE(pane->inputMethodQuery(Qt::ImEnabled).toBool(), true);
    // While composing, the text is shown but not part of the log.
    QInputMethodEvent compose(QStringLiteral("jieshou"), {});
    QApplication::sendEvent(pane, &compose);
    QCOMPARE(pane->toPlainText(), QStringLiteral("DI1=01 "));
    pane->grab();  // painting with the composition in place
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("接收"));
    QApplication::sendEvent(pane, &commit);
    QCOMPARE(pane->toPlainText(), QStringLiteral("DI1接收=01 "));
    QCOMPARE(pane->caretPosition(), (TTextPos{0, 5}));
    QCOMPARE(pane->inputMethodQuery(Qt::ImSurroundingText).toString(),
             QStringLiteral("DI1接收=01 "));
    QCOMPARE(pane->inputMethodQuery(Qt::ImCursorPosition).toInt(), 5);
    const QRect caret = pane->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    QVERIFY(pane->rect().contains(caret));
    // The input method takes back the two characters before the caret and puts one in.
    QInputMethodEvent replace;
    replace.setCommitString(QStringLiteral("送"), -2, 2);
    QApplication::sendEvent(pane, &replace);
    QCOMPARE(pane->toPlainText(), QStringLiteral("DI1送=01 "));
  }

  // ---- selection and copy ------------------------------------------------------------------

  void selectsWithKeysAndMouseAndCopies() {
    ShowPane();
    pane->AppendLine(QStringLiteral("DI1=01 "));
    pane->AppendLine(QStringLiteral("DI2=00 "));
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Shift+arrows from the end.
    QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(pane, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(pane->selectedText(), QStringLiteral("00 "));
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("00 "));
    QCOMPARE(pane->toPlainText(), QStringLiteral("DI1=01 \nDI2=00 "));  // copy changes nothing
    // Shift+Up reaches into the line above.
    QTest::keyClick(pane, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(pane->selectedText(), QStringLiteral("01 \nDI2=00 "));
    // Ctrl+A, Ctrl+C: everything.
    QTest::keyClick(pane, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("DI1=01 \nDI2=00 "));
    // A plain arrow collapses the selection.
    QTest::keyClick(pane, Qt::Key_Left);
    QVERIFY(!pane->hasSelection());
    QCOMPARE(pane->caretPosition(), (TTextPos{0, 0}));

    // Dragging with the mouse from line 0, column 4 to line 1, column 3.
    pane->setCaretPosition(TTextPos{0, 4});
    const QPoint from = pane->caretRect().center();
    pane->setCaretPosition(TTextPos{1, 3});
    const QPoint to = pane->caretRect().center();
    pane->setCaretPosition(TTextPos{0, 0});
    QTest::mousePress(pane->viewport(), Qt::LeftButton, {}, from);
    MouseDragTo(*pane, to);
    QTest::mouseRelease(pane->viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(pane->selectedText(), QStringLiteral("01 \nDI2"));
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("01 \nDI2"));
    // Shift+click extends it.
    pane->setCaretPosition(TTextPos{1, 6});
    const QPoint further = pane->caretRect().center();
    pane->setCaretPosition(TTextPos{0, 4});
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, Qt::ShiftModifier, further);
    QCOMPARE(pane->selectedText(), QStringLiteral("01 \nDI2=00"));
    // A double click selects a word.
    pane->setCaretPosition(TTextPos{0, 1});
    const QPoint word = pane->caretRect().center() + QPoint(2, 0);
    QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, word);
    QCOMPARE(pane->selectedText(), QStringLiteral("DI1"));
    // Cut and paste move text.
    QTest::keyClick(pane, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(pane->toPlainText(), QStringLiteral("=01 \nDI2=00 "));
    QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pane->toPlainText(), QStringLiteral("=01 \nDI2=00 DI1"));
  }

  void contextMenuOffersCopyAndSelectAll() {
    ShowPane();
    pane->AppendLine(QStringLiteral("DI1=01 "));
    pane->AppendLine(QStringLiteral("DI2=00 "));
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
                              pane->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(pane->viewport(), &request);
    QCOMPARE(captions, (QStringList{"Cut", "Copy", "Paste", "Delete", "Select All", "保存日志…"}));
    QCOMPARE(enabled[1], false);  // nothing selected to copy yet
    QCOMPARE(enabled[4], true);
    QCOMPARE(pane->selectedText(), QStringLiteral("DI1=01 \nDI2=00 "));
  }

  // ---- look, painting, accessibility -------------------------------------------------------

  void usesTheFontItIsGivenAndPaintsItsText() {
    ShowPane();
    QCOMPARE(pane->font(), host->font());
    pane->AppendLine(QStringLiteral("12:00:00 接收：64 03 04 00 01 00 00 9E F5 "));
    // A row is as tall as a line of that font.
    const QFontMetrics metrics(pane->font());
    QVERIFY(std::abs(pane->caretRect().height() - metrics.height()) <= 2);
    const QImage image = pane->viewport()->grab().toImage();
    const QRgb base = pane->palette().color(QPalette::Base).rgb();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) inked += image.pixel(x, y) != base;
    QVERIFY2(inked > 100, qPrintable(QString::number(inked)));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(pane);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().multiLine);
    pane->setAccessibleName(QStringLiteral("收发记录"));
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("收发记录"));
  }

  // What a screen reader reads: the text, the caret and selection as offsets, line by line.
  void readsAsTextThroughTheAccessibleTextInterface() {
    ShowPane();
    pane->AppendLine(QStringLiteral("发送：64 03"));
    pane->AppendLine(QStringLiteral("接收：9E F5 \U0001F600"));  // a surrogate pair counts 2
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(pane)->textInterface();
    QVERIFY(text != nullptr);
    const QString all = pane->toPlainText();
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
    pane->setCaretPosition({1, 3});
    QCOMPARE(text->cursorPosition(), 12);
    QCOMPARE(text->selectionCount(), 0);
    text->setSelection(0, 3, 11);  // across the line break
    QCOMPARE(pane->selectedText(), QStringLiteral("64 03\n接收"));
    text->selection(0, &start, &end);
    QCOMPARE((std::pair{start, end}), (std::pair{3, 11}));
    text->setCursorPosition(1000);  // past the end: the end
    QCOMPARE(text->cursorPosition(), all.size());
    QCOMPARE(text->offsetAtPoint(text->characterRect(4).center()), 4);
  }

  void laysOutOnlyTheLinesOnScreen() {
    ShowPane();
    const QStringList lines = ReadAllLines();
    for (int i = 0; i < 50000; ++i) pane->AppendLine(lines[i % 8]);
    pane->viewport()->grab();
    QVERIFY2(pane->layoutsCached() <= 12, qPrintable(QString::number(pane->layoutsCached())));
    Wheel(*pane, 20);
    pane->viewport()->grab();
    // What is on screen and the lines at the end (where appended lines show up) only.
    QVERIFY2(pane->layoutsCached() <= 24, qPrintable(QString::number(pane->layoutsCached())));
  }

  // ---- a day of auto-read ------------------------------------------------------------------

  void holdsADayOfLinesCompactly() {
    ShowPane();
    const QStringList lines = ReadAllLines();
    const int total = 400000;
    const long rssBefore = ResidentKiB();
    for (int i = 0; i < total; ++i) {
      pane->AppendLine(lines[i % 8]);
      if (i % 10000 == 9999) QCoreApplication::processEvents();
    }
    pane->viewport()->grab();
    const long rssAfter = ResidentKiB();
    QCOMPARE(pane->lineCount(), total);
    QCOMPARE(pane->lineText(0), lines[0]);
    QCOMPARE(pane->lineText(total / 2 + 1), lines[1]);
    QCOMPARE(pane->lineText(total - 1), lines[7]);
    const double storeBytes = static_cast<double>(pane->store().bytesInUse()) / total;
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
