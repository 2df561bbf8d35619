#include "Views/RowAccessibility.h"

#include "Views/ItemRowView.h"

#include <QAccessibleWidget>
#include <QLayout>

namespace {
constexpr const char *listName = "stowbay-item-list";

class RowAccessible : public QAccessibleWidget {
public:
    explicit RowAccessible(ItemRowView *row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    QString text(QAccessible::Text kind) const override {
        switch (kind) {
        case QAccessible::Name:
            return row()->item().name;
        case QAccessible::Description: {
            QStringList facts{row()->subtitle()};
            if (row()->item().pinned) facts << QStringLiteral("Pinned");
            facts.removeAll(QString());
            return facts.join(QStringLiteral(", "));
        }
        default:
            return QAccessibleWidget::text(kind);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = state.focusable = true;
        state.selected = row()->isSelected();
        state.focused = row()->hasFocusRing();
        return state;
    }
    // The layer that takes the mouse is no part of what the row says.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

private:
    ItemRowView *row() const { return static_cast<ItemRowView *>(widget()); }
};

// The rows in the order the list shows them.
class ListAccessible : public QAccessibleWidget {
public:
    explicit ListAccessible(QWidget *rows) : QAccessibleWidget(rows, QAccessible::List) {}

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? QStringLiteral("Items") : QAccessibleWidget::text(kind);
    }
    int childCount() const override { return int(rows().size()); }
    QAccessibleInterface *child(int index) const override {
        const QList<ItemRowView *> all = rows();
        return index >= 0 && index < all.size() ? QAccessible::queryAccessibleInterface(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child ? int(rows().indexOf(qobject_cast<ItemRowView *>(child->object()))) : -1;
    }

private:
    QList<ItemRowView *> rows() const {
        QList<ItemRowView *> rows;
        if (QLayout *layout = widget()->layout())
            for (int i = 0; i < layout->count(); ++i)
                if (auto *row = qobject_cast<ItemRowView *>(layout->itemAt(i)->widget());
                    row && !row->isHidden())
                    rows << row;
        return rows;
    }
};

constexpr const char *buttonProperty = "stowbayButton";

QAccessibleInterface *factory(const QString &, QObject *object) {
    if (auto *row = qobject_cast<ItemRowView *>(object)) return new RowAccessible(row);
    if (object && object->isWidgetType() && object->property(buttonProperty).toBool())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Button);
    if (object && object->isWidgetType() && object->objectName() == QLatin1String(listName))
        return new ListAccessible(static_cast<QWidget *>(object));
    return nullptr;
}
} // namespace

namespace {
void installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}
} // namespace

void RowAccessibility::exposeAsList(QWidget *rows) {
    installFactory();
    rows->setObjectName(QString::fromLatin1(listName));
}

void RowAccessibility::exposeAsButton(QWidget *control) {
    installFactory();
    control->setProperty(buttonProperty, true);
}
