#pragma once

#include <QString>
#include <QWidget>

#include "ui/window_context.h"

class QCheckBox;
class QLineEdit;

namespace zelm {

class ConfigStore;

/// The Options page: the session interval, the maximum delivery attempts, the fast listing and
/// the three start-up options. Every control is stored the moment it changes or is left.
class OptionsPage : public QWidget {
    Q_OBJECT
public:
    explicit OptionsPage(WindowContext& context, QWidget* parent = nullptr);

    /// Start-up: the four boxes and the two fields from the stored options (open key root);
    /// each box or field whose shown value changes stores itself again. Throws ZelmError when
    /// a value has the wrong type or the store fails.
    void LoadStoredOptions(ConfigStore& root);

    /// The session interval as typed (seconds).
    QString IntervalText() const;
    /// The maximum delivery attempts as typed.
    QString MaxAttemptsText() const;
    /// "Timer ON at startup" is checked.
    bool TimerOnAtStartup() const;
    /// "Start minimized" is checked.
    bool StartMinimized() const;

signals:
    /// The interval text changed or its field was left; a running timer takes it at once.
    void sessionIntervalChanged();

private slots:
    void edtProcIntervalExit();
    void edtMaxAttemptsExit();
    void chkTimerONClick();
    void chkMinimizedClick();
    void chkLaunchClick();
    void chkFastListingClick();

private:
    WindowContext& m_context;
    QLineEdit* m_edtProcInterval;
    QLineEdit* m_edtMaxAttempts;
    QCheckBox* m_chkTimerON;
    QCheckBox* m_chkMinimized;
    QCheckBox* m_chkLaunch;
    QCheckBox* m_chkFastListing;
};

} // namespace zelm
