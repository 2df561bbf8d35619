// Shared by every test program: each run gets its own empty HOME and XDG folders, so nothing a
// test does can touch the real user's files, settings or autostart entries.
#pragma once

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace TestSupport {

// Points HOME and the XDG folders at a fresh temporary folder for the life of the process.
inline QString isolateHome() {
    static QTemporaryDir dir(QDir::tempPath() + "/stowbay-test-XXXXXX");
    const QString root = dir.path();
    for (const char *sub : {"/config", "/data", "/cache", "/runtime"})
        QDir().mkpath(root + sub);
    QFile::setPermissions(root + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", root.toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (root + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (root + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + "/runtime").toUtf8());
    qputenv("XDG_CONFIG_DIRS", (root + "/config").toUtf8());
    // GSettings in a file under the folder above, not in the user's settings database.
    qputenv("GSETTINGS_BACKEND", "keyfile");
    return root;
}

// Where Stowbay keeps its items.
inline QString storedFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Stowbay/stowbay.json";
}
inline QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline QByteArray storedContents() {
    return contents(storedFilePath());
}
// Writes `bytes` to `path`, making its folder first.
inline void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
}

// A file's permission bits, -1 when it is not there.
inline int mode(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// `f` of each element of `list`, in order.
template <class List, class F> auto mapped(const List &list, F f) {
    QList<std::decay_t<decltype(f(*list.begin()))>> result;
    for (const auto &element : list)
        result << f(element);
    return result;
}

} // namespace TestSupport

// QTEST_MAIN with an isolated home folder, set up before the application object exists.
#define STOWBAY_TEST_MAIN(TestClass)                                                                         \
    int main(int argc, char **argv) {                                                                        \
        TestSupport::isolateHome();                                                                          \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
