// The command line: `stowbay [command] [FILE…]`. A start that finds Stowbay running hands its
// command to it through the one-instance socket and prints the answer; a start that becomes
// Stowbay carries its command out itself once it has launched. Reading the arguments and asking
// the running Stowbay need no desktop and no application object.
#pragma once

#include "Session/SingleInstance.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class AppDelegate;

class CommandLine {
public:
    enum class Command { none, add, list, show, settings, clear, quit, toggle };

    // Exit statuses.
    static constexpr int success = 0;
    static constexpr int failure = 1;    // a file was not found, or Stowbay could not do it
    static constexpr int usageError = 2; // the arguments make no sense
    static constexpr int notRunning = 3; // clear and quit with no Stowbay to ask

    static const char *version();

    // Reads the arguments. Prints the help, the version or a usage error and ends the process
    // where they ask it. Reports every FILE that does not exist on standard error.
    CommandLine(int argc, char **argv);

    Command command() const { return m_command; }
    // The existing files of `add`, as absolute paths.
    const QStringList &paths() const { return m_paths; }

    // Takes the one-Stowbay lock (list, clear and quit only look whether it is held; list reads the
    // stored list when it is not), or asks the Stowbay that holds it and returns the exit status.
    // Nothing when this process is to become Stowbay.
    std::optional<int> runUnlessBecomingStowbay(SingleInstance &instance) const;
    // In a process that would become Stowbay for `add`, `show` or `settings`: starts Stowbay in the
    // background instead, detached from the terminal, hands it the command and returns the exit
    // status once it has answered. Nothing for the other commands (this process becomes Stowbay),
    // and when no Stowbay could be started (this one does then).
    std::optional<int> runInBackground(SingleInstance &instance) const;
    // In the process that became Stowbay, once it has launched: its own command.
    void runHere(AppDelegate &delegate) const;
    // In the running Stowbay: carries out a request from a later start and answers it.
    static void answer(AppDelegate &delegate, const QByteArray &request, const SingleInstance::Reply &reply);

private:
    QByteArray request() const;
    // Hands the command to the running Stowbay and returns the exit status.
    int ask(const SingleInstance &instance) const;
    int printAnswer(const SingleInstance::Answer &answer) const;
    // Prints `paths` for `list` (nothing when they could not be read) and returns the exit status.
    int printPaths(const std::optional<QStringList> &paths) const;

    Command m_command = Command::none;
    QStringList m_paths;
    bool m_missing = false;      // some FILE was not found
    bool m_nul = false;          // list: NUL after each path
    bool m_fromTerminal = false; // typed in a terminal, which keeps the keyboard
};
