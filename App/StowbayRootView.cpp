#include "StowbayRootView.h"

#include "StowbayContentView.h"
#include "StowbayPanel.h"
#include "TabHandleView.h"

#include <QStackedLayout>

StowbayRootView::StowbayRootView(PanelModel &model, StowbayStore &store, StowbayInteraction &interaction,
                                 QWidget *parent)
    : QWidget(parent), m_model(model), m_stack(new QStackedLayout(this)), m_tab(new TabHandleView),
      m_content(new StowbayContentView(model, store, interaction)) {
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_content);
    m_stack->addWidget(m_tab);
    m_tab->onClick = [this] {
        if (m_model.onTabClick) m_model.onTabClick();
    };
    connect(&m_model, &PanelModel::isTabChanged, this, &StowbayRootView::showFace);
    connect(&m_model, &PanelModel::edgeChanged, m_tab, &TabHandleView::setEdge);
    m_tab->setEdge(m_model.edge());
    showFace();
}

// Switches at once, without a transition; the content comes back with the drop zone unlit.
void StowbayRootView::showFace() {
    if (m_model.isTab()) {
        m_stack->setCurrentWidget(m_tab);
    } else if (m_stack->currentWidget() != m_content) {
        m_content->setTargeted(false);
        m_stack->setCurrentWidget(m_content);
    }
}
