#pragma once
// Helpers shared by the widget tests.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace zimble::test {

// Runs `action` on the next modal window to appear (polling the event loop), e.g. to close it.
inline void onNextModal(std::function<void(QWidget*)> action, QWidget* notThis = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action, notThis] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != notThis && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

// A fresh working directory holding the three board pictures.
inline bool copyPictures(const QString& dir)
{
    for (const char* name : {"tessa1.jpg", "tessa2.jpg", "tessa3.jpg"}) {
        const QString to = dir + QLatin1Char('/') + QLatin1String(name);
        QFile::remove(to);
        if (!QFile::copy(QStringLiteral(ZIMBLE_ASSETS_DIR "/") + QLatin1String(name), to))
            return false;
    }
    return true;
}

} // namespace zimble::test
