// The tab: a small handle at the screen edge with a grip across its middle. A click anywhere on it,
// or files dragged onto it, open the panel.
#pragma once

#include "Settings/AppSettings.h"

#include <QWidget>
#include <functional>

class TabHandleView : public QWidget {
    Q_OBJECT
public:
    explicit TabHandleView(QWidget *parent = nullptr);

    StowbayEdge edge() const { return m_edge; }
    void setEdge(StowbayEdge edge);
    // The grip: 36 × 4 at the bottom edge, else 4 × 36, centred.
    QRectF gripRect() const;

    std::function<void()> onClick;
    std::function<void()> onFileDragEnter;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;

private:
    StowbayEdge m_edge = StowbayEdge::right;
    bool m_pressed = false;
};
