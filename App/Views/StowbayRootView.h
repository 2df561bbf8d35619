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

    static constexpr int startupDelayMs = 1000;

    TabHandleView *tabHandle() const { return m_tab; }
    // The full content, made the first time it is needed.
    StowbayContentView *content();
    bool hasContent() const { return m_content; }

private:
    void showFace();

    PanelModel &m_model;
    StowbayStore &m_store;
    StowbayInteraction &m_interaction;
    QStackedLayout *m_stack;
    TabHandleView *m_tab;
    StowbayContentView *m_content = nullptr;
};
