#pragma once
// Where the plug-in under test lies: the first sqldrivers folder on
// QT_PLUGIN_PATH that holds it.

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QString>

namespace rztest {

inline QString pluginPath()
{
    const QStringList roots = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH"))
                                  .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &root : roots) {
        const QString path = QDir(root).filePath(QStringLiteral("sqldrivers/libqsqlrezuvedov.so"));
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

} // namespace rztest
