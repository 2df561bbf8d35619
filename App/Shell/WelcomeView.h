// The first-run window: a looping drawing of the gesture (a file is picked up and shaken, the
// stowbay slides in at the right edge, the file is dropped on it, the stowbay slides away), a
// headline, two short paragraphs and "Got it".
#pragma once

#include <QWidget>
#include <functional>

class QPainter;
class QTimer;
class UserDefaults;

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    // Taller when the desktop's fonts need it.
    static constexpr QSize contentSize{440, 420};
    static constexpr QSize canvasSize{360, 210};
    static constexpr double loopSeconds = 5.0;

    explicit WelcomeView(QWidget *parent = nullptr);

    // What "Got it" (or Return) does; the window made by showIfFirstRun closes itself.
    std::function<void()> onDone;

    // Shows the "Welcome to Stowbay" window unless "didShowWelcome" is set, and sets it before the
    // window opens, so that a run that ends while the window is open does not show it again. The
    // window deletes itself when closed; nullptr when there was nothing to show.
    static WelcomeView *showIfFirstRun(UserDefaults &defaults);
    // Shows the window again, whatever the flag says ("How Stowbay Works").
    static WelcomeView *showWindow();

    // One frame of the drawing at phase p (0 to 1 over the loop) into a canvas of the given size,
    // y growing downwards, over whatever the painter's device already holds. A pure function of
    // its arguments.
    static void paintFrame(QPainter &painter, QSizeF size, double p);
    // The phase of the loop at a time in seconds.
    static double phase(double seconds);

    // The timer that repaints the drawing: it runs only while the window is shown.
    const QTimer *frameTimer() const { return m_frameTimer; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *m_canvas = nullptr;
    QTimer *m_frameTimer = nullptr;
};
