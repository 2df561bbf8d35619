// The tab: a small handle at the screen edge with the number of held items and a grip. A click
// anywhere on it, or files dragged onto it, open the panel.
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
    int count() const { return m_count; }
    void setCount(int count);
    // The grip: 24 × 4 at the bottom edge, else 4 × 24, in the half of the tab after the count.
    QRectF gripRect() const;
    // Where the count stands: the half of the tab before the grip.
    QRectF countRect() const;

    std::function<void()> onClick;
    std::function<void()> onFileDragEnter;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;

private:
    StowbayEdge m_edge = StowbayEdge::right;
    int m_count = 0;
    bool m_pressed = false;
};
