#include "Files/MountLanes.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <memory>

namespace {

// The mount table writes a space, tab, newline and backslash in a mount point as \ooo.
QString unescapedMountPoint(const QByteArray &field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code > 0 && code < 256) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

} // namespace

MountLanes::MountLanes(QString threadName, int width) : m_threadName(std::move(threadName)), m_width(width) {
    readMountTable();
}

MountLanes::~MountLanes() {
    const bool drained = waitForAll(deadlineMs);
    for (const Lane &lane : std::as_const(m_lanes)) {
        if (lane.pool) {
            if (drained) delete lane.pool;
            continue;
        }
        lane.thread->quit();
        if (!drained) continue; // a stuck thread cannot be joined; the process ends around it
        lane.thread->wait();
        delete lane.context;
        delete lane.thread;
    }
}

void MountLanes::readMountTable() {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    QStringList points{QStringLiteral("/")};
    if (table.open(QIODevice::ReadOnly)) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw": the fifth field.
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() > 4) points.append(unescapedMountPoint(fields[4]));
        }
    }
    std::sort(points.begin(), points.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    points.erase(std::unique(points.begin(), points.end()), points.end());
    m_mountPoints = points;
}

QString MountLanes::mountOf(const QStringList &table, const QString &path) {
    for (const QString &point : table) {
        if (point == QLatin1String("/")) return point;
        if (path.startsWith(point) && (path.size() == point.size() || path[point.size()] == QLatin1Char('/')))
            return point;
    }
    return QStringLiteral("/");
}

void MountLanes::run(const QString &mountPoint, std::function<void()> job) {
    auto lane = m_lanes.find(mountPoint);
    if (lane == m_lanes.end()) {
        Lane made;
        if (m_width > 1) {
            made.pool = new QThreadPool;
            made.pool->setMaxThreadCount(m_width);
            made.pool->setThreadPriority(QThread::LowPriority);
            made.pool->setObjectName(m_threadName);
        } else {
            made.thread = new QThread;
            made.thread->setObjectName(m_threadName);
            made.context = new QObject;
            made.context->moveToThread(made.thread);
            made.thread->start(QThread::LowPriority);
        }
        lane = m_lanes.insert(mountPoint, made);
    }
    if (lane->pool)
        lane->pool->start(std::move(job));
    else
        QMetaObject::invokeMethod(lane->context, std::move(job), Qt::QueuedConnection);
}

bool MountLanes::waitForAll(int ms) {
    const QDeadlineTimer deadline(std::max(ms, 0));
    auto reached = std::make_shared<QSemaphore>();
    int threads = 0;
    for (const Lane &lane : std::as_const(m_lanes)) {
        if (lane.pool) continue;
        QMetaObject::invokeMethod(
            lane.context, [reached] { reached->release(); }, Qt::QueuedConnection);
        ++threads;
    }
    bool done = true;
    for (const Lane &lane : std::as_const(m_lanes))
        if (lane.pool) done = lane.pool->waitForDone(int(deadline.remainingTime())) && done;
    return reached->tryAcquire(threads, int(deadline.remainingTime())) && done;
}
