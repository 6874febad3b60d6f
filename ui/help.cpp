#include "ui/help.h"

#include <QDir>
#include <QFileInfo>

namespace zelm {

QString FindHelpPage(const QString& programFolder) {
    const QDir folder(programFolder);
    const QString candidates[] = {
        folder.filePath("help.html"),
        folder.filePath("../share/zelm/help.html"),
        QStringLiteral(ZELM_INSTALL_PREFIX "/share/zelm/help.html"),
    };
    for (const QString& candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile()) return file.canonicalFilePath();
    }
    return {};
}

QUrl HelpTopicUrl(const QString& page, int topic) {
    QUrl url = QUrl::fromLocalFile(page);
    url.setFragment(QString("topic%1").arg(topic));
    return url;
}

} // namespace zelm
