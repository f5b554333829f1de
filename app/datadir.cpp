#include "datadir.h"

#include <QDir>

namespace zimble {

DataDirChoice developmentDataDir(const QString& exeDir)
{
    QString native = QDir::toNativeSeparators(exeDir);
    // A root like "G:\" keeps its separator; any other path is compared without a trailing one.
    while (native.size() > 3 && native.endsWith(QDir::separator()))
        native.chop(1);
    if (native.toUpper() == QStringLiteral("G:\\TESSA"))
        return {QStringLiteral("g:\\TESSA\\"), QStringLiteral("g:\\TESSA")};
    return {};
}

} // namespace zimble
