#pragma once
// What assistive technology sees of the log pane: an editable multi-line text whose text,
// caret, selection and lines it can read through Qt's text interface. Places in the text are
// offsets in UTF-16 code units of the whole text, its lines joined with '\n'.

#include <QString>

#include "LogPane.h"

// Makes Qt answer every TLogPane with the text interface, and tells a listening screen reader
// of every text a pane appends (once per process, before the first pane is shown).
void InstallLogPaneAccessibility();

// The offset of a place in the text, and the place at an offset (clamped to the text).
qsizetype LogTextOffset(const TLogLineStore& store, TLogPane::TTextPos pos);
TLogPane::TTextPos LogTextPosAt(const TLogLineStore& store, qsizetype offset);

// Tells a listening screen reader that `text` was added at `from` (cheap when none listens).
void NotifyLogTextInserted(TLogPane* pane, TLogPane::TTextPos from, const QString& text);
