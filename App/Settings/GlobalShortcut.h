// What the settings window asks of whoever holds the program's system-wide shortcut: to let go of
// it while the recorder listens for a new one, and what the desktop has to say about it.
#pragma once

#include <QObject>
#include <QString>

class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Lets go of the shortcut until resume(), so that its keys reach the program's own windows (the
    // shortcut recorder, which must be able to record the current combination).
    virtual void suspend() = 0;
    virtual void resume() = 0;

    // Where the desktop holds the shortcut for Stowbay, the keys it gave, in its own words (the
    // user may change them in the desktop's settings); empty where Stowbay holds it itself.
    virtual QString desktopTrigger() const = 0;
    // False where the shortcut reaches Stowbay only from some programs' windows: the desktop then
    // has to be told to run `stowbay toggle` for it.
    virtual bool reachesEveryWindow() const = 0;
    // Where the desktop has its own dialog for the shortcut, which replaces recording keys here.
    virtual bool configuresOnDesktop() const = 0;
    virtual void configureOnDesktop() = 0;

signals:
    void desktopTriggerChanged();
};
