#include "LogTimeStamp.h"

#include <QDateTime>
#include <QLocale>

QString LongTimeFormatWithoutZone(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  bool quoted = false;  // text in single quotes is literal
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || format[i] != QLatin1Char('t')) continue;
    qsizetype begin = i;
    qsizetype end = i;
    while (end < format.size() && format[end] == QLatin1Char('t')) ++end;
    // The zone may stand in brackets ("[t]"), and is set off from the rest by one blank.
    const auto around = [&](char open, char close) {
      return begin > 0 && end < format.size() && format[begin - 1] == QLatin1Char(open) &&
             format[end] == QLatin1Char(close);
    };
    if (around('[', ']') || around('(', ')')) --begin, ++end;
    if (begin > 0 && format[begin - 1] == QLatin1Char(' '))
      --begin;
    else if (end < format.size() && format[end] == QLatin1Char(' '))
      ++end;
    format.remove(begin, end - begin);
    i = begin - 1;
  }
  return format;
}

QString LogTimeStamp(const QLocale& locale, const QDateTime& at) {
  return locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(at.time(), LongTimeFormatWithoutZone(locale));
}

QString LogTimeStamp() {
  return LogTimeStamp(QLocale::system(), QDateTime::currentDateTime());
}
