// SIGTERM and SIGINT end Stowbay the way its "Quit Stowbay" menu item does, so the stored items are
// saved or deleted as the user chose. The signal handler only writes a byte to a pipe; the main loop
// reads it and calls onQuit.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. One instance at a time.
    explicit QuitSignals(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~QuitSignals() override;

    // Called on the main thread, once per signal received.
    std::function<void()> onQuit;

private:
    void readPending();

    int m_readFd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
