#include "Shell/CommandLine.h"

#include "Items/StowbayStore.h"
#include "Panel/StowbayPanelController.h"
#include "Session/DesktopSession.h"
#include "Shell/AppDelegate.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// The running Stowbay answers this soon, unless it is launching on a very busy machine.
constexpr int answerTimeoutMs = 30000;

const char *const names[] = {"", "add", "list", "show", "settings", "clear", "quit", "toggle"};

std::optional<CommandLine::Command> commandNamed(const QString &name) {
    for (int i = 1; i < int(std::size(names)); ++i)
        if (name == QLatin1String(names[i])) return CommandLine::Command(i);
    return std::nullopt;
}

const char *description = R"(Stowbay holds files for you while you drag: shake the pointer during a file
drag, drop the files on the panel that slides in, and drag them out again later.

Without a command, starts Stowbay, or shows the panel of the one that runs.

Commands:
  add FILE...  add files and folders (paths or file:// URIs), and show the
               panel; Stowbay holds at most 100 items
  list         print the held paths in the panel's order, one per line (the
               stored list when Stowbay does not run)
  show         show the panel
  settings     open the settings window
  clear        remove every item that is not pinned
  quit         quit Stowbay, which keeps or forgets its items as set
  toggle       show the panel, or fold it when it is shown (bind it to a key
               where the desktop lets no program have one)

Exit status: 0 when done; 1 when a FILE was not found or Stowbay could not do
it (a FILE beyond the 100 items included); 2 for wrong usage; 3 when clear or
quit find no Stowbay running.)";

[[noreturn]] void refuseUsage(const QString &message) {
    std::fprintf(stderr, "stowbay: %s\nTry 'stowbay --help' for more.\n", qPrintable(message));
    std::exit(CommandLine::usageError);
}

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QList<QUrl> fileURLs(const QStringList &paths) {
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    return urls;
}

// "3 added", then what was not and why: files held already stay held, files beyond the capacity
// are refused. Returns whether every file is held now.
bool printCounts(int added, int held, int full) {
    std::printf("%d added", added);
    if (held) std::printf(", %d held already", held);
    if (full) std::printf(", %d refused: Stowbay holds at most %d items", full, StowbayStore::capacity);
    std::printf("\n");
    std::fflush(stdout);
    return full == 0;
}

// Adds `urls` and tells how many were added, how many were held already and how many did not fit.
void addCounting(StowbayStore &store, const QList<QUrl> &urls, std::function<void(int, int, int)> done) {
    auto full = std::make_shared<int>(0);
    auto counting = std::make_shared<QMetaObject::Connection>(QObject::connect(
        &store, &StowbayStore::refusedWhenFull, &store, [full](int count) { *full += count; }));
    store.add(urls, [done = std::move(done), full, counting, sent = int(urls.size())](int added) {
        QObject::disconnect(*counting);
        done(added, sent - added - *full, *full);
    });
}

// The list stored on disk, for when no Stowbay runs to ask.
std::optional<QStringList> storedPaths() {
    QFile file(StowbayStore::fileURL());
    if (!QFileInfo(file.fileName()).isFile()) return QStringList();
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const std::optional<QList<StowbayItem>> items = StoredItems::decode(file.readAll());
    if (!items) return std::nullopt;
    QStringList paths;
    for (const StowbayItem &item : *items)
        paths << item.path;
    return paths;
}

// A panel asked for from a terminal leaves the keyboard there: the next command typed must not go
// to the panel. From a key bound to the command, or the application menu, it takes the keyboard as
// the shortcut does.
void showAsked(AppDelegate &delegate, bool toggle, bool fromTerminal) {
    if (!toggle)
        delegate.showStowbay(!fromTerminal);
    else if (fromTerminal)
        delegate.controller()->toggle(false);
    else
        delegate.controller()->hotKeyPressed();
}
} // namespace

const char *CommandLine::version() {
    return STOWBAY_VERSION;
}

