// The panel's window and its rounded background.
#pragma once

#include <QWidget>
#include <functional>

class QKeyEvent;

// The panel's content: dark, rounded, with a faint light border. Slightly translucent where a
// compositor draws translucency (more so where it blurs what lies behind); elsewhere opaque, and the window
// is cut to the rounded shape. It tells when the pointer comes in and goes out, also while another
// application has the keyboard.
class StowbayBackgroundView : public QWidget {
    Q_OBJECT
public:
    static constexpr double expandedRadius = 14;
    static constexpr double tabRadius = 8;

    explicit StowbayBackgroundView(QWidget *parent = nullptr);

    std::function<void()> onEnter;
    std::function<void()> onExit;

    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);
    bool isTranslucent() const { return m_translucent; }
    void setTranslucent(bool translucent);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateShape();

    double m_cornerRadius = expandedRadius;
    bool m_translucent = false;
    bool m_blurred = false;
};

// The floating window. It never takes the keyboard when shown; a click into it does, and then
// key presses go to `keyHandler` first. It may stand partly or wholly beyond the screen's edge.
class StowbayPanel : public QWidget {
    Q_OBJECT
    // How opaque it is drawn, where the desktop draws windows translucent (its window opacity).
    Q_PROPERTY(double fade READ fade WRITE setFade)
public:
    explicit StowbayPanel(const QRect &contentRect = QRect(0, 0, 240, 300));
    ~StowbayPanel() override;

    // Returns true when it handled the key; the key then goes no further.
    std::function<bool(QKeyEvent *)> keyHandler;

    StowbayBackgroundView *contentView() const { return m_contentView; }
    void setContentView(StowbayBackgroundView *view);

    double fade() const { return windowOpacity(); }
    void setFade(double opacity);

    bool isKeyWindow() const { return isActiveWindow(); }
    // Takes the keyboard, remembering the window that had it; resignKey() gives it back.
    void makeKey();
    void resignKey();
    // Shows the window above the others without giving it the keyboard.
    void orderFrontRegardless();
    void orderOut() { hide(); }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    StowbayBackgroundView *m_contentView = nullptr;
};
