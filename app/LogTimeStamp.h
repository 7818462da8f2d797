#pragma once
// "<short date> <long time>" in the system's formats, the head of every traffic line. The long
// time is shown without a time-zone designator, in the locale's order and separators.

#include <QString>

class QDateTime;
class QLocale;

QString LogTimeStamp();
QString LogTimeStamp(const QLocale& locale, const QDateTime& at);
// The locale's long time format with its zone designator ('t', with its brackets and blank)
// taken out.
QString LongTimeFormatWithoutZone(const QLocale& locale);
