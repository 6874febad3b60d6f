#pragma once

#include <QString>
#include <QUrl>

namespace zelm {

/// The help topic the Help button and the tray's "Help" open.
inline constexpr int kMainHelpTopic = 10;

/// The help page's file: beside the program (a build tree), in ../share/zelm (an install
/// moved as a whole), or under the install prefix; "" when none exists.
QString FindHelpPage(const QString& programFolder);
/// The help page opened at a topic's anchor ("#topic10").
QUrl HelpTopicUrl(const QString& page, int topic);

} // namespace zelm
