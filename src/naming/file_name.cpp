#include "naming/file_name.h"

#include "base/number_pattern.h"

QString numberAndTimePiece(bool addNumber, bool addTime, std::int64_t frameCounter, double elapsedMsec,
                           const QLocale &locale)
{
    QString piece;
    if (addNumber)
        piece += u'_' + formatInteger(frameCounter, u"000", locale);
    if (addTime)
        piece += u'_' + formatNumber(elapsedMsec, u"0000000", locale) + QStringLiteral("msec");
    return piece;
}

QString fullFileName(const QString &directory, const QString &baseName, const QString &numberAndTime,
                     const QString &analogSuffix, const QString &extension)
{
    return directory + baseName + numberAndTime + analogSuffix + extension;
}

QString directoryOfChosenFile(const QString &fullName, const QString &fileTitle)
{
    return fullName.left(qMax<qsizetype>(0, fullName.size() - fileTitle.size()));
}

QString directoryAfterDialog(const QString &current, bool accepted, const QString &fullName,
                             const QString &fileTitle)
{
    return accepted ? directoryOfChosenFile(fullName, fileTitle) : current;
}
