// What the panel shows: the tab handle, or the full content, as the panel model says.
#pragma once

#include <QWidget>

class PanelModel;
class QStackedLayout;
class StowbayContentView;
class StowbayInteraction;
class StowbayStore;
class TabHandleView;

class StowbayRootView : public QWidget {
    Q_OBJECT
public:
    StowbayRootView(PanelModel &model, StowbayStore &store, StowbayInteraction &interaction,
                    QWidget *parent = nullptr);

    TabHandleView *tabHandle() const { return m_tab; }
    StowbayContentView *content() const { return m_content; }

private:
    void showFace();

    PanelModel &m_model;
    QStackedLayout *m_stack;
    TabHandleView *m_tab;
    StowbayContentView *m_content;
};