CommandLine::CommandLine(int argc, char **argv) : m_fromTerminal(isatty(STDIN_FILENO)) {
    // Arguments are file names in the locale's encoding (UTF-8). One that is not valid UTF-8
    // cannot be held: it would come back as another name.
    QStringList arguments;
    QSet<QString> lossy;
    for (int i = 0; i < argc; ++i) {
        arguments << QFile::decodeName(argv[i]);
        if (QFile::encodeName(arguments.last()) != argv[i]) lossy << arguments.last();
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption versionOption({"v", "version"}, "Show the version.");
    parser.addOptions({help, versionOption});
    const QCommandLineOption nul({"0", "null"}, "With list: end each path with a NUL byte, not a line end.");
    parser.addOption(nul);
    parser.addPositionalArgument("command", "What to do (see Commands).", "[command]");
    parser.addPositionalArgument("FILE", "With add: the files and folders to add.", "[FILE...]");
    if (!parser.parse(arguments)) refuseUsage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(versionOption)) {
        // The help's usage line names the program as the application object has it.
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("Stowbay");
        QCoreApplication::setApplicationVersion(version());
        if (parser.isSet(help)) {
            // Asked of the session only here: it may mean a word with the compositor.
            parser.setApplicationDescription(
                QString::fromUtf8(description) +
                QStringLiteral("\n\nThe panel here: %1.").arg(DesktopSession::panelBackEnd()));
            parser.showHelp(success);
        }
        parser.showVersion();
    }

    QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        const auto command = commandNamed(positional.takeFirst());
        if (!command) refuseUsage(QString("unknown command '%1'").arg(parser.positionalArguments().first()));
        m_command = *command;
    }
    m_nul = parser.isSet(nul);
    if (m_nul && m_command != Command::list) refuseUsage("-0 goes with list only");
    if (m_command != Command::add && !positional.isEmpty())
        refuseUsage(QString("%1 takes no arguments").arg(names[int(m_command)]));
    if (m_command == Command::add && positional.isEmpty()) refuseUsage("add needs a file or folder");

    // Relative paths are taken from the folder the command was given in; a file:// URI (as file
    // managers copy them, percent-encoded) names its local file.
    for (const QString &file : std::as_const(positional)) {
        const QUrl url(file, QUrl::StrictMode);
        const QString local = url.isLocalFile() ? url.toLocalFile() : file;
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(local));
        if (lossy.contains(file)) {
            std::fprintf(stderr, "stowbay: %s: the name is not valid UTF-8; Stowbay cannot hold it\n",
                         qPrintable(file));
            m_missing = true;
        } else if (file.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo::exists(path)) {
            std::fprintf(stderr, "stowbay: %s: no such file or folder\n",
                         QFile::encodeName(file).constData());
            m_missing = true;
        } else {
            m_paths << path;
        }
    }
    // Nothing left to add: the errors said it all.
    if (m_command == Command::add && m_paths.isEmpty()) std::exit(failure);
}

QByteArray CommandLine::request() const {
    // A plain start asks the running Stowbay to show itself.
    QJsonObject request{{"command", names[int(m_command == Command::none ? Command::show : m_command)]}};
    if (m_command == Command::add) request.insert("paths", QJsonArray::fromStringList(m_paths));
    if (m_fromTerminal) request.insert("terminal", true);
    return compact(request);
}

std::optional<int> CommandLine::runUnlessBecomingStowbay(SingleInstance &instance) const {
    switch (m_command) {
    case Command::list:
        if (!instance.isHeld()) return printPaths(storedPaths());
        break;
    case Command::clear:
    case Command::quit:
        // These only ask: holding the lock, even for a moment, would turn a Stowbay starting
        // meanwhile away.
        if (!instance.isHeld()) {
            std::fprintf(stderr, "stowbay: Stowbay is not running\n");
            return notRunning;
        }
        break;
    default:
        if (instance.acquire()) return std::nullopt; // the others start Stowbay
    }
    return ask(instance);
}

int CommandLine::ask(const SingleInstance &instance) const {
    const QByteArray body = request();
    if (body.size() > SingleInstance::maxBodyBytes) {
        std::fprintf(stderr, "stowbay: too many files at once; add them in smaller groups\n");
        return failure;
    }
    const SingleInstance::Answer answer = instance.request(body, answerTimeoutMs, m_command == Command::quit);
    if (answer.status == SingleInstance::Answer::unreachable ||
        answer.status == SingleInstance::Answer::noAnswer) {
        std::fprintf(stderr, "stowbay: Stowbay is already running, but did not answer on %s\n",
                     QFile::encodeName(instance.socketPath()).constData());
        return failure;
    }
    return printAnswer(answer);
}

