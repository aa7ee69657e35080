#include "ui/accessible_lists.h"

#include <QAccessibleWidget>
#include <QComboBox>

namespace {

/// A drop-down list: its name, its current item as its value, and an action
/// that opens it.
class NamedListAccessible final : public QAccessibleWidget {
public:
    explicit NamedListAccessible(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return list()->currentText();
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction())
            list()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* named_list_factory(const QString& class_name, QObject* object) {
    auto* list = qobject_cast<QComboBox*>(object);
    // Asked once per list, possibly before its name is set: the name is read
    // when it is wanted.
    if (class_name != QLatin1String("QComboBox") || !list || list->isEditable())
        return nullptr;
    return new NamedListAccessible(list);
}

} // namespace

void install_accessible_list_names() {
    // Factories installed last are asked first, before Qt's own.
    QAccessible::installFactory(named_list_factory);
}
