// Serial lanes of file work, one per mounted file system. A file system that stopped answering
// (a network share whose server went away, a FUSE mount whose daemon hangs) holds up only the work
// for the files that live on it; the files elsewhere go on being examined. Main thread only; the
// jobs run on the lanes' threads.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

class QObject;
class QThread;
class QThreadPool;

class MountLanes {
public:
    // With `width` above one, a lane runs up to that many jobs at once, in no set order, and its
    // threads end when idle; with one, a lane runs its jobs in order on one thread with an event
    // loop (objects may live there).
    explicit MountLanes(QString threadName, int width = 1);
    // Waits up to `deadlineMs` for the jobs queued so far; a lane still stuck then is left to the
    // end of the process.
    ~MountLanes();
    MountLanes(const MountLanes &) = delete;
    MountLanes &operator=(const MountLanes &) = delete;

    int deadlineMs = 2000;

    // The mount point that holds `path` by the system's mount table, as read by the last
    // readMountTable(); no file is touched, so a hung mount cannot block the caller. A path that
    // reaches another mount through a symbolic link counts as the link's.
    QString mountOf(const QString &path) const { return mountOf(m_mountPoints, path); }
    void readMountTable();
    // The same from a copy of the table, on any thread.
    QStringList mountTable() const { return m_mountPoints; }
    static QString mountOf(const QStringList &table, const QString &path);

    // Queues `job` on the lane of `mountPoint`, after every job queued there before.
    void run(const QString &mountPoint, std::function<void()> job);
    // Waits up to `ms` for every job queued so far on every lane; false when a lane did not get
    // there.
    bool waitForAll(int ms);

private:
    struct Lane {
        QThread *thread = nullptr;
        QObject *context = nullptr;  // lives on the thread; its queued calls are the jobs
        QThreadPool *pool = nullptr; // instead, when wider than one
    };

    QString m_threadName;
    int m_width;
    QStringList m_mountPoints; // longest first
    QHash<QString, Lane> m_lanes;
};