std::optional<int> CommandLine::runInBackground(SingleInstance &instance) const {
    if (m_command != Command::add && m_command != Command::show && m_command != Command::settings)
        return std::nullopt;
    instance.release();
    const pid_t child = ::fork();
    if (child < 0) return instance.acquire() ? std::nullopt : runUnlessBecomingStowbay(instance);
    if (child == 0) {
        // A session of its own, away from the terminal and its hang-up; no output to a terminal
        // that may be gone.
        ::setsid();
        if (const int null = ::open("/dev/null", O_RDWR); null >= 0) {
            for (int fd = 0; fd <= 2; ++fd)
                ::dup2(null, fd);
            if (null > 2) ::close(null);
        }
        char program[] = "stowbay";
        char *const arguments[] = {program, nullptr};
        ::execv("/proc/self/exe", arguments);
        ::_exit(127);
    }
    // Asked as any later start asks; the new Stowbay listens before it launches, and answers once
    // it has.
    const int status = ask(instance);
    int childStatus = 0;
    if (status != success && ::waitpid(child, &childStatus, WNOHANG) == child)
        std::fprintf(stderr, "stowbay: Stowbay could not start in the background\n");
    return status;
}

int CommandLine::printAnswer(const SingleInstance::Answer &answer) const {
    if (answer.status == SingleInstance::Answer::error) {
        std::fprintf(stderr, "stowbay: Stowbay refused: %s\n", answer.body.constData());
        return failure;
    }
    const QJsonObject reply = QJsonDocument::fromJson(answer.body).object();
    switch (m_command) {
    case Command::add:
        if (!printCounts(reply.value("added").toInt(), reply.value("held").toInt(),
                         reply.value("full").toInt()))
            return failure;
        break;
    case Command::list: {
        QStringList paths;
        for (const QJsonValue &path : reply.value("paths").toArray())
            paths << path.toString();
        return printPaths(paths);
    }
    case Command::quit:
        if (!answer.ended) {
            std::fprintf(stderr, "stowbay: Stowbay is quitting, but has not ended yet\n");
            return failure;
        }
        break;
    default:
        break;
    }
    return m_missing ? failure : success;
}

int CommandLine::printPaths(const std::optional<QStringList> &paths) const {
    if (!paths) {
        std::fprintf(stderr, "stowbay: the stored list cannot be read: %s\n",
                     QFile::encodeName(StowbayStore::fileURL()).constData());
        return failure;
    }
    for (const QString &path : *paths) {
        const QByteArray bytes = QFile::encodeName(path);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fputc(m_nul ? '\0' : '\n', stdout);
    }
    if (std::fflush(stdout) != 0) return failure; // a closed pipe, a full disk
    return m_missing ? failure : success;
}

void CommandLine::runHere(AppDelegate &delegate) const {
    switch (m_command) {
    case Command::add:
        addCounting(delegate.store(), fileURLs(m_paths),
                    [](int added, int held, int full) { printCounts(added, held, full); });
        showAsked(delegate, false, m_fromTerminal);
        break;
    case Command::show:
    case Command::toggle:
        showAsked(delegate, m_command == Command::toggle, m_fromTerminal);
        break;
    case Command::settings:
        delegate.openSettings();
        break;
    default:
        break;
    }
}

void CommandLine::answer(AppDelegate &delegate, const QByteArray &request,
                         const SingleInstance::Reply &reply) {
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(request, &error).object();
    const auto command = commandNamed(object.value("command").toString());
    const bool fromTerminal = object.value("terminal").toBool();
    if (error.error != QJsonParseError::NoError || !command) {
        reply(false, "the request is not one this Stowbay knows", false);
        return;
    }
    switch (*command) {
    case Command::add: {
        QList<QUrl> urls;
        for (const QJsonValue &path : object.value("paths").toArray()) {
            if (!path.isString() || !QDir::isAbsolutePath(path.toString())) {
                reply(false, "the files to add are not absolute paths", false);
                return;
            }
            urls << QUrl::fromLocalFile(path.toString());
        }
        addCounting(delegate.store(), urls, [reply](int added, int held, int full) {
            reply(true, compact({{"added", added}, {"held", held}, {"full", full}}), false);
        });
        showAsked(delegate, false, fromTerminal);
        break;
    }
    case Command::list: {
        QJsonArray paths;
        for (const StowbayItem &item : delegate.store().items())
            paths << item.path;
        reply(true, compact({{"paths", paths}}), false);
        break;
    }
    case Command::show:
        showAsked(delegate, false, fromTerminal);
        reply(true, {}, false);
        break;
    case Command::settings:
        delegate.openSettings();
        reply(true, {}, false);
        break;
    case Command::clear:
        delegate.clearStowbay();
        reply(true, {}, false);
        break;
    case Command::toggle:
        showAsked(delegate, true, fromTerminal);
        reply(true, {}, false);
        break;
    case Command::quit:
        // The connection closes as the process ends, after the list is saved or deleted.
        reply(true, {}, true);
        delegate.quitApp();
        break;
    case Command::none:
        break;
    }
}
