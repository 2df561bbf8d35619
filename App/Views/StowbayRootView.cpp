#include "Views/StowbayRootView.h"

#include "Files/Workspace.h"
#include "Items/StowbayStore.h"
#include "Views/PanelModel.h"
#include "Views/StowbayContentView.h"
#include "Views/TabHandleView.h"

#include <QStackedLayout>
#include <QTimer>

StowbayRootView::StowbayRootView(PanelModel &model, StowbayStore &store, StowbayInteraction &interaction,
                                 QWidget *parent)
    : QWidget(parent), m_model(model), m_store(store), m_interaction(interaction),
      m_stack(new QStackedLayout(this)), m_tab(new TabHandleView) {
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_tab);
    m_tab->onClick = [this] {
        if (m_model.onTabClick) m_model.onTabClick();
    };
    m_tab->onFileDragEnter = [this] {
        if (m_model.onTabFileDrag) m_model.onTabFileDrag();
    };
    connect(&m_model, &PanelModel::isTabChanged, this, &StowbayRootView::showFace);
    connect(&m_model, &PanelModel::edgeChanged, m_tab, &TabHandleView::setEdge);
    m_tab->setEdge(m_model.edge());
    const auto count = [this] { m_tab->setCount(int(m_store.items().size())); };
    connect(&m_store, &StowbayStore::itemsChanged, m_tab, count);
    count();
    // The full content takes a while to build: not while Stowbay starts (the panel is hidden or a
    // tab then), but once it has settled, or when it is first shown if that comes sooner. The
    // rows' icons are made ready then too, rather than at the first drop.
    QTimer::singleShot(startupDelayMs, this, [this] {
        content();
        Workspace::shared().prepareIcons();
    });
}

StowbayContentView *StowbayRootView::content() {
    if (!m_content) {
        m_content = new StowbayContentView(m_model, m_store, m_interaction);
        m_stack->addWidget(m_content);
    }
    return m_content;
}

// Switches at once, without a transition; the content comes back with the drop zone unlit.
void StowbayRootView::showFace() {
    if (m_model.isTab()) {
        m_stack->setCurrentWidget(m_tab);
    } else if (m_stack->currentWidget() != m_content) {
        content()->setTargeted(false);
        m_stack->setCurrentWidget(m_content);
    }
}
