// What the drag watcher needs to know about the system's drag: which drag the pasteboard belongs
// to, and whether it carries files.
#pragma once

#include <QtGlobal>
#include <functional>
#include <optional>

class DragPasteboard {
public:
    virtual ~DragPasteboard() = default;

    // Grows by one each time a new drag takes the pasteboard.
    virtual qint64 changeCount() const = 0;
    // Whether the current drag offers at least one file URL; nullopt while its contents are not
    // known yet. Asking costs nothing: the contents are read once per change count, ahead of time.
    virtual std::optional<bool> hasFileURLs() = 0;

    // Called on the main thread each time a new drag takes the pasteboard, whether or not a
    // pressed button has been seen: in a Wayland session nothing else tells of a native drag.
    std::function<void()> onChange;

    // The system's drag pasteboard.
    static DragPasteboard &system();
};
